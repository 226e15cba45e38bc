#include "ts.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>

namespace {

SystemTime local(int y, int mo, int d, int h, int mi, int s, int ms) {
    SystemTime st{};
    st.year = y;
    st.month = mo;
    st.day = d;
    st.hour = h;
    st.minute = mi;
    st.second = s;
    st.milliseconds = ms;
    return st;
}

TimeStamp stamp(int y, int mo, int d, int h, int mi, int s, int ms) {
    return ts_FromSystemTime(local(y, mo, d, h, mi, s, ms));
}

TimeStamp at(int32_t seconds, int16_t ms) {
    return TimeStamp{seconds, ms, 0};
}

// Every stamp built with a fixed zone, so that nothing depends on the machine's.
class TimeStampTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "Europe/Berlin", 1);
        ts_SetTimeZone();
    }
    void TearDown() override { plat_ClearFakeClock(); }
};

TEST_F(TimeStampTest, ConvertsLocalDateCountingLeapYears) {
    TimeStamp t = stamp(2000, 2, 29, 12, 0, 0, 250);
    EXPECT_EQ(t.seconds, 951825600);
    EXPECT_EQ(t.milliseconds, 250);
    EXPECT_EQ(t.padding, 0);

    EXPECT_EQ(ts_DaysInMonth(2000, 2), 29);
    EXPECT_EQ(ts_DaysInMonth(1900, 2), 28);
    EXPECT_EQ(ts_DaysInMonth(2024, 2), 29);
    EXPECT_EQ(ts_DaysInMonth(2023, 2), 28);
    EXPECT_EQ(ts_DaysInMonth(2023, 12), 31);
    EXPECT_EQ(ts_DaysInMonth(2023, 0), 0);
    EXPECT_EQ(ts_DaysInMonth(2023, 13), 0);

    EXPECT_EQ(stamp(1970, 1, 1, 0, 0, 0, 0).seconds, 0);
    // Matches timegm of the same date for a spread of dates.
    for (int year : {1971, 1999, 2000, 2001, 2024, 2037}) {
        struct tm tm {};
        tm.tm_year = year - 1900;
        tm.tm_mon = 11;
        tm.tm_mday = 31;
        tm.tm_hour = 23;
        tm.tm_min = 59;
        tm.tm_sec = 58;
        EXPECT_EQ(stamp(year, 12, 31, 23, 59, 58, 0).seconds, static_cast<int32_t>(timegm(&tm)))
            << year;
    }
}

TEST_F(TimeStampTest, OutOfRangeMonthAddsNoDaysBeyondTheYear) {
    // A month of 13 counts only the twelve real months.
    EXPECT_EQ(stamp(2001, 13, 1, 0, 0, 0, 0).seconds, stamp(2002, 1, 1, 0, 0, 0, 0).seconds);
}

TEST_F(TimeStampTest, NowFollowsTheLocalWallClockAcrossDaylightSaving) {
    // 2024-03-31 00:59:59.500 UTC is 01:59:59.500 CET; one second later it is 03:00:00.500 CEST.
    plat_SetFakeClock(1711846799500LL);
    TimeStamp before{};
    TimeStamp returned = ts_Now(&before);
    EXPECT_EQ(before.seconds, returned.seconds);
    EXPECT_EQ(before.seconds, stamp(2024, 3, 31, 1, 59, 59, 0).seconds);
    EXPECT_EQ(before.milliseconds, 500);

    plat_AdvanceFakeClock(1000);
    TimeStamp after = ts_Now();
    EXPECT_EQ(after.seconds, stamp(2024, 3, 31, 3, 0, 0, 0).seconds);
    // The wall clock jumped an hour; a duration taken from it jumps too.
    EXPECT_EQ(ts_DiffMs(after, before), 3601000);

    // Autumn: 2024-10-27 00:59:59 UTC is 02:59:59 CEST; a second later it is 02:00:00 CET.
    plat_SetFakeClock(1729990799000LL);
    TimeStamp summer = ts_Now();
    plat_AdvanceFakeClock(1000);
    TimeStamp winter = ts_Now();
    EXPECT_EQ(ts_DiffMs(winter, summer), -3599000);
    EXPECT_LT(ts_CompareStamps(winter, summer), 0);
}

TEST_F(TimeStampTest, FixedLocalTimeIsReturnedUnchanged) {
    plat_SetFixedLocalTime(local(2030, 6, 15, 8, 30, 0, 999));
    TimeStamp t = ts_Now();
    EXPECT_EQ(t.seconds, stamp(2030, 6, 15, 8, 30, 0, 0).seconds);
    EXPECT_EQ(t.milliseconds, 999);
}

TEST_F(TimeStampTest, RealClockIsLocalTime) {
    struct timespec real;
    clock_gettime(CLOCK_REALTIME, &real);
    struct tm tm {};
    time_t now = real.tv_sec;
    localtime_r(&now, &tm);
    TimeStamp t = ts_Now();
    int64_t expected = static_cast<int64_t>(timegm(&tm));
    EXPECT_LE(std::llabs(t.seconds - expected), 2);
    EXPECT_GE(t.milliseconds, 0);
    EXPECT_LE(t.milliseconds, 999);
}

TEST_F(TimeStampTest, DifferencesAndComparison) {
    EXPECT_EQ(ts_DiffMs(at(5, 100), at(4, 900)), 200);
    EXPECT_EQ(ts_DiffMs(at(4, 900), at(5, 100)), -200);
    // Beyond 24.8 days the difference saturates instead of changing sign.
    EXPECT_EQ(ts_DiffMs(at(INT32_MAX, 0), at(0, 0)), INT32_MAX);
    EXPECT_EQ(ts_DiffMs(at(0, 0), at(30 * 86400, 0)), INT32_MIN);

    EXPECT_EQ(ts_CompareStamps(at(10, 0), at(7, 999)), 3);
    EXPECT_EQ(ts_CompareStamps(at(7, 250), at(7, 900)), -650);
    EXPECT_EQ(ts_CompareStamps(at(7, 250), at(7, 250)), 0);

    PreciseTimeStamp a{10, 1, 2};
    PreciseTimeStamp b{9, 999, 999};
    EXPECT_EQ(ts_DiffUs(a, b), 1003);
    PreciseTimeStamp far{2000000000, 0, 0};
    PreciseTimeStamp zero{0, 0, 0};
    EXPECT_EQ(ts_DiffUs(far, zero), 2000000000LL * 1000000);

    PreciseTimeStamp p = ts_SplitMicroseconds(SecondsMicros{42, 123456});
    EXPECT_EQ(p.seconds, 42);
    EXPECT_EQ(p.milliseconds, 123);
    EXPECT_EQ(p.microseconds, 456);
    p = ts_SplitMicroseconds(SecondsMicros{42, 1000001});
    EXPECT_EQ(p.seconds, 43);
    EXPECT_EQ(p.milliseconds, 0);
    EXPECT_EQ(p.microseconds, 1);
}

TEST_F(TimeStampTest, AddMsCarriesAndBorrowsSeconds) {
    TimeStamp t = at(100, 900);
    ts_AddMs(&t, 250);
    EXPECT_EQ(t.seconds, 101);
    EXPECT_EQ(t.milliseconds, 150);
    ts_AddMs(&t, 3600000);
    EXPECT_EQ(t.seconds, 3701);
    EXPECT_EQ(t.milliseconds, 150);
    ts_AddMs(&t, -200);
    EXPECT_EQ(t.seconds, 3700);
    EXPECT_EQ(t.milliseconds, 950);
    ts_AddMs(&t, -3700950);
    EXPECT_EQ(t.seconds, 0);
    EXPECT_EQ(t.milliseconds, 0);
}

TEST_F(TimeStampTest, NextBoundaryUpToAMinuteLandsOnMultiplesSinceMidnight) {
    TimeStamp t = stamp(2024, 5, 6, 10, 0, 59, 900);
    TimeStamp r = ts_NextBoundary(t, 1000);
    EXPECT_EQ(r.seconds, stamp(2024, 5, 6, 10, 1, 0, 0).seconds);
    EXPECT_EQ(r.milliseconds, 0);

    r = ts_NextBoundary(stamp(2024, 5, 6, 10, 0, 7, 1), 250);
    EXPECT_EQ(r.seconds, stamp(2024, 5, 6, 10, 0, 7, 0).seconds);
    EXPECT_EQ(r.milliseconds, 250);

    // Exactly on a boundary: the next one.
    r = ts_NextBoundary(stamp(2024, 5, 6, 10, 0, 10, 0), 5000);
    EXPECT_EQ(r.seconds, stamp(2024, 5, 6, 10, 0, 15, 0).seconds);

    // An interval of exactly 60 s lands on the next whole minute.
    r = ts_NextBoundary(stamp(2024, 5, 6, 10, 0, 0, 0), 60000);
    EXPECT_EQ(r.seconds, stamp(2024, 5, 6, 10, 1, 0, 0).seconds);

    // 7 s does not divide a minute: still counted from midnight, not from the hour.
    r = ts_NextBoundary(stamp(2024, 5, 6, 0, 1, 0, 0), 7000);
    EXPECT_EQ(r.seconds, stamp(2024, 5, 6, 0, 1, 3, 0).seconds);
}

TEST_F(TimeStampTest, NextBoundaryAboveAMinuteLandsOnAWholeMinute) {
    TimeStamp r = ts_NextBoundary(stamp(2024, 5, 6, 10, 0, 59, 900), 90000);
    EXPECT_EQ(r.seconds, stamp(2024, 5, 6, 10, 2, 0, 0).seconds);
    EXPECT_EQ(r.milliseconds, 0);

    // Past midnight into the next day, and intervals that overflowed 32-bit arithmetic.
    r = ts_NextBoundary(stamp(2024, 5, 6, 23, 59, 30, 0), 120000);
    EXPECT_EQ(r.seconds, stamp(2024, 5, 7, 0, 1, 0, 0).seconds);
    r = ts_NextBoundary(stamp(2024, 5, 6, 23, 0, 0, 0), 86400000);
    EXPECT_EQ(r.seconds, stamp(2024, 5, 7, 23, 0, 0, 0).seconds);
    r = ts_NextBoundary(stamp(2024, 5, 6, 12, 0, 0, 0), INT32_MAX);
    EXPECT_EQ(r.seconds, stamp(2024, 5, 6, 12, 0, 0, 0).seconds + 2147460);
}

TEST_F(TimeStampTest, NonPositiveIntervalLeavesTheStamp) {
    TimeStamp t = at(1000, 300);
    for (int32_t interval : {0, -1, -60000}) {
        EXPECT_EQ(ts_NextBoundary(t, interval).seconds, 1000);
        EXPECT_EQ(ts_NextBoundary(t, interval).milliseconds, 300);
        EXPECT_EQ(ts_AlignToInterval(t, at(0, 0), interval).seconds, 1000);
        EXPECT_EQ(ts_AlignToInterval(t, at(0, 0), interval).milliseconds, 300);
    }
}

TEST_F(TimeStampTest, AlignToIntervalMovesToTheNextGridPoint) {
    TimeStamp start = at(1000, 700);
    TimeStamp t = start;
    ts_AddMs(&t, 2500);
    TimeStamp r = ts_AlignToInterval(t, start, 1000);
    EXPECT_EQ(ts_DiffMs(r, start), 3000);

    t = start;
    ts_AddMs(&t, 3000);
    r = ts_AlignToInterval(t, start, 1000);
    EXPECT_EQ(ts_DiffMs(r, start), 4000);

    // Before the start: one interval on, not on the grid.
    r = ts_AlignToInterval(at(900, 0), start, 1000);
    EXPECT_EQ(r.seconds, 901);
    EXPECT_EQ(r.milliseconds, 0);
}

TEST_F(TimeStampTest, AlignToIntervalHandlesSaveRatesAboveThirtySixMinutes) {
    TimeStamp zero{};
    TimeStamp t = stamp(2024, 10, 27, 14, 23, 5, 120);
    TimeStamp r = ts_AlignToInterval(t, zero, 3600000);
    EXPECT_EQ(r.seconds, stamp(2024, 10, 27, 15, 0, 0, 0).seconds);
    EXPECT_EQ(r.milliseconds, 0);

    r = ts_AlignToInterval(stamp(2024, 10, 27, 15, 0, 0, 0), zero, 3600000);
    EXPECT_EQ(r.seconds, stamp(2024, 10, 27, 16, 0, 0, 0).seconds);

    // Twelve hours from midnight; a day; the largest interval.
    r = ts_AlignToInterval(t, zero, 12 * 3600000);
    EXPECT_EQ(r.seconds, stamp(2024, 10, 28, 0, 0, 0, 0).seconds);
    r = ts_AlignToInterval(t, zero, 86400000);
    EXPECT_EQ(r.seconds, stamp(2024, 10, 28, 0, 0, 0, 0).seconds);
    r = ts_AlignToInterval(t, zero, INT32_MAX);
    int64_t since = static_cast<int64_t>(t.seconds) * 1000 + t.milliseconds;
    int64_t expected = (since / INT32_MAX + 1) * static_cast<int64_t>(INT32_MAX);
    EXPECT_EQ(static_cast<int64_t>(r.seconds) * 1000 + r.milliseconds, expected);

    // 37 minutes, with milliseconds below the start's.
    TimeStamp start = at(600, 999);
    TimeStamp u = at(600 + 37 * 60 * 3 + 10, 5);
    r = ts_AlignToInterval(u, start, 37 * 60000);
    EXPECT_EQ(ts_DiffMs(r, start), 4 * 37 * 60000);
}

// Stored times are unsigned: the top half of the 32-bit range lies after 2038, not before 1970.
TEST_F(TimeStampTest, GmTimeBreaksDownTimesAfter2038) {
    struct tm t = ts_GmTime(0);
    EXPECT_EQ(70, t.tm_year);
    EXPECT_EQ(1, t.tm_mday);

    t = ts_GmTime(1715934600u); // 2024-05-17 08:30:00
    EXPECT_EQ(124, t.tm_year);
    EXPECT_EQ(4, t.tm_mon);
    EXPECT_EQ(17, t.tm_mday);
    EXPECT_EQ(8, t.tm_hour);
    EXPECT_EQ(30, t.tm_min);

    t = ts_GmTime(0x80000000u); // one past INT32_MAX: 2038-01-19 03:14:08
    EXPECT_EQ(138, t.tm_year);
    EXPECT_EQ(0, t.tm_mon);
    EXPECT_EQ(19, t.tm_mday);
    EXPECT_EQ(3, t.tm_hour);
    EXPECT_EQ(14, t.tm_min);
    EXPECT_EQ(8, t.tm_sec);

    t = ts_GmTime(0xFFFFFFFFu); // 2106-02-07 06:28:15
    EXPECT_EQ(206, t.tm_year);
    EXPECT_EQ(1, t.tm_mon);
    EXPECT_EQ(7, t.tm_mday);
    EXPECT_EQ(6, t.tm_hour);
    EXPECT_EQ(28, t.tm_min);
    EXPECT_EQ(15, t.tm_sec);
}

} // namespace
