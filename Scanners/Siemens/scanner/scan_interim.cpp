// Stand-ins for the S5 device layer and the scan cycle until they are built: the device opens
// without a port, every kind but the counter inputs initialises, and a scan publishes the
// per-kind frame (status, duration, notification) without channel values.
#include "scan.h"
#include "s5.h"

#include "plat_error.h"
#include "shm.h"
#include "station.h"
#include "ts.h"

#include <cstring>

namespace {
int initNothing(void *, int, void *) {
    return 0;
}

// Counter inputs are not served: a device with them never finishes initialising.
int initCounterInputs(void *, int, void *) {
    return plat_Fail(WERR_NOT_SUPPORTED);
}

int scanNothing(void *, int, void *, uint32_t *, void *) {
    return 0;
}
} // namespace

const DriverEntryTable s5_DriverEntryTable = {
    {initNothing, initNothing, initNothing, initNothing, initCounterInputs},
    {scanNothing, scanNothing, scanNothing, scanNothing, scanNothing},
    "CAN'T READ CONFIGURATION -%04d",
};

int s5_OpenDevice(DeviceSlot *) {
    return 0;
}

int s5_CloseDevice() {
    return 0;
}

int s5_DeviceInitHook(DeviceSlot *) {
    return 0;
}

int s5_ResetCountersHook(void *, int, void *) {
    return 0;
}

int scan_ScanDevice(int) {
    int32_t total = 0;
    for (int kind = SCAN_CI; kind >= SCAN_AI; --kind) {
        ScanKindState &k = g_scan.kinds[kind];
        if (k.segment == nullptr) continue;
        TimeStamp start = ts_Now();
        shm_Lock(k.segment);
        int16_t status = 0;
        memcpy(k.payload + TABLE_STATUS, &status, sizeof status);
        int32_t elapsed = ts_DiffMs(ts_Now(), start);
        memcpy(k.payload + TABLE_DURATION, &elapsed, sizeof elapsed);
        shm_Notify(k.segment, 0);
        shm_Unlock(k.segment);
        total += elapsed;
    }
    memcpy(g_scan.slotBytes + SLOT_SCAN_DURATION, &total, sizeof total);
    scan_ReportStationTexts();
    return 0;
}
