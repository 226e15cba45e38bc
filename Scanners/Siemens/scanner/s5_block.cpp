// Request blocks of single channels: which channels can be planned, how a block grows to take
// a channel, and whether a block covers one.
#include "s5.h"

#include "chrec.h"
#include "station.h"

#include <cstring>

namespace {

int ElementSize(const S5RequestBlock &block) {
    return S5_ELEMENT_SIZE[s5_TypeArea(block.type)];
}

// A data-block address carries the block number in its high byte: a request may never run
// from one data block into the next.
bool SameDataBlock(int area, int a, int b) {
    if (area != S5_AREA_D && area != S5_AREA_X) return true;
    return (a >> 8) == (b >> 8);
}

} // namespace

S5ChannelAddress s5_ChannelAddress(const ChannelRecord &record) {
    S5ChannelAddress address;
    std::memcpy(&address, chrec_DevicePart(record), sizeof address);
    return address;
}

void s5_SetBlockLink(ChannelRecord *record, uint32_t link) {
    std::memcpy(chrec_DevicePart(record) + offsetof(S5ChannelAddress, block_link), &link,
                sizeof link);
}

int s5_ChannelExtent(const S5ChannelAddress &address) {
    int area = s5_TypeArea(address.type);
    if (area >= S5_AREA_COUNT || S5_ELEMENT_SIZE[area] != 1) return 0;
    if (address.type & S5_TYPE_BIT) return address.bit_number >= 8 ? 1 : 0;
    return (address.type & S5_TYPE_WORD) ? 1 : 0;
}

int s5_AcceptChannel(const S5ChannelAddress &address) {
    if (s5_TypeArea(address.type) >= S5_AREA_COUNT) return 0;
    if ((address.type & S5_TYPE_BIT) && address.bit_number > 15) return 0;
    if (address.address + s5_ChannelExtent(address) > 0xFFFF) return 0;
    return 1;
}

int s5_MergeIntoBlock(S5ChannelAddress *address, S5RequestBlock *block) {
    int area = s5_TypeArea(address->type);
    if (address->station != block->station || area != s5_TypeArea(block->type)) return 0;
    int a = address->address;
    int w = s5_ChannelExtent(*address);
    int start = block->start;
    if (!SameDataBlock(area, a, start)) return 0;
    int e = S5_BLOCK_BYTES / S5_ELEMENT_SIZE[area];
    int last = start + block->count - 1;
    if (a < start) {
        if (last - a + 1 > e + 1) return 0;
        block->start = static_cast<uint16_t>(a);
        block->count = static_cast<uint16_t>(last - a + 1);
    } else if (a + w > last) {
        if (a + w - start + 1 > e) return 0;
        block->count = static_cast<uint16_t>(a + w - start + 1);
    }
    address->block_link = 1;
    return 1;
}

int s5_NewBlock(S5ChannelAddress *address, S5RequestBlock *block) {
    scan_AddStation(address->station);
    *block = S5RequestBlock{};
    block->station = address->station;
    block->type = s5_TypeArea(address->type);
    block->start = address->address;
    block->count = static_cast<uint16_t>(1 + s5_ChannelExtent(*address));
    address->block_link = 1;
    return 1;
}

int s5_FindBlock(const S5ChannelAddress &address, const S5RequestBlock &block) {
    if (address.station != block.station) return 0;
    if (s5_TypeArea(address.type) != s5_TypeArea(block.type)) return 0;
    int a = address.address;
    return a >= block.start && a + s5_ChannelExtent(address) <= block.start + block.count - 1;
}

S5RequestBlock *s5_LinkedBlock(const S5BlockList &list, const S5ChannelAddress &address) {
    uint32_t link = address.block_link;
    if (link == 0 || link > static_cast<uint32_t>(list.count)) return nullptr;
    S5RequestBlock *block = &list.blocks[link - 1];
    if (block->data == nullptr || !s5_FindBlock(address, *block)) return nullptr;
    return block;
}

int s5_TestBit(const uint8_t *bitmap, int n) {
    return (bitmap[n / 8] >> (n % 8)) & 1;
}

int s5_SetBit(uint8_t *bitmap, int n, int value) {
    uint8_t mask = static_cast<uint8_t>(1u << (n % 8));
    uint8_t old = bitmap[n / 8];
    uint8_t now = value ? (old | mask) : (old & ~mask);
    bitmap[n / 8] = now;
    return now != old;
}

uint8_t *s5_DirtyBits(const S5RequestBlock &block) {
    return block.data + block.count * ElementSize(block);
}
