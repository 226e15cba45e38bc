// Saved values: output and reference values that survive a restart, one ".bin" and one
// ".tag" file per device and kind in the KVT_SAVED_VALUES folder:
// "<folder>/<device folder>_<kind name>.bin" and ".tag".
//
// The .bin file holds one 16-byte record per channel in channel order (12 tag bytes, then the
// channel's 32-bit value as held in memory: a float, or a status word with the state in bit
// 0); the .tag file one 15-byte record with the whole tag. A disabled channel's tag is empty.
// Files are written from their start and never shortened, so records of removed channels
// stay behind the current ones.
#pragma once

#include <cstdint>
#include <cstddef>
#include <cstring>

#pragma pack(push, 1)
struct SavedValueRecord {
    char tag[12]; // not terminated when 12 long
    uint8_t value[4];
};
struct SavedTagRecord {
    char tag[15]; // not terminated when 15 long
};
#pragma pack(pop)
static_assert(sizeof(SavedValueRecord) == 16);
static_assert(offsetof(SavedValueRecord, value) == 12);
static_assert(sizeof(SavedTagRecord) == 15);

// Writes count 4-byte values with the channels' tags (records: count ChannelRecords).
// 15 (the size of the last record written), 0 for count 0, or -1 (errno: 3 missing folder).
int sv_SaveValues(const char *deviceFolder, int kind, const void *values, const void *records,
                  int count);

// Reads the saved values into valuesOut (count 4-byte values, zeroed first), by position or,
// with byTag, by the channels' tags. A digital channel (odd type byte) receives only bit 0 of
// its saved value. The size of the last read (4, or 15 by tag with a .tag file), 0 for count
// 0, or -1 (errno: 2 no .bin file, 3 missing folder, 38 the .bin file ends before the last
// record); values read before a failure stay in place.
int sv_LoadValues(const char *deviceFolder, int kind, int byTag, void *valuesOut,
                  const void *records, int count);

// Rewrites in place only the values that differ (byte by byte) between newValues and
// oldValues; tags are not rewritten. Without a .bin file, or one too short for count
// records, both files are written anew (sv_SaveValues). The number of values rewritten (or
// sv_SaveValues' result), or -1 (errno).
int sv_UpdateValues(const char *deviceFolder, int kind, const void *newValues,
                    const void *oldValues, const void *records, int count);
