// (Re)initialisation of the device, marking every channel bad, and the orderly end.
#include "scan.h"

#include "alm.h"
#include "dmw.h"
#include "lib.h"
#include "msl.h"
#include "plat_error.h"
#include "s5.h"
#include "station.h"
#include "shm.h"
#include "stch.h"
#include "syser.h"
#include "xml.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace cs = ChannelStatusBits;

namespace {
constexpr uint32_t k_clearedWhenBad = cs::CS_ALARM_MARKS;
constexpr uint16_t k_runtimeRecordBad = DM_RUNTIME_CODE_BAD;
constexpr uint32_t k_retryMs = 1000;

void markKindBad(ScanKindState &k, int errorCode) {
    shm_Lock(k.segment);
    alm_BeginDevice(k.header);
    int16_t status = static_cast<int16_t>(errorCode & 0xFFFF);
    int32_t zero = 0;
    memcpy(k.payload + TABLE_STATUS, &status, sizeof status);
    memcpy(k.payload + TABLE_DURATION, &zero, sizeof zero);
    uint8_t *statuses = k.payload + TABLE_VALUES;
    for (int c = 0; c < k.statusCount; ++c) {
        uint32_t old;
        memcpy(&old, statuses + 4 * c, sizeof old);
        uint32_t bad = (old & ~k_clearedWhenBad) | cs::CS_BAD;
        memcpy(statuses + 4 * c, &bad, sizeof bad);
        if (k.runtimeRecords != nullptr)
            memcpy(k.runtimeRecords + static_cast<size_t>(c) * DM_RUNTIME_RECORD_SIZE,
                   &k_runtimeRecordBad, sizeof k_runtimeRecordBad);
        // Every alarm the status drops is ended, in force or not: the alarm process was told
        // of each when it started.
        if ((old & cs::CS_ALARM) != 0)
            alm_SendErrorAlarmEnd(c, old, g_scan.computer.c_str(), g_scan.user.c_str(), nullptr);
    }
    // Before the configuration is loaded there are no local arrays to bring in line.
    if (k.localStatuses != nullptr && k.localStatuses != reinterpret_cast<uint32_t *>(statuses))
        memcpy(k.localStatuses, statuses, static_cast<size_t>(k.count) * 4);
    alm_EndDevice();
    shm_Notify(k.segment, 0);
    shm_Unlock(k.segment);
}

int initialiseKinds() {
    s5_DeviceInitHook(g_scan.slot);
    for (int kind = 0; kind < SCAN_KINDS && g_scan.running.load() != 0; ++kind) {
        ScanKindState &k = g_scan.kinds[kind];
        if (k.segment == nullptr) continue;
        s5_InitHandler init = s5_DriverEntryTable.init[kind];
        if (init != nullptr && init(g_scan.config, k.count, k.records) == -1) return -1;
    }
    if (g_scan.running.load() != 0) return scan_ScanDevice(1);
    return 0;
}
} // namespace

void scan_MarkAllBad(int errorCode) {
    if (g_scan.slotBytes != nullptr) {
        int32_t zero = 0;
        memcpy(g_scan.slotBytes + SLOT_SCAN_DURATION, &zero, sizeof zero);
    }
    for (ScanKindState &k : g_scan.kinds)
        if (k.segment != nullptr) markKindBad(k, errorCode);
    errno = errorCode;
}

int scan_InitialiseDevice(int errorCode) {
    scan_SetSlotFlag();
    int code = errorCode;
    for (;;) {
        scan_MarkAllBad(code);
        if (initialiseKinds() == 0) break;
        code = errno;
        // A failure after the stop is no news for the operator.
        if (g_scan.running.load() == 0) break;
        if (plat_GetLastError() == WERR_XML_PARSE_ERROR)
            syser_Printf("%s", xml_GetErrorText());
        else
            syser_Printf("CAN'T INITIALISE DEVICE -%04d", code & 0xFFF);
        msl_Wait(k_retryMs);
        if (g_scan.running.load() == 0) break;
    }
    scan_BuildStationReport();
    scan_StoreScanTime();
    syser_Clear();
    return 1;
}

void scan_Shutdown(int exitCode) {
    scan_MarkAllBad(exitCode);
    s5_CloseDevice();
    if (g_scan.slotBytes != nullptr) {
        scan_LockSlot();
        g_scan.slotBytes[SLOT_RUNNING] = 0;
        scan_UnlockSlot();
    }
    close(STDIN_FILENO);
    msl_Close();
    lib_Free(g_scan.localBuffer);
    g_scan.localBuffer = nullptr;
    for (ScanKindState &k : g_scan.kinds)
        k.localStatuses = nullptr;
    stch_Shutdown();
    exit(exitCode);
}
