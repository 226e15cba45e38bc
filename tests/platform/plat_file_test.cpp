#include "plat_error.h"
#include "plat_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

} // namespace
