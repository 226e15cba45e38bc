#include "stch.h"

#include "chrec.h"
#include "dm.h"
#include "dmw.h"
#include "exdll.h"
#include "tag.h"
#include "ts.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {
constexpr int ROWS = 10;
constexpr uint16_t STATUS_TABLE_TYPE = 8;
constexpr uint32_t STATUS_STATE_MARK = 0x80;

struct Row {
    const char *shortName;
    const char *description;
    const char *high; // digital rows
    const char *low;
    const char *units; // analogue rows
};
const Row k_rows[ROWS] = {
    {"ST", "STATUS", "ENABLED", "DISABLED", nullptr},
    {"RS", "RESET COUNTS", "RESET", "NORESET", nullptr},
    {"RB", "RECEIVE BYTES", nullptr, nullptr, "BYTES"},
    {"RP", "RECEIVE PACKETS", nullptr, nullptr, "PACKETS"},
    {"RT", "RECEIVE TIMEOUTS", nullptr, nullptr, "TIMEOUTS"},
    {"RE", "RECEIVE COMM ERRORS", nullptr, nullptr, "ERRORS"},
    {"RC", "RECEIVE CRC ERRORS", nullptr, nullptr, "ERRORS"},
    {"TB", "TRANSMIT BYTES", nullptr, nullptr, "BYTES"},
    {"TP", "TRANSMIT PACKETS", nullptr, nullptr, "PACKETS"},
    {"TE", "TRANSMIT ERRORS", nullptr, nullptr, "ERRORS"},
};

struct StchState {
    int active = 0;
    int firstWrite = 0;
    char id[3] = {};
    std::string portText;
    int ports = 0;
    std::vector<uint32_t> counters;
    std::vector<uint32_t> states;
    std::vector<float> values;
    // What the last update published, to write only on change.
    std::vector<uint32_t> shownStates;
    std::vector<float> shownValues;
};

std::recursive_mutex g_lock;
StchState g_state;

int32_t payloadLimit(SegmentHeader *segment) {
    ShmLayout layout;
    return shm_GetLayout(segment, &layout) == 0 ? layout.payloadLimit : 0;
}

std::string channelText(const std::string &type, int device, int port, const char *text) {
    char buffer[128];
    if (device != 0 && port != 0)
        snprintf(buffer, sizeof buffer, "%1.5s_%d_%03d_%s", type.c_str(), device, port, text);
    else if (device != 0)
        snprintf(buffer, sizeof buffer, "%1.9s_%d_%s", type.c_str(), device, text);
    else if (port != 0)
        snprintf(buffer, sizeof buffer, "%1.8s_%03d_%s", type.c_str(), port, text);
    else
        snprintf(buffer, sizeof buffer, "%1.12s_%s", type.c_str(), text);
    return buffer;
}

std::string portTextOf(const std::string &type, const DeviceSlot *slot) {
    // Zeroed and cut by the loader, so a module that fills the buffer cannot run past it.
    char text[20] = {};
    if (exdll_GetConfigPort(type.c_str(), const_cast<DeviceSlot *>(slot), text, sizeof text) != 0)
        return "";
    return std::string(text, strnlen(text, sizeof text - 1));
}

void fillRecords(ChannelRecord *records, const std::string &type, int device) {
    for (int p = 0; p < g_state.ports; ++p) {
        for (int r = 0; r < ROWS; ++r) {
            ChannelRecord *rec = records + ROWS * p + r;
            memset(rec, 0, sizeof *rec);
            const Row &row = k_rows[r];
            tag_SetTag(rec, channelText(type, device, p, row.shortName).c_str());
            tag_SetDescription(rec, channelText(type, device, p, row.description).c_str());
            if (row.high != nullptr) {
                chrec_SetType(rec, CHANNEL_TYPE_DO);
                std::string high = row.high, low = row.low;
                if (p == 0 && r == 0 && !g_state.portText.empty()) {
                    high += " " + g_state.portText;
                    low += " " + g_state.portText;
                }
                chrec_SetText(rec, ChannelDigital::HighStateText, high.c_str());
                chrec_SetText(rec, ChannelDigital::LowStateText, low.c_str());
            } else {
                chrec_SetType(rec, CHANNEL_TYPE_AO);
                tag_SetUnits(rec, row.units);
            }
            chrec_SetFlag(rec, ChannelDigital::Enable, 1);
        }
        g_state.states[ROWS * p] |= STATUS_STATE_MARK;
    }
}

void release() {
    g_state = StchState{};
}
} // namespace

void stch_Init(const DeviceSlot *slot, const char *ownId) {
    int savedErrno = errno;
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    release();
    if (slot == nullptr || ownId == nullptr || ownId[0] == '\0') return;
    g_state.id[0] = ownId[0];
    g_state.id[1] = ownId[1];
    g_state.firstWrite = 1;

    std::string type(slot->typeName, strnlen(slot->typeName, sizeof slot->typeName));
    for (char &c : type)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    std::string portText = portTextOf(type, slot);

    SegmentHeader *data = dm_GetDataSegment(g_state.id);
    SegmentHeader *conf = dm_GetConfSegment(g_state.id);
    if (data == nullptr || conf == nullptr || payloadLimit(data) < DM_CHANNEL_VALUES_OFFSET) {
        release();
        errno = savedErrno;
        return;
    }
    auto *header = reinterpret_cast<ChannelTableHeader *>(shm_Payload(data));
    int count = header->channelCount;
    int ports = count / ROWS;
    if (header->tableType != STATUS_TABLE_TYPE || ports < 1 ||
        payloadLimit(data) < DM_CHANNEL_VALUES_OFFSET + 8 * count ||
        payloadLimit(conf) < static_cast<int32_t>(CHANNEL_RECORD_SIZE) * ROWS * ports) {
        release();
        errno = savedErrno;
        return;
    }
    g_state.portText = portText;
    g_state.ports = ports;
    size_t n = static_cast<size_t>(ROWS * ports);
    g_state.counters.assign(n, 0);
    g_state.states.assign(n, 0);
    g_state.values.assign(n, 0.0f);
    g_state.counters[0] = slot->running;

    if (shm_Lock(conf) == 0) {
        shm_BeginUpdate(conf);
        fillRecords(reinterpret_cast<ChannelRecord *>(shm_Payload(conf)), type, slot->deviceNumber);
        if (shm_Lock(data) == 0) {
            TimeStamp now = ts_Now();
            memcpy(&header->fileTime, &now, sizeof now);
            shm_Unlock(data);
        }
        shm_Notify(conf, 0);
        shm_Unlock(conf);
    }
    g_state.active = 1;
    stch_Update();
    errno = savedErrno;
}

void stch_AddCount(int port, uint32_t amount, int row) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_state.active || port < 0 || port >= g_state.ports || row < 1 || row > ROWS) return;
    g_state.counters[ROWS * port] = 1;
    g_state.counters[ROWS * port + row - 1] += amount;
    if (port > 0) g_state.counters[row - 1] += amount;
    stch_Update();
}

void stch_Update() {
    int savedErrno = errno;
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_state.active) return;
    SegmentHeader *data = dm_GetDataSegment(g_state.id);
    if (data == nullptr || shm_Lock(data) != 0) {
        errno = savedErrno;
        return;
    }
    const uint8_t *statuses = shm_Payload(data) + DM_CHANNEL_VALUES_OFFSET;
    for (int p = 0; p < g_state.ports; ++p) {
        uint32_t *state = &g_state.states[ROWS * p];
        uint32_t *counter = &g_state.counters[ROWS * p];
        state[0] = (state[0] & ~1u) | (counter[0] != 0 ? 1u : 0u);
        uint32_t reset;
        memcpy(&reset, statuses + 4 * (ROWS * p + 1), 4);
        if (reset & 1u) {
            for (int r = 0; r < ROWS; ++r)
                counter[r] = 0;
            state[1] &= ~1u;
        }
        for (int r = 0; r < ROWS; ++r)
            g_state.values[ROWS * p + r] = static_cast<float>(counter[r]);
    }
    shm_Unlock(data);

    int last = ROWS * g_state.ports;
    if (g_state.firstWrite) {
        dm_ForceWriteDigital(g_state.id, 1, last, g_state.states.data());
        dm_ForceWriteAnalog(g_state.id, 1, last, g_state.values.data());
        g_state.firstWrite = 0;
    } else {
        // A reset written by an operator shows in the segment, not in what was published.
        bool resetPending = false;
        for (int p = 0; p < g_state.ports && !resetPending; ++p) {
            uint32_t reset;
            memcpy(&reset, statuses + 4 * (ROWS * p + 1), 4);
            resetPending = ((reset ^ g_state.states[ROWS * p + 1]) & 1u) != 0;
        }
        if (resetPending || g_state.states != g_state.shownStates)
            dm_WriteDigital(g_state.id, 1, last, g_state.states.data());
        if (g_state.values != g_state.shownValues)
            dm_WriteAnalog(g_state.id, 1, last, g_state.values.data());
    }
    g_state.shownStates = g_state.states;
    g_state.shownValues = g_state.values;
    errno = savedErrno;
}

void stch_Shutdown() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (!g_state.active) return;
    for (int p = 0; p < g_state.ports; ++p)
        g_state.counters[ROWS * p] = 0;
    stch_Update();
    release();
}

int stch_IsActive() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    return g_state.active;
}

void stch_AddRxBytes(int port, uint32_t amount) {
    stch_AddCount(port, amount, STCH_ROW_RX_BYTES);
}
void stch_AddRxPackets(int port, uint32_t amount) {
    stch_AddCount(port, amount, STCH_ROW_RX_PACKETS);
}
void stch_AddRxTimeouts(int port, uint32_t amount) {
    stch_AddCount(port, amount, STCH_ROW_RX_TIMEOUTS);
}
void stch_AddRxCommErrors(int port, uint32_t amount) {
    stch_AddCount(port, amount, STCH_ROW_RX_COMM_ERRORS);
}
void stch_AddRxCrcErrors(int port, uint32_t amount) {
    stch_AddCount(port, amount, STCH_ROW_RX_CRC_ERRORS);
}
void stch_AddTxBytes(int port, uint32_t amount) {
    stch_AddCount(port, amount, STCH_ROW_TX_BYTES);
}
void stch_AddTxPackets(int port, uint32_t amount) {
    stch_AddCount(port, amount, STCH_ROW_TX_PACKETS);
}
void stch_AddTxErrors(int port, uint32_t amount) {
    stch_AddCount(port, amount, STCH_ROW_TX_ERRORS);
}
