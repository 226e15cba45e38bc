#include "station.h"

#include "plat_clock.h"
#include "s5area.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_shown;

void Capture(const char *text) {
    g_shown.push_back(text);
}

class StationTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        plat_SetTimeZone();
        plat_SetFakeClock(1700000000000LL);
        scan_ResetStations();
        g_shown.clear();
        previous_ = scan_SetStationReportSink(Capture);
    }
    void TearDown() override {
        scan_SetStationReportSink(previous_);
        scan_ResetStations();
        plat_ClearFakeClock();
    }
    // Records the outcome of a request of one element.
    void Request(uint8_t station, S5Area area, uint16_t start, uint32_t status) {
        S5RequestBlock b;
        b.station = station;
        b.type = area;
        b.start = start;
        b.count = 1;
        b.status = status;
        scan_RecordRequestStatus(&b);
    }
    std::string Text(uint8_t station) { return scan_FindStationText(station); }

    StationReportSink previous_ = nullptr;
};

TEST(S5Address, TextsPerArea) {
    EXPECT_EQ("DB12DW0", s5_FormatAddress(0x0C00, S5_AREA_D));
    EXPECT_EQ("DB3DW255", s5_FormatAddress(0x03FF, S5_AREA_X));
    EXPECT_EQ("I4", s5_FormatAddress(4, S5_AREA_E));
    EXPECT_EQ("O65535", s5_FormatAddress(65535, S5_AREA_A));
    EXPECT_EQ("EIO1", s5_FormatAddress(1, S5_AREA_Q));
    EXPECT_EQ("F7", s5_FormatAddress(7, S5_AREA_M));
    EXPECT_EQ("ABSADDR2", s5_FormatAddress(2, S5_AREA_S));
    EXPECT_EQ("ERR2", s5_FormatAddress(2, 11));
}

TEST_F(StationTest, UnknownStationsCountAsFailedAndKeepNoText) {
    EXPECT_EQ(1, scan_IsStationFailed(3));
    EXPECT_EQ(nullptr, scan_FindStationText(3));
    S5RequestBlock b;
    b.station = 3;
    EXPECT_EQ(0, scan_RecordRequestStatus(&b));

    scan_AddStation(3);
    EXPECT_EQ(0, scan_IsStationFailed(3));
    EXPECT_EQ("", Text(3));
}

TEST_F(StationTest, TimeOutMarksTheStationFailedUntilTheNextPass) {
    scan_AddStation(3);
    Request(3, S5_AREA_D, 0x0C00, 0x1000001);
    EXPECT_EQ("DB12DW0: TIMEOUT", Text(3));
    EXPECT_EQ(1, scan_IsStationFailed(3));
    scan_ClearStationFailures();
    EXPECT_EQ(0, scan_IsStationFailed(3));
    EXPECT_EQ("DB12DW0: TIMEOUT", Text(3));
}

TEST_F(StationTest, TextsNameTheCodeSpace) {
    scan_AddStation(1);
    Request(1, S5_AREA_E, 4, 0x200000A);
    EXPECT_EQ("I4: S5 3964R 0xa", Text(1));
    EXPECT_EQ(0, scan_IsStationFailed(1)); // only a time-out fails the station
    Request(1, S5_AREA_M, 7, 0x1000004);
    EXPECT_EQ("F7: Data Link 0x4", Text(1));
    Request(1, S5_AREA_M, 7, 121);
    EXPECT_EQ("F7: Win32 0x79", Text(1));
}

TEST_F(StationTest, LongTextsAreCutTo29Characters) {
    scan_AddStation(1);
    Request(1, S5_AREA_D, 0xFFFF, 0x1FFFFFF);
    EXPECT_EQ(std::string("DB255DW255: Data Link 0xffffff").substr(0, 29), Text(1));
}

TEST_F(StationTest, OnlyASuccessAtTheFailedAddressClearsTheText) {
    scan_AddStation(3);
    Request(3, S5_AREA_D, 0x0C00, 0x1000001);
    Request(3, S5_AREA_D, 0x0C10, 0);
    EXPECT_EQ("DB12DW0: TIMEOUT", Text(3));
    Request(3, S5_AREA_D, 0x0C00, 0);
    EXPECT_EQ("", Text(3));
}

TEST_F(StationTest, ReportAlternatesEveryTenSecondsAndClearsWhenAllWell) {
    scan_AddStation(1);
    scan_AddStation(2);
    ASSERT_EQ(1, scan_BuildStationReport());
    Request(1, S5_AREA_E, 4, 0x1000001);
    Request(2, S5_AREA_M, 7, 0x200000A);

    scan_ReportStationTexts(); // the first text goes up at once
    plat_AdvanceFakeClock(9000);
    scan_ReportStationTexts(); // too early
    plat_AdvanceFakeClock(1000);
    scan_ReportStationTexts();
    plat_AdvanceFakeClock(10000);
    scan_ReportStationTexts();
    EXPECT_EQ((std::vector<std::string>{"I4: TIMEOUT", "F7: S5 3964R 0xa", "I4: TIMEOUT"}),
              g_shown);

    Request(1, S5_AREA_E, 4, 0);
    Request(2, S5_AREA_M, 7, 0);
    plat_AdvanceFakeClock(10000);
    scan_ReportStationTexts();
    EXPECT_EQ("", g_shown.back());
}

TEST_F(StationTest, OneFailingStationStaysUp) {
    scan_AddStation(1);
    scan_AddStation(2);
    scan_BuildStationReport();
    Request(2, S5_AREA_M, 7, 0x1000001);
    scan_ReportStationTexts();
    plat_AdvanceFakeClock(10000);
    scan_ReportStationTexts();
    EXPECT_EQ((std::vector<std::string>{"F7: TIMEOUT", "F7: TIMEOUT"}), g_shown);
}

TEST_F(StationTest, ClockSetBackMakesTheReportDueAtOnce) {
    scan_AddStation(1);
    scan_BuildStationReport();
    Request(1, S5_AREA_E, 4, 0x1000001);
    scan_ReportStationTexts();
    Request(1, S5_AREA_E, 4, 0);
    plat_AdvanceFakeClock(-3600 * 1000);
    scan_ReportStationTexts();
    EXPECT_EQ((std::vector<std::string>{"I4: TIMEOUT", ""}), g_shown);
}

TEST_F(StationTest, NothingIsReportedWithoutAList) {
    scan_AddStation(1);
    Request(1, S5_AREA_E, 4, 0x1000001);
    scan_ReportStationTexts();
    EXPECT_TRUE(g_shown.empty());
}

TEST_F(StationTest, BuildingTheReportEmptiesTheTexts) {
    scan_AddStation(1);
    Request(1, S5_AREA_E, 4, 0x1000001);
    scan_BuildStationReport();
    EXPECT_EQ("", Text(1));
}

TEST_F(StationTest, StationTextWithoutItsAddress) {
    scan_AddStation(5);
    Request(5, S5_AREA_D, 0x0C00, 0x1000001);
    S5ChannelAddress address{};
    address.station = 5;
    char out[30];
    scan_SetStationText(&address, out, sizeof out);
    EXPECT_STREQ("TIMEOUT", out);
}

} // namespace
