// Output kinds: the wanted values go into the blocks, and only elements that changed (or
// whose channel is bad, so that a failed write is repeated) are sent, one SEND each. Blocks
// without changes are read back or left alone, as the device settings choose.
#include "s5.h"
#include "s5_value.h"

#include "chrec.h"
#include "station.h"

#include <cmath>
#include <cstring>

namespace {

S5OutputModes g_modes;

// Truncated toward zero and clamped in floating point, so that no out-of-range float is
// ever converted to an integer; infinities saturate.
int32_t Clamp(double truncated, double low, double high) {
    if (truncated < low) return static_cast<int32_t>(low);
    if (truncated > high) return static_cast<int32_t>(high);
    return static_cast<int32_t>(truncated);
}

void MarkChanged(S5RequestBlock &block, int element) {
    block.status = static_cast<uint32_t>(g_modes.changedBlock);
    s5_SetBit(s5_DirtyBits(block), element, 1);
}

// Places one channel's wanted value; returns the value the channel now shows.
double PlaceValue(const S5ChannelAddress &address, S5RequestBlock &block, double truncated,
                  bool digital, uint32_t status) {
    S5ChannelPlace place = s5_ChannelPlace(address, block);
    bool bad = (status & S5_STATUS_BAD) != 0;
    bool isSigned = (address.type & S5_TYPE_SIGNED) != 0;
    uint8_t *data = block.data;

    if (address.type & S5_TYPE_BIT) {
        int wanted = digital ? (status & S5_STATUS_STATE) != 0 : truncated != 0;
        // A bit of the second byte of a byte area belongs to the next element.
        if (s5_SetBit(data, place.bit, wanted) || bad)
            MarkChanged(block, place.bit / (place.elementSize * 8));
        return truncated;
    }

    if (address.type & S5_TYPE_WORD) {
        int32_t value = isSigned ? Clamp(truncated, -32768, 32767) : Clamp(truncated, 0, 65535);
        uint16_t word = static_cast<uint16_t>(value);
        uint16_t old;
        std::memcpy(&old, data + place.offset, sizeof old);
        if (word != old || bad) {
            std::memcpy(data + place.offset, &word, sizeof word);
            MarkChanged(block, place.element);
            if (place.elementSize == 1) MarkChanged(block, place.element + 1);
        }
        return value;
    }

    int32_t value = isSigned ? Clamp(truncated, -128, 127) : Clamp(truncated, 0, 255);
    if (place.elementSize == 1) {
        uint8_t byte = static_cast<uint8_t>(value);
        if (data[place.offset] != byte || bad) {
            data[place.offset] = byte;
            MarkChanged(block, place.element);
        }
        return value;
    }
    uint16_t old;
    std::memcpy(&old, data + place.offset, sizeof old);
    uint16_t word;
    if (address.byte_select) {
        // The high byte only: the low byte may belong to another channel.
        word = static_cast<uint16_t>(((value & 0xFF) << 8) | (old & 0x00FF));
    } else {
        word = static_cast<uint16_t>(static_cast<int16_t>(value));
    }
    if (word != old || bad) {
        std::memcpy(data + place.offset, &word, sizeof word);
        MarkChanged(block, place.element);
    }
    return value;
}

} // namespace

S5OutputModes &s5_OutputModes() {
    return g_modes;
}

void s5_SetOutputModes(const void *deviceConfig) {
    const auto *config = static_cast<const uint8_t *>(deviceConfig);
    S5PortSettings settings;
    std::memcpy(&settings, config + 4, sizeof settings);
    g_modes.firstScan = settings.read_outputs_first ? 2 : 1;
    g_modes.unchangedBlock = settings.read_back_outputs ? S5_BLOCK_READ_BACK : S5_BLOCK_DONE;
}

void s5_ClearDirty(S5BlockList &list) {
    for (int b = 0; b < list.count; ++b) {
        S5RequestBlock &block = list.blocks[b];
        std::memset(s5_DirtyBits(block), 0, block.count / 8 + 1);
        block.status = 0;
    }
}

int s5_ChannelsToBlock(S5BlockList &list, int n, const ChannelRecord *records, uint32_t *statuses,
                       float *values) {
    for (int i = 0; i < n; ++i) {
        const ChannelRecord &record = records[i];
        if (!chrec_TestFlag(record, ChannelAnalog::Enable)) continue;
        bool digital = chrec_IsDigital(record) != 0;
        double truncated = 0;
        if (!digital) {
            float value = values != nullptr ? values[i] : 0.0f;
            // Not a number: nothing to write; the channel stays bad until a number comes.
            if (std::isnan(value)) {
                statuses[i] |= S5_STATUS_BAD;
                continue;
            }
            truncated = std::trunc(static_cast<double>(value));
        }
        S5ChannelAddress address = s5_ChannelAddress(record);
        S5RequestBlock *block = s5_LinkedBlock(list, address);
        if (block == nullptr) {
            statuses[i] |= S5_STATUS_BAD;
            continue;
        }
        double shown = PlaceValue(address, *block, truncated, digital, statuses[i]);
        if (block->status == 0) block->status = static_cast<uint32_t>(g_modes.unchangedBlock);
        if (!digital && values != nullptr) values[i] = static_cast<float>(shown);
    }
    return 1;
}

int s5_WriteDirtyElements(S5RequestBlock *block) {
    int size = S5_ELEMENT_SIZE[s5_TypeArea(block->type)];
    const uint8_t *dirty = s5_DirtyBits(*block);
    int failed = 0;
    for (int j = 0; j < block->count; ++j) {
        if (!s5_TestBit(dirty, j)) continue;
        S5RequestBlock element;
        element.station = block->station;
        element.type = block->type;
        element.start = static_cast<uint16_t>(block->start + j);
        element.count = 1;
        element.size = static_cast<uint16_t>(size);
        element.data = block->data + j * size;
        if (rk_Send(&element)) continue;
        scan_RecordRequestStatus(&element);
        if (scan_IsStationFailed(block->station)) return 0;
        ++failed;
    }
    if (failed) return 0;
    block->status = 0;
    scan_RecordRequestStatus(block);
    return 1;
}

int s5_WriteBlocks(S5BlockList &list) {
    scan_ClearStationFailures();
    int done = 0;
    for (int b = 0; b < list.count; ++b) {
        S5RequestBlock &block = list.blocks[b];
        if (!scan_IsStationFailed(block.station)) {
            if (block.status == S5_BLOCK_WRITE) {
                block.status = s5_WriteDirtyElements(&block) ? S5_BLOCK_DONE : S5_BLOCK_FAILED;
            } else if (block.status == S5_BLOCK_READ_BACK) {
                int ok = rk_Fetch(&block) > 0;
                scan_RecordRequestStatus(&block);
                block.status = ok ? S5_BLOCK_DONE : S5_BLOCK_FAILED;
            }
        }
        if (block.status == S5_BLOCK_DONE) ++done;
    }
    return done;
}

int s5_ScanOutputs(S5BlockList &list, int isDigital, int n, const ChannelRecord *records,
                   uint32_t *statuses, float *values) {
    g_modes.changedBlock = g_modes.firstScan != 0 ? g_modes.firstScan : int{S5_BLOCK_WRITE};
    s5_ClearDirty(list);
    s5_ChannelsToBlock(list, n, records, statuses, values);
    s5_WriteBlocks(list);
    s5_BlockToChannels(list, n, records, statuses, values, 1);
    // The first-scan mode holds for one cycle of both output kinds; DO runs before AO.
    if (!isDigital || s5_KindBlocks(S5_KIND_AO).count == 0) g_modes.firstScan = 0;
    return 0;
}
