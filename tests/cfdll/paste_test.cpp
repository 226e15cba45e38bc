// Pasting a channel record into another kind.
#include "cfdll_fixture.h"

namespace {

ChannelRecord Filled(uint8_t kind) {
    ChannelRecord r;
    for (size_t i = 0; i < sizeof r.bytes; ++i)
        r.bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    r.bytes[24] = kind;
    return r;
}

TEST(PasteTest, TheDevicePartMovesWithTheLayout) {
    // Analogue to analogue: a copy with the new kind byte.
    ChannelRecord src = Filled(0), dst{};
    int done = 0;
    dll_PasteChannel(2, &dst, &src, &done);
    EXPECT_EQ(done, 1);
    ChannelRecord expect = src;
    expect.bytes[24] = 2;
    EXPECT_EQ(std::memcmp(dst.bytes, expect.bytes, 216), 0);

    // Analogue to digital: bytes 28 on cleared, flag bit 0 kept, address 188 -> 192, state texts.
    dll_PasteChannel(3, &dst, &src, &done);
    EXPECT_EQ(std::memcmp(dst.bytes, src.bytes, 24), 0);
    EXPECT_EQ(dst.bytes[24], 3);
    EXPECT_EQ(std::memcmp(dst.bytes + 25, src.bytes + 25, 3), 0);
    uint32_t flags, srcFlags;
    std::memcpy(&flags, dst.bytes + 28, 4);
    std::memcpy(&srcFlags, src.bytes + 28, 4);
    EXPECT_EQ(flags, srcFlags & 1u);
    EXPECT_EQ(std::memcmp(dst.bytes + 32, "HIGH\0\0\0\0", 8), 0);
    EXPECT_EQ(std::memcmp(dst.bytes + 64, "LOW\0", 4), 0);
    EXPECT_EQ(std::memcmp(dst.bytes + 192, src.bytes + 188, 16), 0);
    for (int i = 28 + 4; i < 216; ++i) {
        if ((i < 32 || i >= 40) && (i < 64 || i >= 68) && (i < 192 || i >= 208)) {
            ASSERT_EQ(dst.bytes[i], 0) << i;
        }
    }

    // Digital to analogue: address 192 -> 188.
    ChannelRecord dig = Filled(1), ana{};
    dll_PasteChannel(4, &ana, &dig, &done);
    EXPECT_EQ(ana.bytes[24], 4);
    EXPECT_EQ(std::memcmp(ana.bytes + 188, dig.bytes + 192, 16), 0);
    for (int i = 32; i < 188; ++i)
        ASSERT_EQ(ana.bytes[i], 0) << i;
    for (int i = 204; i < 216; ++i)
        ASSERT_EQ(ana.bytes[i], 0) << i;

    // Onto itself: the same result as from a separate copy, the address included.
    ChannelRecord self = Filled(0), copy = self, separate{};
    dll_PasteChannel(1, &separate, &copy, &done);
    dll_PasteChannel(1, &self, &self, &done);
    EXPECT_EQ(std::memcmp(self.bytes, separate.bytes, 216), 0);
    EXPECT_EQ(std::memcmp(self.bytes + 192, copy.bytes + 188, 16), 0);

    // Null pointers do nothing.
    done = 0;
    dll_PasteChannel(1, nullptr, &src, &done);
    EXPECT_EQ(done, 0);
}

} // namespace
