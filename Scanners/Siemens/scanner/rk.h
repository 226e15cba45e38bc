// RK512 FETCH and SEND telegrams over the 3964R link. Each request is one command block and
// one reply block; its outcome is kept in the request block's status: 0, a Windows error, a
// link error (LINK_ERROR_BASE + n) or a controller error (PLC_ERROR_BASE | error byte).
#pragma once

#include "link.h"
#include "s5types.h"

#include <cstdint>

// One run of consecutive elements of one area of one station, read or written with one
// telegram. Lives only inside the scanner process.
struct S5RequestBlock {
    uint8_t station = 0;
    S5TypeByte type = 0;     // only the area bits count here
    uint16_t start = 0;      // first element address
    uint16_t count = 0;      // number of elements
    uint16_t size = 0;       // count x element size
    uint8_t *data = nullptr; // size bytes in host order, then the planner's dirty bitmap
    uint32_t status = 0;
};

// Bounds of the reply buffers: a FETCH reply carries at most 136 data bytes.
inline constexpr int RK_FETCH_REPLY_CAPACITY = 140;
inline constexpr int RK_SEND_REPLY_CAPACITY = 10;
inline constexpr int RK_HEADER_SIZE = 10;

// Reads the block's elements. Returns count x element size, or 0 (status and last error say
// why; no data are copied).
int rk_Fetch(S5RequestBlock *block);

// Writes the block's count elements (held in host order). 1, or 0 as above.
int rk_Send(S5RequestBlock *block);

// Reverses the bytes of each of count elements of size 2, 4 or 8; size 1 changes nothing.
// 1, or 0 for another size.
int rk_SwapElements(uint8_t *data, int element_size, int count);
void rk_SwapBytes(uint8_t *a, uint8_t *b);

// The 10-byte command header of a FETCH ('E') or SEND ('A') of the block.
void rk_BuildHeader(uint8_t *out, uint8_t command, const S5RequestBlock &block);
