// Reading the blocks of an input kind and turning block data into channel values.
#include "s5.h"
#include "s5_value.h"

#include "chrec.h"
#include "station.h"

#include <cmath>
#include <cstring>

S5ChannelPlace s5_ChannelPlace(const S5ChannelAddress &address, const S5RequestBlock &block) {
    S5ChannelPlace place;
    place.elementSize = S5_ELEMENT_SIZE[s5_TypeArea(block.type)];
    place.element = address.address - block.start;
    place.offset = place.element * place.elementSize;
    place.bit = place.offset * 8 + address.bit_number;
    return place;
}

int32_t s5_ChannelValue(const S5ChannelAddress &address, const S5RequestBlock &block) {
    S5ChannelPlace place = s5_ChannelPlace(address, block);
    bool isSigned = (address.type & S5_TYPE_SIGNED) != 0;
    if (address.type & S5_TYPE_BIT) return s5_TestBit(block.data, place.bit);
    if (address.type & S5_TYPE_WORD) {
        uint16_t word;
        std::memcpy(&word, block.data + place.offset, sizeof word);
        return isSigned ? static_cast<int16_t>(word) : word;
    }
    // In a byte area the channel's element is one byte: the byte select has nothing to pick.
    int at = place.offset + (place.elementSize == 2 && address.byte_select ? 1 : 0);
    uint8_t byte = block.data[at];
    return isSigned ? static_cast<int8_t>(byte) : byte;
}

int s5_PollBlocks(S5BlockList &list) {
    scan_ClearStationFailures();
    int good = 0;
    for (int b = 0; b < list.count; ++b) {
        S5RequestBlock &block = list.blocks[b];
        // A station that timed out gets no further request in this pass, and the data of its
        // blocks are not this pass's.
        if (scan_IsStationFailed(block.station)) {
            block.status = S5_BLOCK_FAILED;
            continue;
        }
        int ok = rk_Fetch(&block) > 0;
        scan_RecordRequestStatus(&block);
        block.status = ok ? S5_BLOCK_DONE : S5_BLOCK_FAILED;
        if (ok) ++good;
    }
    return good;
}

int s5_BlockToChannels(const S5BlockList &list, int n, const ChannelRecord *records,
                       uint32_t *statuses, float *values, int skipNaN) {
    for (int i = 0; i < n; ++i) {
        const ChannelRecord &record = records[i];
        if (!chrec_TestFlag(record, ChannelAnalog::Enable)) continue;
        bool digital = chrec_IsDigital(record) != 0;
        if (skipNaN && !digital && values != nullptr && std::isnan(values[i])) continue;
        S5ChannelAddress address = s5_ChannelAddress(record);
        const S5RequestBlock *block = s5_LinkedBlock(list, address);
        if (block == nullptr || block->status != S5_BLOCK_DONE) {
            statuses[i] |= S5_STATUS_BAD;
            continue;
        }
        int32_t value = s5_ChannelValue(address, *block);
        statuses[i] &= ~S5_STATUS_BAD;
        if (digital)
            statuses[i] = (statuses[i] & ~S5_STATUS_STATE) | (value != 0 ? S5_STATUS_STATE : 0);
        else if (values != nullptr)
            values[i] = static_cast<float>(value);
    }
    return 1;
}
