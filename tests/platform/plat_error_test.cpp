#include "plat_error.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <thread>

TEST(PlatError, PosixFailuresMapToWindowsNumbers)
{
    EXPECT_EQ(plat_WinErrorFromPosix(ENOENT), 2u);
    EXPECT_EQ(plat_WinErrorFromPosix(EACCES), 5u);
    EXPECT_EQ(plat_WinErrorFromPosix(EPERM), 5u);
    EXPECT_EQ(plat_WinErrorFromPosix(ENOMEM), 8u);
    EXPECT_EQ(plat_WinErrorFromPosix(EINVAL), 87u);
    EXPECT_EQ(plat_WinErrorFromPosix(EEXIST), 183u);
    EXPECT_EQ(plat_WinErrorFromPosix(EADDRINUSE), 183u);
    EXPECT_EQ(plat_WinErrorFromPosix(ECONNREFUSED), 2u);
}

TEST(PlatError, MissingFolderAboveTheNameIsPathNotFound)
{
    EXPECT_EQ(plat_WinErrorForPath(ENOENT, "/no/such/folder/file"), 3u);
    EXPECT_EQ(plat_WinErrorForPath(ENOENT, "/tmp/surely-not-here.kvt"), 2u);
}

TEST(PlatError, FailSetsErrnoAndTheThreadsLastErrorOnly)
{
    errno = 0;
    EXPECT_EQ(plat_Fail(67), -1);
    EXPECT_EQ(errno, 67);
    EXPECT_EQ(plat_GetLastError(), 67u);
    uint32_t other = 1;
    std::thread([&] { other = plat_GetLastError(); }).join();
    EXPECT_EQ(other, 0u);
}
