#include "dll.h"

#include "chrec.h"

#include <cstring>

void dll_PasteChannel(int newKind, ChannelRecord *destination, const ChannelRecord *source,
                      int *done) {
    if (destination == nullptr || source == nullptr || done == nullptr) return;
    // A local copy first: pasting a record onto itself must not clear the address it moves.
    ChannelRecord from;
    std::memcpy(&from, source, sizeof from);
    std::memcpy(destination, &from, sizeof from);
    uint8_t *d = destination->bytes;
    bool toDigital = (newKind & 1) != 0;
    bool fromDigital = (from.bytes[ChannelCommon::Type.offset] & 1) != 0;
    if (toDigital != fromDigital) {
        constexpr size_t kStart = ChannelCommon::FlagBytes;
        std::memset(d + kStart, 0, CHANNEL_RECORD_SIZE - kStart);
        constexpr size_t kAddress = ChannelAnalog::DevicePartSize; // the 16 S5 address bytes
        if (toDigital) {
            std::memcpy(d + ChannelDigital::DevicePart, from.bytes + ChannelAnalog::DevicePart,
                        kAddress);
            std::memcpy(d + ChannelDigital::HighStateText.offset, "HIGH\0\0\0", 8);
            std::memcpy(d + ChannelDigital::LowStateText.offset, "LOW", 4);
        } else {
            std::memcpy(d + ChannelAnalog::DevicePart, from.bytes + ChannelDigital::DevicePart,
                        kAddress);
        }
        uint32_t fromFlags, flags;
        std::memcpy(&fromFlags, from.bytes + kStart, sizeof fromFlags);
        std::memcpy(&flags, d + kStart, sizeof flags);
        flags = (flags & ~1u) | (fromFlags & 1u);
        std::memcpy(d + kStart, &flags, sizeof flags);
    }
    *done = 1;
    d[ChannelCommon::Type.offset] = static_cast<uint8_t>(newKind);
}
