#include "ldf.h"

#include "plat_error.h"
#include "plat_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>

int ldf_BlockChannels(const LogBlockDescriptor &block) {
    return static_cast<int>(block.last) - static_cast<int>(block.first) + 1;
}

int ldf_CheckHeader(const LogHeader &header) {
    if (header.blockCount > LDF_MAX_BLOCKS || header.recordSize <= 0 || header.extLength < 0)
        return plat_Fail(WERR_INVALID_DATA);
    return 0;
}

int ldf_ReadHeader(const LdfReader &read, LogHeader *header) {
    if (header == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    LogFileHeader file;
    int64_t n = read(&file, sizeof file, 0);
    if (n < 0) return -1;
    if (n < static_cast<int64_t>(sizeof file)) return plat_Fail(WERR_HANDLE_EOF);
    LogHeader h;
    memset(&h, 0, sizeof h);
    memcpy(&h, &file, offsetof(LogFileHeader, blocks));
    memcpy(h.blocks, file.blocks, sizeof file.blocks);
    h.tagColumns = file.tagColumns;
    h.sigChange = file.sigChange;
    h.trigger = file.trigger;
    h.lag = file.lag;
    memcpy(h.reserved3, file.reserved3, sizeof h.reserved3);
    h.reserved4 = file.reserved4;
    h.reserved5 = file.reserved5;
    h.extLength = file.extLength;
    h.extOffset = file.extOffset;
    if (ldf_CheckHeader(h) != 0) return -1;
    if (h.extLength != 0) {
        // Zeroed first: a short extension must not leave stale bytes in the descriptors.
        LogFileHeaderExt ext;
        memset(&ext, 0, sizeof ext);
        size_t want = static_cast<size_t>(std::min<int32_t>(h.extLength, LDF_EXT_SIZE));
        n = read(&ext, want, h.extOffset);
        if (n < 0) return -1;
        if (n < static_cast<int64_t>(want)) return plat_Fail(WERR_HANDLE_EOF);
        if (ext.blockCount > LDF_MAX_BLOCKS) return plat_Fail(WERR_INVALID_DATA);
        h.blockCount = ext.blockCount;
        memcpy(h.blocks, ext.blocks, sizeof ext.blocks);
        memcpy(h.carried, ext.carried, sizeof ext.carried);
    }
    *header = h;
    return 0;
}

int ldf_ReadHeaderFd(int fd, LogHeader *header) {
    return ldf_ReadHeader(
        [fd](void *b, size_t l, int64_t o) { return plat_FileReadAtMost(fd, b, l, o); }, header);
}

void ldf_ToFile(const LogHeader &h, LogFileHeader *file, LogFileHeaderExt *ext) {
    if (file != nullptr) {
        memset(file, 0, sizeof *file);
        memcpy(file, &h, offsetof(LogFileHeader, blocks));
        file->blockCount = std::min<uint16_t>(h.blockCount, LDF_FILE_BLOCKS);
        memcpy(file->blocks, h.blocks, sizeof file->blocks);
        file->tagColumns = h.tagColumns;
        file->sigChange = h.sigChange;
        file->trigger = h.trigger;
        file->lag = h.lag;
        memcpy(file->reserved3, h.reserved3, sizeof h.reserved3);
        file->reserved4 = h.reserved4;
        file->reserved5 = h.reserved5;
        file->extLength = h.extLength;
        file->extOffset = h.extOffset;
    }
    if (ext != nullptr) {
        memset(ext, 0, sizeof *ext);
        ext->blockCount = h.blockCount;
        memcpy(ext->blocks, h.blocks, sizeof ext->blocks);
        memcpy(ext->carried, h.carried, sizeof ext->carried);
    }
}

int ldf_WriteHeader(int fd, const LogHeader &header) {
    LogFileHeader file;
    LogFileHeaderExt ext;
    ldf_ToFile(header, &file, &ext);
    if (plat_FileWriteAt(fd, &file, sizeof file, 0) != 0) return -1;
    if (header.extLength > 0) {
        size_t n = static_cast<size_t>(std::min<int32_t>(header.extLength, LDF_EXT_SIZE));
        if (plat_FileWriteAt(fd, &ext, n, header.extOffset) != 0) return -1;
    }
    return 0;
}

int ldf_LayoutNewFile(LogHeader *h) {
    if (h == nullptr || h->blockCount > LDF_MAX_BLOCKS || h->recordSize <= 0)
        return plat_Fail(WERR_INVALID_PARAMETER);
    int64_t ext = LDF_HEADER_SIZE;
    for (int k = 0; k < h->blockCount; ++k) {
        int n = ldf_BlockChannels(h->blocks[k]);
        if (n < 1) return plat_Fail(WERR_INVALID_PARAMETER);
        ext += 4 + int64_t{LDF_CHANNEL_SIZE} * n;
    }
    h->marker = LDF_FILE_MARKER;
    h->extOffset = static_cast<int32_t>(ext);
    h->extLength = LDF_EXT_SIZE;
    h->dataOffset = static_cast<int32_t>(ext + LDF_EXT_SIZE);
    h->writePos = h->dataOffset;
    return 0;
}

void ldf_LayoutRecord(LogHeader *h) {
    int32_t offset = 18;
    for (int k = 0; k < h->blockCount && k < LDF_MAX_BLOCKS; ++k) {
        h->blocks[k].valuesOffset = static_cast<uint16_t>(offset);
        offset += 8 * std::max(ldf_BlockChannels(h->blocks[k]), 0) + 2;
    }
    h->recordSize = offset;
}

int64_t ldf_ChannelOffset(const LogHeader &h, int block, int index) {
    int64_t offset = LDF_HEADER_SIZE;
    for (int j = 0; j < block && j < LDF_MAX_BLOCKS; ++j)
        offset += int64_t{LDF_CHANNEL_SIZE} * std::max(ldf_BlockChannels(h.blocks[j]), 0) + 4;
    return offset + 2 + int64_t{LDF_CHANNEL_SIZE} * index;
}

int64_t ldf_RecordCount(const LogHeader &h, int64_t fileSize) {
    if (h.recordSize <= 0) return plat_Fail(WERR_INVALID_DATA);
    // Records before the start of the file are none of its records.
    if (h.dataOffset < 0 || fileSize < h.dataOffset) return 0;
    return std::min<int64_t>((fileSize - h.dataOffset) / h.recordSize, INT32_MAX);
}

namespace {
struct ValueSpan {
    int64_t at;
    int n;
};

// The blocks whose flags and values lie inside the record, before the end marker.
int valueSpans(const LogHeader &h, ValueSpan *spans) {
    int blocks = std::min<int>(h.blockCount, LDF_MAX_BLOCKS), used = 0;
    for (int k = 0; k < blocks; ++k) {
        int n = ldf_BlockChannels(h.blocks[k]);
        int64_t at = h.blocks[k].valuesOffset;
        if (n < 1 || at + 8 * int64_t{n} > int64_t{h.recordSize} - 2) continue;
        spans[used++] = {at, n};
    }
    return used;
}

void markSpans(const ValueSpan *spans, int count, uint8_t *record) {
    for (int k = 0; k < count; ++k) {
        uint8_t *flags = record + spans[k].at;
        const uint8_t *values = flags + 4 * spans[k].n;
        for (int i = 0; i < spans[k].n; ++i) {
            int32_t f = ldf_Get32(flags + 4 * i);
            if ((f & (LDF_FLAG_PRESENT | LDF_FLAG_INVALID)) != LDF_FLAG_PRESENT) continue;
            if (!std::isfinite(ldf_GetFloat(values + 4 * i)))
                ldf_Put32(flags + 4 * i, f | LDF_FLAG_INVALID);
        }
    }
}
} // namespace

void ldf_MarkInvalidValues(const LogHeader &h, uint8_t *record) {
    ldf_MarkInvalidRecords(h, record, 1);
}

void ldf_MarkInvalidRecords(const LogHeader &h, uint8_t *records, int64_t count) {
    if (h.recordSize <= 0) return;
    ValueSpan spans[LDF_MAX_BLOCKS];
    int n = valueSpans(h, spans);
    for (int64_t r = 0; r < count; ++r)
        markSpans(spans, n, records + r * h.recordSize);
}
