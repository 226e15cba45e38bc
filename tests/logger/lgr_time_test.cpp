// Calendar helpers of the logger files: normalising broken-down times, days of a month and the
// age limits of a deletion.
#include "lfile.h"
#include "lgr.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {
struct tm fields(int year, int mon, int mday, int hour, int min, int sec) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = mon - 1;
    t.tm_mday = mday;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    return t;
}
} // namespace

TEST(LoggerTime, NormaliseCarriesBothWaysInSixtyFourBits) {
    struct tm t = fields(2024, 2, 28, 23, 59, 61); // a leap year: 61 s carry into Feb 29
    EXPECT_EQ(lfile_NormalizeTm(&t), 1709164801);  // 2024-02-29 00:00:01
    EXPECT_EQ(t.tm_mday, 29);
    EXPECT_EQ(t.tm_mon, 1);
    EXPECT_EQ(t.tm_wday, 4);
    EXPECT_EQ(t.tm_yday, 59);

    t = fields(2023, 2, 28, 24, 0, 0); // no Feb 29 in 2023 (nor in 1900; 2000 has one)
    lfile_NormalizeTm(&t);
    EXPECT_EQ(t.tm_mon, 2);
    EXPECT_EQ(t.tm_mday, 1);
    t = fields(1900, 3, 0, 0, 0, 0);
    lfile_NormalizeTm(&t);
    EXPECT_EQ(t.tm_mday, 28);
    t = fields(2000, 3, 0, 0, 0, 0);
    lfile_NormalizeTm(&t);
    EXPECT_EQ(t.tm_mday, 29);

    t = fields(2024, 1, 1, 0, -1, 0); // backwards across a year
    EXPECT_EQ(lfile_NormalizeTm(&t), 1704067140);
    EXPECT_EQ(t.tm_year, 123);
    EXPECT_EQ(t.tm_mon, 11);
    EXPECT_EQ(t.tm_mday, 31);

    t = fields(1970, 1, 1, 0, 0, 0);
    t.tm_sec = INT32_MAX;
    t.tm_min = INT32_MAX; // would overflow a 32-bit sum
    EXPECT_EQ(lfile_NormalizeTm(&t), int64_t{INT32_MAX} + int64_t{INT32_MAX} * 60);
    t = fields(1969, 12, 31, 23, 59, 59);
    EXPECT_EQ(lfile_NormalizeTm(&t), -1);
}

TEST(LoggerTime, DaysInMonthCarriesTheMonthIntoTheYear) {
    struct tm t = fields(2024, 2, 1, 0, 0, 0);
    EXPECT_EQ(lgr_DaysInMonth(&t), 29);
    t.tm_mon = 13; // February 2025
    EXPECT_EQ(lgr_DaysInMonth(&t), 28);
    t.tm_mon = -11; // February 2023
    EXPECT_EQ(lgr_DaysInMonth(&t), 28);
    t.tm_mon = -1; // December 2023
    EXPECT_EQ(lgr_DaysInMonth(&t), 31);
    t = fields(2000, 2, 1, 0, 0, 0);
    EXPECT_EQ(lgr_DaysInMonth(&t), 29);
}

TEST(LoggerTime, SubtractPeriodKeepsMillisecondsAndClamps) {
    TimeStamp now = {1709164801, 250, 0}; // 2024-02-29 00:00:01
    const uint8_t oneDay[6] = {0, 0, 1, 0, 0, 0};
    TimeStamp r = lgr_SubtractPeriod(now, oneDay);
    EXPECT_EQ(r.seconds, 1709164801 - 86400);
    EXPECT_EQ(r.milliseconds, 250);
    const uint8_t oneYear[6] = {1, 0, 0, 0, 0, 0}; // Feb 29 2023 is Mar 1
    EXPECT_EQ(lgr_SubtractPeriod(now, oneYear).seconds, 1677628801);
    const uint8_t mixed[6] = {0, 1, 2, 3, 4, 5};
    EXPECT_EQ(lgr_SubtractPeriod(now, mixed).seconds, 1706302556); // 2024-01-26 20:55:56

    const uint8_t forever[6] = {255, 0, 0, 0, 0, 0};
    EXPECT_EQ(lgr_SubtractPeriod(now, forever).seconds, 0);
    // Seconds are read as uint32: a stamp after 2038 stays after it.
    TimeStamp late = {static_cast<int32_t>(0xF0000000u), 0, 0};
    EXPECT_EQ(static_cast<uint32_t>(lgr_SubtractPeriod(late, oneDay).seconds), 0xF0000000u - 86400);
}
