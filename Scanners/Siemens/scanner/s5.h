// The S5 device behind the scanner frame: opening the device from the port settings in its
// configuration, and the init and scan handler of each channel kind.
#pragma once

#include <cstdint>

struct DeviceSlot;

// Plans a kind's requests: (DeviceConfig, channel count, channel records) -> 0 / -1.
typedef int (*s5_InitHandler)(void *deviceConfig, int count, void *records);

// Scans a kind: (DeviceConfig, channel count, channel records, statuses, values) -> 0, 2 (no
// channel processing, no scan time) or -1.
typedef int (*s5_ScanHandler)(void *deviceConfig, int count, void *records, uint32_t *statuses,
                              void *values);

// Scan handler result that skips the frame's channel processing of the kind.
constexpr int S5_SCAN_SKIP = 2;

struct DriverEntryTable {
    s5_InitHandler init[5]; // AI, DI, AO, DO, CI
    s5_ScanHandler scan[5];
    const char *readConfigMessage;
};

extern const DriverEntryTable s5_DriverEntryTable;

// Opens the device from the port settings in the slot's configuration copy (writing defaults
// back there). 0, or -1 with errno.
int s5_OpenDevice(DeviceSlot *slot);
int s5_CloseDevice();
int s5_DeviceInitHook(DeviceSlot *slot);
int s5_ResetCountersHook(void *deviceConfig, int count, void *records);
