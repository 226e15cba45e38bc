#include "shm.h"

#include "plat_system.h"

#include "ipc_prefix.h"

#include <atomic>
#include <cerrno>
#include <functional>
#include <vector>
#include <chrono>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
UniqueIpcPrefix g_prefix("shmlock");

uint16_t me() {
    return static_cast<uint16_t>(getpid() & 0xFFFF);
}

// Runs fn in a forked child and returns its exit code (-1 when it did not exit).
template <typename Fn>
pid_t forkChild(Fn fn) {
    pid_t child = fork();
    if (child == 0) _exit(fn());
    return child;
}

int exitCode(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

bool waitFor(const std::function<bool()> &cond) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
} // namespace

TEST(ShmLock, NullAndBadMagicFailWithZero) {
    errno = 5;
    EXPECT_EQ(shm_Lock(nullptr), -1);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(shm_Lock(SHM_NO_SEGMENT), -1);
    EXPECT_EQ(shm_Unlock(nullptr), -1);
    SegmentHeader *seg = shm_OpenOrCreateSegment("magic", 16);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    seg->magic = 0x1234;
    errno = 5;
    EXPECT_EQ(shm_Lock(seg), -1);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(shm_Read(seg, nullptr, 0, 0), -1);
    EXPECT_EQ(errno, 0);
    seg->magic = SHM_MAGIC;
}

TEST(ShmLock, SegmentWithoutMutexFailsWithNotFound) {
    SegmentHeader *seg = shm_CreateSegment("nomutex", 100);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    EXPECT_EQ(shm_Lock(seg), -1);
    EXPECT_EQ(errno, 2);
}

TEST(ShmLock, NestedLocksKeepOwnerUntilTheLastUnlock) {
    SegmentHeader *seg = shm_OpenOrCreateSegment("nested", 16);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    ASSERT_EQ(shm_Lock(seg), 0);
    ASSERT_EQ(shm_Lock(seg), 0);
    EXPECT_EQ(seg->lockOwner, me());
    EXPECT_EQ(seg->lockRecursion, 2);
    ASSERT_EQ(shm_Unlock(seg), 0);
    EXPECT_EQ(seg->lockOwner, me());
    EXPECT_EQ(seg->lockRecursion, 1);
    ASSERT_EQ(shm_Unlock(seg), 0);
    EXPECT_EQ(seg->lockOwner, 0);
    EXPECT_EQ(seg->lockRecursion, 0);
    EXPECT_EQ(shm_Unlock(seg), -1) << "releasing a lock not held must fail";
}

TEST(ShmLock, OtherThreadWaitsForTheLastUnlock) {
    SegmentHeader *seg = shm_OpenOrCreateSegment("threads", 16);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    ASSERT_EQ(shm_Lock(seg), 0);
    ASSERT_EQ(shm_Lock(seg), 0);
    std::atomic<int> stage{0};
    std::thread other([&] {
        stage = 1;
        shm_Lock(seg);
        stage = 2;
        shm_Unlock(seg);
    });
    ASSERT_TRUE(waitFor([&] { return stage.load() == 1; }));
    shm_Unlock(seg);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(stage.load(), 1);
    shm_Unlock(seg);
    other.join();
    EXPECT_EQ(stage.load(), 2);
}

TEST(ShmLock, ExcludesAnotherProcessAndCountsItsOwnNesting) {
    SegmentHeader *seg = shm_OpenOrCreateSegment("procs", 64);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    // Several processes increment a counter with a read-modify-write under nested locks.
    constexpr int k_children = 4, k_rounds = 500;
    std::vector<pid_t> children;
    for (int c = 0; c < k_children; ++c)
        children.push_back(forkChild([] {
            SegmentHeader *s = shm_OpenSegment("procs");
            uint16_t mine = static_cast<uint16_t>(getpid() & 0xFFFF);
            for (int i = 0; i < k_rounds; ++i) {
                if (shm_Lock(s) != 0 || shm_Lock(s) != 0) return 1;
                if (s->lockOwner != mine || s->lockRecursion != 2) return 2;
                int32_t v;
                shm_Read(s, &v, 0, 4);
                ++v;
                shm_Write(s, &v, 0, 4);
                shm_Unlock(s);
                shm_Unlock(s);
            }
            return 0;
        }));
    for (pid_t c : children)
        EXPECT_EQ(exitCode(c), 0);
    int32_t v = 0;
    ASSERT_EQ(shm_Read(seg, &v, 0, 4), 0);
    EXPECT_EQ(v, k_children * k_rounds);
}

TEST(ShmLock, KilledHolderIsTakenOverAndTheLockStaysUsable) {
    SegmentHeader *seg = shm_OpenOrCreateSegment("killed", 16);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = forkChild([&] {
        SegmentHeader *s = shm_OpenSegment("killed");
        if (shm_Lock(s) != 0 || shm_Lock(s) != 0) return 1;
        char b = 'x';
        (void)!write(fds[1], &b, 1);
        pause();
        return 0;
    });
    close(fds[1]);
    char b;
    ASSERT_EQ(read(fds[0], &b, 1), 1);
    close(fds[0]);
    EXPECT_EQ(seg->lockRecursion, 2);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);

    ASSERT_EQ(shm_Lock(seg), 0);
    EXPECT_EQ(seg->lockOwner, me());
    EXPECT_EQ(seg->lockRecursion, 1);
    ASSERT_EQ(shm_Unlock(seg), 0);
    EXPECT_EQ(seg->lockOwner, 0);
    ASSERT_EQ(shm_Lock(seg), 0);
    EXPECT_EQ(seg->lockRecursion, 1);
    ASSERT_EQ(shm_Unlock(seg), 0);
}

TEST(ShmLock, BeginUpdateCounts) {
    SegmentHeader *seg = shm_OpenOrCreateSegment("updates", 16);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    EXPECT_EQ(shm_BeginUpdate(seg), 0);
    EXPECT_EQ(shm_BeginUpdate(seg), 0);
    EXPECT_EQ(seg->updatesInProgress, 2);
    EXPECT_EQ(seg->lockOwner, 0);
}
