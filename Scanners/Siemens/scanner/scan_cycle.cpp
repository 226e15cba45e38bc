// One scan cycle: every kind's scan handler, then the channel processing of the kind, and the
// statuses and values published into its data segment.
//
// Kinds run from counter inputs down to analogue inputs, so outputs are written before inputs
// are read, and digital outputs before analogue ones. Lock order: the kind's data segment,
// then (inside the alarm pass) its event segment. An output kind's segment is locked before
// its handler, which reads the wanted values from it, and held across the serial requests;
// an input kind's only after its handler has read the device.
#include "scan.h"

#include "alm.h"
#include "chp.h"
#include "dbg.h"
#include "dm.h"
#include "s5.h"
#include "shm.h"
#include "station.h"
#include "ts.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
bool g_passWarned[SCAN_KINDS] = {};

void unlockKeepingErrno(SegmentHeader *segment) {
    int saved = errno;
    shm_Unlock(segment);
    errno = saved;
}

ChpKind processingOf(ScanKindState &k, int kind) {
    ChpKind p{};
    p.count = k.count;
    p.records = k.records;
    p.output = kind == SCAN_AO || kind == SCAN_DO;
    p.statuses = k.statuses;
    p.previousStatuses = k.previousStatuses;
    bool analogue = kind == SCAN_AI || kind == SCAN_AO || kind == SCAN_CI;
    p.values = analogue ? k.values : nullptr;
    p.previousValues = analogue ? k.previousValues : nullptr;
    p.baselines = k.baselines;
    p.references = k.references;
    p.saved = &k.saved;
    p.computer = g_scan.computer.c_str();
    p.user = g_scan.user.c_str();
    return p;
}

// Without its event segment the kind is still published; only its messages and counts are
// lost, and the trace says so once.
void beginPass(ScanKindState &k, int kind) {
    if (alm_BeginDevice(k.header) == 0 || g_passWarned[kind]) return;
    g_passWarned[kind] = true;
    char line[96];
    snprintf(line, sizeof line, "no event segment for table %.2s: alarms and events not sent",
             k.header->tableId);
    dbg_WriteTrace(line);
}

void publish(ScanKindState &k, int kind, int first) {
    if (k.records != nullptr && k.statuses != nullptr && k.previousStatuses != nullptr)
        chp_ProcessKind(processingOf(k, kind), first);
    if (k.statuses != nullptr && k.previousStatuses != nullptr)
        memcpy(k.previousStatuses, k.statuses, sizeof(uint32_t) * k.count);
    k.header->statusCode = 0;
    if (k.values != nullptr && k.previousValues != nullptr)
        memcpy(k.previousValues, k.values, sizeof(float) * k.count);
}
} // namespace

int scan_ScanDevice(int first) {
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
            if (output) unlockKeepingErrno(k.segment);
            return -1;
        }
        if (last == S5_SCAN_SKIP) {
            if (output) shm_Unlock(k.segment);
            continue;
        }
        if (!output) shm_Lock(k.segment);
        beginPass(k, kind);
        publish(k, kind, first);
        alm_EndDevice();
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
