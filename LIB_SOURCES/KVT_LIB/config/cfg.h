// Device configuration load and save.
#pragma once

#include <cstdint>

// Loads the device configuration record of the current folder's device. 0, or -1 with
// errno (1465 with the XML error text for a configuration parse error).
int cfg_LoadDeviceConfig(void *record, int size);

// The device's save settings: SaveOutputs, SaveByTag and SaveRate (ms). 0 or -1.
int cfg_LoadSaveSettings(uint8_t *saveOutputs, uint8_t *saveByTag, int32_t *saveRate);
