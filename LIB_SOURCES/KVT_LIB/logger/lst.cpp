#include "lst.h"

#include "dmw.h"
#include "lstore.h"
#include "plat_clock.h"
#include "shm.h"
#include "tag.h"
#include "ts.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {
struct Row {
    const char *tag;
    const char *description;
    const char *text1; // state 1 text, or units
    const char *text0; // state 0 text
};

// The rows are the system's own texts, misspellings included: displays and reports key on them.
const Row kRows[LST_TABLE_ROWS] = {
    {"STATUS", "STATUS", "ENABLED", "DISABLED"},
    {"DIRECTORY1", "DIRECTORY1", "N/A", "N/A"},
    {"DIRECTORY2", "DIRECTORY2", "N/A", "N/A"},
    {"DIRECTORY3", "DIRECTORY3", "N/A", "N/A"},
    {"DIRECTORY4", "DIRECTORY4", "N/A", "N/A"},
    {"DIRECTORY5", "DIRECTORY5", "N/A", "N/A"},
    {"DIRECTORY6", "DIRECTORY6", "N/A", "N/A"},
    {"PREFIX", "FILE/TABLE PREFIX", "N/A", "N/A"},
    {"TYPE", "STORAGE TYPE", "DATABASE", "FILE"},
    {"ACTIVITY", "ACTIVITY", "Not Started", "N/A"},
    {"ERROR", "ERROR MESSAGE", "ERROR", "NONE"},
    {"RESET CNTS", "RESET COUNTS", "RESET", "NORESET"},
    {"DATE LST W", "DATE OF LAST WRITE", "", ""},
    {"TIME LST W", "TIME OF LAST WRITE", "", ""},
    {"SEC LAST W", "TIME SINCE LAST WRITE", "SECS", ""},
    {"NO WRITES", "NO OF WRITE REQUESTS", "", ""},
    {"BYTES WRIT", "NO BYTES WRITTEN", "BYTES", ""},
    {"NO READ", "NO OF READ REQUESTS", "", ""},
    {"BYTES READ", "NO BYTES READ", "BYTES", ""},
    {"R-T LOG NO", "REAL-TIME LOG NUMBER", "", ""},
    {"R-T LOG DT", "REAL-TIME LOG DATE", "YYMMDD", ""},
    {"R-T LOG TM", "REAL-TIME LOG TIME", "HHMNSS", ""},
    {"LAG LOG NO", "LAG LOG NUMBER", "", ""},
    {"LAG LOG DT", "LAG LOG DATE", "YYMMDD", ""},
    {"LAG LOG TM", "LAG LOG TIME", "HHMNSS", ""},
    {"HIS LOG NO", "HISTORICAL LOG NUMBER", "", ""},
    {"HIS LOG DT", "HISTORICAL LOG DATE", "YYMMDD", ""},
    {"HIS LOG TM", "HISTORICAL LOG TIME", "HHMNSS", ""},
    {"EXPIRY DT", "EXPIRY DATE", "YYMNDD", ""},
    {"EXPIRY TM", "EXPIRY TIME", "HHMNSS", ""},
    {"SEC TO EXP", "TIME TO EXPIRY", "HRS", ""},
    {"NO INCOMPL", "NO OF INCOMPLETE PUBS", "", ""},
    {"YEAR LST W", "YEAR OF LAST WRITE", "", ""},
    {"MON LST W", "MONTH OF LAST WRITE", "", ""},
    {"DAY LST W", "DAY OF LAST WRITE", "", ""},
    {"HOUR LST W", "HOUR OF LAST WRITE", "", ""},
    {"MIN LST W", "MINUTE OF LAST WRITE", "", ""},
    {"SEC LST W", "SECON OF LAST WRITE", "", ""},
    {"R-T LOG YY", "REAL-TIME LOG YEAR", "", ""},
    {"R-T LOG MM", "REAL-TIME LOG MONTH", "", ""},
    {"R-T LOG SS", "REAL-TIME LOG DAY", "", ""},
    {"R-T LOG HH", "REAL-TIME LOG HOUR", "", ""},
    {"R-T LOG MN", "REAL-TIME LOG MINUTE", "", ""},
    {"R-T LOG SS", "REAL-TIME LOG SECOND", "", ""},
    {"HIS LOG YY", "HISTORICAL LOG YEAR", "", ""},
    {"HIS LOG MM", "HISTORICAL LOG MONTH", "", ""},
    {"HIS LOG DD", "HISTORICAL LOG DAY", "", ""},
    {"HIS LOG HH", "HISTORICAL LOG HOUR", "", ""},
    {"HIS LOG MN", "HISTORICAL LOG MINUTE", "", ""},
    {"HIS LOG SS", "HISTORICAL LOG SECOND", "", ""},
    {"LAG LOG YY", "LAG LOG YEAR", "", ""},
    {"LAG LOG MM", "LAG LOG MONTH", "", ""},
    {"LAG LOG DD", "LAG LOG DAY", "", ""},
    {"LAG LOG HH", "LAG LOG HOUR", "", ""},
    {"LAG LOG MN", "LAG LOG MINUTE", "", ""},
    {"LAG LOG SS", "LAG LOG SECOND", "", ""},
};

// Record offsets of the two state texts of a digital channel.
constexpr int kHighText = 32;
constexpr int kLowText = 64;
constexpr int kTextWidth = 32;
constexpr int kTypeByte = 24;
constexpr int kFlagByte = 28;
constexpr int kDigital = 12;
constexpr int kAnalog = 20;

// Channel numbers inside a logger's block (1-based).
enum : int {
    CH_STATUS = 1,
    CH_DIRECTORY1 = 2,
    CH_PREFIX = 8,
    CH_TYPE = 9,
    CH_ACTIVITY = 10,
    CH_ERROR = 11,
    CH_RESET = 12,
    CH_SINCE_WRITE = 15,
    CH_WRITES = 16,
    CH_BYTES_WRITTEN = 17,
    CH_READS = 18,
    CH_BYTES_READ = 19,
    CH_REAL_TIME_LOG = 20,
    CH_LAG_LOG = 23,
    CH_HISTORICAL_LOG = 26,
    CH_TO_EXPIRY = 31,
    CH_INCOMPLETE = 32,
};

struct Module {
    std::mutex lock;
    bool attached = false;
    bool firstPublish = false;
    int number = 0;
    LoggerEntry entry{};
    std::string id;
    SegmentHeader *data = nullptr;
    SegmentHeader *conf = nullptr;
    int errorIndex = -1;
    uint32_t digital[kDigital] = {};
    float analog[kAnalog] = {};
    bool wrote = false;
    uint32_t lastWriteTick = 0;
    int32_t expiry = 0;
};
Module g;

float &analog(int channel) {
    return g.analog[channel - 13];
}

void setText(ChannelRecord *rec, int offset, const char *text) {
    size_t n = strnlen(text, kTextWidth);
    memset(rec->bytes + offset, 0, kTextWidth);
    memcpy(rec->bytes + offset, text, n);
}

std::string getText(const ChannelRecord *rec, int offset) {
    const char *p = reinterpret_cast<const char *>(rec->bytes + offset);
    return std::string(p, strnlen(p, kTextWidth));
}

ChannelRecord *record(int channel) {
    uint8_t *payload = reinterpret_cast<uint8_t *>(g.conf) + sizeof(SegmentHeader);
    return reinterpret_cast<ChannelRecord *>(payload + (g.number - 1) * LST_RECORDS_BYTES +
                                             (channel - 1) * 216);
}

uint8_t *dataPayload() {
    return reinterpret_cast<uint8_t *>(g.data) + sizeof(SegmentHeader);
}

int channelBase() {
    return (g.number - 1) * LST_CHANNELS_PER_LOGGER;
}

void renewTimeStamp() {
    TimeStamp now = ts_Now();
    memcpy(dataPayload() + offsetof(ChannelTableHeader, fileTime), &now, sizeof now);
}

// The logger's entry as the runtime keeps it now (the copy from attach when it is gone).
LoggerEntry liveEntry() {
    LoggerEntry e = g.entry;
    if (dm_MapLoggerTable() == 0 && g.number <= dm_LoggerCount()) {
        if (const LoggerEntry *live = dm_GetLogger(g.number - 1)) memcpy(&e, live, sizeof e);
    }
    return e;
}

std::string errorText() {
    if (g.errorIndex < 0) return "";
    const SystemErrorEntry *e = dm_GetErrorLong(g.errorIndex);
    if (e == nullptr) return "";
    char text[255];
    memcpy(text, reinterpret_cast<const uint8_t *>(e) + offsetof(SystemErrorEntry, text),
           sizeof text);
    return std::string(text, strnlen(text, 254));
}

void stampLocked(int channel, int32_t time) {
    if (time == 0) {
        analog(channel) = 0;
        analog(channel + 1) = 0;
        return;
    }
    struct tm tm = ts_GmTime(static_cast<uint32_t>(time));
    analog(channel) =
        static_cast<float>((tm.tm_year % 100) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday);
    analog(channel + 1) = static_cast<float>(tm.tm_hour * 10000 + tm.tm_min * 100 + tm.tm_sec);
}

bool isEvent(int channel) {
    return channel == 13 || channel == 21 || channel == 24 || channel == 27 || channel == 29;
}

void publishLocked() {
    if (!g.attached) return;
    shm_Lock(g.data);
    LoggerEntry e = liveEntry();
    uint32_t status = e.active & 1u;
    std::string error = errorText();
    g.digital[CH_ERROR - 1] = error.empty() ? 0 : 1;
    analog(CH_REAL_TIME_LOG) = static_cast<float>(e.realTimeLog);

    int base = channelBase();
    uint32_t resetWord;
    memcpy(&resetWord, dataPayload() + DM_CHANNEL_VALUES_OFFSET + 4 * (base + CH_RESET - 1),
           sizeof resetWord);
    if (resetWord & 1u) {
        for (int ch = CH_WRITES; ch <= CH_BYTES_READ; ++ch)
            analog(ch) = 0;
        status = 0;
    }
    g.digital[CH_STATUS - 1] = status;

    shm_Lock(g.conf);
    bool changed = false;
    std::string errorHead = error.substr(0, kTextWidth);
    if (getText(record(CH_ERROR), kHighText) != errorHead) {
        setText(record(CH_ERROR), kHighText, errorHead.c_str());
        changed = true;
    }
    g.digital[CH_ACTIVITY - 1] = 1;
    const char *activity = lst_ActivityText(e.state);
    if (getText(record(CH_ACTIVITY), kHighText) != activity) {
        setText(record(CH_ACTIVITY), kHighText, activity);
        changed = true;
    }
    if (changed) renewTimeStamp();
    shm_Unlock(g.conf);
    if (changed) shm_Notify(g.conf, 0);

    analog(CH_SINCE_WRITE) =
        g.wrote
            ? static_cast<float>(static_cast<uint32_t>(plat_TickCount() - g.lastWriteTick) / 1000u)
            : 0.0f;
    if (g.expiry != 0) {
        int64_t left = static_cast<int64_t>(static_cast<uint32_t>(g.expiry)) -
                       static_cast<int64_t>(static_cast<uint32_t>(ts_Now().seconds));
        analog(CH_TO_EXPIRY) = static_cast<float>(left / 3600);
    } else {
        analog(CH_TO_EXPIRY) = 0;
    }

    uint32_t words[kDigital];
    memcpy(words, g.digital, sizeof words);
    words[CH_RESET - 1] = 0; // acknowledges an operator's reset
    const char *id = g.id.c_str();
    if (g.firstPublish) {
        dm_ForceWriteDigital(id, base + 1, base + kDigital, words);
        dm_ForceWriteAnalog(id, base + 13, base + 32, g.analog);
        g.firstPublish = false;
    } else {
        dm_WriteDigital(id, base + 1, base + kDigital, words);
        dm_WriteAnalog(id, base + 13, base + 32, g.analog);
    }
    shm_Unlock(g.data);
}

// The logger's own entry in "dm_errors": kind 4 and its name.
int findErrorEntry(const LoggerEntry &e) {
    if (dm_MapErrorTable() != 0) return -1;
    std::string name(e.name, strnlen(e.name, sizeof e.name));
    for (int i = 0; i < dm_ErrorCount(); ++i) {
        const SystemErrorEntry *s = dm_GetErrorLong(i);
        if (s == nullptr) return -1;
        const uint8_t *raw = reinterpret_cast<const uint8_t *>(s);
        char entryName[130];
        memcpy(entryName, raw + offsetof(SystemErrorEntry, name), sizeof entryName);
        if (raw[0] == 4 && std::string(entryName, strnlen(entryName, sizeof entryName)) == name)
            return i;
    }
    return -1;
}

bool startsNoCase(const char *text, const char *prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        char a = *text >= 'A' && *text <= 'Z' ? static_cast<char>(*text + 32) : *text;
        if (a != *prefix) return false;
    }
    return true;
}
} // namespace

const char *lst_ActivityText(int state) {
    static const char *const kTexts[] = {"Not Started",       "Finished Successfully",
                                         "Finished In Error", "Preparing to Log",
                                         "Waiting to Start",  "Logging"};
    return state >= 0 && state <= 5 ? kTexts[state] : "Unknown";
}

void lst_InitStatusRecords(int loggerNumber, int count, LoggerStatusRecord *records) {
    if (records == nullptr) return;
    int cleared = count > LST_CHANNELS_PER_LOGGER ? count : LST_CHANNELS_PER_LOGGER;
    memset(records, 0, static_cast<size_t>(cleared) * sizeof(LoggerStatusRecord));
    // Records past the table stay cleared.
    int built = count < LST_TABLE_ROWS ? count : LST_TABLE_ROWS;
    for (int i = 0; i < built; ++i) {
        const Row &row = kRows[i];
        LoggerStatusRecord *rec = records + i;
        char tag[64];
        snprintf(tag, sizeof tag, "%04d_%s", loggerNumber, row.tag);
        tag_SetTag(rec, tag);
        tag_SetDescription(rec, row.description);
        int channel = i + 1;
        rec->bytes[kTypeByte] = channel <= kDigital ? CHANNEL_TYPE_DO : CHANNEL_TYPE_AO;
        rec->bytes[kFlagByte] |= 1;
        if (channel <= kDigital) {
            setText(rec, kHighText, row.text1);
            setText(rec, kLowText, row.text0);
        } else {
            tag_SetUnits(rec, row.text1);
        }
    }
}

std::optional<std::string> lst_PathPiece(const char *path, int k) {
    if (path == nullptr || *path == '\0' || k < 0) return std::nullopt;
    std::string s(path);
    auto isSep = [](char c) { return c == '\\' || c == '/'; };
    auto separatorsAfterFirst = [&]() {
        int n = 0;
        for (size_t i = 1; i < s.size(); ++i)
            n += isSep(s[i]) ? 1 : 0;
        return n;
    };
    auto nextSep = [&]() -> size_t {
        for (size_t i = 1; i < s.size(); ++i)
            if (isSep(s[i])) return i;
        return std::string::npos;
    };
    while (separatorsAfterFirst() > 5)
        s.erase(0, nextSep());
    for (int i = 0; i < k; ++i) {
        size_t at = nextSep();
        if (at == std::string::npos) return std::nullopt;
        s.erase(0, at);
    }
    if (!s.empty() && isSep(s[0])) s.erase(0, 1);
    size_t end = 0;
    while (end < s.size() && !isSep(s[end]))
        ++end;
    if (end == 0) return std::nullopt;
    return s.substr(0, end < 32 ? end : 32);
}

void lst_SplitDateTimes(uint32_t *flags, float *values) {
    if (flags == nullptr || values == nullptr) return;
    static const int kPairs[4][2] = {{13, 33}, {21, 39}, {27, 45}, {24, 51}};
    static const uint32_t kDivisors[3] = {10000, 100, 1};
    for (const auto &pair : kPairs) {
        for (int i = 0; i < 6; ++i) {
            int source = pair[0] + i / 3 - 1, target = pair[1] + i - 1;
            uint32_t f = flags[source];
            flags[target] = 0x80u | (f & 0x20u);
            values[target] = 0;
            if ((f & 0x80u) == 0 || (f & 0x20u) != 0) continue;
            double v = values[source];
            // A value no unsigned number can hold counts as no value.
            if (!std::isfinite(v)) {
                flags[target] = 0x80u | 0x20u;
                continue;
            }
            double t = std::trunc(v);
            uint32_t u = t <= 0 ? 0u : t >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(t);
            values[target] = static_cast<float>((u / kDivisors[i % 3]) % 100u);
        }
    }
}

int lst_StampEvent(int channel, int32_t time) {
    if (!isEvent(channel)) return -1;
    std::lock_guard<std::mutex> guard(g.lock);
    if (g.attached) stampLocked(channel, time);
    return 0;
}

int lst_Attach(int loggerNumber, const LoggerEntry *entry) {
    std::lock_guard<std::mutex> guard(g.lock);
    if (g.attached || loggerNumber < 1 || entry == nullptr) return -1;
    if (dm_MapDataProcessTable() != 0) return -1;
    const DataProcessEntry *process = dm_FindDataProcess("logst");
    if (process == nullptr) return -1;
    std::string id(process->tableId, strnlen(process->tableId, sizeof process->tableId));
    SegmentHeader *data = dm_GetDataSegment(id.c_str());
    if (data == nullptr) return -1;
    // The bytes the segment really holds, whatever its header claims: the statistics are
    // written into both segments.
    ChannelTableHeader header;
    if (shm_PayloadLimit(data) < static_cast<int32_t>(sizeof header)) return -1;
    memcpy(&header, reinterpret_cast<uint8_t *>(data) + sizeof(SegmentHeader), sizeof header);
    int64_t capacity = header.channelCount;
    if (header.tableType != 8 || capacity < int64_t{LST_CHANNELS_PER_LOGGER} * loggerNumber ||
        shm_PayloadLimit(data) < DM_CHANNEL_VALUES_OFFSET + 8 * capacity)
        return -1;
    SegmentHeader *conf = dm_GetConfSegment(id.c_str());
    if (conf == nullptr || shm_PayloadLimit(conf) < int64_t{LST_RECORDS_BYTES} * loggerNumber)
        return -1;
    int errorIndex = findErrorEntry(*entry);
    if (errorIndex < 0) return -1;

    g.number = loggerNumber;
    memcpy(&g.entry, entry, sizeof g.entry);
    g.id = id;
    g.data = data;
    g.conf = conf;
    g.errorIndex = errorIndex;
    int count = startsNoCase(entry->typeName, "repub")   ? 32
                : startsNoCase(entry->typeName, "resub") ? 31
                                                         : 25;
    shm_Lock(conf);
    lst_InitStatusRecords(loggerNumber, count, record(1));
    renewTimeStamp();
    shm_Unlock(conf);
    shm_Notify(conf, 0);
    memset(g.digital, 0, sizeof g.digital);
    memset(g.analog, 0, sizeof g.analog);
    g.wrote = false;
    g.expiry = 0;
    g.attached = true;
    g.firstPublish = true;
    publishLocked();
    return 0;
}

void lst_Detach() {
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.attached) return;
    g.wrote = false;
    analog(CH_SINCE_WRITE) = 0;
    publishLocked();
    g.attached = false;
}

int lst_IsAttached() {
    std::lock_guard<std::mutex> guard(g.lock);
    return g.attached ? 1 : 0;
}

uint32_t lst_CountWrite(uint32_t bytes) {
    uint32_t tick = plat_TickCount();
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.attached) return tick;
    analog(CH_WRITES) += 1;
    analog(CH_BYTES_WRITTEN) += static_cast<float>(bytes);
    stampLocked(13, ts_Now().seconds);
    g.lastWriteTick = tick;
    g.wrote = true;
    return tick;
}

void lst_CountRead(uint32_t bytes) {
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.attached) return;
    analog(CH_READS) += 1;
    analog(CH_BYTES_READ) += static_cast<float>(bytes);
}

void lst_ResetCounters() {
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.attached) return;
    for (int ch = CH_WRITES; ch <= CH_BYTES_READ; ++ch)
        analog(ch) = 0;
    publishLocked();
}

void lst_SetRealTimeLog(int32_t number, int32_t time) {
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.attached) return;
    if (number != 0) analog(CH_REAL_TIME_LOG) = static_cast<float>(number);
    if (time != 0) stampLocked(21, time);
    publishLocked();
}

void lst_SetLagLog(int32_t number, int32_t time) {
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.attached) return;
    analog(CH_LAG_LOG) = static_cast<float>(number);
    stampLocked(24, time);
    publishLocked();
}

void lst_SetHistoricalLog(int32_t number, int32_t time) {
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.attached) return;
    analog(CH_HISTORICAL_LOG) = static_cast<float>(number);
    stampLocked(27, time);
    publishLocked();
}

void lst_SetExpiry(int32_t time) {
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.attached) return;
    g.expiry = time;
    stampLocked(29, time);
    publishLocked();
}

void lst_SetIncompleteCount(int32_t count) {
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.attached) return;
    analog(CH_INCOMPLETE) = static_cast<float>(count);
    publishLocked();
}

void lst_SetStoreInfo(const char *identity, const char *dataPath, const char *sourceName) {
    std::lock_guard<std::mutex> guard(g.lock);
    if (!g.attached) return;
    bool database = lstore_GetProviderType(identity) != -1;
    shm_Lock(g.conf);
    auto both = [](int channel, const std::string &text) {
        setText(record(channel), kHighText, text.c_str());
        setText(record(channel), kLowText, text.c_str());
    };
    if (database) {
        both(CH_DIRECTORY1, std::string(g.entry.name, strnlen(g.entry.name, sizeof g.entry.name)));
    } else {
        for (int k = 0; k < 6; ++k)
            if (auto piece = lst_PathPiece(dataPath, k)) both(CH_DIRECTORY1 + k, *piece);
    }
    if (sourceName != nullptr && *sourceName != '\0') both(CH_PREFIX, sourceName);
    g.digital[CH_TYPE - 1] = database ? 1 : 0;
    renewTimeStamp();
    shm_Unlock(g.conf);
    shm_Notify(g.conf, 0);
    publishLocked();
}

void lst_Publish() {
    std::lock_guard<std::mutex> guard(g.lock);
    publishLocked();
}
