#include "shm.h"

#include "msl.h"
#include "plat_system.h"

#include "ipc_prefix.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
UniqueIpcPrefix g_prefix("shmntf");

std::mutex g_codesLock;
std::vector<int> g_codes;

void record(int code) {
    std::lock_guard<std::mutex> guard(g_codesLock);
    g_codes.push_back(code);
}

std::vector<int> takeCodes() {
    std::lock_guard<std::mutex> guard(g_codesLock);
    std::vector<int> c;
    c.swap(g_codes);
    return c;
}

template <typename T>
T word(const void *base, int offset) {
    T v;
    memcpy(&v, static_cast<const uint8_t *>(base) + offset, sizeof v);
    return v;
}

template <typename T>
void setWord(void *base, int offset, T v) {
    memcpy(static_cast<uint8_t *>(base) + offset, &v, sizeof v);
}

uint32_t me() {
    return static_cast<uint32_t>(getpid());
}

class ShmNotify : public ::testing::Test {
protected:
    void SetUp() override {
        msl_Open(record);
        takeCodes();
    }
    void TearDown() override {
        msl_Close(); // joins the listener before the process may end
        plat_OverridePlatformId(0);
    }

    SegmentHeader *make(const char *name, bool old = false) {
        SegmentHeader *s =
            old ? shm_OpenOrCreateOldSegment(name, 41) : shm_OpenOrCreateSegment(name, 41);
        EXPECT_NE(s, SHM_NO_SEGMENT);
        EXPECT_EQ(shm_GetLayout(s, &layout), 0);
        return s;
    }
    ShmLayout layout{};
};
} // namespace

TEST_F(ShmNotify, OneShotOnNewLayoutSendsOnlyTheLongEntry) {
    SegmentHeader *seg = make("oneshot");
    ASSERT_EQ(shm_RequestNotify(seg, 1005), 0);
    ASSERT_EQ(shm_RequestNotify(seg, 1006), 0); // same process: code replaced, no new entry
    EXPECT_EQ(word<uint16_t>(seg, layout.notifyOffset), me() & 0xFFFF);
    EXPECT_EQ(word<int16_t>(seg, layout.notifyOffset + 2), 1006);
    EXPECT_EQ(word<uint16_t>(seg, layout.notifyOffset + 4), 0);
    EXPECT_EQ(word<int32_t>(seg, layout.longNotifyOffset), static_cast<int32_t>(me()));
    EXPECT_EQ(word<int16_t>(seg, layout.longNotifyOffset + 4), 1006);

    ASSERT_EQ(shm_Notify(seg, 0), 0);
    EXPECT_EQ(takeCodes(), std::vector<int>{1006});
    EXPECT_EQ(word<int32_t>(seg, layout.longNotifyOffset), 0);
    EXPECT_EQ(word<uint16_t>(seg, layout.notifyOffset), me() & 0xFFFF) << "short entry stays";
    ASSERT_EQ(shm_Notify(seg, 0), 0);
    EXPECT_TRUE(takeCodes().empty()) << "one-shot means once";
    EXPECT_EQ(shm_CancelNotify(seg), 0); // the short entry is still ours
    EXPECT_EQ(shm_CancelNotify(seg), -1);
}

TEST_F(ShmNotify, OldLayoutUsesShortTables) {
    SegmentHeader *seg = make("oldone", true);
    ASSERT_EQ(layout.longNotifies, 0);
    ASSERT_EQ(shm_RequestNotify(seg, 1001), 0);
    ASSERT_EQ(shm_Notify(seg, 0), 0);
    EXPECT_EQ(takeCodes(), std::vector<int>{1001});
    EXPECT_EQ(word<uint16_t>(seg, layout.notifyOffset), 0);

    ASSERT_EQ(shm_RegisterSubscriber(seg, 2), 0);
    ASSERT_EQ(shm_Notify(seg, 2), 0);
    EXPECT_EQ(word<uint16_t>(seg, layout.subscriberOffset + 6 + 4), 1) << "pending count";
    // Nothing beyond the short tables was touched.
    for (int i = layout.notifyOffset + 128; i < static_cast<int>(layout.mappedSize); ++i)
        ASSERT_EQ(reinterpret_cast<uint8_t *>(seg)[i], 0) << i;

    for (int i = 0; i < 32; ++i)
        setWord<uint16_t>(seg, layout.notifyOffset + 4 * i, static_cast<uint16_t>(i + 1));
    EXPECT_EQ(shm_RequestNotify(seg, 1), -1) << "full short table";
}

TEST_F(ShmNotify, PlatformOneUsesEightByteEntries) {
    plat_OverridePlatformId(1);
    SegmentHeader *seg = make("plone");
    ASSERT_EQ(shm_RequestNotify(seg, 1002), 0);
    EXPECT_EQ(word<int32_t>(seg, layout.notifyOffset), static_cast<int32_t>(me()));
    ASSERT_EQ(shm_RegisterSubscriber(seg, 1), 0);
    EXPECT_EQ(word<int32_t>(seg, layout.subscriberOffset), static_cast<int32_t>(me()));
    ASSERT_EQ(shm_Notify(seg, 0), 0);
    EXPECT_EQ(takeCodes(), std::vector<int>{1002});
    EXPECT_EQ(word<int16_t>(seg, layout.subscriberOffset + 6), 1);
    for (int i = 0; i < 32; ++i)
        setWord<int32_t>(seg, layout.notifyOffset + 8 * i, 0x40000000 + i);
    EXPECT_EQ(shm_RequestNotify(seg, 1), -1);
    EXPECT_EQ(shm_CancelNotify(seg), -1);
}

TEST_F(ShmNotify, SlotsOutsideTheRangeFail) {
    SegmentHeader *seg = make("slots");
    for (int slot : {-1, 11}) {
        errno = 0;
        EXPECT_EQ(shm_Notify(seg, slot), -1);
        EXPECT_EQ(errno, 67);
        EXPECT_EQ(shm_NotifyOthers(seg, slot), -1);
        EXPECT_EQ(errno, 67);
        EXPECT_EQ(shm_RegisterSubscriber(seg, slot), -1);
        EXPECT_EQ(errno, 67);
        EXPECT_EQ(shm_WaitUpdate(seg, slot), -1);
        EXPECT_EQ(errno, 67);
    }
    errno = 5;
    EXPECT_EQ(shm_WaitSubscriber(seg, 0), -1);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(shm_Notify(seg, 10), 0);
}

TEST_F(ShmNotify, WriterProtocolEndsTheUpdate) {
    SegmentHeader *seg = make("writer");
    ASSERT_EQ(shm_Lock(seg), 0);
    ASSERT_EQ(shm_BeginUpdate(seg), 0);
    ASSERT_EQ(shm_RegisterSubscriber(seg, 1), 0);
    EXPECT_EQ(seg->updatesInProgress, 0) << "registration takes one";
    ASSERT_EQ(shm_BeginUpdate(seg), 0);
    EXPECT_EQ(seg->updatesInProgress, 1);
    ASSERT_EQ(shm_Notify(seg, 1), 0);
    EXPECT_EQ(seg->updatesInProgress, 0);
    EXPECT_EQ(seg->lockRecursion, 1) << "the writer's own lock is still held";
    ASSERT_EQ(shm_Unlock(seg), 0);

    ASSERT_EQ(shm_BeginUpdate(seg), 0);
    EXPECT_EQ(shm_WaitUpdate(seg, 1), 0) << "a pending change returns at once";
    EXPECT_EQ(word<int16_t>(seg, layout.longSubscriberOffset + 6), 0);
    ASSERT_EQ(shm_Notify(seg, 0), 0);
    ASSERT_EQ(shm_Notify(seg, 0), 0);
    EXPECT_EQ(seg->updatesInProgress, 0) << "never below zero";
    EXPECT_EQ(shm_WaitUpdate(seg, 4), 0) << "no update in progress: at once";
}

TEST_F(ShmNotify, SubscribersKeepShortAndLongEntries) {
    SegmentHeader *seg = make("subs");
    ASSERT_EQ(shm_RegisterSubscriber(seg, 3), 0);
    int shortE = layout.subscriberOffset + 6 * 2;
    int longE = layout.longSubscriberOffset + 8 * 2;
    EXPECT_EQ(word<uint16_t>(seg, shortE), me() & 0xFFFF);
    EXPECT_EQ(word<int32_t>(seg, longE), static_cast<int32_t>(me()));
    EXPECT_EQ(shm_RegisterSubscriber(seg, 3), static_cast<int>(me() & 0xFFFF));

    ASSERT_EQ(shm_Notify(seg, 3), 0);
    ASSERT_EQ(shm_Notify(seg, 0), 0);
    EXPECT_EQ(word<int16_t>(seg, longE + 6), 2);
    EXPECT_EQ(word<uint16_t>(seg, shortE + 4), 0) << "new layout: slot 3 is its long entry";
    EXPECT_EQ(shm_WaitSubscriber(seg, 3), 0);
    EXPECT_EQ(shm_WaitSubscriber(seg, 3), 0);
    EXPECT_EQ(word<int16_t>(seg, longE + 6), 0);

    setWord<int32_t>(seg, layout.longSubscriberOffset, 0x40000001);
    errno = 0;
    EXPECT_EQ(shm_WaitSubscriber(seg, 1), -1) << "held by another process";
    EXPECT_EQ(errno, 67);

    EXPECT_EQ(shm_RegisterSubscriber(seg, 0), 10);
    for (int i = layout.subscriberOffset; i < layout.notifyOffset; ++i)
        ASSERT_EQ(reinterpret_cast<uint8_t *>(seg)[i], 0) << i;
}

TEST_F(ShmNotify, NotifyOthersSkipsTheCaller) {
    SegmentHeader *seg = make("others");
    ASSERT_EQ(shm_RegisterSubscriber(seg, 1), 0);
    ASSERT_EQ(shm_RequestNotify(seg, 1010), 0);
    ASSERT_EQ(shm_NotifyOthers(seg, 0), 0);
    EXPECT_TRUE(takeCodes().empty());
    EXPECT_EQ(word<int16_t>(seg, layout.longSubscriberOffset + 6), 0);
    EXPECT_EQ(word<int16_t>(seg, layout.longSubscriberOffset + 8 + 6), 0) << "empty skipped";
    EXPECT_EQ(word<int32_t>(seg, layout.longNotifyOffset), static_cast<int32_t>(me()));
    ASSERT_EQ(shm_Notify(seg, 0), 0);
    EXPECT_EQ(takeCodes(), std::vector<int>{1010});
    EXPECT_EQ(word<int16_t>(seg, layout.longSubscriberOffset + 8 + 6), 1) << "empty counted";
}

TEST_F(ShmNotify, FullLongTableRefusesAnotherOneShot) {
    SegmentHeader *seg = make("full");
    for (int i = 0; i < 32; ++i)
        setWord<int32_t>(seg, layout.longNotifyOffset + 8 * i, 0x40000000 + i);
    EXPECT_EQ(shm_RequestNotify(seg, 7), -1);
    setWord<int32_t>(seg, layout.longNotifyOffset + 8 * 31, 0);
    EXPECT_EQ(shm_RequestNotify(seg, 7), 0);
    EXPECT_EQ(word<int16_t>(seg, layout.longNotifyOffset + 8 * 31 + 4), 7);
}

TEST_F(ShmNotify, WaitingSubscriberIsWokenByCode32) {
    SegmentHeader *seg = make("waiter");
    ASSERT_EQ(shm_RegisterSubscriber(seg, 2), 0);
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        shm_WaitSubscriber(seg, 2);
        done = true;
    });
    int waitingFlag = layout.longSubscriberOffset + 8 + 4;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (word<int16_t>(seg, waitingFlag) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    // The waiter may not have reached its wait yet: notify until it returns.
    while (!done && std::chrono::steady_clock::now() < deadline) {
        shm_Notify(seg, 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    waiter.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(word<int16_t>(seg, waitingFlag), 0);
    std::vector<int> codes = takeCodes();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes[0], 32);
}

TEST_F(ShmNotify, OneShotReachesAnotherProcess) {
    SegmentHeader *seg = make("remote");
    msl_Close(); // the child must start its own listener
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    if (child == 0) {
        takeCodes();
        if (msl_Open(record) != nullptr) _exit(3);
        if (shm_RequestNotify(shm_OpenSegment("remote"), 4321) != 0) _exit(1);
        char b = 'r';
        (void)!write(fds[1], &b, 1);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            msl_Wait(100);
            std::vector<int> c = takeCodes();
            if (!c.empty()) _exit(c[0] == 4321 ? 0 : 2);
        }
        _exit(4);
    }
    close(fds[1]);
    char b;
    ASSERT_EQ(read(fds[0], &b, 1), 1);
    close(fds[0]);
    EXPECT_EQ(word<int32_t>(seg, layout.longNotifyOffset), child);
    ASSERT_EQ(shm_Notify(seg, 0), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
