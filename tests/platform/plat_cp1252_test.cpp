#include "plat_cp1252.h"

#include <gtest/gtest.h>

namespace {

// Every byte's character maps back to that byte; characters without a byte become '?'.
TEST(Cp1252Test, CodePointsMapBackToTheirBytes) {
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(b, plat_CodePointToCp1252(plat_Cp1252ToCodePoint(static_cast<uint8_t>(b)))) << b;
    EXPECT_EQ(0xE4, plat_CodePointToCp1252(0xE4));
    EXPECT_EQ(0x80, plat_CodePointToCp1252(0x20AC));
    EXPECT_EQ('?', plat_CodePointToCp1252(0x80));
    EXPECT_EQ('?', plat_CodePointToCp1252(0x9F));
    EXPECT_EQ('?', plat_CodePointToCp1252(0x4E2D));
    EXPECT_EQ('?', plat_CodePointToCp1252(0x1F600));
}

} // namespace
