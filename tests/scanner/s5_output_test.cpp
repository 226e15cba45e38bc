#include "s5_channels.h"
#include "plat_error.h"
#include "station.h"

#include <cerrno>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace s5test;

namespace {

constexpr uint8_t D = S5_AREA_D, E = S5_AREA_E, M = S5_AREA_M, T = S5_AREA_T;
constexpr uint8_t WORD = S5_TYPE_WORD, BIT = S5_TYPE_BIT, SIGNED = S5_TYPE_SIGNED;

// Output settings of a DeviceConfig: read outputs on the first scan, read back when not
// writing.
std::vector<uint8_t> Config(int readFirst, int readBack) {
    std::vector<uint8_t> config(704, 0);
    config[16] = static_cast<uint8_t>(readFirst);
    config[17] = static_cast<uint8_t>(readBack);
    return config;
}

class OutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        s5_ResetPlanner();
        scan_ResetStations();
        link_ResetSettings();
        link_Settings().retries = 1;
    }
    void TearDown() override {
        EXPECT_TRUE(port.Consumed()) << port.Remaining();
        s5_ResetPlanner();
    }
    // AO channels, initialised as after a (re)initialisation: every channel bad.
    void InitAO(const std::vector<Ch> &channels, int readFirst = 0, int readBack = 0) {
        ao = Records(channels);
        aoStatuses.assign(ao.size(), S5_STATUS_BAD);
        aoValues.assign(ao.size(), 0.0f);
        std::vector<uint8_t> config = Config(readFirst, readBack);
        ASSERT_EQ(0, s5_DriverEntryTable.init[S5_KIND_AO](config.data(), Count(ao), ao.data()));
    }
    void InitDO(std::vector<Ch> channels, int readFirst = 0, int readBack = 0) {
        for (Ch &c : channels)
            c.channelType = CHANNEL_TYPE_DO;
        dout = Records(channels);
        doStatuses.assign(dout.size(), S5_STATUS_BAD);
        std::vector<uint8_t> config = Config(readFirst, readBack);
        ASSERT_EQ(0, s5_DriverEntryTable.init[S5_KIND_DO](config.data(), Count(dout), dout.data()));
    }
    void ScanAO() {
        ASSERT_EQ(0, s5_DriverEntryTable.scan[S5_KIND_AO](nullptr, Count(ao), ao.data(),
                                                          aoStatuses.data(), aoValues.data()));
        EXPECT_TRUE(port.Consumed()) << port.Remaining();
    }
    void ScanDO() {
        ASSERT_EQ(0, s5_DriverEntryTable.scan[S5_KIND_DO](nullptr, Count(dout), dout.data(),
                                                          doStatuses.data(), nullptr));
        EXPECT_TRUE(port.Consumed()) << port.Remaining();
    }
    static int Count(const std::vector<ChannelRecord> &r) { return static_cast<int>(r.size()); }
    void Written(char letter, int address, const std::string &data) {
        Exchange(port, Send(letter, address, data), REPLY_OK);
    }

    FakePort port;
    FakePortScope scope{port};
    std::vector<ChannelRecord> ao, dout;
    std::vector<uint32_t> aoStatuses, doStatuses;
    std::vector<float> aoValues;
};

TEST_F(OutputTest, SixteenBitValueInAByteAreaIsTwoOneByteSends) {
    InitAO({{1, M | WORD, 7}});
    aoValues[0] = 0x1234;
    Written('M', 7, "34");
    Written('M', 8, "12");
    ScanAO();
    EXPECT_EQ(0u, aoStatuses[0]);
    EXPECT_EQ(0x1234, aoValues[0]);
    // Unchanged: nothing on the line, and the channel stays good with its value.
    ScanAO();
    EXPECT_EQ(0u, aoStatuses[0]);
    EXPECT_EQ(0x1234, aoValues[0]);
    // Only the changed element goes out... but a 16-bit value marks both of its bytes.
    aoValues[0] = 0x1235;
    Written('M', 7, "35");
    Written('M', 8, "12");
    ScanAO();
}

TEST_F(OutputTest, OnlyChangedElementsOfABlockAreSent) {
    InitAO({{1, T | WORD, 10}, {1, T | WORD, 11}, {1, T | WORD, 12}});
    aoValues = {1, 2, 3};
    Written('T', 10, "00 01");
    Written('T', 11, "00 02");
    Written('T', 12, "00 03");
    ScanAO();
    aoValues[1] = 500;
    Written('T', 11, "01 f4");
    ScanAO();
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 0}), aoStatuses);
}

TEST_F(OutputTest, FirstScanReadsTheOutputsThenWritesChanges) {
    InitAO({{1, D | WORD | SIGNED, Db(2, 0)}, {1, D | WORD, Db(2, 1)}}, 1);
    aoValues = {5, 6};
    Exchange(port, Fetch('D', Db(2, 0), 2), "00 00 00 00 ff fe 00 07");
    ScanAO();
    EXPECT_EQ((std::vector<float>{-2, 7}), aoValues);
    EXPECT_EQ((std::vector<uint32_t>{0, 0}), aoStatuses);
    EXPECT_EQ(0, s5_OutputModes().firstScan);
    // The operator's change is written from now on.
    aoValues[1] = 8;
    Written('D', Db(2, 1), "00 08");
    ScanAO();
}

TEST_F(OutputTest, UnchangedBlocksAreReadBackWhenSoSet) {
    InitAO({{1, M, 0}}, 0, 1);
    aoValues[0] = 9;
    Written('M', 0, "09");
    ScanAO();
    // Nothing to write: the block is read, and the controller's value is taken.
    Exchange(port, Fetch('M', 0, 1), "00 00 00 00 0b");
    ScanAO();
    EXPECT_EQ(11, aoValues[0]);
}

TEST_F(OutputTest, AFailedWriteIsRepeatedUntilItGoesThrough) {
    InitAO({{1, M, 0}, {1, M, 1}});
    aoValues = {1, 2};
    Exchange(port, Send('M', 0, "01"), "00 00 00 0a");
    Written('M', 1, "02"); // the other element still goes
    ScanAO();
    EXPECT_EQ(S5_STATUS_BAD, aoStatuses[0]);
    EXPECT_EQ(S5_STATUS_BAD, aoStatuses[1]); // the block failed as a whole
    EXPECT_STREQ("F0: S5 3964R 0xa", scan_FindStationText(1));
    // Same values: both bad channels are written again.
    Written('M', 0, "01");
    Written('M', 1, "02");
    ScanAO();
    EXPECT_EQ((std::vector<uint32_t>{0, 0}), aoStatuses);
}

TEST_F(OutputTest, TimeOutStopsTheStationForThePass) {
    // Blocks: station 1 M0..1, station 2 M0, station 1 M500.
    InitAO({{1, M, 0}, {1, M, 1}, {2, M, 0}, {1, M, 500}});
    aoValues = {1, 2, 3, 4};
    NoAnswer(port); // M0 of station 1: the rest of station 1 is skipped
    Written('M', 0, "03");
    ScanAO();
    EXPECT_EQ((std::vector<uint32_t>{S5_STATUS_BAD, S5_STATUS_BAD, 0, S5_STATUS_BAD}), aoStatuses);
    EXPECT_STREQ("F0: TIMEOUT", scan_FindStationText(1));
    Written('M', 0, "01");
    Written('M', 1, "02");
    Written('M', 500, "04");
    ScanAO();
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 0, 0}), aoStatuses);
}

TEST_F(OutputTest, ValuesAreTruncatedAndClampedAndNotANumberIsNotWritten) {
    Ch high{1, T | SIGNED, 2};
    high.byteSelect = 1;
    InitAO({{1, T | WORD | SIGNED, 0}, {1, T | WORD, 1}, high, {1, T, 3}, {1, M | SIGNED, 0}});
    aoValues = {1e10f, -std::numeric_limits<float>::infinity(), -200.9f, 12.7f, -3.9f};
    Written('T', 0, "7f ff");
    Written('T', 1, "00 00");
    Written('T', 2, "80 00"); // high byte only: -128
    Written('T', 3, "00 0c");
    Written('M', 0, "fd");
    ScanAO();
    EXPECT_EQ((std::vector<float>{32767, 0, -128, 12, -3}), aoValues);

    // Not a number: not written, bad, and the value is left as it is.
    aoValues[3] = std::nanf("");
    ScanAO();
    EXPECT_EQ(S5_STATUS_BAD, aoStatuses[3]);
    EXPECT_TRUE(std::isnan(aoValues[3]));
    // A number again: written, since the channel is bad, even though the element holds 12.
    aoValues[3] = 12;
    Written('T', 3, "00 0c");
    ScanAO();
    EXPECT_EQ(0u, aoStatuses[3]);
}

TEST_F(OutputTest, HighByteOutputKeepsTheLowByteOfItsWord) {
    Ch high{1, T, 2};
    high.byteSelect = 1;
    InitAO({{1, T, 2}, high});
    aoValues = {0x11, 0x22};
    Written('T', 2, "22 11");
    ScanAO();
    aoValues[1] = 0x33;
    Written('T', 2, "33 11");
    ScanAO();
    // A low-byte 8-bit value stores its whole element, as widened to 16 bits; the high-byte
    // channel of the same word then puts its byte back before anything is sent.
    aoValues[0] = 0x44;
    Written('T', 2, "33 44");
    ScanAO();
}

TEST_F(OutputTest, DigitalOutputsWriteTheirBitsAndBadOnesAgain) {
    InitDO({{1, E | BIT, 4, 1}, {1, E | BIT, 4, 9}, {1, D | BIT, Db(1, 0), 9}});
    doStatuses = {S5_STATUS_BAD | S5_STATUS_STATE, S5_STATUS_BAD | S5_STATUS_STATE, S5_STATUS_BAD};
    // Every bad channel is written, whether its bit changed or not.
    Written('E', 4, "02");
    Written('E', 5, "02"); // bit 9 of a byte area lives in the next byte
    Written('D', Db(1, 0), "00 00");
    ScanDO();
    EXPECT_EQ((std::vector<uint32_t>{1, 1, 0}), doStatuses);
    doStatuses[2] = S5_STATUS_STATE;
    Written('D', Db(1, 0), "02 00");
    ScanDO();
    doStatuses[1] = 0;
    Written('E', 5, "00");
    ScanDO();
    EXPECT_EQ((std::vector<uint32_t>{1, 0, 1}), doStatuses);
}

TEST_F(OutputTest, FirstScanModeHoldsForTheAnalogueScanThatFollowsTheDigitalOne) {
    InitAO({{1, M, 10}}, 1);
    InitDO({{1, M | BIT, 0, 0}}, 1);
    Exchange(port, Fetch('M', 0, 1), "00 00 00 00 01");
    ScanDO();
    EXPECT_EQ(2, s5_OutputModes().firstScan);
    EXPECT_EQ(1u, doStatuses[0]);
    Exchange(port, Fetch('M', 10, 1), "00 00 00 00 05");
    ScanAO();
    EXPECT_EQ(0, s5_OutputModes().firstScan);
    EXPECT_EQ(5, aoValues[0]);

    // Without analogue-output blocks the digital scan ends the first-scan mode itself.
    s5_ResetPlanner();
    InitDO({{1, M | BIT, 0, 0}}, 1);
    Exchange(port, Fetch('M', 0, 1), "00 00 00 00 00");
    ScanDO();
    EXPECT_EQ(0, s5_OutputModes().firstScan);
    EXPECT_EQ(0u, doStatuses[0]);
}

TEST_F(OutputTest, CounterInputsAreRefused) {
    errno = 0;
    EXPECT_EQ(-1, s5_DriverEntryTable.init[4](nullptr, 0, nullptr));
    EXPECT_EQ(50, errno);
    EXPECT_EQ(50u, plat_GetLastError());
    EXPECT_EQ(0, s5_DriverEntryTable.scan[4](nullptr, 0, nullptr, nullptr, nullptr));
    EXPECT_STREQ("CAN'T READ CONFIGURATION -%04d", s5_DriverEntryTable.readConfigMessage);
}

} // namespace
