#include "plat_error.h"
#include "plat_file.h"
#include "plat_filecreate.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstddef>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// From here on, every write to fd (plain or positioned) returns 0 without an error, as a
// device that takes nothing more does: the kernel answers for it, the writers run unchanged.
bool writesStopShort(int fd) {
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_write, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_pwrite64, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(fd), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

class PlatFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kvt_plat_file_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::string path(const char *name) const { return dir_ + "/" + name; }

    std::string dir_;
};

TEST_F(PlatFileTest, OpenFailuresCarryWindowsNumbers) {
    EXPECT_EQ(plat_FileOpen(path("missing").c_str(), PLAT_FILE_READ), -1);
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(plat_GetLastError(), 2u);

    EXPECT_EQ(plat_FileOpen(path("nofolder/file").c_str(), PLAT_FILE_READ), -1);
    EXPECT_EQ(errno, 3);
    EXPECT_EQ(plat_FileOpenOrCreate(path("nofolder/file").c_str()), -1);
    EXPECT_EQ(errno, 3);

    // A folder is not a file.
    EXPECT_EQ(plat_FileOpen(dir_.c_str(), PLAT_FILE_READ), -1);
    EXPECT_EQ(errno, 5);

    if (geteuid() != 0) {
        int fd = ::open(path("locked").c_str(), O_CREAT | O_WRONLY, 0);
        ASSERT_GE(fd, 0);
        ::close(fd);
        EXPECT_EQ(plat_FileOpen(path("locked").c_str(), PLAT_FILE_READ), -1);
        EXPECT_EQ(errno, 5);
    }
}

TEST_F(PlatFileTest, CreateNeverTruncatesAndGapsReadAsZeros) {
    int fd = plat_FileOpenOrCreate(path("data").c_str());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(plat_FileWriteAt(fd, "abcdef", 6, 0), 0);
    ASSERT_EQ(plat_FileClose(fd), 0);

    fd = plat_FileOpenOrCreate(path("data").c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(plat_FileSize(fd), 6);
    ASSERT_EQ(plat_FileWriteAt(fd, "XY", 2, 10), 0);
    char buf[12];
    ASSERT_EQ(plat_FileReadAt(fd, buf, 12, 0), 0);
    EXPECT_EQ(std::string(buf, 12), std::string("abcdef\0\0\0\0XY", 12));
    plat_FileClose(fd);

    struct stat st;
    ASSERT_EQ(stat(path("data").c_str(), &st), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

TEST_F(PlatFileTest, ShortReadFailsWithEndOfFileButReadAtMostCounts) {
    int fd = plat_FileOpenOrCreate(path("short").c_str());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(plat_FileWriteAt(fd, "12345", 5, 0), 0);
    char buf[8] = {};
    EXPECT_EQ(plat_FileReadAt(fd, buf, 8, 0), -1);
    EXPECT_EQ(errno, 38);
    EXPECT_EQ(plat_FileReadAt(fd, buf, 1, 5), -1);
    EXPECT_EQ(errno, 38);
    EXPECT_EQ(plat_FileReadAtMost(fd, buf, 8, 2), 3);
    EXPECT_EQ(std::string(buf, 3), "345");
    EXPECT_EQ(plat_FileReadAt(fd, buf, 0, 100), 0);
    EXPECT_EQ(plat_FileReadAt(fd, buf, 1, -1), -1);
    EXPECT_EQ(errno, 87);
    plat_FileClose(fd);
}

TEST_F(PlatFileTest, ReadOnlyOpenRefusesWritesAndBackslashesSeparate) {
    int fd = plat_FileOpenOrCreate(path("ro").c_str());
    ASSERT_GE(fd, 0);
    plat_FileClose(fd);

    std::string back = dir_ + "\\ro";
    EXPECT_EQ(plat_FileNativePath(back.c_str()), path("ro"));
    fd = plat_FileOpen(back.c_str(), PLAT_FILE_READ);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(plat_FileWriteAt(fd, "x", 1, 0), -1);
    EXPECT_NE(errno, 0);
    EXPECT_EQ(plat_FileClose(fd), 0);
    EXPECT_EQ(plat_FileClose(-1), 0);
}

TEST_F(PlatFileTest, WriteThatStopsShortIsADiskFull) {
    struct Writer {
        const char *name;
        int (*write)(int fd);
    };
    const Writer writers[] = {
        {"at an offset", [](int fd) { return plat_FileWriteAt(fd, "abcdef", 6, 2); }},
        {"whole", [](int fd) { return plat_FileWriteAll(fd, "abcdef", 6); }},
        {"at the position", [](int fd) { return plat_FileWrite(fd, "abcdef", 6) == 6 ? 0 : -1; }},
    };
    for (const Writer &w : writers) {
        for (bool full : {false, true}) {
            std::string file = path("short.bin");
            pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                alarm(10); // a writer that loops on a write of nothing ends here, failed
                // A full file system reports its own error; a device that takes no more, none.
                int fd = full ? open("/dev/full", O_WRONLY) : plat_FileOpenOrCreate(file.c_str());
                if (fd < 0) _exit(2);
                if (!full && !writesStopShort(fd)) _exit(3);
                errno = 0;
                if (w.write(fd) != -1) _exit(4);
                _exit(errno == WERR_DISK_FULL && plat_GetLastError() == WERR_DISK_FULL ? 0 : 5);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << w.name << (full ? " on /dev/full" : "") << ": status " << status;
        }
    }
}

} // namespace
