#include "env.h"
#include "srv.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <sys/stat.h>

namespace {

class EnvDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        bin_ = dir_ / "bin";
        lib_ = dir_ / "lib";
        mkdir(bin_.c_str(), 0777);
        mkdir(lib_.c_str(), 0777);
        setenv("KVT_BIN", bin_.c_str(), 1);
        setenv("LD_LIBRARY_PATH", ("/nonexistent:" + lib_).c_str(), 1);
        savedPath_ = getenv("PATH") ? getenv("PATH") : "";
        setenv("PATH", lib_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("KVT_BIN");
        unsetenv("LD_LIBRARY_PATH");
        setenv("PATH", savedPath_.c_str(), 1);
    }
    static void touch(const std::string &path, mode_t mode = 0644) {
        std::ofstream(path) << "x";
        chmod(path.c_str(), mode);
    }

    TempFolder dir_;
    std::string bin_, lib_, savedPath_;
};

TEST_F(EnvDriverTest, ModulesAreFoundInTheBinaryFolderFirst) {
    touch(bin_ + "/kstrn_ex.so");
    touch(lib_ + "/kstrn_ex.so");
    touch(lib_ + "/calc_cf.so");
    EXPECT_EQ(bin_ + "/kstrn_ex.so", env_FindDriverDll(".", "kstrn", "ex"));
    // Numbered instances share the driver's files; names and suffixes are cut to 5 and 2.
    EXPECT_EQ(lib_ + "/calc_cf.so", env_FindDriverDll(".", "calc12", "cfg"));
    EXPECT_EQ("", env_FindDriverDll(".", "calcx", "cf"));
    EXPECT_EQ("", env_FindDriverDll(".", "missing", nullptr));
}

TEST_F(EnvDriverTest, AServersOwnBinaryFolderComesAfterTheLocalOne) {
    // An in-process server's binary folder lies beside its store.
    std::string site = dir_ / "site";
    std::string serverBin = site + "/BIN";
    mkdir(site.c_str(), 0777);
    mkdir(serverBin.c_str(), 0777);
    mkdir((site + "/db").c_str(), 0777);
    touch(serverBin + "/kstrn_ex.so");
    touch(lib_ + "/kstrn_ex.so");
    srv_SetSpecClassifier(
        [](const char *spec) { return spec != nullptr && spec[0] == '/' ? 3 : 0; });
    std::string spec = site + "/db/store.mdb";
    EXPECT_EQ(serverBin + "/kstrn_ex.so", env_FindDriverDll(spec.c_str(), "kstrn", "ex"));
    EXPECT_EQ(lib_ + "/kstrn_ex.so", env_FindDriverDll(".", "kstrn", "ex"));
    touch(bin_ + "/kstrn_ex.so");
    EXPECT_EQ(bin_ + "/kstrn_ex.so", env_FindDriverDll(spec.c_str(), "kstrn", "ex"));
    srv_SetSpecClassifier(nullptr);
}

TEST_F(EnvDriverTest, ProgramsComeBackQuotedAndMustBeExecutable) {
    touch(lib_ + "/opddx", 0755);
    touch(bin_ + "/plain", 0644);
    EXPECT_EQ("\"" + lib_ + "/opddx\"", env_FindDriverExe(".", "OPDDX3", nullptr));
    EXPECT_EQ("", env_FindDriverExe(".", "plain", nullptr));
}

} // namespace
