#include "plat_system.h"

#include "plat_error.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

TEST(PlatSystem, PlatformIdDefaultsToNtFamilyAndCanBeForced) {
    if (getenv("KVT_PLATFORM_ID") == nullptr) {
        EXPECT_EQ(plat_PlatformId(), 2);
    }
    plat_OverridePlatformId(1);
    EXPECT_EQ(plat_PlatformId(), 1);
    plat_OverridePlatformId(0);
    EXPECT_EQ(plat_OsMajorVersion(), 6);
}

TEST(PlatSystem, ProcessIdIsRefreshedInForkedChild) {
    uint32_t parent = plat_ProcessId();
    EXPECT_EQ(parent, static_cast<uint32_t>(getpid()));
    pid_t child = fork();
    if (child == 0) _exit(plat_ProcessId() == static_cast<uint32_t>(getpid()) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(PlatSystem, ComputerNameIsShortUpperCase) {
    std::string name = plat_ComputerName();
    EXPECT_LE(name.size(), 15u);
    EXPECT_EQ(name.find('.'), std::string::npos);
    for (char c : name)
        EXPECT_FALSE(islower(static_cast<unsigned char>(c))) << name;
}

TEST(PlatSystem, UserNameIsBounded) {
    std::string name = plat_UserName();
    EXPECT_LE(name.size(), 256u);
    EXPECT_FALSE(name.empty());
}

TEST(PlatSystem, PriorityRequestNeverFails) {
    EXPECT_EQ(plat_RaiseProcessPriority(), 0);
}

TEST(PlatSystem, ChangeDirectoryReportsWindowsNumbers) {
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    errno = 0;
    EXPECT_EQ(plat_ChangeDirectory("/tmp/kvt-no-such-folder-xyz"), -1);
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(plat_ChangeDirectory("/tmp/kvt-no-such-folder-xyz/below"), -1);
    EXPECT_EQ(errno, 3);
    EXPECT_EQ(plat_ChangeDirectory("/tmp"), 0);
    ASSERT_EQ(chdir(here), 0);
}
