#include "s5_channels.h"
#include "station.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace s5test;

namespace {

constexpr uint8_t D = S5_AREA_D, M = S5_AREA_M, T = S5_AREA_T;
constexpr uint8_t WORD = S5_TYPE_WORD, BIT = S5_TYPE_BIT, SIGNED = S5_TYPE_SIGNED;

class PollTest : public ::testing::Test {
protected:
    void SetUp() override {
        s5_ResetPlanner();
        scan_ResetStations();
        link_ResetSettings();
        link_Settings().retries = 1;
    }
    void TearDown() override {
        EXPECT_TRUE(port.Consumed()) << port.Remaining();
        s5_ReleaseBlocks(&list);
        s5_ResetPlanner();
    }
    void Plan(const std::vector<Ch> &channels) {
        records = Records(channels);
        s5_PlanBlocks(static_cast<int>(records.size()), records.data(), &list);
        statuses.assign(records.size(), S5_STATUS_BAD);
        values.assign(records.size(), -1.0f);
    }
    void Convert() {
        s5_BlockToChannels(list, static_cast<int>(records.size()), records.data(), statuses.data(),
                           values.data());
    }
    void PutWord(int block, int offset, uint16_t word) {
        std::memcpy(list.blocks[block].data + offset, &word, sizeof word);
    }

    FakePort port;
    FakePortScope scope{port};
    S5BlockList list;
    std::vector<ChannelRecord> records;
    std::vector<uint32_t> statuses;
    std::vector<float> values;
};

TEST_F(PollTest, ValuesOfEveryShapeComeOutOfTheBlock) {
    Ch di{1, T | BIT, 3, 9};
    di.channelType = CHANNEL_TYPE_DI;
    Ch diLow = di;
    diLow.bit = 1;
    Ch highByte{1, T | SIGNED, 4};
    highByte.byteSelect = 1;
    Ch byteAreaSelect{1, M, 10};
    byteAreaSelect.byteSelect = 1;   // no high byte in a byte area
    Plan({{1, T | WORD | SIGNED, 3}, // 0
          {1, T | WORD, 3},          // 1
          di,                        // 2: bit 9 is bit 1 of the high byte
          diLow,                     // 3: bit 1 of the low byte
          highByte,                  // 4
          {1, T, 4},                 // 5: low byte, unsigned
          {1, M | WORD, 7},          // 6: low byte at 7, high byte at 8
          byteAreaSelect,            // 7
          {1, M | SIGNED, 11}});     // 8
    ASSERT_EQ(2, list.count);
    PutWord(0, 0, 0xFE01); // T 3
    PutWord(0, 2, 0x80FF); // T 4
    uint8_t *m = list.blocks[1].data;
    m[0] = 0x34;
    m[1] = 0x12;
    m[3] = 0xAB;
    m[4] = 0x85;
    list.blocks[0].status = list.blocks[1].status = S5_BLOCK_DONE;
    Convert();
    EXPECT_EQ(static_cast<int16_t>(0xFE01), values[0]);
    EXPECT_EQ(0xFE01, values[1]);
    EXPECT_EQ(1u, statuses[2] & S5_STATUS_STATE);
    EXPECT_EQ(0u, statuses[2] & S5_STATUS_BAD);
    EXPECT_EQ(0u, statuses[3] & S5_STATUS_STATE);
    EXPECT_EQ(-128, values[4]);
    EXPECT_EQ(255, values[5]);
    EXPECT_EQ(0x1234, values[6]);
    EXPECT_EQ(0xAB, values[7]);
    EXPECT_EQ(-123, values[8]);
    for (uint32_t s : statuses)
        EXPECT_EQ(0u, s & S5_STATUS_BAD);
}

TEST_F(PollTest, ChannelsOfFailedOrUnplannedBlocksAreBad) {
    Ch disabled{1, T | WORD, 3};
    disabled.enabled = false;
    Plan({{1, T | WORD, 3}, {1, M, 0}, disabled, {1, 11, 0}});
    statuses.assign(4, 0);
    list.blocks[0].status = S5_BLOCK_DONE;
    list.blocks[1].status = S5_BLOCK_FAILED;
    Convert();
    EXPECT_EQ(0u, statuses[0]);
    EXPECT_EQ(S5_STATUS_BAD, statuses[1]);
    EXPECT_EQ(-1.0f, values[1]);           // keeps its last value
    EXPECT_EQ(0u, statuses[2]);            // disabled: left to the frame
    EXPECT_EQ(S5_STATUS_BAD, statuses[3]); // enabled but not servable
}

TEST_F(PollTest, StationThatTimesOutIsSkippedForTheRestOfThePass) {
    // Blocks in order: station 1 M0, station 2 M0, station 1 D1/0.
    Plan({{1, M, 0}, {2, M, 0}, {1, D | WORD, Db(1, 0)}});
    NoAnswer(port);
    Exchange(port, Fetch('M', 0, 1), "00 00 00 00 2a");
    EXPECT_EQ(1, s5_PollBlocks(list));
    EXPECT_EQ(S5_BLOCK_FAILED, list.blocks[0].status);
    EXPECT_EQ(S5_BLOCK_DONE, list.blocks[1].status);
    EXPECT_EQ(S5_BLOCK_FAILED, list.blocks[2].status);
    EXPECT_STREQ("F0: TIMEOUT", scan_FindStationText(1));
    Convert();
    EXPECT_EQ(S5_STATUS_BAD, statuses[0]);
    EXPECT_EQ(0u, statuses[1]);
    EXPECT_EQ(42, values[1]);
    EXPECT_EQ(S5_STATUS_BAD, statuses[2]); // skipped: not last pass's data
    ASSERT_TRUE(port.Consumed()) << port.Remaining();

    // The next pass asks every block again; a success at the failed address clears the text.
    Exchange(port, Fetch('M', 0, 1), "00 00 00 00 01");
    Exchange(port, Fetch('M', 0, 1), "00 00 00 00 02");
    Exchange(port, Fetch('D', Db(1, 0), 1), "00 00 00 00 12 34");
    EXPECT_EQ(3, s5_PollBlocks(list));
    EXPECT_STREQ("", scan_FindStationText(1));
    Convert();
    EXPECT_EQ((std::vector<float>{1, 2, 0x1234}), values);
}

TEST_F(PollTest, ControllerErrorFailsOnlyItsBlock) {
    Plan({{1, M, 0}, {1, M, 500}});
    Exchange(port, Fetch('M', 0, 1), "00 00 00 0a");
    Exchange(port, Fetch('M', 500, 1), "00 00 00 00 07");
    EXPECT_EQ(1, s5_PollBlocks(list));
    EXPECT_STREQ("F0: S5 3964R 0xa", scan_FindStationText(1));
    Convert();
    EXPECT_EQ(S5_STATUS_BAD, statuses[0]);
    EXPECT_EQ(7, values[1]);
}

TEST_F(PollTest, ScanHandlersOfInputKindsPollAndConvert) {
    Ch di{1, M | BIT, 0, 2};
    di.channelType = CHANNEL_TYPE_DI;
    records = Records({di});
    ASSERT_EQ(0, s5_DriverEntryTable.init[S5_KIND_DI](nullptr, 1, records.data()));
    Exchange(port, Fetch('M', 0, 1), "00 00 00 00 04");
    uint32_t status = S5_STATUS_BAD;
    // Digital kinds have no value array.
    EXPECT_EQ(0,
              s5_DriverEntryTable.scan[S5_KIND_DI](nullptr, 1, records.data(), &status, nullptr));
    EXPECT_EQ(S5_STATUS_STATE, status);
    // A failed request is no failure of the handler.
    NoAnswer(port);
    EXPECT_EQ(0,
              s5_DriverEntryTable.scan[S5_KIND_DI](nullptr, 1, records.data(), &status, nullptr));
    EXPECT_EQ(S5_STATUS_BAD | S5_STATUS_STATE, status);
}

} // namespace
