// Runs built for the store tests: a header of two blocks (3 "ai" and 2 "di" channels, records of
// 62 bytes), channel records with recognisable bytes, and records numbered by their time.
#pragma once

#include "ldf.h"
#include "lstore_file.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace fx {

inline LogHeader twoBlockHeader(int32_t start) {
    LogHeader h;
    memset(&h, 0, sizeof h);
    h.blockCount = 2;
    memcpy(h.blocks[0].prefix, "ai", 2);
    h.blocks[0].first = 1;
    h.blocks[0].last = 3;
    memcpy(h.blocks[1].prefix, "di", 2);
    h.blocks[1].first = 5;
    h.blocks[1].last = 6;
    ldf_LayoutRecord(&h);
    h.start = start;
    h.carried[84] = 0x3C; // a time-zone bias, carried opaquely
    return h;
}

inline std::vector<uint8_t> channelRecords(int count, uint8_t tag) {
    std::vector<uint8_t> r(static_cast<size_t>(count) * 216);
    for (size_t i = 0; i < r.size(); ++i)
        r[i] = static_cast<uint8_t>(tag + i / 216);
    return r;
}

// Record i of a 62-byte run: time base + i, value i in channel 0 of each block.
inline std::vector<uint8_t> records(const LogHeader &h, int first, int count, int32_t base) {
    std::vector<uint8_t> out(static_cast<size_t>(count) * h.recordSize);
    for (int k = 0; k < count; ++k) {
        uint8_t *r = out.data() + static_cast<size_t>(k) * h.recordSize;
        int i = first + k;
        ldf_Put16(r, LDF_RECORD_MARKER);
        r[2] = static_cast<uint8_t>(1 + i % 200);
        ldf_Put32(r + 4, base + i);
        ldf_Put16(r + 8, static_cast<uint16_t>(i % 1000));
        for (int b = 0; b < h.blockCount; ++b) {
            int at = h.blocks[b].valuesOffset;
            int n = ldf_BlockChannels(h.blocks[b]);
            ldf_Put16(r + at - 2, LDF_VALUES_MARKER);
            for (int c = 0; c < n; ++c) {
                ldf_Put32(r + at + 4 * c, LDF_FLAG_PRESENT);
                ldf_PutFloat(r + at + 4 * n + 4 * c, static_cast<float>(i * 10 + c));
            }
        }
        ldf_Put16(r + h.recordSize - 2, LDF_RECORD_END);
    }
    return out;
}

// Creates a run at path with the two-block header; the header comes back laid out.
inline int createRun(CLogFileStore &store, const std::string &path, LogHeader *h) {
    static const std::vector<uint8_t> ai = channelRecords(3, 0x10), di = channelRecords(2, 0x40);
    const void *arrays[2] = {ai.data(), di.data()};
    return store.Create(path.c_str(), 0, h, nullptr, arrays);
}

} // namespace fx
