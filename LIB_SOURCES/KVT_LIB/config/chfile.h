// Binary channel files: one per channel kind in the device folder, named by the kind name
// alone ("ai", "di", ...): an 8-byte header with the time of the last write, then one
// 216-byte record per channel in channel order.
//
// Files are opened shared and never truncated, so a write of a few channels leaves the others
// as they were. Failures return -1 with errno a Windows number: 2 missing file, 3 missing
// folder, 5 access denied, 38 a file too short for the channels asked for, 87 a negative
// channel range or size.
#pragma once

#include "chrec.h"
#include "ts.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct ChannelFileHeader {
    TimeStamp written; // padding bytes written as zero
};
static_assert(sizeof(ChannelFileHeader) == 8);
static_assert(offsetof(ChannelFileHeader, written) == 0);

constexpr int64_t CHANNEL_FILE_HEADER_SIZE = 8;

// Byte offset of channel n (0-based) in a channel file.
constexpr int64_t chfile_ChannelOffset(int64_t n) {
    return CHANNEL_FILE_HEADER_SIZE + static_cast<int64_t>(CHANNEL_RECORD_SIZE) * n;
}

// The channel file of a kind in a folder ('\' or '/' separators; none or "" for the current
// directory). "" for a kind outside 0..6.
std::string chfile_Path(const char *folder, int kind);

// Reads channels first .. first + count - 1 into records[0 .. count - 1]; a file that ends
// before the last of them fails (38) and leaves the records as they were.
int chfile_ReadChannels(const char *path, ChannelRecord *records, int32_t first, int32_t count);

// Writes channels first .. first + count - 1, creating the file when missing, and rewrites
// the header with the time now (also for count 0). Channels beyond the end of the file extend
// it; a gap reads as zeros.
int chfile_WriteChannels(const char *path, const ChannelRecord *records, int32_t first,
                         int32_t count);

// The header of an existing channel file.
int chfile_ReadHeader(const char *path, ChannelFileHeader *header);

// The driver's extra block for a kind, read whole from byte 0 after zero-filling the buffer:
// a missing file leaves zeros and is no error, a shorter file leaves zeros after its end, a
// longer one is read only up to size.
int chfile_ReadExtra(const char *path, void *buffer, int32_t size);

// Writes the extra block from byte 0 (creating the file, never truncating it).
int chfile_WriteExtra(const char *path, const void *buffer, int32_t size);
