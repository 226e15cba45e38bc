#include "msl.h"
#include "msl_state.h"
#include "plat_event.h"
#include "plat_mailslot.h"
#include "plat_system.h"
#include "test_ipc.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
std::mutex g_seenMutex;
std::vector<int> g_seen;
std::atomic<int> g_scans{0};
std::atomic<int> g_stops{0};
std::atomic<int> g_calls{0};

void recordCode(int code) {
    std::lock_guard<std::mutex> lock(g_seenMutex);
    g_seen.push_back(code);
}

// Counts like the scanner's callback: no lock, only counters.
void countCode(int code) {
    if (code == NC_SCAN)
        g_scans.fetch_add(1);
    else if (code == NC_STOP)
        g_stops.fetch_add(1);
}

std::atomic<bool> g_parked{false};
std::atomic<bool> g_go{false};

// Counts scans and every call, as the loop below takes the scans.
void countScanAndCall(int code) {
    countCode(code);
    g_calls.fetch_add(1);
}

void parkListener() {
    g_parked = true;
    while (!g_go.load())
        std::this_thread::yield();
}

// 'S' while the thread sleeps (in a lock or a wait), 'R' while it runs.
char threadState(pid_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() ? text[close + 2] : '?';
}

void otherCallback(int) {
    g_calls.fetch_add(1);
}

size_t seenCount() {
    std::lock_guard<std::mutex> lock(g_seenMutex);
    return g_seen.size();
}

// Polls until the condition holds or the deadline passes.
template <typename F>
bool waitFor(F condition, int ms = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::yield();
    }
    return true;
}

// Posts from a child process, so the codes really travel through the socket.
pid_t postFromChild(uint32_t target, std::vector<int32_t> codes) {
    pid_t child = fork();
    if (child == 0) {
        int failed = 0;
        for (int32_t c : codes)
            failed += msl_PostCode(target, c) != 0;
        _exit(failed == 0 ? 0 : 1);
    }
    return child;
}

int exitStatus(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class MslTest : public ::testing::Test {
protected:
    void SetUp() override {
        test_UseUniqueIpcPrefix("msl");
        g_seen.clear();
        g_scans = 0;
        g_stops = 0;
        g_calls = 0;
    }
    void TearDown() override {
        g_go = true;
        msl_Close();
        g_msl.beforeCallback = nullptr;
    }
};
} // namespace

TEST_F(MslTest, SlotNamesFollowThePlatformId) {
    EXPECT_EQ(msl_ProcessSlotName(1234), "dm_1234.slt");
    plat_OverridePlatformId(1);
    EXPECT_EQ(msl_ProcessSlotName(0x1a2b), "process\\1A2B");
    plat_OverridePlatformId(0);
    EXPECT_EQ(msl_EndpointPath("dm_1.slt"), "\\\\.\\mailslot\\dm_1.slt");
}

TEST_F(MslTest, FirstOpenReturnsNoCallbackAndLaterOpensSwapIt) {
    errno = 5;
    EXPECT_EQ(msl_Open(recordCode), nullptr);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(msl_Open(otherCallback), recordCode);
    ASSERT_EQ(msl_PostCode(plat_ProcessId(), 7), 0);
    EXPECT_EQ(g_calls.load(), 1);
    EXPECT_EQ(msl_LastCode(), 7);
    msl_ClearLastCode();
    EXPECT_EQ(msl_LastCode(), 0);
}

TEST_F(MslTest, EveryCodeIsDeliveredInOrder) {
    ASSERT_EQ(msl_Open(recordCode), nullptr);
    std::vector<int32_t> codes;
    for (int i = 0; i < 200; ++i)
        codes.push_back(i % 7 == 0 ? NC_RECONFIGURE : 1000 + i);
    codes.push_back(NC_LOGGER_CHANGES + 1);
    pid_t child = postFromChild(plat_ProcessId(), codes);
    EXPECT_EQ(exitStatus(child), 0);
    ASSERT_TRUE(waitFor([&] { return seenCount() == codes.size(); }));
    std::lock_guard<std::mutex> lock(g_seenMutex);
    EXPECT_EQ(std::vector<int32_t>(g_seen.begin(), g_seen.end()), codes);
}

TEST_F(MslTest, PostingToAMissingMailslotFailsWithTheOpenError) {
    EXPECT_EQ(msl_PostCode(0x7ffffff0, NC_SCAN), -1);
    EXPECT_EQ(errno, 2);
}

TEST_F(MslTest, CodesToTheOwnProcessAreDeliveredInThePostingThread) {
    ASSERT_EQ(msl_Open(recordCode), nullptr);
    ASSERT_EQ(msl_PostCode(plat_ProcessId(), 42), 0);
    // No listener hop: the callback already ran when the post returned.
    EXPECT_EQ(seenCount(), 1u);
}

TEST_F(MslTest, HeldCodesWaitForTheReleaseAndThenWakeTheWait) {
    ASSERT_EQ(msl_Open(recordCode), nullptr);
    ASSERT_EQ(msl_HoldDelivery(1), 0);
    pid_t child = postFromChild(plat_ProcessId(), {NC_SCAN, NC_SCAN});
    EXPECT_EQ(exitStatus(child), 0);
    // Both codes are in the slot or waiting at the gate; none got through.
    EXPECT_EQ(seenCount(), 0u);
    EXPECT_EQ(msl_LastCode(), 0);
    EXPECT_EQ(msl_Wait(0), 0);
    EXPECT_GE(seenCount(), 1u);
    ASSERT_TRUE(waitFor([] { return seenCount() == 2; }));
}

TEST_F(MslTest, WaitWithATimeReturnsWhenNothingArrives) {
    ASSERT_EQ(msl_Open(recordCode), nullptr);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(msl_Sleep(3), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST_F(MslTest, ASignalledHandleOfTheWaitListEndsTheWait) {
    ASSERT_EQ(msl_Open(recordCode), nullptr);
    int event = plat_EventCreate(true);
    ASSERT_EQ(msl_AddWaitHandle(event), 0);
    EXPECT_EQ(msl_Wait(0), 0);
    EXPECT_EQ(msl_RemoveWaitHandle(event), 0);
    EXPECT_EQ(msl_RemoveWaitHandle(event), -1);
    plat_EventDestroy(event);
}

TEST_F(MslTest, TheWaitListHoldsTenHandles) {
    ASSERT_EQ(msl_Open(recordCode), nullptr);
    std::vector<int> events;
    for (int i = 0; i < 9; ++i) {
        events.push_back(plat_EventCreate(false));
        EXPECT_EQ(msl_AddWaitHandle(events.back()), 0);
    }
    int extra = plat_EventCreate(true);
    EXPECT_EQ(msl_AddWaitHandle(extra), -1);
    // The rejected handle is not in the list: a wait with a short time still times out.
    auto start = std::chrono::steady_clock::now();
    msl_Wait(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    for (int e : events) {
        msl_RemoveWaitHandle(e);
        plat_EventDestroy(e);
    }
    plat_EventDestroy(extra);
}

TEST_F(MslTest, AFloodOfScansFromSeveralProcessesAndOneStopLoseNothing) {
    ASSERT_EQ(msl_Open(countCode), nullptr);
    const int perChild = 400;
    std::vector<pid_t> children;
    for (int c = 0; c < 4; ++c) {
        std::vector<int32_t> codes(perChild, NC_SCAN);
        if (c == 2) codes.insert(codes.begin() + perChild / 2, NC_STOP);
        children.push_back(postFromChild(plat_ProcessId(), codes));
    }
    // Meanwhile the main thread holds and releases deliveries like the scanner's loop.
    int taken = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((taken < 4 * perChild || g_stops.load() == 0) &&
           std::chrono::steady_clock::now() < end) {
        msl_HoldDelivery(1);
        int pending = g_scans.exchange(0);
        msl_HoldDelivery(0);
        taken += pending;
        if (pending == 0) msl_Wait(100);
    }
    for (pid_t child : children)
        EXPECT_EQ(exitStatus(child), 0);
    EXPECT_EQ(taken, 4 * perChild);
    EXPECT_EQ(g_stops.load(), 1);
}

TEST_F(MslTest, CloseJoinsTheListenerEvenWithACodeWaitingAtTheGate) {
    ASSERT_EQ(msl_Open(recordCode), nullptr);
    msl_HoldDelivery(1);
    uint32_t self = plat_ProcessId();
    pid_t child = postFromChild(self, {NC_SCAN});
    EXPECT_EQ(exitStatus(child), 0);
    msl_Close();
    // The held code was dropped, not delivered after the close.
    EXPECT_EQ(seenCount(), 0u);
    EXPECT_EQ(msl_HoldDelivery(1), -1);
    EXPECT_EQ(msl_PostCode(0x7ffffff0, NC_SCAN), -1);
    // The name is free again and a new open starts afresh.
    EXPECT_EQ(msl_Open(recordCode), nullptr);
    child = postFromChild(self, {NC_RESET_COUNTERS});
    EXPECT_EQ(exitStatus(child), 0);
    ASSERT_TRUE(waitFor([] { return seenCount() == 1; }));
}

TEST_F(MslTest, OpenFailsWithTheBindErrorWhenTheSlotNameIsTaken) {
    PlatMailslot squatter{-1, -1};
    std::string name = msl_ProcessSlotName(plat_ProcessId());
    ASSERT_EQ(plat_MailslotCreate(&squatter, name.c_str()), 0);
    errno = 0;
    EXPECT_EQ(msl_Open(recordCode), nullptr);
    EXPECT_EQ(errno, 183);
    EXPECT_EQ(msl_HoldDelivery(1), -1);
    plat_MailslotDestroy(&squatter);
    EXPECT_EQ(msl_Open(recordCode), nullptr);
    EXPECT_EQ(errno, 0);
}

TEST_F(MslTest, WaitWithoutLimitReturnsOnlyAfterADelivery) {
    ASSERT_EQ(msl_Open(recordCode), nullptr);
    uint32_t self = plat_ProcessId();
    auto start = std::chrono::steady_clock::now();
    std::thread poster([self] {
        // Late on purpose: the wait must still be waiting for it.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pid_t child = postFromChild(self, {NC_SCAN});
        exitStatus(child);
    });
    EXPECT_EQ(msl_Wait(0), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(seenCount(), 1u);
    poster.join();
}

TEST_F(MslTest, ResetReadyHoldsDeliveriesUntilTheyAreAllowedAgain) {
    ASSERT_EQ(msl_Open(recordCode), nullptr);
    msl_ResetReady();
    pid_t child = postFromChild(plat_ProcessId(), {NC_STOP});
    EXPECT_EQ(exitStatus(child), 0);
    EXPECT_EQ(seenCount(), 0u);
    ASSERT_EQ(msl_HoldDelivery(0), 0);
    ASSERT_TRUE(waitFor([] { return seenCount() == 1; }));
    EXPECT_EQ(msl_LastCode(), NC_STOP);
}

TEST_F(MslTest, ACodeThatPassedTheHoldTestIsNotLostToTheTakeThatFollows) {
    // The seam is set before the listener starts, which reads it.
    g_parked = false;
    g_go = false;
    g_msl.beforeCallback = parkListener;
    ASSERT_EQ(msl_Open(countScanAndCall), nullptr);
    pid_t child = postFromChild(plat_ProcessId(), {NC_SCAN});
    EXPECT_EQ(exitStatus(child), 0);
    // The listener has found deliveries allowed and stands right before the callback.
    ASSERT_TRUE(waitFor([] { return g_parked.load(); }));

    // The scanner's loop: hold, take, and wait without limit when nothing was taken.
    std::atomic<pid_t> tid{0};
    std::atomic<int> stage{0};
    std::atomic<bool> resume{false};
    std::atomic<bool> done{false};
    int taken = 0;
    std::thread loop([&] {
        tid = gettid();
        stage = 1;
        msl_HoldDelivery(1);
        taken = g_scans.exchange(0);
        stage = 2;
        while (!resume.load())
            std::this_thread::yield();
        while (taken == 0) {
            msl_HoldDelivery(0);
            msl_Sleep(0);
            msl_HoldDelivery(1);
            taken += g_scans.exchange(0);
        }
        msl_HoldDelivery(0);
        done = true;
    });
    // Either the hold waits for the delivery under way, or it was taken and the take is done.
    ASSERT_TRUE(waitFor([&] { return stage == 2 || (stage == 1 && threadState(tid) == 'S'); }));
    g_go = true;
    ASSERT_TRUE(waitFor([] { return g_calls.load() == 1; }));
    resume = true;
    if (!waitFor([&] { return done.load(); }, 20000)) {
        ADD_FAILURE() << "the code was delivered into the hold and its wake-up lost";
        // Wakes the loop so that it can be joined.
        EXPECT_EQ(exitStatus(postFromChild(plat_ProcessId(), {NC_SCAN})), 0);
    }
    loop.join();
    EXPECT_GE(taken, 1);
}
