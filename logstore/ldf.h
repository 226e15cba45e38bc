// The logged-data file (".odl"): a 900-byte header, the channel blocks, a 3504-byte header
// extension and the records, little-endian.
//
// A record is a byte image of the header's record size: marker 0x8004, the changed channel (byte
// 2), the time (int32 at 4, ms at 8, us at 10), a value (float at 12), then per block the marker
// 0x8005, n int32 flag words and n float values, and the end marker 0x8006. Its fields mostly sit
// at offsets that are not multiples of 4, so they are only read and written through memcpy.
#pragma once

#include "lstore.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>

enum : uint16_t {
    LDF_FILE_MARKER = 0x8001,
    LDF_BLOCK_START = 0x8002,
    LDF_BLOCK_END = 0x8003,
    LDF_RECORD_MARKER = 0x8004,
    LDF_VALUES_MARKER = 0x8005,
    LDF_RECORD_END = 0x8006,
};

enum : int32_t {
    LDF_HEADER_SIZE = 900,
    LDF_EXT_SIZE = 3504,
    LDF_MAX_BLOCKS = 64,
    LDF_FILE_BLOCKS = 16,
    LDF_CHANNEL_SIZE = 216,
};

// Flag word bits of a channel value.
enum : int32_t {
    LDF_FLAG_PRESENT = 0x80,
    LDF_FLAG_INVALID = 0x20,
    LDF_FLAG_NO_NUMBER = 0x01,
};

#pragma pack(push, 1)
struct LogFileHeader {
    int32_t writePos;
    uint16_t marker;
    uint16_t blockCount; // at most 16 here; the extension holds the true count
    int32_t recordCount;
    int32_t start;
    int32_t reserved1;
    int32_t stop;
    int32_t reserved2;
    int32_t dataOffset;
    int32_t recordSize;
    LogBlockDescriptor blocks[16];
    uint8_t tagColumns;
    uint8_t sigChange;
    LogChannelRef trigger;
    LogChannelRef lag;
    uint8_t reserved3[8];
    int32_t reserved4;
    uint16_t reserved5;
    int32_t extLength;
    int32_t extOffset;
};

struct LogFileHeaderExt {
    uint16_t blockCount;
    LogBlockDescriptor blocks[64];
    uint8_t spare[2];
    uint8_t carried[172];
};
#pragma pack(pop)

static_assert(sizeof(LogFileHeader) == 900);
static_assert(offsetof(LogFileHeader, marker) == 4);
static_assert(offsetof(LogFileHeader, blockCount) == 6);
static_assert(offsetof(LogFileHeader, recordCount) == 8);
static_assert(offsetof(LogFileHeader, start) == 12);
static_assert(offsetof(LogFileHeader, reserved1) == 16);
static_assert(offsetof(LogFileHeader, stop) == 20);
static_assert(offsetof(LogFileHeader, reserved2) == 24);
static_assert(offsetof(LogFileHeader, dataOffset) == 28);
static_assert(offsetof(LogFileHeader, recordSize) == 32);
static_assert(offsetof(LogFileHeader, blocks) == 36);
static_assert(offsetof(LogFileHeader, tagColumns) == 868);
static_assert(offsetof(LogFileHeader, sigChange) == 869);
static_assert(offsetof(LogFileHeader, trigger) == 870);
static_assert(offsetof(LogFileHeader, lag) == 874);
static_assert(offsetof(LogFileHeader, reserved3) == 878);
static_assert(offsetof(LogFileHeader, reserved4) == 886);
static_assert(offsetof(LogFileHeader, reserved5) == 890);
static_assert(offsetof(LogFileHeader, extLength) == 892);
static_assert(offsetof(LogFileHeader, extOffset) == 896);
static_assert(sizeof(LogFileHeaderExt) == 3504);
static_assert(offsetof(LogFileHeaderExt, blocks) == 2);
static_assert(offsetof(LogFileHeaderExt, spare) == 3330);
static_assert(offsetof(LogFileHeaderExt, carried) == 3332);

// Reads up to length bytes at offset: the count read, or -1 with errno.
using LdfReader = std::function<int64_t(void *buffer, size_t length, int64_t offset)>;

// Reads a header: 900 bytes at 0 and, when the extension length is not 0, up to 3504 bytes of
// the extension. A header whose block count is above 64 or whose record size is 0 or less, a
// negative extension length or an extension block count above 64 fails with 13; a short read
// fails with 38. 0, or -1.
int ldf_ReadHeader(const LdfReader &read, LogHeader *header);
int ldf_ReadHeaderFd(int fd, LogHeader *header);

// The same checks on a header in memory: 0, or -1 with 13.
int ldf_CheckHeader(const LogHeader &header);

// Writes the header (block count capped at 16) and, when its extension length is not 0, the
// extension with the true count. 0, or -1.
int ldf_WriteHeader(int fd, const LogHeader &header);

// The file images of a header.
void ldf_ToFile(const LogHeader &header, LogFileHeader *file, LogFileHeaderExt *ext);

// Lays a new file out: extension offset, length 3504, data offset and write position. -1 with 87
// for more than 64 blocks, a block with last below first, or a record size of 0 or less.
int ldf_LayoutNewFile(LogHeader *header);

// Values offsets of every block and the record size they give (18 + the sum of 8n + 2).
void ldf_LayoutRecord(LogHeader *header);

// Channels of a block (last - first + 1; 0 or less for a damaged descriptor).
int ldf_BlockChannels(const LogBlockDescriptor &block);

// File offset of channel index of block (both 0-based) in the channel block area.
int64_t ldf_ChannelOffset(const LogHeader &header, int block, int index);

// Whole records in a file of the given size: 0 when it is shorter than the data offset or the
// data offset is negative, -1 with 13 for a record size of 0 or less; counts above 2^31 - 1 are
// cut there.
int64_t ldf_RecordCount(const LogHeader &header, int64_t fileSize);

// Sets 0x20 on every present value that is a NaN or an infinity. Blocks without channels or whose
// values would reach the end marker are skipped.
void ldf_MarkInvalidValues(const LogHeader &header, uint8_t *record);
// The same over count records back to back.
void ldf_MarkInvalidRecords(const LogHeader &header, uint8_t *records, int64_t count);

// Record field accessors (the fields are mostly unaligned).
inline uint16_t ldf_Get16(const uint8_t *p) {
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
}
inline int32_t ldf_Get32(const uint8_t *p) {
    int32_t v;
    memcpy(&v, p, 4);
    return v;
}
inline float ldf_GetFloat(const uint8_t *p) {
    float v;
    memcpy(&v, p, 4);
    return v;
}
inline void ldf_Put16(uint8_t *p, uint16_t v) {
    memcpy(p, &v, 2);
}
inline void ldf_Put32(uint8_t *p, int32_t v) {
    memcpy(p, &v, 4);
}
inline void ldf_PutFloat(uint8_t *p, float v) {
    memcpy(p, &v, 4);
}
