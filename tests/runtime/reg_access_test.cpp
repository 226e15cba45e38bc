#include "plat_error.h"
#include "reg.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class RegAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        reg_ClearUserRedirect();
        reg_ForgetProductNames();
    }
    void TearDown() override {
        reg_ClearUserRedirect();
        reg_ForgetProductNames();
    }

    static uint32_t write(PlatHKey hive, const char *key, const char *name, const char *text) {
        uint32_t type = PLAT_REG_SZ;
        uint32_t size = static_cast<uint32_t>(strlen(text) + 1);
        return reg_AccessValue(hive, key, PLAT_KEY_SET_VALUE, name, &type, const_cast<char *>(text),
                               &size);
    }

    static std::string read(PlatHKey hive, const char *key, const char *name,
                            uint32_t access = PLAT_KEY_QUERY_VALUE, uint32_t *err = nullptr) {
        char buf[64] = {};
        uint32_t type = 0;
        uint32_t size = sizeof buf;
        uint32_t e = reg_AccessValue(hive, key, access, name, &type, buf, &size);
        if (err != nullptr) *err = e;
        return e == 0 ? std::string(buf) : "<" + std::to_string(e) + ">";
    }

    // Stores the installed product's name and makes the process read it again.
    void install(const char *product) {
        ASSERT_EQ(0u, write(PLAT_HKEY_LOCAL_MACHINE, REG_MAKER_KEY, "ProductName", product));
        reg_ForgetProductNames();
    }

    TempRegistry reg_;
};

TEST_F(RegAccessTest, ProductKeyIsReadUnderTheProductNameFirst) {
    install("Lumbrel");
    ASSERT_EQ(0u, write(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Tallowbrook\\Lumbrel", "A", "own"));
    // A write to the product key lands under the product's name only.
    ASSERT_EQ(0u, write(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "B", "written"));
    EXPECT_EQ("written", read(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Tallowbrook\\Lumbrel", "B"));
    PlatHKey key = 0;
    EXPECT_EQ(WERR_FILE_NOT_FOUND,
              plat_RegOpenKey(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_READ, &key));

    // Seed the generic key directly, as an installer would.
    PlatHKey generic = 0;
    ASSERT_EQ(0u, plat_RegCreateKey(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, 0,
                                    PLAT_KEY_ALL_ACCESS, &generic, nullptr));
    plat_RegSetValue(generic, "A", PLAT_REG_SZ, "generic", 8);
    plat_RegSetValue(generic, "C", PLAT_REG_SZ, "fallback", 9);
    plat_RegCloseKey(generic);

    EXPECT_EQ("own", read(PLAT_HKEY_LOCAL_MACHINE, "software\\tallowbrook\\TRELLANE", "A"));
    EXPECT_EQ("fallback", read(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "C"));
    EXPECT_EQ("<2>", read(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "D"));
    // Only a key path that ends with the product word is replaced.
    EXPECT_EQ("<2>", read(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Tallowbrook\\Trellane\\X", "A"));
}

TEST_F(RegAccessTest, UnopenableProductKeyFallsBackOnlyForPlainQueryAccess) {
    install("Fenlo");
    PlatHKey generic = 0;
    ASSERT_EQ(0u, plat_RegCreateKey(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, 0,
                                    PLAT_KEY_ALL_ACCESS, &generic, nullptr));
    plat_RegSetValue(generic, "TagSize", PLAT_REG_SZ, "12", 3);
    plat_RegCloseKey(generic);

    EXPECT_EQ("12", read(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "TagSize"));
    EXPECT_EQ("<2>", read(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "TagSize", PLAT_KEY_READ));
}

TEST_F(RegAccessTest, SmallBufferIsReportedNotFallenBackFrom) {
    install("Vorn");
    ASSERT_EQ(0u, write(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "Long", "0123456789"));
    char buf[4] = {};
    uint32_t size = sizeof buf;
    EXPECT_EQ(WERR_MORE_DATA, reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY,
                                              PLAT_KEY_QUERY_VALUE, "Long", nullptr, buf, &size));
    EXPECT_EQ(11u, size);
}

TEST_F(RegAccessTest, UserRedirectSendsLocalMachineToCurrentUser) {
    reg_SetUserRedirect();
    EXPECT_EQ(1, reg_GetUserRedirect());
    ASSERT_EQ(0u, write(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Site", "Mode", "user"));
    EXPECT_EQ("user", read(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Site", "Mode"));
    EXPECT_EQ("user", read(PLAT_HKEY_CURRENT_USER, "SOFTWARE\\Site", "Mode"));
    reg_ClearUserRedirect();
    EXPECT_EQ("<2>", read(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Site", "Mode"));

    reg_SetUserRedirect();
    EXPECT_EQ(0u, reg_DeleteValue(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Site", "mode"));
    EXPECT_EQ("<2>", read(PLAT_HKEY_CURRENT_USER, "SOFTWARE\\Site", "Mode"));
}

TEST_F(RegAccessTest, DeleteReplacesTheProductWordWithoutFallback) {
    install("Lumbrel");
    PlatHKey generic = 0;
    ASSERT_EQ(0u, plat_RegCreateKey(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, 0,
                                    PLAT_KEY_ALL_ACCESS, &generic, nullptr));
    plat_RegSetValue(generic, "V", PLAT_REG_SZ, "g", 2);
    plat_RegCloseKey(generic);
    EXPECT_EQ(WERR_FILE_NOT_FOUND, reg_DeleteValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "V"));
    ASSERT_EQ(0u, write(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "V", "own"));
    EXPECT_EQ(0u, reg_DeleteValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "V"));
    EXPECT_EQ("g", read(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "V"));
}

TEST_F(RegAccessTest, ProductNamesComeFromTheRegistryOrTheDefaults) {
    EXPECT_EQ("Trellane", reg_GetProductName());
    EXPECT_EQ(0, reg_IsLumbrelEdition());
    EXPECT_EQ("Wyncote", reg_GetReplicationProductName());

    // The product key in HKLM is the second place looked at.
    PlatHKey key = 0;
    ASSERT_EQ(0u, plat_RegCreateKey(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, 0,
                                    PLAT_KEY_ALL_ACCESS, &key, nullptr));
    plat_RegSetValue(key, "ProductName", PLAT_REG_SZ, "lumbrel", 8);
    plat_RegCloseKey(key);
    EXPECT_EQ("Trellane", reg_GetProductName()); // read once per process
    reg_ForgetProductNames();
    EXPECT_EQ("lumbrel", reg_GetProductName());
    EXPECT_EQ(1, reg_IsLumbrelEdition());
    EXPECT_EQ("Brackenfield", reg_GetReplicationProductName());

    install("Altimund");
    EXPECT_EQ("Altimund", reg_GetProductName());
    EXPECT_EQ(0, reg_IsLumbrelEdition());
    ASSERT_EQ(0u,
              write(PLAT_HKEY_LOCAL_MACHINE, REG_MAKER_KEY, "ReplicationProductName", "Mirror"));
    reg_ForgetProductNames();
    EXPECT_EQ("Mirror", reg_GetReplicationProductName());

    // With the redirect, the maker's key is read from the user's hive.
    reg_SetUserRedirect();
    ASSERT_EQ(0u, write(PLAT_HKEY_LOCAL_MACHINE, REG_MAKER_KEY, "ProductName", "Vorn"));
    reg_ForgetProductNames();
    EXPECT_EQ("Vorn", reg_GetProductName());
}

TEST_F(RegAccessTest, ValueWrittenInOneProcessIsReadInAnother) {
    install("Lumbrel");
    pid_t pid = fork();
    if (pid == 0) {
        reg_ForgetProductNames();
        _exit(write(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "Dev_Debug", "ON") == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ("ON", read(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "DEV_DEBUG"));
}

TEST_F(RegAccessTest, ProductKeyExistsCreatesTheKey) {
    EXPECT_EQ(1, reg_ProductKeyExists("Fenlo"));
    PlatHKey key = 0;
    EXPECT_EQ(0u, plat_RegOpenKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\Tallowbrook\\fenlo",
                                  PLAT_KEY_READ, &key));
    plat_RegCloseKey(key);
}

} // namespace
