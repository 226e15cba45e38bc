// Where a channel's value lives inside its block, shared by the input and output conversions.
#pragma once

#include "s5.h"

struct S5ChannelPlace {
    int elementSize; // 1 byte area, 2 word area
    int element;     // e0: the channel's first element in the block
    int offset;      // byte offset of e0 in the data
    int bit;         // bit channels: bit number in the data
};

S5ChannelPlace s5_ChannelPlace(const S5ChannelAddress &address, const S5RequestBlock &block);

// The channel's value as the block holds it: a bit, or a 16-bit or 8-bit integer, signed
// when the type says so.
int32_t s5_ChannelValue(const S5ChannelAddress &address, const S5RequestBlock &block);
