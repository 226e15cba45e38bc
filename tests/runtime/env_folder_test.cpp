#include "env.h"
#include "reg.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

class EnvFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        reg_ForgetProductNames();
        reg_ClearUserRedirect();
        for (const char *v : {"KVT_BIN", "KVT_CURRENT_CONFIG", "KVT_EXPORTED_DATA", "KVT_",
                              "REPLAY_OPTIONS", "XDG_DATA_HOME"})
            unsetenv(v);
    }
    void TearDown() override { reg_ForgetProductNames(); }

    void setText(PlatHKey hive, const char *key, const char *name, const char *text) {
        uint32_t type = PLAT_REG_SZ;
        uint32_t size = static_cast<uint32_t>(strlen(text) + 1);
        ASSERT_EQ(0u, reg_AccessValue(hive, key, PLAT_KEY_SET_VALUE, name, &type,
                                      const_cast<char *>(text), &size));
    }

    TempRegistry reg_;
};

TEST_F(EnvFolderTest, UnsetVariablesLieBelowTheProductRoot) {
    EXPECT_EQ("/Trellane/CURRENT_CONFIG", env_ResolveFolder("KVT_CURRENT_CONFIG"));
    EXPECT_EQ("/Trellane/CURRENT_CONFIG", env_GetFolder("kvt_current_config"));
    EXPECT_EQ("/Trellane/EXPORTED_IMAGES", env_ResolveFolder("EXPORTED_IMAGES"));
    EXPECT_EQ("/Trellane/", env_ResolveFolder("KVT_"));
}

TEST_F(EnvFolderTest, RootValueAndProductNameMoveTheDefaults) {
    setText(PLAT_HKEY_LOCAL_MACHINE, REG_MAKER_KEY, "ProductName", "Lumbrel");
    reg_ForgetProductNames();
    EXPECT_EQ("/Lumbrel/BIN", env_ResolveFolder("KVT_BIN"));
    EXPECT_EQ("/Other", env_GetRootFolderFor("Other"));
    setText(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "Root:", "/srv/suite");
    EXPECT_EQ("/srv/suite/BIN", env_ResolveFolder("KVT_BIN"));
}

TEST_F(EnvFolderTest, VariableValueIsTakenAsItStands) {
    setenv("KVT_BIN", "/opt/kvt/bin", 1);
    EXPECT_EQ("/opt/kvt/bin", env_ResolveFolder("KVT_BIN"));
    EXPECT_EQ("/opt/kvt/bin", env_ResolveFolder("DM2_BIN"));
    EXPECT_EQ("/opt/kvt/bin", env_ResolveFolder("dm2_BIN"));
    setenv("KVT_BIN", "%ABC%", 1);
    EXPECT_EQ("%ABC%", env_ResolveFolder("KVT_BIN"));
}

TEST_F(EnvFolderTest, PercentReferenceReadsTheRegistry) {
    setText(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\A", "B", "/data/from/registry");
    setenv("KVT_BIN", "%\\LocalMachine\\SOFTWARE\\A\\B%", 1);
    EXPECT_EQ("/data/from/registry", env_ResolveFolder("KVT_BIN"));
    setenv("KVT_BIN", "%\\localmachine\\software\\a\\b%", 1);
    EXPECT_EQ("/data/from/registry", env_ResolveFolder("KVT_BIN"));

    // Unknown hive, missing value or no value separator: the text itself.
    for (const char *v :
         {"%\\Nowhere\\SOFTWARE\\A\\B%", "%\\LocalMachine\\SOFTWARE\\A\\C%", "%\\LocalMachine%"}) {
        setenv("KVT_BIN", v, 1);
        EXPECT_EQ(v, env_ResolveFolder("KVT_BIN"));
    }
}

TEST_F(EnvFolderTest, OverlongNameFailsWithInvalidArgument) {
    std::string name(250, 'X');
    errno = 0;
    EXPECT_EQ("", env_ResolveFolder(name.c_str()));
    EXPECT_EQ(22, errno);
    EXPECT_NE("", env_ResolveFolder(std::string(249, 'X').c_str()));
}

TEST_F(EnvFolderTest, ExportFoldersAreCreatedWhenMissing) {
    std::string target = reg_.folder() / "exports/data";
    mkdir((reg_.folder() / "exports").c_str(), 0777);
    setenv("KVT_EXPORTED_DATA", target.c_str(), 1);
    EXPECT_EQ(target, env_GetFolder("KVT_EXPORTED_DATA"));
    struct stat st;
    ASSERT_EQ(0, stat(target.c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(EnvFolderTest, UnwritableExportFolderFallsBackToTheUsersOwn) {
    // A folder below /proc can be neither created nor written, even by root.
    setenv("REPLAY_OPTIONS", "/proc/kvt-no-such-folder/replay", 1);
    setenv("XDG_DATA_HOME", (reg_.folder() / "home/share").c_str(), 1);
    std::string expected = reg_.folder() / "home/share/Tallowbrook/Trellane/REPLAY_OPTIONS";
    EXPECT_EQ(expected, env_GetFolder("REPLAY_OPTIONS"));
    struct stat st;
    EXPECT_EQ(0, stat(expected.c_str(), &st));

    // Other folders are never redirected.
    setenv("KVT_BIN", "/proc/kvt-no-such-folder/bin", 1);
    EXPECT_EQ("/proc/kvt-no-such-folder/bin", env_GetFolder("KVT_BIN"));
    unsetenv("KVT_BIN");
}

} // namespace
