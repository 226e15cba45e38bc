#include "plat_error.h"
#include "plat_mutex.h"
#include "plat_shm.h"

#include "ipc_prefix.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
UniqueIpcPrefix g_prefix("plat");

int childExit(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
} // namespace

TEST(PlatShm, CreateIsExclusiveZeroFilledAndOpenForAll) {
    umask(077);
    auto *base = static_cast<unsigned char *>(plat_ShmCreate("seg.a", 1000));
    ASSERT_NE(base, nullptr);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(base[i], 0);
    struct stat st;
    ASSERT_EQ(stat(("/dev/shm" + plat_ShmObjectName("seg.a")).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);

    errno = 0;
    EXPECT_EQ(plat_ShmCreate("seg.a", 1000), nullptr);
    EXPECT_EQ(errno, 183);

    memcpy(base + 10, "abc", 3);
    PlatShmObject obj;
    ASSERT_EQ(plat_ShmOpen("seg.a", &obj), 0);
    EXPECT_EQ(obj.size, 1000u);
    char head[3];
    ASSERT_EQ(plat_ShmReadAt(&obj, head, 10, 3), 0);
    EXPECT_EQ(memcmp(head, "abc", 3), 0);
    EXPECT_EQ(plat_ShmReadAt(&obj, head, 999, 2), -1);
    EXPECT_EQ(plat_ShmMap(&obj, 1001), nullptr);
    auto *second = static_cast<unsigned char *>(plat_ShmMap(&obj, 1000));
    plat_ShmClose(&obj);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second[11], 'b');
}

TEST(PlatShm, MissingObjectAndUnlink) {
    PlatShmObject obj;
    errno = 0;
    EXPECT_EQ(plat_ShmOpen("seg.none", &obj), -1);
    EXPECT_EQ(errno, 2);
    ASSERT_NE(plat_ShmCreate("seg.b", 64), nullptr);
    ASSERT_NE(plat_ShmCreate("seg.c", 64), nullptr);
    EXPECT_EQ(plat_ShmUnlink("seg.b"), 0);
    EXPECT_EQ(plat_ShmUnlink("seg.b"), -1);
    EXPECT_EQ(errno, 2);
    EXPECT_GE(plat_ShmUnlinkAll(), 1);
    EXPECT_EQ(plat_ShmOpen("seg.c", &obj), -1);
}

TEST(PlatMutex, MissingMutexFailsWithNotFound) {
    errno = 0;
    EXPECT_EQ(plat_MutexOpen("none.mut"), nullptr);
    EXPECT_EQ(errno, 2);
}

TEST(PlatMutex, RecursivePerThreadExclusiveBetweenThreads) {
    PlatMutex *m = plat_MutexCreate("t.mut");
    ASSERT_NE(m, nullptr);
    PlatMutex *again = plat_MutexCreate("t.mut");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(plat_GetLastError(), 183u);

    ASSERT_EQ(plat_MutexLock(m, nullptr), 0);
    ASSERT_EQ(plat_MutexLock(again, nullptr), 0); // same thread, other handle: recursion
    std::atomic<int> stage{0};
    std::thread other([&] {
        stage = 1;
        plat_MutexLock(m, nullptr);
        stage = 2;
        plat_MutexUnlock(m);
    });
    while (stage.load() == 0)
        std::this_thread::yield();
    ASSERT_EQ(plat_MutexUnlock(m), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // give the other a chance
    EXPECT_EQ(stage.load(), 1) << "one unlock of two must keep the lock";
    ASSERT_EQ(plat_MutexUnlock(again), 0);
    other.join();
    EXPECT_EQ(stage.load(), 2);
    errno = 0;
    EXPECT_EQ(plat_MutexUnlock(m), -1);
    EXPECT_EQ(errno, 288);
    plat_MutexClose(again);
    plat_MutexClose(m);
}

TEST(PlatMutex, ExcludesOtherProcesses) {
    PlatMutex *m = plat_MutexCreate("p.mut");
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(plat_MutexLock(m, nullptr), 0);
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    pid_t child = fork();
    if (child == 0) {
        PlatMutex *c = plat_MutexOpen("p.mut");
        if (c == nullptr) _exit(10);
        if (plat_MutexLock(c, nullptr) != 0) _exit(11);
        char b = 'x';
        (void)!write(pipefd[1], &b, 1);
        plat_MutexUnlock(c);
        _exit(0);
    }
    close(pipefd[1]);
    struct timespec ts = {0, 50 * 1000 * 1000};
    nanosleep(&ts, nullptr);
    char b;
    fcntl(pipefd[0], F_SETFL, O_NONBLOCK);
    EXPECT_EQ(read(pipefd[0], &b, 1), -1) << "child got the lock while the parent held it";
    ASSERT_EQ(plat_MutexUnlock(m), 0);
    EXPECT_EQ(childExit(child), 0);
    close(pipefd[0]);
    plat_MutexClose(m);
}

TEST(PlatMutex, HolderKilledLeavesAbandonedUsableMutex) {
    PlatMutex *m = plat_MutexCreate("k.mut");
    ASSERT_NE(m, nullptr);
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    pid_t child = fork();
    if (child == 0) {
        PlatMutex *c = plat_MutexOpen("k.mut");
        if (c == nullptr || plat_MutexLock(c, nullptr) != 0) _exit(1);
        char b = 'x';
        (void)!write(pipefd[1], &b, 1);
        pause();
        _exit(0);
    }
    close(pipefd[1]);
    char b;
    ASSERT_EQ(read(pipefd[0], &b, 1), 1);
    close(pipefd[0]);
    kill(child, SIGKILL);
    int status;
    waitpid(child, &status, 0);

    int abandoned = 0;
    ASSERT_EQ(plat_MutexLock(m, &abandoned), 0);
    EXPECT_EQ(abandoned, 1);
    ASSERT_EQ(plat_MutexUnlock(m), 0);
    ASSERT_EQ(plat_MutexLock(m, &abandoned), 0);
    EXPECT_EQ(abandoned, 0);
    EXPECT_EQ(plat_MutexUnlock(m), 0);
    plat_MutexClose(m);
}
