// Builds a small runtime directory in shared memory for tests of the writers of channel
// values, alarm messages and the scan cycle: devices, data processes, loggers, channel
// tables with their configuration and event segments; and reads mailslots as the alarm,
// derived-value and logger processes would.
#pragma once

#include "dm.h"
#include "plat_mailslot.h"
#include "shm.h"

#include <cstdint>
#include <cstring>
#include <poll.h>
#include <string>
#include <vector>

namespace rt {

struct Device {
    const char *type;
    int number;
    const char *name;
    const char *ids[5];
    int32_t pid;
};

struct Process {
    const char *name;
    const char *id;
    uint8_t kindFlag;
    uint8_t enabled;
    uint8_t attribute;
    int32_t pid;
};

struct Logger {
    const char *name;
    uint8_t active;
    int32_t pid;
};

// Copies at most size bytes; a shorter text keeps the zeroes behind it.
inline void copyText(char *field, size_t size, const char *text) {
    memcpy(field, text, strnlen(text, size));
}

inline void setCount(SegmentHeader *seg, int32_t count) {
    memcpy(shm_Payload(seg), &count, 4);
}

inline SegmentHeader *makeDevices(const std::vector<Device> &devices) {
    int32_t n = static_cast<int32_t>(devices.size());
    SegmentHeader *seg = shm_OpenOrCreateSegment("dm_device", 4 + 788 * n);
    setCount(seg, n);
    for (int i = 0; i < n; ++i) {
        DeviceSlot *s = reinterpret_cast<DeviceSlot *>(shm_Payload(seg) + 4 + 788 * i);
        memset(s, 0, sizeof *s);
        copyText(s->typeName, sizeof s->typeName, devices[i].type);
        copyText(s->deviceName, sizeof s->deviceName, devices[i].name);
        s->deviceNumber = static_cast<uint16_t>(devices[i].number);
        for (int k = 0; k < 5; ++k)
            if (devices[i].ids[k] != nullptr) memcpy(s->kindIds[k], devices[i].ids[k], 2);
        s->pid = devices[i].pid;
    }
    return seg;
}

inline SegmentHeader *makeProcesses(const std::vector<Process> &processes) {
    int32_t n = static_cast<int32_t>(processes.size());
    SegmentHeader *seg = shm_OpenOrCreateSegment("dm_datproc", 4 + 60 * n);
    setCount(seg, n);
    for (int i = 0; i < n; ++i) {
        auto *e = reinterpret_cast<DataProcessEntry *>(shm_Payload(seg) + 4 + 60 * i);
        memset(e, 0, sizeof *e);
        copyText(e->name, sizeof e->name, processes[i].name);
        copyText(e->displayName, sizeof e->displayName, processes[i].name);
        if (processes[i].id != nullptr) memcpy(e->tableId, processes[i].id, 2);
        e->kindFlag = processes[i].kindFlag;
        e->enabled = processes[i].enabled;
        e->attribute = processes[i].attribute;
        e->pid = processes[i].pid;
    }
    return seg;
}

inline SegmentHeader *makeLoggers(const std::vector<Logger> &loggers) {
    int32_t n = static_cast<int32_t>(loggers.size());
    SegmentHeader *seg = shm_OpenOrCreateSegment("dm_loggers", 4 + 172 * n);
    setCount(seg, n);
    for (int i = 0; i < n; ++i) {
        auto *e = reinterpret_cast<LoggerEntry *>(shm_Payload(seg) + 4 + 172 * i);
        memset(e, 0, sizeof *e);
        copyText(e->typeName, sizeof e->typeName, "stand");
        copyText(e->name, sizeof e->name - 1, loggers[i].name);
        e->active = loggers[i].active;
        e->pid = loggers[i].pid;
    }
    return seg;
}

// A channel table: data segment with header (V bytes per channel), configuration segment
// with count records, event segment of rows x (count >> 3) bytes.
struct Table {
    SegmentHeader *data;
    SegmentHeader *conf;
    SegmentHeader *event;
    ChannelTableHeader *header;
    uint32_t *statuses;
    float *values; // analogue tables
    uint8_t *records;
    uint8_t *rows;
    int32_t rowLength;
};

inline Table makeTable(const char *id, int count, bool analog, int rows = 3,
                       bool runtimeRecords = false) {
    Table t{};
    int v = analog ? 8 : 4;
    int32_t payload = 20 + v * count + (runtimeRecords ? 264 * count : 0);
    t.data = shm_OpenOrCreateSegment((std::string("dm_") + id).c_str(), payload);
    t.conf = shm_OpenOrCreateSegment((std::string("dm_") + id + "_conf").c_str(),
                                     216 * (count > 0 ? count : 1));
    t.rowLength = count >> 3;
    int32_t eventBytes = rows * ((count + 7) >> 3);
    t.event = shm_OpenOrCreateSegment((std::string("dm_") + id + "_event").c_str(),
                                      eventBytes > 0 ? eventBytes : 1);
    t.header = reinterpret_cast<ChannelTableHeader *>(shm_Payload(t.data));
    memcpy(t.header->tableId, id, 2);
    t.header->tableType = static_cast<uint16_t>(v);
    t.header->channelCount = static_cast<uint16_t>(count);
    t.statuses = reinterpret_cast<uint32_t *>(shm_Payload(t.data) + 20);
    t.values = analog ? reinterpret_cast<float *>(shm_Payload(t.data) + 20 + 4 * count) : nullptr;
    t.records = shm_Payload(t.conf);
    t.rows = shm_Payload(t.event);
    return t;
}

// Sets channel n's bit in row r (0 derived, i + 1 logger i).
inline void markChannel(const Table &t, int row, int channel) {
    t.rows[row * t.rowLength + (channel >> 3)] |= static_cast<uint8_t>(0x80 >> (channel & 7));
}

// A mailslot read as another process would.
class Reader {
public:
    explicit Reader(const std::string &name) : name_(name) { bind(); }
    ~Reader() { unbind(); }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;
    bool bind() {
        if (bound_) return true;
        bound_ = plat_MailslotCreate(&slot_, name_.c_str()) == 0;
        return bound_;
    }
    void unbind() {
        if (bound_) plat_MailslotDestroy(&slot_);
        bound_ = false;
    }
    // Next datagram within the time-out, or an empty vector.
    std::vector<uint8_t> next(int timeoutMs = 2000) {
        std::vector<uint8_t> out;
        if (!bound_) return out;
        pollfd p{slot_.sock, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return out;
        uint8_t buffer[1024];
        int n = plat_MailslotReceive(&slot_, buffer, sizeof buffer);
        if (n > 0) out.assign(buffer, buffer + (n < 1024 ? n : 1024));
        return out;
    }
    bool empty(int waitMs = 50) {
        if (!bound_) return true;
        pollfd p{slot_.sock, POLLIN, 0};
        return poll(&p, 1, waitMs) <= 0;
    }

private:
    std::string name_;
    PlatMailslot slot_{-1, -1};
    bool bound_ = false;
};

} // namespace rt
