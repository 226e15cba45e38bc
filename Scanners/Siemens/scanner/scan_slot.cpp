// DeviceSlot fields that the scanner owns and the runtime server reads.
#include "scan.h"

#include "shm.h"
#include "ts.h"

#include <cstring>

std::string scan_KindId(int kind) {
    if (g_scan.slotBytes == nullptr || kind < 0 || kind >= SCAN_KINDS) return "";
    const char *id = reinterpret_cast<const char *>(g_scan.slotBytes + SLOT_IDS + 2 * kind);
    return std::string(id, strnlen(id, 2));
}

void scan_LockSlot() {
    if (g_scan.deviceSegment != nullptr && g_scan.deviceSegment != SHM_NO_SEGMENT)
        shm_Lock(g_scan.deviceSegment);
}

void scan_UnlockSlot() {
    if (g_scan.deviceSegment != nullptr && g_scan.deviceSegment != SHM_NO_SEGMENT)
        shm_Unlock(g_scan.deviceSegment);
}

void scan_SetSlotFlag() {
    scan_LockSlot();
    g_scan.slotBytes[SLOT_INITIALISING] = 1;
    scan_UnlockSlot();
}

void scan_StoreScanTime() {
    scan_LockSlot();
    g_scan.pendingScans.store(0);
    int32_t interval;
    memcpy(&interval, g_scan.slotBytes + SLOT_CONFIG, sizeof interval);
    // A negative interval would schedule into the past; it counts as none.
    if (interval < 0) interval = 0;
    TimeStamp next = ts_NextBoundary(ts_Now(), interval);
    memcpy(g_scan.slotBytes + SLOT_NEXT_SCAN, &next, sizeof next);
    g_scan.slotBytes[SLOT_INITIALISING] = 0;
    scan_UnlockSlot();
}
