#include "link.h"

#include "fake_port.h"
#include "plat_error.h"

#include <gtest/gtest.h>

namespace {

// FETCH D 10/5, 3 words, as framed on the line after STX.
const char *const FETCH_FRAME = "00 00 45 44 0a 05 00 03 ff ff 10 03 1e";
const uint8_t FETCH_CMD[] = {0x00, 0x00, 0x45, 0x44, 0x0A, 0x05, 0x00, 0x03, 0xFF, 0xFF};
// Its reply carrying 100, 500, 65535.
const char *const REPLY_FRAME = "00 00 00 00 00 64 01 f4 ff ff 10 03 82";

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        link_ResetSettings();
        link_ResetCounters();
        plat_SetLastError(0);
    }
    void TearDown() override { EXPECT_TRUE(port.Consumed()) << port.Remaining(); }

    FakePort port;
    FakePortScope scope{port};
    uint8_t buf[140] = {};
};

TEST_F(LinkTest, SendsFrameAfterHandshakeAndCountsIt) {
    port.ExpectWrite("02").Deliver("10").ExpectWrite(FETCH_FRAME).Deliver("10");
    EXPECT_EQ(1, link_SendBlock(FETCH_CMD, 10));
    EXPECT_EQ(14u, link_Counters().tx_bytes);
    EXPECT_EQ(1u, link_Counters().tx_packets);
    EXPECT_EQ(0u, link_Counters().tx_errors);
}

TEST_F(LinkTest, DoublesDleInHeaderAndBccCoversBothCopies) {
    const uint8_t cmd[] = {0x00, 0x00, 0x45, 0x44, 0x10, 0x10, 0x00, 0x10, 0xFF, 0xFF};
    port.ExpectWrite("02").Deliver("10");
    port.ExpectWrite("00 00 45 44 10 10 10 10 00 10 10 ff ff 10 03 12").Deliver("10");
    EXPECT_EQ(1, link_SendBlock(cmd, 10));
}

TEST_F(LinkTest, BlockCheckOffSendsAndExpectsNoBcc) {
    EXPECT_EQ(0, link_SetBccMode(2));
    port.ExpectWrite("02").Deliver("10");
    port.ExpectWrite("00 00 45 44 0a 05 00 03 ff ff 10 03").Deliver("10");
    EXPECT_EQ(1, link_SendBlock(FETCH_CMD, 10));

    port.Deliver("02").ExpectWrite("10").Deliver("00 00 00 00 10 03").ExpectWrite("10");
    EXPECT_EQ(4, link_ReceiveReply(buf, sizeof buf));
}

TEST_F(LinkTest, BccModeOnlyChangesForOneAndTwo) {
    EXPECT_EQ(1, link_SetBccMode(0));
    EXPECT_EQ(0, link_SetBccMode(2));
    EXPECT_EQ(0, link_SetBccMode(7));
    EXPECT_EQ(1, link_SetBccMode(1));
}

TEST_F(LinkTest, DeafPartnerGetsRetriesStxThenOneNak) {
    link_Settings().retries = 2;
    link_Settings().ack_timeout = 500;
    port.ExpectWrite("02").Silence().ExpectWrite("02").ExpectWrite("15");
    EXPECT_EQ(0, link_SendBlock(FETCH_CMD, 10));
    EXPECT_EQ(LINK_ERR_TIMEOUT, plat_GetLastError());
    EXPECT_EQ((std::vector<int64_t>{0, 500}), port.WriteTimes("02"));
    EXPECT_EQ((std::vector<int64_t>{1000}), port.WriteTimes("15"));
    EXPECT_EQ(2u, link_Counters().tx_errors);
    EXPECT_EQ(0u, link_Counters().tx_packets);
}

TEST_F(LinkTest, NakAfterFrameUsesAnAttemptAndKeepsItsCode) {
    link_Settings().retries = 2;
    port.ExpectWrite("02").Deliver("10").ExpectWrite(FETCH_FRAME).Deliver("15");
    port.ExpectWrite("02").Deliver("10").ExpectWrite(FETCH_FRAME).Deliver("15");
    port.ExpectWrite("15");
    EXPECT_EQ(0, link_SendBlock(FETCH_CMD, 10));
    EXPECT_EQ(LINK_ERR_NAK, plat_GetLastError());
}

TEST_F(LinkTest, OtherAnswerIsUnexpectedAndRetried) {
    link_Settings().retries = 2;
    port.ExpectWrite("02").Deliver("41").ExpectWrite("02").Deliver("10");
    port.ExpectWrite(FETCH_FRAME).Deliver("10");
    EXPECT_EQ(1, link_SendBlock(FETCH_CMD, 10));
    EXPECT_EQ(1u, link_Counters().tx_errors);

    port.ExpectWrite("02").Deliver("06").ExpectWrite("15");
    link_Settings().retries = 1;
    EXPECT_EQ(0, link_SendBlock(FETCH_CMD, 10));
    EXPECT_EQ(LINK_ERR_UNEXPECTED, plat_GetLastError());
}

TEST_F(LinkTest, FailedWritesEndTheSendWithoutNak) {
    port.WriteFails(WERR_GEN_FAILURE);
    EXPECT_EQ(0, link_SendBlock(FETCH_CMD, 10));
    EXPECT_EQ(WERR_GEN_FAILURE, plat_GetLastError());

    port.ExpectWrite("02").Deliver("10").WriteFails(WERR_SEM_TIMEOUT);
    EXPECT_EQ(0, link_SendBlock(FETCH_CMD, 10));
    EXPECT_EQ(WERR_SEM_TIMEOUT, plat_GetLastError());
    EXPECT_EQ(2u, link_Counters().tx_errors);
}

TEST_F(LinkTest, WriteFailureWithoutCodeStillReportsOne) {
    port.WriteFails(0);
    EXPECT_EQ(0, link_SendBlock(FETCH_CMD, 10));
    EXPECT_EQ(WERR_SEM_TIMEOUT, plat_GetLastError());
}

TEST_F(LinkTest, ZeroRetriesStillMakesOneAttempt) {
    link_Settings().retries = 0;
    port.ExpectWrite("02").Silence().ExpectWrite("15");
    EXPECT_EQ(0, link_SendBlock(FETCH_CMD, 10));
    EXPECT_EQ(LINK_ERR_TIMEOUT, plat_GetLastError());
}

// --- initialisation conflict ---

TEST_F(LinkTest, HighPriorityKeepsItsBlockThroughConflict) {
    link_Settings().priority = 1;
    link_Settings().retries = 1;
    port.ExpectWrite("02").Deliver("02").Deliver("10", 100);
    port.ExpectWrite(FETCH_FRAME).Deliver("10");
    EXPECT_EQ(1, link_SendBlock(FETCH_CMD, 10));
    EXPECT_EQ(0u, link_Counters().tx_errors);
}

TEST_F(LinkTest, HighPriorityConflictsPastTheBoundCostAttempts) {
    link_Settings().priority = 1;
    link_Settings().retries = 2;
    // Two conflicts are free; the third ends the first attempt, the fourth the second.
    port.ExpectWrite("02").Deliver("02 02 02").ExpectWrite("02").Deliver("02");
    port.ExpectWrite("15");
    EXPECT_EQ(0, link_SendBlock(FETCH_CMD, 10));
    EXPECT_EQ(LINK_ERR_CONFLICT, plat_GetLastError());
    EXPECT_EQ(2u, link_Counters().tx_errors);
}

TEST_F(LinkTest, HighPriorityOtherFailureAfterConflictCostsAnAttempt) {
    link_Settings().priority = 1;
    link_Settings().retries = 1;
    port.ExpectWrite("02").Deliver("02").ExpectWrite("15");
    EXPECT_EQ(0, link_SendBlock(FETCH_CMD, 10));
    EXPECT_EQ(LINK_ERR_TIMEOUT, plat_GetLastError());
}

TEST_F(LinkTest, LowPriorityTakesAndDropsPartnersBlockWithoutLosingAnAttempt) {
    link_Settings().retries = 1;
    port.ExpectWrite("02").Deliver("02");
    port.ExpectWrite("10").Deliver("00 00 41 44 01 00 00 01 ff ff 04 d2 10 03 c0");
    port.ExpectWrite("10");
    port.ExpectWrite("02").Deliver("10").ExpectWrite(FETCH_FRAME).Deliver("10");
    EXPECT_EQ(1, link_SendBlock(FETCH_CMD, 10));
    // The dropped block is no reply and no packet of ours.
    EXPECT_EQ(0u, link_Counters().rx_packets);
    EXPECT_EQ(1u, link_Counters().tx_packets);
}

TEST_F(LinkTest, LowPriorityNaksABadPartnerBlock) {
    link_Settings().retries = 1;
    port.ExpectWrite("02").Deliver("02");
    port.ExpectWrite("10").Deliver("00 00 00 10 03 13").ExpectWrite("15");
    port.ExpectWrite("02").Deliver("10").ExpectWrite(FETCH_FRAME).Deliver("10");
    EXPECT_EQ(1, link_SendBlock(FETCH_CMD, 10));
}

TEST_F(LinkTest, LowPriorityConflictsPastTheBoundCostAttempts) {
    link_Settings().retries = 1;
    const char *partner = "00 00 41 44 01 00 00 01 ff ff 04 d2 10 03 c0";
    port.ExpectWrite("02").Deliver("02").ExpectWrite("10").Deliver(partner).ExpectWrite("10");
    port.ExpectWrite("02").Deliver("02").ExpectWrite("10").Deliver(partner).ExpectWrite("10");
    port.ExpectWrite("15");
    EXPECT_EQ(0, link_SendBlock(FETCH_CMD, 10));
    EXPECT_EQ(LINK_ERR_CONFLICT, plat_GetLastError());
    EXPECT_EQ(1u, link_Counters().tx_errors);
}

// --- receiving the reply ---

TEST_F(LinkTest, ReceivesReplyAndCountsItsBytes) {
    port.Deliver("02").ExpectWrite("10").Deliver(REPLY_FRAME).ExpectWrite("10");
    ASSERT_EQ(10, link_ReceiveReply(buf, sizeof buf));
    EXPECT_EQ(Hex("00 00 00 00 00 64 01 f4 ff ff"), std::vector<uint8_t>(buf, buf + 10));
    EXPECT_EQ(14u, link_Counters().rx_bytes);
    EXPECT_EQ(1u, link_Counters().rx_packets);
}

TEST_F(LinkTest, DoubledDleInDataIsOneByte) {
    port.Deliver("02").ExpectWrite("10");
    port.Deliver("00 00 00 00 10 10 10 10 10 10 01 10 03 12").ExpectWrite("10");
    ASSERT_EQ(8, link_ReceiveReply(buf, sizeof buf));
    EXPECT_EQ(Hex("00 00 00 00 10 10 10 01"), std::vector<uint8_t>(buf, buf + 8));
}

TEST_F(LinkTest, WrongBccIsNakedAndTheReplyAwaitedAgain) {
    port.Deliver("02").ExpectWrite("10").Deliver("00 00 00 00 10 03 14").ExpectWrite("15");
    port.Deliver("02").ExpectWrite("10").Deliver("00 00 00 00 10 03 13").ExpectWrite("10");
    EXPECT_EQ(4, link_ReceiveReply(buf, sizeof buf));
    EXPECT_EQ(1u, link_Counters().rx_crc_errors);
}

TEST_F(LinkTest, BadDleFailsAtOnceAndTheNextAttemptHuntsForStx) {
    link_Settings().retries = 2;
    // DLE 'A' is no legal pair: NAK at once; the rest of that block is skipped as noise.
    port.Deliver("02").ExpectWrite("10").Deliver("00 00 10 41").ExpectWrite("15");
    port.Deliver("00 00 10 03 13 02").ExpectWrite("10");
    port.Deliver("00 00 00 00 10 03 13").ExpectWrite("10");
    EXPECT_EQ(4, link_ReceiveReply(buf, sizeof buf));
    EXPECT_EQ(1u, link_Counters().rx_comm_errors);
}

TEST_F(LinkTest, BlockLongerThanBufferIsCode3WithNak) {
    link_Settings().retries = 1;
    port.Deliver("02").ExpectWrite("10").Deliver("00 00 00 00 01 02 03 04 05 06 07 10 03 13");
    port.ExpectWrite("15");
    EXPECT_EQ(0, link_ReceiveReply(buf, 10));
    EXPECT_EQ(LINK_ERR_TOO_LONG, plat_GetLastError());
}

TEST_F(LinkTest, ReplyUnderFourBytesIsRefusedWithCode7) {
    link_Settings().retries = 2;
    port.Deliver("02").ExpectWrite("10").Deliver("00 00 00 10 03 13").ExpectWrite("15");
    port.Deliver("02").ExpectWrite("10").Deliver("00 00 00 0a 10 03 19").ExpectWrite("10");
    EXPECT_EQ(4, link_ReceiveReply(buf, sizeof buf));

    link_Settings().retries = 1;
    port.Deliver("02").ExpectWrite("10").Deliver("00 10 03 13").ExpectWrite("15");
    EXPECT_EQ(0, link_ReceiveReply(buf, sizeof buf));
    EXPECT_EQ(LINK_ERR_TOO_SHORT, plat_GetLastError());
}

TEST_F(LinkTest, ByteMissingInsideBlockTimesOutAfterCharacterDelay) {
    link_Settings().retries = 1;
    port.Deliver("02").ExpectWrite("10").Deliver("00 00 00 00 10").ExpectWrite("15");
    EXPECT_EQ(0, link_ReceiveReply(buf, sizeof buf));
    EXPECT_EQ(LINK_ERR_TIMEOUT, plat_GetLastError());
    EXPECT_EQ((std::vector<int64_t>{220}), port.WriteTimes("15"));
    EXPECT_EQ(1u, link_Counters().rx_timeouts);
}

TEST_F(LinkTest, MissingBccTimesOut) {
    link_Settings().retries = 1;
    port.Deliver("02").ExpectWrite("10").Deliver("00 00 00 00 10 03").ExpectWrite("15");
    EXPECT_EQ(0, link_ReceiveReply(buf, sizeof buf));
    EXPECT_EQ(LINK_ERR_TIMEOUT, plat_GetLastError());
}

TEST_F(LinkTest, NoReplyWaitsRetriesBlockWaitsWithoutNak) {
    link_Settings().retries = 2;
    port.Silence();
    EXPECT_EQ(0, link_ReceiveReply(buf, sizeof buf));
    EXPECT_EQ(LINK_ERR_TIMEOUT, plat_GetLastError());
    EXPECT_EQ(8000, port.clock.now_ms);
    EXPECT_TRUE(port.Writes().empty());
    EXPECT_EQ(2u, link_Counters().rx_timeouts);
}

TEST_F(LinkTest, EachNoiseByteRestartsTheBlockWait) {
    link_Settings().retries = 1;
    port.Deliver("aa", 3000).Deliver("55", 6000).Deliver("02", 9000).ExpectWrite("10");
    port.Deliver("00 00 00 00 10 03 13").ExpectWrite("10");
    EXPECT_EQ(4, link_ReceiveReply(buf, sizeof buf));
    EXPECT_EQ(9000, port.clock.now_ms);
}

TEST_F(LinkTest, HungUpLineTimesOutInsteadOfSpinning) {
    link_Settings().retries = 3;
    port.HangUp();
    EXPECT_EQ(0, link_ReceiveReply(buf, sizeof buf));
    EXPECT_EQ(LINK_ERR_TIMEOUT, plat_GetLastError());
    EXPECT_EQ(12000, port.clock.now_ms);
}

TEST_F(LinkTest, FailedFinalDleFailsTheReceive) {
    link_Settings().retries = 1;
    port.Deliver("02").ExpectWrite("10").Deliver("00 00 00 00 10 03 13");
    port.WriteFails(WERR_GEN_FAILURE).ExpectWrite("15");
    EXPECT_EQ(0, link_ReceiveReply(buf, sizeof buf));
    EXPECT_EQ(WERR_GEN_FAILURE, plat_GetLastError());
    EXPECT_EQ(1u, link_Counters().rx_comm_errors);
}

TEST_F(LinkTest, SingleControlBytesUseTheCharacterDelay) {
    link_Settings().char_delay = 50;
    port.ExpectWrite("10").ExpectWrite("15");
    EXPECT_EQ(1, link_SendDle());
    EXPECT_EQ(1, link_SendNak());
    for (const FakePort::LogEntry &e : port.Log()) {
        if (e.kind == 'W') {
            EXPECT_EQ(50, e.timeout_ms);
        }
    }
}

TEST_F(LinkTest, TimeOutsOfEachStep) {
    link_Settings().char_delay = 100;
    link_Settings().ack_timeout = 300;
    link_Settings().block_wait = 700;
    port.ExpectWrite("02").Deliver("10").ExpectWrite(FETCH_FRAME).Deliver("10");
    port.Deliver("02").ExpectWrite("10").Deliver(REPLY_FRAME).ExpectWrite("10");
    ASSERT_EQ(1, link_SendBlock(FETCH_CMD, 10));
    ASSERT_EQ(10, link_ReceiveReply(buf, sizeof buf));
    std::vector<std::pair<char, int>> calls;
    for (const FakePort::LogEntry &e : port.Log())
        calls.push_back({e.kind, e.timeout_ms});
    std::vector<std::pair<char, int>> expected = {{'W', 2000}, {'R', 300}, {'W', 2000},
                                                  {'R', 300},  {'R', 700}, {'W', 100}};
    for (int i = 0; i < 13; ++i)
        expected.push_back({'R', 100});
    expected.push_back({'W', 100});
    EXPECT_EQ(expected, calls);
}

} // namespace

namespace {

TEST(LinkPort, OpenReachesTheSelectedPortAndKeepsItsError) {
    FakePort port;
    FakePortScope scope{port};
    LinkLineSettings line;
    line.baud = 14400;
    port.OpenFails(WERR_ACCESS_DENIED);
    EXPECT_EQ(0, link_OpenPort("COM2", line));
    EXPECT_EQ(WERR_ACCESS_DENIED, plat_GetLastError());
    port.OpenFails(0);
    plat_SetLastError(0);
    EXPECT_EQ(0, link_OpenPort("COM2", line));
    EXPECT_NE(0u, plat_GetLastError());
    EXPECT_EQ(1, link_OpenPort("COM2", line));
    EXPECT_EQ("COM2", port.opened_name);
    EXPECT_EQ(14400u, port.opened_line.baud);
    link_ClosePort();
    EXPECT_FALSE(port.open);
}

} // namespace
