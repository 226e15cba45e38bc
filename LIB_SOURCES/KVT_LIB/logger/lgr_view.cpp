// The "stand" record keeps its channels and mail passwords twice: in the parts the logger
// reads (the 16-channel parts of older records and the 64-channel parts after them) and in the
// structured view that the XML form and the history show. These conversions keep them equal.
#include "lgr.h"

#include <cctype>
#include <cstring>
#include <strings.h>

namespace S = LgrStand;

namespace {
uint8_t *at(void *record, uint32_t offset) {
    return static_cast<uint8_t *>(record) + offset;
}

uint32_t logEntry(uint32_t i) {
    return S::LogChannels + S::LogChannelSize * i;
}
uint32_t eventEntry(uint32_t i) {
    return S::EventChannels + S::EventChannelSize * i;
}

// View to the 64-channel parts, for channels first .. last - 1.
void channelsFromView(void *r, uint32_t last) {
    for (uint32_t i = 0; i < last; ++i) {
        uint32_t e = logEntry(i);
        memmove(at(r, S::Averages + 4 * i), at(r, e + S::ChAverage), 4);
        memmove(at(r, S::Lags + 4 * i), at(r, e + S::ChLag), 4);
        lgr_SetU8(r, S::RecalcBytes + i, lgr_U8(r, e + S::ChRecalc));
        memmove(at(r, S::Sources + S::SourceSize * i), at(r, e + S::ChSource), S::SourceSize);
        memmove(at(r, S::LogTags + S::TagPairSize * i), at(r, e + S::ChTags), S::TagPairSize);
        memmove(at(r, S::LogRanges + S::RangeSize * i), at(r, e + S::ChRange), S::RangeSize);
        uint32_t v = eventEntry(i);
        memmove(at(r, S::EventTags + S::TagPairSize * i), at(r, v + S::EvTags), S::TagPairSize);
        memmove(at(r, S::EventRanges + S::RangeSize * i), at(r, v + S::EvRange), S::RangeSize);
    }
}

// The 16-channel older parts from the view.
void olderFromView(void *r) {
    uint16_t bits = 0;
    for (uint32_t j = 0; j < 16; ++j) {
        uint32_t e = logEntry(j);
        if (lgr_I32(r, e + S::ChAverage) != 0) bits = static_cast<uint16_t>(bits | (1u << j));
        memmove(at(r, S::OldLogRanges + S::RangeSize * j), at(r, e + S::ChRange), S::RangeSize);
        memmove(at(r, S::OldLogTags + S::OldTagSize * j), at(r, e + S::ChTags), S::OldTagBytes);
        uint32_t v = eventEntry(j);
        memmove(at(r, S::OldEventRanges + S::RangeSize * j), at(r, v + S::EvRange), S::RangeSize);
        memmove(at(r, S::OldEventTags + S::OldTagSize * j), at(r, v + S::EvTags), S::OldTagBytes);
    }
    lgr_SetU16(r, S::OldAverageBits, bits);
}

uint8_t exportFileType(const void *r) {
    const char *name =
        reinterpret_cast<const char *>(static_cast<const uint8_t *>(r) + S::ExportFileName);
    size_t length = strnlen(name, S::ExportFileNameSize);
    if (length <= 4) return 1;
    const char *ext = name + length - 4;
    if (strncasecmp(ext, ".csv", 4) == 0) return 0;
    if (strncasecmp(ext, ".xls", 4) == 0) return 1;
    if (strncasecmp(ext, ".dif", 4) == 0) return 2;
    if (strncasecmp(ext, ".txt", 4) == 0) return 4;
    return 1;
}

struct PasswordSlot {
    uint32_t length, bytes, text;
};
constexpr PasswordSlot k_passwords[] = {
    {S::MapiPasswordLength, S::MapiPassword, S::MapiPasswordText},
    {S::NtPasswordLength, S::NtPassword, S::NtPasswordText},
    {S::SmtpPasswordLength, S::SmtpPassword, S::SmtpPasswordText},
};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
} // namespace

uint8_t lgr_PeriodCode(const uint8_t period[6]) {
    static const struct {
        uint32_t minutes;
        uint8_t code;
    } k_codes[] = {{30, 1},   {60, 2},    {120, 3},   {240, 4},    {480, 5},    {720, 6},
                   {1440, 7}, {10080, 8}, {20160, 9}, {44640, 10}, {89280, 11}, {133920, 12}};
    uint32_t minutes = period[1] * 44640u + period[2] * 1440u + period[3] * 60u + period[4];
    for (const auto &c : k_codes)
        if (c.minutes == minutes) return c.code;
    return 0;
}

void lgr_RepubPeriodCodes(void *record) {
    namespace R = LgrRepub;
    auto *r = static_cast<uint8_t *>(record);
    r[R::DeleteSourceCode] = lgr_PeriodCode(r + R::DeleteSourceOlderThan);
    r[R::DeleteDestinationCode] = lgr_PeriodCode(r + R::DeleteDestinationOlderThan);
    r[R::CyclePublishForCode] = lgr_PeriodCode(r + R::CyclePublishFor);
    r[R::CycleEveryCode] = lgr_PeriodCode(r + R::CycleEvery);
}

void lgr_HexEncode(char *out, const uint8_t *bytes, int count) {
    static const char k_digits[] = "0123456789abcdef";
    for (int i = 0; i < count; ++i) {
        out[2 * i] = k_digits[bytes[i] >> 4];
        out[2 * i + 1] = k_digits[bytes[i] & 15];
    }
    out[count > 0 ? 2 * count : 0] = '\0';
}

int lgr_HexDecode(uint8_t *out, const char *text, int max) {
    int n = 0;
    while (n < max && text != nullptr) {
        int high = hexValue(text[2 * n]);
        if (high < 0) break;
        int low = hexValue(text[2 * n + 1]);
        if (low < 0) break;
        out[n++] = static_cast<uint8_t>(high << 4 | low);
    }
    return n;
}

void lgr_StandFromView(void *record) {
    auto *r = static_cast<uint8_t *>(record);
    channelsFromView(r, S::Channels);
    olderFromView(r);
    r[S::DeleteCode] = lgr_PeriodCode(r + S::DeleteOlderThan);
    r[S::CycleLogForCode] = lgr_PeriodCode(r + S::CycleLogFor);
    r[S::CycleEveryCode] = lgr_PeriodCode(r + S::CycleEvery);
    r[S::ChannelsValid] = 1;
    uint8_t flags = 0;
    for (uint32_t i = 0; i < 8; ++i)
        if (r[S::ExportFlagFields + 4 * i] != 0) flags = static_cast<uint8_t>(flags | (1u << i));
    r[S::ExportFlags] = flags;
    r[S::ExportFileType] = exportFileType(r);
    for (const PasswordSlot &p : k_passwords) {
        // The text field need not be terminated: decode from a bounded copy.
        char text[S::PasswordTextSize + 1] = {};
        memcpy(text, r + p.text, S::PasswordTextSize);
        uint8_t bytes[S::PasswordBytes] = {};
        int n = lgr_HexDecode(bytes, text, S::PasswordBytes);
        memcpy(r + p.bytes, bytes, S::PasswordBytes);
        lgr_SetI32(r, p.length, n);
    }
    r[S::PasswordsValid] = 1;
}

void lgr_StandToView(void *record) {
    auto *r = static_cast<uint8_t *>(record);
    if (r[S::ChannelsValid] == 0) lgr_UpgradeStandRecord(r);
    for (uint32_t i = 0; i < S::Channels; ++i) {
        uint32_t e = logEntry(i);
        memmove(r + e + S::ChAverage, r + S::Averages + 4 * i, 4);
        memmove(r + e + S::ChLag, r + S::Lags + 4 * i, 4);
        lgr_SetI32(r, e + S::ChRecalc, r[S::RecalcBytes + i]);
        memmove(r + e + S::ChSource, r + S::Sources + S::SourceSize * i, S::SourceSize);
        memmove(r + e + S::ChTags, r + S::LogTags + S::TagPairSize * i, S::TagPairSize);
        memmove(r + e + S::ChRange, r + S::LogRanges + S::RangeSize * i, S::RangeSize);
        uint32_t v = eventEntry(i);
        memmove(r + v + S::EvTags, r + S::EventTags + S::TagPairSize * i, S::TagPairSize);
        memmove(r + v + S::EvRange, r + S::EventRanges + S::RangeSize * i, S::RangeSize);
    }
    for (uint32_t i = 0; i < 8; ++i)
        r[S::ExportFlagFields + 4 * i] = (r[S::ExportFlags] >> i) & 1;
    bool valid = r[S::PasswordsValid] != 0;
    for (const PasswordSlot &p : k_passwords) {
        // A length from a file is never trusted past the 256 bytes it counts.
        int32_t n = valid ? lgr_I32(r, p.length) : 0;
        if (n < 0) n = 0;
        if (n > static_cast<int32_t>(S::PasswordBytes)) n = S::PasswordBytes;
        char text[S::PasswordTextSize] = {};
        lgr_HexEncode(text, r + p.bytes, n);
        memcpy(r + p.text, text, S::PasswordTextSize);
    }
    r[S::PasswordsValid] = 1;
}

int lgr_UpgradeStandRecord(void *record) {
    if (record == nullptr) return -1;
    auto *r = static_cast<uint8_t *>(record);
    uint16_t bits = lgr_U16(r, S::OldAverageBits);
    for (uint32_t j = 0; j < 16; ++j) {
        memmove(r + S::LogRanges + S::RangeSize * j, r + S::OldLogRanges + S::RangeSize * j,
                S::RangeSize);
        memmove(r + S::EventRanges + S::RangeSize * j, r + S::OldEventRanges + S::RangeSize * j,
                S::RangeSize);
        lgr_SetI32(r, S::Averages + 4 * j, (bits >> j) & 1);
        uint8_t *logPair = r + S::LogTags + S::TagPairSize * j;
        memmove(logPair, r + S::OldLogTags + S::OldTagSize * j, S::OldTagBytes);
        memset(logPair + S::OldTagBytes, 0, S::TagPairSize - S::OldTagBytes);
        uint8_t *eventPair = r + S::EventTags + S::TagPairSize * j;
        memmove(eventPair, r + S::OldEventTags + S::OldTagSize * j, S::OldTagBytes);
        memset(eventPair + S::OldTagBytes, 0, S::TagPairSize - S::OldTagBytes);
    }
    for (uint32_t i = 16; i < S::Channels; ++i) {
        r[S::RecalcBytes + i] = 0;
        lgr_SetI32(r, S::Averages + 4 * i, 0);
        lgr_SetI32(r, S::Lags + 4 * i, 0);
        memset(r + S::LogRanges + S::RangeSize * i, 0, S::RangeSize);
        memset(r + S::EventRanges + S::RangeSize * i, 0, S::RangeSize);
        memset(r + S::Sources + S::SourceSize * i, 0, S::SourceSize);
        memset(r + S::LogTags + S::TagPairSize * i, 0, S::TagPairSize);
        memset(r + S::EventTags + S::TagPairSize * i, 0, S::TagPairSize);
    }
    r[S::ChannelsValid] = 1;
    return 1;
}

int lgr_DowngradeStandRecord(void *record) {
    if (record == nullptr) return -1;
    channelsFromView(record, 16);
    olderFromView(record);
    return 1;
}
