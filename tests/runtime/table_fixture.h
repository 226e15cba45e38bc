// Runtime directory and channel tables built in a test's own IPC name space, as the runtime
// server lays them out, for the writers, status channels and status-message tests.
#pragma once

#include "chrec.h"
#include "dm.h"
#include "plat_shm.h"
#include "shm.h"
#include "tag.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

struct TestProcess {
    const char *name;
    const char *id;
    uint8_t kindFlag;
    uint8_t attribute;
    int32_t pid;
    uint8_t enabled = 1;
};

class TableFixtureBase {
public:
    TableFixtureBase() {
        static int serial = 0;
        prefix_ = "kvtt-st-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
        setenv("KVT_IPC_PREFIX", prefix_.c_str(), 1);
        plat_ShmUnlinkAll();
        dm_ResetForTests();
    }
    ~TableFixtureBase() {
        dm_ResetForTests();
        plat_ShmUnlinkAll();
    }

    // Unterminated when the text fills the field, as the runtime stores it.
    static void copyText(char *field, size_t width, const char *text) {
        memset(field, 0, width);
        memcpy(field, text, strnlen(text, width));
    }

    static SegmentHeader *makeProcesses(const std::vector<TestProcess> &processes) {
        int32_t n = static_cast<int32_t>(processes.size());
        SegmentHeader *seg = shm_OpenOrCreateSegment("dm_datproc", 4 + 60 * n);
        memcpy(shm_Payload(seg), &n, 4);
        for (int i = 0; i < n; ++i) {
            auto *e = reinterpret_cast<DataProcessEntry *>(shm_Payload(seg) + 4 + 60 * i);
            copyText(e->name, sizeof e->name, processes[i].name);
            copyText(e->displayName, sizeof e->displayName, processes[i].name);
            memcpy(e->tableId, processes[i].id, 2);
            e->kindFlag = processes[i].kindFlag;
            e->attribute = processes[i].attribute;
            e->enabled = processes[i].enabled;
            e->pid = processes[i].pid;
        }
        return seg;
    }

    // A table of n channels: value bytes v (4 digital, 8 analogue), optional runtime records.
    static SegmentHeader *makeTable(const char *id, int n, uint16_t v, bool runtimeRecords = false,
                                    int32_t extraConf = 0) {
        int32_t payload = 20 + v * n + (runtimeRecords ? 264 * n : 0);
        SegmentHeader *data = shm_OpenOrCreateSegment((std::string("dm_") + id).c_str(), payload);
        auto *h = reinterpret_cast<ChannelTableHeader *>(shm_Payload(data));
        memcpy(h->tableId, id, 2);
        h->tableType = v;
        h->channelCount = static_cast<uint16_t>(n);
        shm_OpenOrCreateSegment((std::string("dm_") + id + "_conf").c_str(), 216 * n + extraConf);
        shm_OpenOrCreateSegment((std::string("dm_") + id + "_event").c_str(), 2 * ((n + 7) / 8));
        return data;
    }

    static ChannelRecord *record(const char *id, int channel) { // 1-based
        return reinterpret_cast<ChannelRecord *>(dm_GetConfData(id)) + (channel - 1);
    }
    static uint32_t status(const char *id, int channel) {
        uint32_t s;
        memcpy(&s, dm_GetData(id) + 20 + 4 * (channel - 1), 4);
        return s;
    }
    static void setStatus(const char *id, int channel, uint32_t s) {
        memcpy(dm_GetData(id) + 20 + 4 * (channel - 1), &s, 4);
    }
    static float value(const char *id, int channel) {
        auto *h = reinterpret_cast<ChannelTableHeader *>(dm_GetData(id));
        float v;
        memcpy(&v, dm_GetData(id) + 20 + 4 * h->channelCount + 4 * (channel - 1), 4);
        return v;
    }

private:
    std::string prefix_;
};
