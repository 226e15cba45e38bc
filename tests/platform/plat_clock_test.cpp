#include "plat_clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {

class PlatClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "Europe/Berlin", 1);
        plat_SetTimeZone();
    }
    void TearDown() override { plat_ClearFakeClock(); }
};

TEST_F(PlatClockTest, BreaksAnInstantDownInTheLocalZone) {
    // 2024-07-01 10:00:00.042 UTC is noon in summer time.
    PlatLocalTime t = plat_LocalTimeFromUnixMs(1719828000042LL);
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 7);
    EXPECT_EQ(t.day, 1);
    EXPECT_EQ(t.dayOfWeek, 1);
    EXPECT_EQ(t.hour, 12);
    EXPECT_EQ(t.minute, 0);
    EXPECT_EQ(t.second, 0);
    EXPECT_EQ(t.milliseconds, 42);

    // Before 1970 the milliseconds still count forward within their second.
    t = plat_LocalTimeFromUnixMs(-1);
    EXPECT_EQ(t.year, 1970);
    EXPECT_EQ(t.hour, 0); // 23:59:59.999 UTC is 00:59:59.999 CET
    EXPECT_EQ(t.second, 59);
    EXPECT_EQ(t.milliseconds, 999);
}

TEST_F(PlatClockTest, ZoneChangeTakesEffectAfterSetTimeZone) {
    setenv("TZ", "UTC", 1);
    plat_SetTimeZone();
    EXPECT_EQ(plat_LocalTimeFromUnixMs(1719828000042LL).hour, 10);
}

TEST_F(PlatClockTest, FakeClockReplacesTheRealOneUntilCleared) {
    plat_SetFakeClock(1719828000000LL);
    EXPECT_EQ(plat_UnixMs(), 1719828000000LL);
    EXPECT_EQ(plat_GetLocalTime().hour, 12);
    plat_AdvanceFakeClock(3600500);
    EXPECT_EQ(plat_GetLocalTime().hour, 13);
    EXPECT_EQ(plat_GetLocalTime().milliseconds, 500);

    PlatLocalTime fixed{2031, 2, 0, 3, 4, 5, 6, 7};
    plat_SetFixedLocalTime(fixed);
    PlatLocalTime got = plat_GetLocalTime();
    EXPECT_EQ(got.year, 2031);
    EXPECT_EQ(got.second, 6);
    EXPECT_EQ(got.milliseconds, 7);

    plat_ClearFakeClock();
    EXPECT_GT(plat_UnixMs(), 1719828000000LL);
}

TEST_F(PlatClockTest, FakeClockIsReadSafelyFromAnotherThread) {
    plat_SetFakeClock(0);
    std::thread reader([] {
        for (int i = 0; i < 10000; ++i)
            ASSERT_GE(plat_UnixMs(), 0);
    });
    for (int i = 0; i < 10000; ++i)
        plat_AdvanceFakeClock(1);
    reader.join();
    EXPECT_EQ(plat_UnixMs(), 10000);
}

} // namespace

TEST(PlatTick, CountsMonotonicMillisecondsAndTakesAFakeThatWraps) {
    uint32_t a = plat_TickCount();
    uint32_t b = plat_TickCount();
    EXPECT_LT(static_cast<uint32_t>(b - a), 1000u);
    plat_SetFakeTick(0xFFFFFF00u);
    EXPECT_EQ(plat_TickCount(), 0xFFFFFF00u);
    plat_AdvanceFakeTick(0x200);
    EXPECT_EQ(plat_TickCount(), 0x100u);
    plat_ClearFakeClock();
    EXPECT_LT(static_cast<uint32_t>(plat_TickCount() - b), 60000u);
}
