// Saving the output values, at the end and periodically while the scanner runs.
#include "scan.h"

#include "sv.h"
#include "ts.h"

namespace {
// now - then in milliseconds, in 64 bits: a clock jump of years must not wrap.
int64_t diffMs(const TimeStamp &now, const TimeStamp &then) {
    return (static_cast<int64_t>(now.seconds) - then.seconds) * 1000 +
           (static_cast<int64_t>(now.milliseconds) - then.milliseconds);
}
} // namespace

void scan_SaveOutputs() {
    for (int kind : {SCAN_AO, SCAN_DO}) {
        ScanKindState &k = g_scan.kinds[kind];
        if (scan_KindId(kind).empty() || k.saved == 0) continue;
        k.saved = 0;
        const void *values = kind == SCAN_DO ? static_cast<const void *>(k.previousStatuses)
                                             : static_cast<const void *>(k.previousValues);
        if (values != nullptr)
            sv_SaveValues(g_scan.folder.c_str(), kind, values, k.records, k.count);
    }
}

int scan_SaveIsDue(const TimeStamp &now) {
    if (g_scan.saveOutputs == 0) return 0;
    int64_t d = diffMs(now, g_scan.nextSave);
    return d > 0 || d < -static_cast<int64_t>(g_scan.saveRate);
}

void scan_PeriodicSave(const TimeStamp &now) {
    int64_t rate = g_scan.saveRate;
    int64_t d = diffMs(now, g_scan.nextSave);
    scan_SaveOutputs();
    if (d < -rate || d > 2 * rate || rate <= 0) {
        // The clock jumped (or there is no period): start the grid again from now.
        g_scan.nextSave = now;
        ts_AddMs(&g_scan.nextSave, rate);
        return;
    }
    while (diffMs(now, g_scan.nextSave) >= 0)
        ts_AddMs(&g_scan.nextSave, rate);
}
