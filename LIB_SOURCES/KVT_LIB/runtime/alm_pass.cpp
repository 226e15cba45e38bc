// One pass over a channel table: the locked event segment and the counters per logger.
#include "alm_state.h"

#include "dm.h"
#include "msl.h"
#include "plat_error.h"
#include "shm.h"

#include <cerrno>
#include <cstring>

AlmPass &alm_Pass() {
    static AlmPass pass;
    return pass;
}

int alm_RowBit(int row, int channel) {
    const AlmPass &p = alm_Pass();
    int32_t byte = channel >> 3;
    if (byte >= p.rowLength) return 0;
    // A row that does not fit the payload counts nothing, not even its bytes inside it.
    int64_t start = static_cast<int64_t>(row) * p.rowLength;
    if (start + p.rowLength > p.rowBytes) return 0;
    return (p.rows[start + byte] & (0x80 >> (channel & 7))) != 0 ? 1 : 0;
}

int alm_BeginDevice(ChannelTableHeader *header) {
    AlmPass &p = alm_Pass();
    if (p.active) alm_EndDevice();
    if (header == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    char id[3] = {header->tableId[0], header->tableId[1], '\0'};
    SegmentHeader *event = dm_GetEventSegment(id);
    if (event == nullptr) {
        if (errno == 0) errno = WERR_FILE_NOT_FOUND;
        return -1;
    }
    if (shm_Lock(event) != 0) return -1;
    ShmLayout layout{};
    shm_GetLayout(event, &layout);
    p.active = true;
    memcpy(p.tableId, header->tableId, 2);
    p.channelCount = header->channelCount;
    p.rowLength = header->channelCount >> 3;
    p.event = event;
    p.rows = shm_Payload(event);
    p.rowBytes = layout.payloadLimit > 0 ? layout.payloadLimit : 0;
    p.loggers = 0;
    if (dm_MapLoggerTable() == 0) {
        p.loggers = dm_LoggerCount();
        if (p.loggers > ALM_MAX_LOGGERS) p.loggers = ALM_MAX_LOGGERS;
    }
    memset(p.events, 0, sizeof p.events);
    memset(p.changes, 0, sizeof p.changes);
    p.derived = 0;
    return 0;
}

int alm_EndDevice() {
    AlmPass &p = alm_Pass();
    if (!p.active) return plat_Fail(WERR_INVALID_PARAMETER);
    for (int i = 0; i < p.loggers; ++i) {
        if (p.events[i] == 0 && p.changes[i] == 0) continue;
        LoggerEntry *logger = dm_GetLogger(i);
        if (logger != nullptr && logger->active != 0 && logger->pid > 0) {
            uint32_t base = p.changes[i] != 0 ? ALM_LOGGER_CHANGES : ALM_LOGGER_EVENTS;
            uint32_t code = base + static_cast<uint32_t>(p.events[i]);
            // A logger that has gone is not reported: it misses nothing it could still read.
            msl_PostCode(static_cast<uint32_t>(logger->pid), static_cast<int32_t>(code));
        }
        p.events[i] = 0;
        p.changes[i] = 0;
    }
    shm_Unlock(p.event);
    char id[2] = {p.tableId[0], p.tableId[1]};
    bool derived = p.derived != 0;
    p.derived = 0;
    p.active = false;
    p.event = nullptr;
    p.rows = nullptr;
    // After the unlock: waiting for a late derived-value process must not hold the loggers.
    if (derived) alm_WriteDerived(id);
    return 0;
}

namespace {
bool inPass(int channel) {
    const AlmPass &p = alm_Pass();
    if (!p.active || channel < 0 || channel >= p.channelCount) {
        plat_Fail(WERR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

void addPerLogger(int32_t *counters, int channel, int32_t delta) {
    const AlmPass &p = alm_Pass();
    for (int i = 0; i < p.loggers; ++i)
        if (alm_RowBit(i + 1, channel)) counters[i] += delta;
}
} // namespace

int alm_CountDerived(int channel) {
    if (!inPass(channel)) return -1;
    if (!alm_RowBit(0, channel)) return 0;
    ++alm_Pass().derived;
    return 1;
}

int alm_CountEventStart(int channel) {
    if (!inPass(channel)) return -1;
    alm_CountDerived(channel);
    addPerLogger(alm_Pass().events, channel, 1);
    return 0;
}

int alm_CountEventEnd(int channel) {
    if (!inPass(channel)) return -1;
    alm_CountDerived(channel);
    addPerLogger(alm_Pass().events, channel, -1);
    return 0;
}

int alm_CountSignificantChange(int channel) {
    if (!inPass(channel)) return -1;
    addPerLogger(alm_Pass().changes, channel, 1);
    return 0;
}

void alm_Reset() {
    AlmPass &p = alm_Pass();
    if (p.active) {
        shm_Unlock(p.event);
        p.active = false;
    }
    p.derived = 0;
    alm_CloseEndpoints();
}
