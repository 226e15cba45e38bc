#include "rk.h"

#include "fake_port.h"
#include "plat_error.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

class RkTest : public ::testing::Test {
protected:
    void SetUp() override {
        link_ResetSettings();
        link_Settings().retries = 1;
        std::memset(data, 0xEE, sizeof data);
    }
    void TearDown() override { EXPECT_TRUE(port.Consumed()) << port.Remaining(); }

    S5RequestBlock Block(S5Area area, uint16_t start, uint16_t count) {
        S5RequestBlock b;
        b.station = 3;
        b.type = area;
        b.start = start;
        b.count = count;
        b.size = static_cast<uint16_t>(count * S5_ELEMENT_SIZE[area]);
        b.data = data;
        b.status = 0xFFFF;
        return b;
    }
    // Command acknowledged, then the reply frame delivered and acknowledged.
    void Exchange(const char *command_frame, const char *reply_frame) {
        port.ExpectWrite("02").Deliver("10").ExpectWrite(command_frame).Deliver("10");
        port.Deliver("02").ExpectWrite("10").Deliver(reply_frame).ExpectWrite("10");
    }

    FakePort port;
    FakePortScope scope{port};
    uint8_t data[64];
};

const char *const FETCH_D10_5 = "00 00 45 44 0a 05 00 03 ff ff 10 03 1e";

TEST_F(RkTest, FetchOfWordsStoresThemInHostOrder) {
    Exchange(FETCH_D10_5, "00 00 00 00 00 64 01 f4 ff ff 10 03 82");
    S5RequestBlock b = Block(S5_AREA_D, 0x0A05, 3);
    ASSERT_EQ(6, rk_Fetch(&b));
    EXPECT_EQ(0u, b.status);
    uint16_t words[3];
    std::memcpy(words, data, sizeof words);
    EXPECT_EQ(100, words[0]);
    EXPECT_EQ(500, words[1]);
    EXPECT_EQ(65535, words[2]);
    EXPECT_EQ(0xEE, data[6]); // nothing behind the elements
    // The port is purged before the command goes out.
    ASSERT_FALSE(port.Log().empty());
    EXPECT_EQ('P', port.Log().front().kind);
}

TEST_F(RkTest, FetchOfBytesCopiesThemUnchanged) {
    Exchange("00 00 45 45 00 04 00 02 ff ff 10 03 15", "00 00 00 00 12 34 10 03 35");
    S5RequestBlock b = Block(S5_AREA_E, 4, 2);
    ASSERT_EQ(2, rk_Fetch(&b));
    EXPECT_EQ(0x12, data[0]);
    EXPECT_EQ(0x34, data[1]);
}

TEST_F(RkTest, ControllerErrorByteBecomesStatusAndNoDataAreCopied) {
    Exchange(FETCH_D10_5, "00 00 00 0a 10 03 19");
    S5RequestBlock b = Block(S5_AREA_D, 0x0A05, 3);
    EXPECT_EQ(0, rk_Fetch(&b));
    EXPECT_EQ(PLC_ERROR_BASE | 0x0A, b.status);
    EXPECT_EQ(PLC_ERROR_BASE | 0x0A, plat_GetLastError());
    EXPECT_EQ(0xEE, data[0]);
}

TEST_F(RkTest, OneElementTooFewOrTooMany) {
    Exchange(FETCH_D10_5, "00 00 00 00 00 64 01 f4 10 03 82");
    S5RequestBlock b = Block(S5_AREA_D, 0x0A05, 3);
    EXPECT_EQ(0, rk_Fetch(&b));
    EXPECT_EQ(LINK_ERR_TOO_SHORT, b.status);

    Exchange(FETCH_D10_5, "00 00 00 00 00 64 01 f4 ff ff 00 07 10 03 85");
    EXPECT_EQ(0, rk_Fetch(&b));
    EXPECT_EQ(LINK_ERR_TOO_LONG, b.status);
    EXPECT_EQ(0xEE, data[0]);
}

TEST_F(RkTest, SpareOddByteIsNotCopiedBehindTheElements) {
    Exchange(FETCH_D10_5, "00 00 00 00 00 64 01 f4 ff ff 77 10 03 f5");
    S5RequestBlock b = Block(S5_AREA_D, 0x0A05, 3);
    EXPECT_EQ(6, rk_Fetch(&b));
    EXPECT_EQ(0u, b.status);
    EXPECT_EQ(0xEE, data[6]);
}

TEST_F(RkTest, JobStartedByTheControllerIsNoReply) {
    Exchange(FETCH_D10_5, "00 00 41 44 00 01 00 01 ff ff 00 05 10 03 13");
    S5RequestBlock b = Block(S5_AREA_D, 0x0A05, 3);
    EXPECT_EQ(0, rk_Fetch(&b));
    EXPECT_EQ(LINK_ERR_UNEXPECTED, b.status);
    EXPECT_EQ(0xEE, data[0]);
}

TEST_F(RkTest, LinkFailureIsTheStatus) {
    port.ExpectWrite("02").Silence().ExpectWrite("15");
    S5RequestBlock b = Block(S5_AREA_D, 0x0A05, 3);
    EXPECT_EQ(0, rk_Fetch(&b));
    EXPECT_EQ(LINK_ERR_TIMEOUT, b.status);

    port.ExpectWrite("02").Deliver("10").ExpectWrite(FETCH_D10_5).Deliver("10").Silence();
    EXPECT_EQ(0, rk_Fetch(&b));
    EXPECT_EQ(LINK_ERR_TIMEOUT, b.status);
}

TEST_F(RkTest, AreaOutsideTheTableIsRefusedBeforeAnythingIsSent) {
    S5RequestBlock b = Block(S5_AREA_D, 0, 1);
    b.type = 11;
    EXPECT_EQ(0, rk_Fetch(&b));
    EXPECT_EQ(WERR_INVALID_PARAMETER, b.status);
    b.type = S5_TYPE_WORD | 0x1F;
    EXPECT_EQ(0, rk_Send(&b));
    EXPECT_EQ(WERR_INVALID_PARAMETER, b.status);
    EXPECT_TRUE(port.Log().empty());
}

TEST_F(RkTest, SendOfOneFlagByte) {
    Exchange("00 00 41 4d 00 07 00 01 ff ff 89 10 03 90", "00 00 00 00 10 03 13");
    S5RequestBlock b = Block(S5_AREA_M, 7, 1);
    data[0] = 0x89;
    EXPECT_EQ(1, rk_Send(&b));
    EXPECT_EQ(0u, b.status);
}

TEST_F(RkTest, SendPutsWordsHighByteFirstAndLeavesTheBlockInHostOrder) {
    Exchange("00 00 41 44 05 01 00 02 ff ff 12 34 ab cd 10 03 50", "00 00 00 00 10 03 13");
    S5RequestBlock b = Block(S5_AREA_D, 0x0501, 2);
    uint16_t words[2] = {0x1234, 0xABCD};
    std::memcpy(data, words, sizeof words);
    EXPECT_EQ(1, rk_Send(&b));
    EXPECT_EQ(0, std::memcmp(data, words, sizeof words));
}

TEST_F(RkTest, SendErrorsAndOverlongReply) {
    S5RequestBlock b = Block(S5_AREA_M, 7, 1);
    data[0] = 0x89;
    Exchange("00 00 41 4d 00 07 00 01 ff ff 89 10 03 90", "00 00 00 0a 10 03 19");
    EXPECT_EQ(0, rk_Send(&b));
    EXPECT_EQ(PLC_ERROR_BASE | 0x0A, b.status);

    port.ExpectWrite("02").Deliver("10");
    port.ExpectWrite("00 00 41 4d 00 07 00 01 ff ff 89 10 03 90").Deliver("10");
    port.Deliver("02").ExpectWrite("10").Deliver("00 00 00 00 01 02 03 04 05 06 07 10 03 13");
    port.ExpectWrite("15");
    EXPECT_EQ(0, rk_Send(&b));
    EXPECT_EQ(LINK_ERR_TOO_LONG, b.status);
}

TEST(RkSwap, ReversesEachElementOfSupportedSizes) {
    uint8_t d[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(1, rk_SwapElements(d, 1, 8));
    EXPECT_EQ(1, d[0]);
    EXPECT_EQ(1, rk_SwapElements(d, 2, 4));
    EXPECT_EQ((std::vector<uint8_t>{2, 1, 4, 3, 6, 5, 8, 7}), std::vector<uint8_t>(d, d + 8));
    EXPECT_EQ(1, rk_SwapElements(d, 4, 2));
    EXPECT_EQ((std::vector<uint8_t>{3, 4, 1, 2, 7, 8, 5, 6}), std::vector<uint8_t>(d, d + 8));
    EXPECT_EQ(1, rk_SwapElements(d, 8, 1));
    EXPECT_EQ((std::vector<uint8_t>{6, 5, 8, 7, 2, 1, 4, 3}), std::vector<uint8_t>(d, d + 8));
    EXPECT_EQ(0, rk_SwapElements(d, 3, 2));
}

} // namespace
