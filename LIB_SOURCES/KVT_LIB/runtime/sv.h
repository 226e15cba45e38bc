// Saved values: output and reference values that survive a restart, one ".bin" and one
// ".tag" file per device and kind in the KVT_SAVED_VALUES folder.
#pragma once

// Writes count 4-byte values with the channels' tags. A non-negative number, or -1 (errno).
int sv_SaveValues(const char *deviceFolder, int kind, const void *values, const void *records,
                  int count);

// Reads the saved values into valuesOut (count 4-byte values), by position or, with byTag,
// by the channels' tags. A non-negative number, or -1 (errno).
int sv_LoadValues(const char *deviceFolder, int kind, int byTag, void *valuesOut,
                  const void *records, int count);
