// Pieces shared by the request server's files.
#pragma once

#include "ldf.h"
#include "lgr_server.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

struct CLogRequestServer::RunEntry {
    std::string name;
    LogHeader header{};
    bool headerRead = false;
    // Whole records back to back, or compact ones: time, milliseconds-and-fraction word, then
    // one 32-bit value per dashboard channel (as a time-range request gives it).
    std::vector<uint8_t> cache;
    int cached = 0;
    bool compact = false;
    int compactChannels = 0;
    size_t stride = 0;
    std::string text;
    int32_t textTime = 0;
    bool textRead = false;
    std::unique_ptr<CLogStore> store;
    uint32_t start = 0;
    uint32_t end = 0; // newest cached record
    bool seen = false;
    std::vector<std::string> scanUpdates;
    std::vector<std::string> backfills;

    const uint8_t *Record(int i) const { return cache.data() + static_cast<size_t>(i) * stride; }
    // The record's (seconds, milliseconds) as one number for ordering.
    int64_t Key(int i) const {
        const uint8_t *r = Record(i) + (compact ? 0 : 4);
        uint32_t seconds;
        uint16_t ms;
        memcpy(&seconds, r, 4);
        memcpy(&ms, r + 4, 2);
        return int64_t{seconds} * 1000 + ms;
    }
    // The 8 bytes of time a range request copies: seconds, then the milliseconds and fraction.
    const uint8_t *Time(int i) const { return Record(i) + (compact ? 0 : 4); }
};

struct CLogRequestServer::Reply {
    std::string bytes;
    void Text(const std::string &text) {
        bytes += text;
        bytes.push_back('\0');
    }
    void Raw(const void *data, size_t size) { bytes.append(static_cast<const char *>(data), size); }
    void Int32(int32_t v) { Raw(&v, 4); }
};

namespace lgr_detail {

// Set by lgr_SetCloseAfterRequest.
bool CloseAfterRequest();

inline uint32_t RecordSeconds(const uint8_t *record) {
    uint32_t v;
    memcpy(&v, record + 4, 4);
    return v;
}
inline int RecordMs(const uint8_t *record) {
    uint16_t v;
    memcpy(&v, record + 8, 2);
    return v;
}
// (seconds, ms) widened, as one number for ordering.
inline int64_t RecordKey(const uint8_t *record) {
    return int64_t{RecordSeconds(record)} * 1000 + RecordMs(record);
}

inline bool SamePrefix(const char *a, const char *b) {
    for (int i = 0; i < 2; ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

// True when two headers give records the same size and the same blocks.
inline bool SameLayout(const LogHeader &a, const LogHeader &b) {
    if (a.recordSize != b.recordSize || a.blockCount != b.blockCount) return false;
    size_t blocks = std::min<size_t>(a.blockCount, LDF_MAX_BLOCKS);
    return memcmp(a.blocks, b.blocks, blocks * sizeof a.blocks[0]) == 0;
}

// The flag and value words of channel index i of a block, or false when the block does not fit
// its record (the end marker takes the last two bytes).
inline bool BlockFits(const LogBlockDescriptor &block, int recordSize) {
    int n = static_cast<int>(block.last) - static_cast<int>(block.first) + 1;
    return n >= 1 && int64_t{block.valuesOffset} + 8 * int64_t{n} <= int64_t{recordSize} - 2;
}
// The record holds held bytes, which bound the read whatever the header claims.
inline bool ChannelWords(const LogHeader &header, int block, int number, const uint8_t *record,
                         size_t held, int32_t *flag, int32_t *value) {
    const LogBlockDescriptor &b = header.blocks[block];
    if (!BlockFits(
            b, static_cast<int>(std::min<int64_t>(header.recordSize, static_cast<int64_t>(held)))))
        return false;
    int n = b.last - b.first + 1;
    int i = number - b.first;
    memcpy(flag, record + b.valuesOffset + 4 * i, 4);
    memcpy(value, record + b.valuesOffset + 4 * n + 4 * i, 4);
    return true;
}

// The 32-bit word a time-range request gives for a channel of a whole record: the value, 0.0 or
// 1.0 for a digital state, 0x7FFFFFFF when absent or without a value.
uint32_t RangeValue(const LogHeader &h, const ChannelCode &code, const uint8_t *record);

// Parses a channel-list text into groups (numbers 0 end a group and are not kept).
std::vector<CLogRequestServer::Group> ParseChannelList(const char *text, size_t length);

} // namespace lgr_detail
