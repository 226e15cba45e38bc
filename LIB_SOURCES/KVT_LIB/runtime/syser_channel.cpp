#include "chrec.h"
#include "dmw.h"
#include "plat_error.h"
#include "syser_internal.h"
#include "tag.h"
#include "ts.h"
#include "util.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
std::recursive_mutex g_lock;
SyserState g_state;

constexpr size_t CHANNEL_TEXT = 32;
constexpr size_t DESCRIPTION_TAG_PART = 15;

bool equalNoCase(const std::string &a, const std::string &b) {
    return a.size() == b.size() && util_StrNICmp(a.c_str(), b.c_str(), a.size()) == 0;
}

int32_t payloadLimit(SegmentHeader *segment) {
    ShmLayout layout;
    return shm_GetLayout(segment, &layout) == 0 ? layout.payloadLimit : 0;
}
} // namespace

std::recursive_mutex &syser_Lock() {
    return g_lock;
}

SyserState &syser_State() {
    return g_state;
}

SyserKeepErrors::SyserKeepErrors() : errno_(errno), lastError_(plat_GetLastError()) {}

SyserKeepErrors::~SyserKeepErrors() {
    plat_SetLastError(lastError_);
    errno = errno_;
}

std::string syser_Format(const char *format, va_list args) {
    char text[SYSER_TEXT_MAX + 1] = {};
    if (format != nullptr) vsnprintf(text, sizeof text, format, args);
    return text;
}

std::string syser_FindChannel(int kind, const std::string &description, size_t maxRestore) {
    SyserState &s = g_state;
    s.channel = 0;
    s.data = s.conf = nullptr;
    s.tableId[0] = '\0';
    dm_MapDataProcessTable();
    DataProcessEntry *syser = dm_FindDataProcess("SYSER");
    if (syser == nullptr || syser->tableId[0] == '\0') return "";
    char id[3] = {syser->tableId[0], syser->tableId[1], '\0'};
    SegmentHeader *data = dm_GetDataSegment(id);
    SegmentHeader *conf = dm_GetConfSegment(id);
    if (data == nullptr || conf == nullptr) return "";
    if (payloadLimit(data) < DM_CHANNEL_VALUES_OFFSET) return "";

    const auto *header = reinterpret_cast<const ChannelTableHeader *>(shm_Payload(data));
    // Only records that lie inside the configuration payload, whatever the header claims.
    int count = header->channelCount;
    int inConf = payloadLimit(conf) / static_cast<int>(CHANNEL_RECORD_SIZE);
    if (count > inConf) count = inConf;
    const auto *records = reinterpret_cast<const ChannelRecord *>(shm_Payload(conf));
    bool split = kind == SYSER_KIND_LOGGER_ENTRY && description.size() > DESCRIPTION_TAG_PART;
    std::string tagPart = description.substr(0, DESCRIPTION_TAG_PART);
    std::string rest = split ? description.substr(DESCRIPTION_TAG_PART) : "";
    int found = 0;
    for (int i = 0; i < count && found == 0; ++i) {
        std::string desc = tag_GetDescription(records[i]);
        if (!split) {
            if (equalNoCase(desc, description)) found = i + 1;
        } else {
            std::string tag = tag_GetTag(records[i]);
            if (tag.size() >= tagPart.size() &&
                util_StrNICmp(tag.c_str(), tagPart.c_str(), tagPart.size()) == 0 &&
                equalNoCase(desc, rest))
                found = i + 1;
        }
    }
    if (found == 0) return "";
    s.channel = found;
    s.data = data;
    s.conf = conf;
    memcpy(s.tableId, id, sizeof id);

    if (payloadLimit(data) < DM_CHANNEL_VALUES_OFFSET + 4 * found) return "";
    uint32_t status;
    memcpy(&status, shm_Payload(data) + DM_CHANNEL_VALUES_OFFSET + 4 * (found - 1), 4);
    if (!(status & 1u)) return "";
    // The field holds 32 characters and is unterminated when full.
    std::string text = chrec_GetText(records[found - 1], ChannelDigital::HighStateText);
    if (text.size() > maxRestore) text.resize(maxRestore);
    return text;
}

void syser_ShowOnChannel(const std::string &text) {
    SyserState &s = g_state;
    if (s.channel == 0) return;
    std::string cut = text.substr(0, CHANNEL_TEXT);
    if (shm_Lock(s.conf) == 0) {
        if (payloadLimit(s.conf) >= s.channel * static_cast<int32_t>(CHANNEL_RECORD_SIZE)) {
            auto *rec = reinterpret_cast<ChannelRecord *>(shm_Payload(s.conf)) + (s.channel - 1);
            chrec_SetText(rec, ChannelDigital::HighStateText, cut.c_str());
            chrec_SetText(rec, ChannelDigital::AlarmText, cut.c_str());
        }
        shm_BeginUpdate(s.conf);
        shm_Notify(s.conf, 0);
        shm_Unlock(s.conf);
    }
    if (shm_Lock(s.data) == 0) {
        auto *header = reinterpret_cast<ChannelTableHeader *>(shm_Payload(s.data));
        TimeStamp now = ts_Now();
        memcpy(&header->fileTime, &now, sizeof now);
        shm_Unlock(s.data);
    }
    uint32_t one = 1;
    dm_WriteDigital(s.tableId, s.channel, s.channel, &one);
}

void syser_ClearChannel() {
    SyserState &s = g_state;
    if (s.channel == 0) return;
    uint32_t zero = 0;
    dm_WriteDigital(s.tableId, s.channel, s.channel, &zero);
}

void syser_ResetForTests() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    g_state = SyserState{};
}
