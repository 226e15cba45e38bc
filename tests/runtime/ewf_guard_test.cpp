#include "ewf.h"
#include "plat_embedded.h"
#include "plat_error.h"
#include "reg.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The filter command is outside the system: a script that records each call stands in.
class EwfGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedPath_ = getenv("PATH") ? getenv("PATH") : "";
        bin_ = reg_.folder() / "bin";
        calls_ = reg_.folder() / "ewfmgr.calls";
        mkdir(bin_.c_str(), 0777);
        std::string script = bin_ + "/ewfmgr";
        std::ofstream(script) << "#!/bin/sh\necho \"$@\" >> '" << calls_ << "'\nexit 3\n";
        chmod(script.c_str(), 0755);
        setenv("PATH", (bin_ + ":" + savedPath_).c_str(), 1);
        ewf_ForgetStateForTest();
        reg_ForgetProductNames();
    }
    void TearDown() override {
        setenv("PATH", savedPath_.c_str(), 1);
        plat_SetEmbeddedPlatformForTest(0);
        ewf_FreeXpacSdk();
        ewf_ForgetStateForTest();
        reg_ForgetProductNames();
    }

    std::string calls() const {
        std::ifstream in(calls_);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

    static uint32_t writeSetting(const char *text) {
        uint32_t type = PLAT_REG_SZ;
        uint32_t size = static_cast<uint32_t>(strlen(text) + 1);
        return reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_SET_VALUE,
                               "Setting", &type, const_cast<char *>(text), &size);
    }

    TempRegistry reg_;
    std::string savedPath_;
    std::string bin_;
    std::string calls_;
};

TEST_F(EwfGuardTest, OffThePlatformNoCommandRuns) {
    EXPECT_EQ(nullptr, ewf_LoadXpacSdk());
    EXPECT_EQ(0u, writeSetting("a"));
    EXPECT_EQ(0u, reg_DeleteValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "Setting"));
    EXPECT_EQ("", calls());
    PlatHKey marker = 0;
    EXPECT_EQ(WERR_FILE_NOT_FOUND,
              plat_RegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\EWF", PLAT_KEY_READ, &marker));
    EXPECT_EQ("Trellane", reg_GetProductName());
}

TEST_F(EwfGuardTest, FirstWriteAfterAStartCommitsOnceAndOtherProcessesDoNot) {
    plat_SetEmbeddedPlatformForTest(1);
    EXPECT_EQ("Pelmarsh", reg_GetProductName());
    EXPECT_EQ(0u, writeSetting("first"));
    EXPECT_EQ(0u, writeSetting("second"));
    EXPECT_EQ("c: -commitanddisable -live\nc: -enable\n", calls());

    // A second process after it finds the marker.
    pid_t pid = fork();
    if (pid == 0) {
        ewf_ForgetStateForTest();
        _exit(writeSetting("third") == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ("c: -commitanddisable -live\nc: -enable\n", calls());

    // After a restart (the volatile tree is gone) the next process commits again.
    reg_.dropVolatileKeys();
    ewf_ForgetStateForTest();
    EXPECT_EQ(0u, writeSetting("fourth"));
    EXPECT_EQ("c: -commitanddisable -live\nc: -enable\n"
              "c: -commitanddisable -live\nc: -enable\n",
              calls());
}

TEST_F(EwfGuardTest, CommandThatCannotStartFailsTheGuardedCall) {
    plat_SetEmbeddedPlatformForTest(1);
    setenv("PATH", (reg_.folder() / "empty").c_str(), 1);
    EXPECT_EQ(0, ewf_DisableFilterOnce());
    EXPECT_EQ(WERR_FILE_NOT_FOUND, plat_GetLastError());

    // The write itself still happened; the caller is told the guard failed, and so is every
    // later guarded write, here and in other processes, for nothing was committed.
    EXPECT_EQ(WERR_FILE_NOT_FOUND, writeSetting("x"));
    EXPECT_EQ(WERR_FILE_NOT_FOUND, writeSetting("y"));
    PlatHKey marker = 0;
    EXPECT_EQ(WERR_FILE_NOT_FOUND,
              plat_RegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\EWF", PLAT_KEY_READ, &marker));
    pid_t pid = fork();
    if (pid == 0) {
        ewf_ForgetStateForTest();
        _exit(writeSetting("z") == WERR_FILE_NOT_FOUND ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // Once the command can start, the next write commits.
    setenv("PATH", (bin_ + ":" + savedPath_).c_str(), 1);
    EXPECT_EQ(0u, writeSetting("w"));
    EXPECT_EQ("c: -commitanddisable -live\nc: -enable\n", calls());
}

} // namespace
