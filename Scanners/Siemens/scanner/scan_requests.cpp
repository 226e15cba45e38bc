// The handlers of the runtime's requests: reconfigure (302), initialise values (304) and
// reset counters (303).
#include "scan.h"

#include "cfg.h"
#include "chan.h"
#include "chrec.h"
#include "dmw.h"
#include "fp.h"
#include "s5.h"
#include "station.h"
#include "sv.h"

#include <cerrno>
#include <cmath>
#include <cstring>

namespace cs = ChannelStatusBits;

namespace {
// A configuration that can no longer be read ends the scanner: it would run on stale tables.
[[noreturn]] void failedConfigurationRead() {
    int error = errno;
    scan_ReportConfigError("CAN'T READ CONFIGURATION -%04d", error & 0xFFF);
    scan_Shutdown(error);
}
} // namespace

int scan_ReconfigureDevice() {
    scan_SetSlotFlag();
    if (cfg_LoadDeviceConfig(g_scan.config, SCAN_CONFIG_SIZE) == -1) failedConfigurationRead();
    scan_LockSlot();
    memcpy(g_scan.slotBytes + SLOT_CONFIG, g_scan.config, SCAN_CONFIG_SIZE);
    scan_UnlockSlot();
    scan_ReinitialiseStatusChannels();

    int sum = 0;
    for (int kind = 0; kind < SCAN_KINDS && g_scan.running.load() != 0; ++kind) {
        ScanKindState &k = g_scan.kinds[kind];
        // A kind without channel records has nothing to reload.
        if (k.header == nullptr || k.records == nullptr) continue;
        int loaded = chan_ReloadIfChanged(kind, k.header);
        if (loaded == -1) failedConfigurationRead();
        if (loaded == 0) continue;
        scan_ClearUnusedReferences(kind);
        s5_InitHandler init = s5_DriverEntryTable.init[kind];
        if (init != nullptr) sum += init(g_scan.config, k.count, k.records);
    }
    if (sum != 0) return -1;
    scan_BuildStationReport();
    if (scan_ScanDevice(1) == -1) return -1;
    scan_StoreScanTime();
    return 0;
}

int scan_InitValues(int kind) {
    ScanKindState &k = g_scan.kinds[kind];
    if (k.references == nullptr || k.values == nullptr) return 0;
    bool changed = false;
    for (int c = 0; c < k.count; ++c) {
        float value = 0.0f;
        uint32_t status = k.statuses[c];
        if ((status & cs::CS_BAD) == 0 && (status & cs::CS_ANALOG) != 0 && k.records != nullptr &&
            chrec_TestFlag(k.records[c], ChannelAnalog::ReferenceEnable) != 0)
            value = fp_Add(&k.references[c], &k.values[c]);
        float old = k.references[c];
        if (value != old || std::isnan(value) || std::isnan(old)) {
            k.references[c] = value;
            changed = true;
        }
    }
    if (changed &&
        sv_SaveValues(g_scan.folder.c_str(), kind, k.references, k.records, k.count) == -1)
        return -1;
    return 0;
}

int scan_InitialiseValues() {
    scan_SetSlotFlag();
    for (int kind : {SCAN_AI, SCAN_CI})
        if (g_scan.kinds[kind].segment != nullptr && scan_InitValues(kind) == -1) return -1;
    if (scan_ScanDevice(0) == -1) return -1;
    scan_StoreScanTime();
    return 0;
}

int scan_ResetCounters() {
    ScanKindState &ci = g_scan.kinds[SCAN_CI];
    if (ci.segment == nullptr) return 0;
    scan_SetSlotFlag();
    if (s5_ResetCountersHook(g_scan.slotBytes + SLOT_CONFIG, ci.count, ci.records) == -1) return -1;
    if (scan_ScanDevice(0) == -1) return -1;
    scan_StoreScanTime();
    return 0;
}
