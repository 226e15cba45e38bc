#include "plat_error.h"
#include "plat_registry.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class PlatRegistryTest : public ::testing::Test {
protected:
    PlatHKey create(const char *path, uint32_t options = PLAT_REG_OPTION_NON_VOLATILE,
                    uint32_t *disposition = nullptr) {
        PlatHKey key = 0;
        EXPECT_EQ(0u, plat_RegCreateKey(PLAT_HKEY_LOCAL_MACHINE, path, options, PLAT_KEY_ALL_ACCESS,
                                        &key, disposition));
        return key;
    }

    static uint32_t setText(PlatHKey key, const char *name, const std::string &text) {
        return plat_RegSetValue(key, name, PLAT_REG_SZ, text.c_str(),
                                static_cast<uint32_t>(text.size() + 1));
    }

    static std::string readText(PlatHKey hive, const char *path, const char *name,
                                uint32_t *err = nullptr) {
        PlatHKey key = 0;
        uint32_t e = plat_RegOpenKey(hive, path, PLAT_KEY_QUERY_VALUE, &key);
        char buf[256] = {};
        uint32_t size = sizeof buf;
        if (e == 0) {
            e = plat_RegQueryValue(key, name, nullptr, buf, &size);
            plat_RegCloseKey(key);
        }
        if (err != nullptr) *err = e;
        return e == 0 ? std::string(buf) : std::string();
    }

    // Runs the body in a child process and returns its exit status.
    template <typename F>
    static int inChild(F body) {
        pid_t pid = fork();
        if (pid == 0) _exit(body());
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
    }

    TempRegistry reg_;
};

TEST_F(PlatRegistryTest, ValueWrittenByOneProcessIsReadByAnother) {
    int rc = inChild([] {
        PlatHKey key = 0;
        if (plat_RegCreateKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Tallowbrook\\Trellane", 0,
                              PLAT_KEY_ALL_ACCESS, &key, nullptr) != 0)
            return 1;
        uint32_t d = 1234567;
        if (plat_RegSetValue(key, "TagSize", PLAT_REG_DWORD, &d, 4) != 0) return 2;
        return setText(key, "Root:", "/srv/suite") == 0 ? 0 : 3;
    });
    ASSERT_EQ(0, rc);

    PlatHKey key = 0;
    ASSERT_EQ(0u, plat_RegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "software\\TALLOWBROOK\\trellane",
                                  PLAT_KEY_READ, &key));
    uint32_t type = 0, d = 0, size = 4;
    EXPECT_EQ(0u, plat_RegQueryValue(key, "tagsize", &type, &d, &size));
    EXPECT_EQ(PLAT_REG_DWORD, type);
    EXPECT_EQ(1234567u, d);
    plat_RegCloseKey(key);
    EXPECT_EQ("/srv/suite",
              readText(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Tallowbrook\\Trellane", "ROOT:"));
}

TEST_F(PlatRegistryTest, NamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
    PlatHKey key = create("SOFTWARE\\Mixed");
    ASSERT_EQ(0u, setText(key, "ProductName", "first"));
    ASSERT_EQ(0u, setText(key, "PRODUCTNAME", "second"));
    plat_RegCloseKey(key);
    uint32_t disposition = 0;
    plat_RegCloseKey(create("software\\MIXED", 0, &disposition));
    EXPECT_EQ(PLAT_REG_OPENED_EXISTING_KEY, disposition);

    EXPECT_EQ("second", readText(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\mixed", "productname"));
    std::ifstream in(reg_.root() + "/HKLM/SOFTWARE/Mixed/.values");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ("ProductName=sz:second", line);
    EXPECT_FALSE(std::getline(in, line)); // one value, not two
}

TEST_F(PlatRegistryTest, MissingValueAndSmallBufferGiveWindowsErrors) {
    PlatHKey key = create("SOFTWARE\\Sizes");
    ASSERT_EQ(0u, setText(key, "Name", "Lumbrel"));
    char buf[8] = {};
    uint32_t size = 7;
    EXPECT_EQ(WERR_MORE_DATA, plat_RegQueryValue(key, "Name", nullptr, buf, &size));
    EXPECT_EQ(8u, size); // the text and its NUL
    size = 8;
    EXPECT_EQ(0u, plat_RegQueryValue(key, "Name", nullptr, buf, &size));
    EXPECT_STREQ("Lumbrel", buf);
    size = 0;
    EXPECT_EQ(0u, plat_RegQueryValue(key, "Name", nullptr, nullptr, &size));
    EXPECT_EQ(8u, size);

    size = sizeof buf;
    EXPECT_EQ(WERR_FILE_NOT_FOUND, plat_RegQueryValue(key, "Other", nullptr, buf, &size));
    EXPECT_EQ(WERR_FILE_NOT_FOUND, plat_RegDeleteValue(key, "Other"));
    EXPECT_EQ(0u, plat_RegDeleteValue(key, "NAME"));
    EXPECT_EQ(WERR_FILE_NOT_FOUND, plat_RegQueryValue(key, "Name", nullptr, buf, &size));
    plat_RegCloseKey(key);

    PlatHKey none = 0;
    EXPECT_EQ(WERR_FILE_NOT_FOUND,
              plat_RegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere", PLAT_KEY_READ, &none));
}

TEST_F(PlatRegistryTest, ConcurrentWritersLoseNoValue) {
    constexpr int k_writers = 6;
    constexpr int k_values = 25;
    plat_RegCloseKey(create("SOFTWARE\\Busy"));
    std::vector<pid_t> pids;
    for (int w = 0; w < k_writers; ++w) {
        pid_t pid = fork();
        if (pid == 0) {
            PlatHKey key = 0;
            if (plat_RegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Busy", PLAT_KEY_SET_VALUE,
                                &key) != 0)
                _exit(1);
            for (int v = 0; v < k_values; ++v) {
                std::string name = "w" + std::to_string(w) + "_" + std::to_string(v);
                if (setText(key, name.c_str(), name + "=data\r\n") != 0) _exit(2);
            }
            _exit(0);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < k_writers; ++w)
        for (int v = 0; v < k_values; ++v) {
            std::string name = "w" + std::to_string(w) + "_" + std::to_string(v);
            EXPECT_EQ(name + "=data\r\n",
                      readText(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Busy", name.c_str()));
        }
}

TEST_F(PlatRegistryTest, StoreSeededByHandIsRead) {
    std::string dir = reg_.root() + "/HKCU/SOFTWARE/Seeded";
    ASSERT_EQ(0, system(("mkdir -p " + dir).c_str()));
    std::ofstream(dir + "/.values") << "Path=sz:C:\\\\Data\\=x\\nnext\n"
                                    << "Count=dword:42\n"
                                    << "Blob=hex:00ff10\n"
                                    << "Expand=hex(2):414200\n"
                                    << "this line is not a value\n";
    EXPECT_EQ("C:\\Data=x\nnext", readText(PLAT_HKEY_CURRENT_USER, "Software\\Seeded", "path"));

    PlatHKey key = 0;
    ASSERT_EQ(0u, plat_RegOpenKey(PLAT_HKEY_CURRENT_USER, "Software\\Seeded", 0, &key));
    uint32_t type = 0, d = 0, size = 4;
    EXPECT_EQ(0u, plat_RegQueryValue(key, "Count", &type, &d, &size));
    EXPECT_EQ(42u, d);
    unsigned char blob[8] = {};
    size = sizeof blob;
    EXPECT_EQ(0u, plat_RegQueryValue(key, "Blob", &type, blob, &size));
    EXPECT_EQ(PLAT_REG_BINARY, type);
    ASSERT_EQ(3u, size);
    EXPECT_EQ(0xff, blob[1]);
    size = sizeof blob;
    EXPECT_EQ(0u, plat_RegQueryValue(key, "Expand", &type, blob, &size));
    EXPECT_EQ(PLAT_REG_EXPAND_SZ, type);
    EXPECT_EQ(3u, size);
    plat_RegCloseKey(key);
}

TEST_F(PlatRegistryTest, KeyNamesNeverLeaveTheStore) {
    PlatHKey key = create("SOFTWARE\\..\\..\\a/b\\.values\\%2E");
    ASSERT_EQ(0u, setText(key, "x", "y"));
    plat_RegCloseKey(key);
    EXPECT_EQ("y", readText(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\..\\..\\A/B\\.VALUES\\%2e", "x"));
    struct stat st;
    EXPECT_EQ(0,
              stat((reg_.root() + "/HKLM/SOFTWARE/%2E./%2E./a%2Fb/%2Evalues/%252E").c_str(), &st));
}

TEST_F(PlatRegistryTest, VolatileKeysVanishWithTheirTree) {
    uint32_t disposition = 0;
    plat_RegCloseKey(create("SOFTWARE", 0));
    plat_RegCloseKey(create("SOFTWARE\\EWF", PLAT_REG_OPTION_VOLATILE, &disposition));
    EXPECT_EQ(PLAT_REG_CREATED_NEW_KEY, disposition);
    plat_RegCloseKey(create("software\\ewf", PLAT_REG_OPTION_VOLATILE, &disposition));
    EXPECT_EQ(PLAT_REG_OPENED_EXISTING_KEY, disposition);

    reg_.dropVolatileKeys(); // a restart
    plat_RegCloseKey(create("SOFTWARE\\EWF", PLAT_REG_OPTION_VOLATILE, &disposition));
    EXPECT_EQ(PLAT_REG_CREATED_NEW_KEY, disposition);
}

TEST_F(PlatRegistryTest, FilesAndFoldersIgnoreTheUmask) {
    mode_t old = umask(077);
    PlatHKey key = create("SOFTWARE\\Shared");
    setText(key, "v", "1");
    plat_RegCloseKey(key);
    umask(old);
    struct stat st;
    ASSERT_EQ(0, stat((reg_.root() + "/HKLM/SOFTWARE/Shared").c_str(), &st));
    EXPECT_EQ(0777u, st.st_mode & 0777);
    ASSERT_EQ(0, stat((reg_.root() + "/HKLM/SOFTWARE/Shared/.values").c_str(), &st));
    EXPECT_EQ(0666u, st.st_mode & 0777);
}

TEST_F(PlatRegistryTest, ChangeWatchSeesWritesOfOtherProcesses) {
    PlatHKey key = create("SOFTWARE\\Watched");
    ASSERT_EQ(0u, plat_RegNotifyArm(key));
    EXPECT_EQ(0, plat_RegNotifyChanged(key));
    ASSERT_EQ(0, inChild([] {
                  PlatHKey k = 0;
                  plat_RegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Watched", PLAT_KEY_SET_VALUE,
                                  &k);
                  return setText(k, "Dev_Debug", "ON") == 0 ? 0 : 1;
              }));
    EXPECT_EQ(1, plat_RegNotifyChanged(key));
    ASSERT_EQ(0u, plat_RegNotifyArm(key));
    EXPECT_EQ(0, plat_RegNotifyChanged(key));
    plat_RegCloseKey(key);
}

TEST_F(PlatRegistryTest, RemoteRegistryIsUnreachable) {
    PlatHKey hive = 0;
    EXPECT_EQ(WERR_BAD_NETPATH,
              plat_RegConnectRegistry("\\\\SERVER", PLAT_HKEY_LOCAL_MACHINE, &hive));
    EXPECT_EQ(0u, plat_RegConnectRegistry(nullptr, PLAT_HKEY_LOCAL_MACHINE, &hive));
    EXPECT_EQ(PLAT_HKEY_LOCAL_MACHINE, hive);
}

} // namespace
