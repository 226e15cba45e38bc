#include "dmw.h"
#include "stch.h"
#include "table_fixture.h"

#include <gtest/gtest.h>

namespace {

class StatusChannels : public ::testing::Test, public TableFixtureBase {
protected:
    void SetUp() override {
        memcpy(slot_.typeName, "kstrn", 5);
        slot_.deviceNumber = 1;
    }
    void TearDown() override { stch_Shutdown(); }

    DeviceSlot slot_{};
};

TEST_F(StatusChannels, TwentyFiveChannelsServeTwoPorts) {
    makeTable("S1", 25, 8);
    stch_Init(&slot_, "S1");
    ASSERT_EQ(1, stch_IsActive());
    EXPECT_EQ("KSTRN_1_ST", tag_GetTag(*record("S1", 1)));
    EXPECT_EQ("KSTRN_1_STATUS", tag_GetDescription(*record("S1", 1)));
    EXPECT_EQ("KSTRN_1_001_TE", tag_GetTag(*record("S1", 20)));
    EXPECT_EQ("KSTRN_1_001_RECEIVE COMM ERRORS", tag_GetDescription(*record("S1", 16)));
    EXPECT_EQ(CHANNEL_TYPE_DO, chrec_GetType(*record("S1", 12)));
    EXPECT_EQ("RESET", chrec_GetText(*record("S1", 12), ChannelDigital::HighStateText));
    EXPECT_EQ(CHANNEL_TYPE_AO, chrec_GetType(*record("S1", 13)));
    EXPECT_EQ("BYTES", tag_GetUnits(*record("S1", 13)));
    EXPECT_EQ(1, chrec_TestFlag(*record("S1", 13), ChannelAnalog::Enable));
    for (int c = 21; c <= 25; ++c) {
        ChannelRecord zero{};
        EXPECT_EQ(0, memcmp(&zero, record("S1", c), sizeof zero)) << c;
    }
    // The slot is not yet running: port 0 shows disabled until the first count.
    EXPECT_EQ(0u, status("S1", 1) & 1u);
    stch_AddTxPackets(0, 1);
    EXPECT_EQ(1u, status("S1", 1) & 1u);
    EXPECT_EQ(1.0f, value("S1", 9));
}

TEST_F(StatusChannels, PortCountsAddToTheTotals) {
    slot_.deviceNumber = 0;
    makeTable("S1", 30, 8);
    stch_Init(&slot_, "S1");
    EXPECT_EQ("KSTRN_002_RB", tag_GetTag(*record("S1", 23)));
    EXPECT_EQ("KSTRN_RB", tag_GetTag(*record("S1", 3)));
    stch_AddRxBytes(2, 5);
    EXPECT_EQ(5.0f, value("S1", 23));
    EXPECT_EQ(5.0f, value("S1", 3));
    EXPECT_EQ(0.0f, value("S1", 13));
    EXPECT_EQ(1u, status("S1", 21) & 1u);

    // Outside the table: nothing counted.
    stch_AddRxBytes(3, 7);
    stch_AddCount(1, 7, 11);
    stch_AddCount(1, 7, 0);
    EXPECT_EQ(5.0f, value("S1", 3));
    EXPECT_EQ(0u, status("S1", 11) & 1u);
}

TEST_F(StatusChannels, OperatorResetZeroesThePortOnly) {
    makeTable("S1", 20, 8);
    stch_Init(&slot_, "S1");
    stch_AddRxBytes(1, 5);
    stch_AddRxCrcErrors(1, 2);
    uint32_t one = 1;
    ASSERT_EQ(0, dm_WriteDigital("S1", 12, 12, &one));
    stch_Update();
    EXPECT_EQ(0.0f, value("S1", 13));
    EXPECT_EQ(0.0f, value("S1", 17));
    EXPECT_EQ(0u, status("S1", 12) & 1u);
    EXPECT_EQ(5.0f, value("S1", 3)); // port 0's totals stay
    stch_Update();
    EXPECT_EQ(0u, status("S1", 11) & 1u); // its STATUS counter was zeroed too
}

TEST_F(StatusChannels, UnsuitableTablesStayInactive) {
    makeTable("S2", 20, 4); // not a status table
    stch_Init(&slot_, "S2");
    EXPECT_EQ(0, stch_IsActive());
    makeTable("S3", 9, 8); // less than one port
    stch_Init(&slot_, "S3");
    EXPECT_EQ(0, stch_IsActive());
    makeTable("S4", 20, 8, false, -216); // records of the second port missing
    stch_Init(&slot_, "S4");
    EXPECT_EQ(0, stch_IsActive());
    stch_Init(&slot_, "S9"); // no such table
    EXPECT_EQ(0, stch_IsActive());
    stch_AddRxBytes(0, 1); // inactive: ignored
}

TEST_F(StatusChannels, PortZeroNamesItsPortInItsStatusTexts) {
    // The sample module in the build's bin folder answers "<port> <baud>" from the slot.
    const char *bin = getenv("KVT_BUILD_BIN");
    ASSERT_NE(bin, nullptr);
    setenv("KVT_BIN", bin, 1);
    auto *bytes = reinterpret_cast<unsigned char *>(&slot_);
    memcpy(bytes + 64, "ttyS5", 5);
    uint32_t baud = 19200;
    memcpy(bytes + 72, &baud, sizeof baud);
    makeTable("S1", 20, 8);
    stch_Init(&slot_, "S1");
    unsetenv("KVT_BIN");
    ASSERT_EQ(1, stch_IsActive());
    EXPECT_EQ("ENABLED ttyS5 19200",
              chrec_GetText(*record("S1", 1), ChannelDigital::HighStateText));
    EXPECT_EQ("DISABLED ttyS5 19200",
              chrec_GetText(*record("S1", 1), ChannelDigital::LowStateText));
    EXPECT_EQ("ENABLED", chrec_GetText(*record("S1", 11), ChannelDigital::HighStateText));
    EXPECT_EQ("RESET", chrec_GetText(*record("S1", 2), ChannelDigital::HighStateText));
}

TEST_F(StatusChannels, ShutdownShowsEveryPortStoppedAndInitStartsAfresh) {
    slot_.running = 1;
    makeTable("S1", 20, 8);
    stch_Init(&slot_, "S1");
    EXPECT_EQ(1u, status("S1", 1) & 1u);
    stch_AddRxBytes(1, 3);
    stch_Init(&slot_, "S1"); // reconfiguration: counters from 0
    EXPECT_EQ(0.0f, value("S1", 13));
    stch_AddRxBytes(1, 3);
    stch_Shutdown();
    EXPECT_EQ(0, stch_IsActive());
    EXPECT_EQ(0u, status("S1", 1) & 1u);
    EXPECT_EQ(0u, status("S1", 11) & 1u);
}

} // namespace
