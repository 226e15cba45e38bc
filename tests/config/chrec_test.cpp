#include "chrec.h"
#include "tag.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

namespace A = ChannelAnalog;
namespace D = ChannelDigital;

TEST(ChannelRecord, TypeByteChoosesTheLayout) {
    ChannelRecord rec{};
    for (uint8_t type : {0, 2, 4, 6, 200}) {
        chrec_SetType(&rec, type);
        EXPECT_EQ(chrec_IsDigital(rec), 0) << int(type);
        EXPECT_EQ(chrec_DevicePartOffset(rec), 188u);
        EXPECT_EQ(chrec_DevicePartSize(rec), 16u);
    }
    for (uint8_t type : {1, 3, 5, 255}) {
        chrec_SetType(&rec, type);
        EXPECT_EQ(chrec_IsDigital(rec), 1) << int(type);
        EXPECT_EQ(chrec_DevicePart(&rec), rec.bytes + 192);
        EXPECT_EQ(chrec_DevicePartSize(rec), 24u);
    }
    EXPECT_EQ(rec.bytes[24], 255);
}

TEST(ChannelRecord, FieldsAreLittleEndianAtTheirOffsets) {
    ChannelRecord rec{};
    chrec_Set(&rec, A::Gain, 1.5f);
    chrec_Set(&rec, A::ErrorAlarmDelay, uint16_t{0x1234}); // odd offset pair 166/167
    chrec_Set(&rec, A::LowAlarmDelay, uint16_t{0xBEEF});
    chrec_Set(&rec, A::HighAlarmPriority, uint8_t{7});
    const uint8_t gain[4] = {0x00, 0x00, 0xC0, 0x3F};
    EXPECT_EQ(std::memcmp(rec.bytes + 36, gain, 4), 0);
    EXPECT_EQ(rec.bytes[166], 0x34);
    EXPECT_EQ(rec.bytes[167], 0x12);
    EXPECT_EQ(rec.bytes[186], 0xEF);
    EXPECT_EQ(rec.bytes[187], 0xBE);
    EXPECT_EQ(rec.bytes[72], 7);
    EXPECT_EQ(chrec_Get(rec, A::Gain), 1.5f);
    EXPECT_EQ(chrec_Get(rec, A::ErrorAlarmDelay), 0x1234);

    // The digital delays sit where the analogue device part begins.
    ChannelRecord dig{};
    chrec_Set(&dig, D::ErrorAlarmDelay, uint16_t{0x0102});
    chrec_Set(&dig, D::AlarmDelay, uint16_t{0x0304});
    EXPECT_EQ(dig.bytes[188], 0x02);
    EXPECT_EQ(dig.bytes[190], 0x04);
}

TEST(ChannelRecord, FixedTextsNeedNoNul) {
    ChannelRecord rec{};
    std::memset(rec.bytes, 0xAA, sizeof rec.bytes);
    const char *full = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    chrec_SetText(&rec, D::AlarmText, full);
    EXPECT_EQ(chrec_GetText(rec, D::AlarmText), full);
    EXPECT_EQ(rec.bytes[96], 0xAA); // neighbours untouched
    EXPECT_EQ(rec.bytes[129], 0xAA);

    chrec_SetText(&rec, D::AlarmText, "open");
    EXPECT_EQ(chrec_GetText(rec, D::AlarmText), "open");
    EXPECT_EQ(rec.bytes[97 + 31], 0); // padded with NULs
    chrec_SetText(&rec, D::AlarmText, "this text is longer than thirty-two characters");
    EXPECT_EQ(chrec_GetText(rec, D::AlarmText).size(), 32u);
}

TEST(ChannelRecord, FlagBitsMostSignificantFirstInBytes28And29) {
    ChannelRecord rec{};
    chrec_SetFlag(&rec, A::Enable, 1);
    EXPECT_EQ(rec.bytes[28], 0x01);
    chrec_SetFlag(&rec, A::LowAlarmDriveCommon, 1);
    EXPECT_EQ(rec.bytes[28], 0x81);
    chrec_SetFlag(&rec, A::ErrorAlarmDriveCommon, 1);
    chrec_SetFlag(&rec, A::SigChangeEnable, 1);
    EXPECT_EQ(rec.bytes[29], 0x41);
    EXPECT_EQ(chrec_TestFlag(rec, A::SigChangeEnable), 1);
    EXPECT_EQ(chrec_TestFlag(rec, A::ScalingEnable), 0);
    chrec_SetFlag(&rec, A::Enable, 0);
    EXPECT_EQ(rec.bytes[28], 0x80);
    // Out of range bits neither read nor touch the bytes around.
    chrec_SetFlag(&rec, 16, 1);
    chrec_SetFlag(&rec, -1, 1);
    EXPECT_EQ(rec.bytes[27], 0);
    EXPECT_EQ(rec.bytes[30], 0);
    EXPECT_EQ(chrec_TestFlag(rec, 16), 0);
    // The same bit reads with the digital name.
    EXPECT_EQ(chrec_TestFlag(rec, D::ErrorAlarmDriveCommon), 1);
}

TEST(ChannelRecord, KindAndTypeNames) {
    const char *names[] = {"ai", "di", "ao", "do", "ci", "dc", "dc"};
    for (int k = 0; k < 7; ++k)
        EXPECT_STREQ(chrec_KindName(k), names[k]);
    EXPECT_STREQ(chrec_KindTitle(0), "ANALOG INPUTS");
    EXPECT_STREQ(chrec_KindTitle(4), "COUNTER INPUTS");
    EXPECT_STREQ(chrec_KindTitle(5), "DIAGNOSTICS");
    EXPECT_STREQ(chrec_KindTitle(6), "DIAGNOSTICS");
    EXPECT_STREQ(chrec_KindName(7), "");
    EXPECT_STREQ(chrec_KindName(-1), "");
    EXPECT_STREQ(chrec_KindTitle(7), "");
    EXPECT_STREQ(chrec_TypeName(3), "DO");
    EXPECT_STREQ(chrec_TypeName(5), "");
}

} // namespace
