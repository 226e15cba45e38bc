#include "plat_event.h"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {
struct Events {
    explicit Events(int n, bool signalled = false) {
        for (int i = 0; i < n; ++i)
            fds.push_back(plat_EventCreate(signalled));
    }
    ~Events() {
        for (int fd : fds)
            plat_EventDestroy(fd);
    }
    std::vector<int> fds;
};
} // namespace

TEST(PlatEvent, ManualResetEventStaysSignalledUntilReset) {
    Events e(1);
    EXPECT_FALSE(plat_EventIsSet(e.fds[0]));
    ASSERT_EQ(plat_EventSet(e.fds[0]), 0);
    ASSERT_EQ(plat_EventSet(e.fds[0]), 0);
    EXPECT_EQ(plat_WaitAny(e.fds.data(), 1, 0), 0);
    EXPECT_EQ(plat_WaitAny(e.fds.data(), 1, 0), 0);
    ASSERT_EQ(plat_EventReset(e.fds[0]), 0);
    EXPECT_FALSE(plat_EventIsSet(e.fds[0]));
    Events s(1, true);
    EXPECT_TRUE(plat_EventIsSet(s.fds[0]));
}

TEST(PlatEvent, WaitReportsTheLowestSignalledIndex) {
    Events e(4);
    plat_EventSet(e.fds[3]);
    plat_EventSet(e.fds[2]);
    EXPECT_EQ(plat_WaitAny(e.fds.data(), 4, 1000), 2);
}

TEST(PlatEvent, WaitTimesOutAfterItsTimeOnTheMonotonicClock) {
    Events e(2);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(plat_WaitAny(e.fds.data(), 2, 50), PLAT_WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST(PlatEvent, WaitWithoutLimitReturnsOnASetFromAnotherThread) {
    Events e(1);
    std::thread setter([&] { plat_EventSet(e.fds[0]); });
    EXPECT_EQ(plat_WaitAny(e.fds.data(), 1, 0), 0);
    setter.join();
}

TEST(PlatEvent, WaitTakesAtMostTenHandles) {
    Events e(11, true);
    EXPECT_EQ(plat_WaitAny(e.fds.data(), 10, 0), 0);
    EXPECT_EQ(plat_WaitAny(e.fds.data(), 11, 0), -1);
    EXPECT_EQ(errno, 87);
    EXPECT_EQ(plat_WaitAny(e.fds.data(), 0, 0), -1);
}

namespace {
std::vector<uint32_t> sleptTimes;
void recordSleep(uint32_t ms) {
    sleptTimes.push_back(ms);
}
} // namespace

TEST(PlatSleep, AHookRecordsThePauseInsteadOfWaiting) {
    sleptTimes.clear();
    ASSERT_EQ(plat_SetSleepHook(recordSleep), nullptr);
    auto start = std::chrono::steady_clock::now();
    plat_SleepMs(5000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(sleptTimes, (std::vector<uint32_t>{5000}));
    EXPECT_EQ(plat_SetSleepHook(nullptr), recordSleep);
    plat_SleepMs(1);
    EXPECT_EQ(sleptTimes.size(), 1u);
}
