// Stand-in for the scan cycle until the channel processing is built: each kind's scan handler
// reads (or writes) the device, and the statuses and values are published as read, without
// scaling, limits, alarms or events.
#include "scan.h"
#include "s5.h"

#include "plat_error.h"
#include "shm.h"
#include "station.h"
#include "ts.h"

#include <cerrno>
#include <cstring>

namespace {
void UnlockKeepingErrno(SegmentHeader *segment) {
    int saved = errno;
    shm_Unlock(segment);
    errno = saved;
}
} // namespace

int scan_ScanDevice(int) {
    int32_t total = 0;
    int last = -2; // no handler called yet
    for (int kind = SCAN_CI; kind >= SCAN_AI && g_scan.running; --kind) {
        ScanKindState &k = g_scan.kinds[kind];
        if (k.segment == nullptr) continue;
        TimeStamp start = ts_Now();
        bool output = kind == SCAN_AO || kind == SCAN_DO;
        if (output) shm_Lock(k.segment);
        last = s5_DriverEntryTable.scan[kind](g_scan.slotBytes + SLOT_CONFIG, k.count, k.records,
                                              k.statuses, k.values);
        if (last == -1) {
            if (output) UnlockKeepingErrno(k.segment);
            return -1;
        }
        if (last == S5_SCAN_SKIP) {
            if (output) shm_Unlock(k.segment);
            continue;
        }
        if (!output) shm_Lock(k.segment);
        if (k.statuses != nullptr && k.previousStatuses != nullptr)
            memcpy(k.previousStatuses, k.statuses, sizeof(uint32_t) * k.count);
        if (k.values != nullptr && k.previousValues != nullptr)
            memcpy(k.previousValues, k.values, sizeof(float) * k.count);
        int16_t status = 0;
        memcpy(k.payload + TABLE_STATUS, &status, sizeof status);
        shm_Notify(k.segment, 0);
        shm_Unlock(k.segment);
        int32_t elapsed = ts_DiffMs(ts_Now(), start);
        memcpy(k.payload + TABLE_DURATION, &elapsed, sizeof elapsed);
        total += elapsed;
    }
    if (last != -2 && last != S5_SCAN_SKIP)
        memcpy(g_scan.slotBytes + SLOT_SCAN_DURATION, &total, sizeof total);
    scan_ReportStationTexts();
    return 0;
}
