// Archives of configuration folders with the real GNU tar, and with stand-in programs put
// first on PATH or in KVT_BIN for the failures and for compress and tbzip.
#include "prog.h"

#include "temp_registry.h"

#include "plat_spawn.h"
#include "reg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string cwd() {
    char buf[PATH_MAX];
    return getcwd(buf, sizeof buf) != nullptr ? buf : "";
}

void writeFile(const std::string &path, const std::string &text, mode_t mode = 0644) {
    std::ofstream(path) << text;
    chmod(path.c_str(), mode);
}

std::string readFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        config_ = scratch_ / "config";
        folder_ = config_ + "/CURRENT";
        for (const std::string &d :
             {config_, folder_, folder_ + "/sub", config_ + "/SAVED_VALUES",
              config_ + "/REPLAY_OPTIONS", config_ + "/CMONITORS", config_ + "/TRENDS",
              scratch_ / "saved", scratch_ / "bin", scratch_ / "fake", scratch_ / "out"})
            mkdir(d.c_str(), 0755);
        writeFile(folder_ + "/config", "device");
        writeFile(folder_ + "/sub/channels", "channels");
        writeFile(config_ + "/SAVED_VALUES/values", "values");
        writeFile(config_ + "/REPLAY_OPTIONS/replay", "replay");
        writeFile(config_ + "/CMONITORS/monitor", "monitor");
        setenv("KVT_SAVED_CONFIG", (scratch_ / "saved").c_str(), 1);
        setenv("KVT_BIN", (scratch_ / "bin").c_str(), 1);
        path_ = getenv("PATH");
        setenv("PATH", (scratch_ / "fake" + ":" + path_).c_str(), 1);
        reg_ForgetProductNames();
        before_ = cwd();
    }
    void TearDown() override {
        EXPECT_EQ(before_, cwd());
        setenv("PATH", path_.c_str(), 1);
        reg_ForgetProductNames();
    }

    void setValue(const char *key, const char *name, const char *value) {
        uint32_t type = PLAT_REG_SZ;
        uint32_t size = static_cast<uint32_t>(strlen(value) + 1);
        ASSERT_EQ(0u, reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, key, 0x0002, name, &type,
                                      const_cast<char *>(value), &size));
    }
    void product(const char *name) {
        setValue(REG_MAKER_KEY, "ProductName", name);
        reg_ForgetProductNames();
    }

    // A stand-in that records its folder and arguments, one a line, then runs body.
    void fake(const std::string &path, const std::string &body) {
        writeFile(path,
                  "#!/bin/sh\n{ pwd; printf '%s\\n' \"$@\"; } > \"" + path + ".args\"\n" + body,
                  0755);
    }
    std::string args(const std::string &path) { return readFile(path + ".args"); }

    // The members of a tar file, sorted, from the real tar.
    static std::vector<std::string> members(const std::string &archive) {
        int status = -1;
        std::string out;
        EXPECT_EQ(0, plat_RunAndWait({"tar", "-tf", archive}, &status, &out));
        EXPECT_EQ(0, status) << out;
        std::vector<std::string> names;
        std::stringstream s(out);
        for (std::string line; std::getline(s, line);)
            if (!line.empty() && line.back() != '/') names.push_back(line);
        std::sort(names.begin(), names.end());
        return names;
    }

    TempRegistry registry_;
    TempFolder scratch_;
    std::string config_, folder_, path_, before_;
};

using Names = std::vector<std::string>;

TEST_F(ArchiveTest, TarOfAnotherFolderTakesItsSiblingsAndKeepsTheCurrentFolder) {
    const std::string archive = scratch_ / "out/plain.TAR";
    errno = 0;
    // GNU tar's note on "../" members is no failure.
    ASSERT_EQ(0, prog_ArchiveFolder(("\"" + archive + "\"").c_str(), folder_.c_str(), 0)) << errno;
    EXPECT_EQ((Names{"./config", "./sub/channels", "REPLAY_OPTIONS/replay", "SAVED_VALUES/values"}),
              members(archive));

    // With the flag, the product's extra folders that exist; REPLAY_OPTIONS is named twice.
    product("Vornhal");
    ASSERT_EQ(0, prog_ArchiveFolder(archive.c_str(), folder_.c_str(), 1));
    EXPECT_EQ((Names{"./config", "./sub/channels", "CMONITORS/monitor", "REPLAY_OPTIONS/replay",
                     "REPLAY_OPTIONS/replay", "SAVED_VALUES/values"}),
              members(archive));

    // "ExtraSaveDirs" replaces the default list.
    setValue(REG_PRODUCT_KEY, "ExtraSaveDirs", "TRENDS;;MISSING");
    ASSERT_EQ(0, prog_ArchiveFolder(archive.c_str(), folder_.c_str(), 1));
    EXPECT_EQ((Names{"./config", "./sub/channels", "REPLAY_OPTIONS/replay", "SAVED_VALUES/values"}),
              members(archive));
}

TEST_F(ArchiveTest, RelativeArchiveOfTheCurrentFolder) {
    // A folder without siblings: tar says nothing at all, and the caller must not wait for more.
    const std::string lone = scratch_ / "lone";
    mkdir(lone.c_str(), 0755);
    writeFile(lone + "/file", "x");
    ASSERT_EQ(0, chdir(lone.c_str()));
    int result = prog_ArchiveFolder("../out/lone.tar", nullptr, 1);
    int err = errno;
    EXPECT_EQ(lone, cwd());
    ASSERT_EQ(0, chdir(before_.c_str()));
    ASSERT_EQ(0, result) << err;
    EXPECT_EQ((Names{"./file"}), members(scratch_ / "out/lone.tar"));
}

TEST_F(ArchiveTest, SavedConfigurationIsTarredThenCompressed) {
    const std::string compress = scratch_ / "fake/compress";
    fake(compress, "cp \"$1\" \"$2\" || exit 9\necho compressed\n");
    const std::string archive = scratch_ / "out/run.2024.kvt";
    ASSERT_EQ(0, prog_ArchiveFolder(archive.c_str(), folder_.c_str(), 0)) << errno;
    const std::string tarFile = scratch_ / "saved/run.2024.tar";
    EXPECT_EQ(folder_ + "\n" + tarFile + "\n" + archive + "\n", args(compress));
    EXPECT_FALSE(exists(tarFile));
    EXPECT_EQ((Names{"./config", "./sub/channels", "REPLAY_OPTIONS/replay", "SAVED_VALUES/values"}),
              members(archive));

    // A failing compressor: its exit code, and no tar file left behind.
    fake(compress, "exit 4\n");
    errno = 0;
    EXPECT_EQ(-1, prog_ArchiveFolder("out\\x.KVT", folder_.c_str(), 0));
    EXPECT_EQ(4, errno);
    EXPECT_FALSE(exists(scratch_ / "saved/x.tar"));

    // No compressor at all.
    unlink(compress.c_str());
    setenv("PATH", (scratch_ / "fake").c_str(), 1);
    ASSERT_EQ(0, symlink("/usr/bin/tar", (scratch_ / "fake/tar").c_str()));
    errno = 0;
    EXPECT_EQ(-1, prog_ArchiveFolder(archive.c_str(), folder_.c_str(), 0));
    EXPECT_EQ(2, errno);
    EXPECT_FALSE(exists(tarFile));
}

TEST_F(ArchiveTest, TarThatComplainsOrFailsLeavesNoArchive) {
    const std::string tar = scratch_ / "fake/tar";
    const std::string archive = scratch_ / "out/bad.tar";
    // Writes the archive, then one word on its error output, and claims success.
    fake(tar, "echo data > \"$2\"\necho boom >&2\nexit 0\n");
    errno = 0;
    EXPECT_EQ(-1, prog_ArchiveFolder(archive.c_str(), folder_.c_str(), 1));
    EXPECT_EQ(31, errno);
    EXPECT_FALSE(exists(archive));
    EXPECT_EQ(folder_ + "\n-cf\n" + archive + "\n.\n../SAVED_VALUES\n../REPLAY_OPTIONS\n" +
                  "../REPLAY_OPTIONS\n",
              args(tar));

    // Its notes on "../" alone are fine (in the words of the C locale); anything after them is
    // not.
    fake(tar, "[ \"$LC_ALL\" = C ] || exit 7\necho data > \"$2\"\n"
              "echo \"tar: Removing leading \\`../' from member names\" >&2\n");
    EXPECT_EQ(0, prog_ArchiveFolder(archive.c_str(), folder_.c_str(), 0));
    EXPECT_TRUE(exists(archive));
    fake(tar, "echo data > \"$2\"\necho \"tar: Removing leading \\`../' from member names\" >&2\n"
              "printf x >&2\n");
    EXPECT_EQ(-1, prog_ArchiveFolder(archive.c_str(), folder_.c_str(), 0));
    EXPECT_FALSE(exists(archive));

    // A silent failure: the exit code.
    fake(tar, "echo data > \"$2\"\nexit 2\n");
    errno = 0;
    EXPECT_EQ(-1, prog_ArchiveFolder(archive.c_str(), folder_.c_str(), 0));
    EXPECT_EQ(2, errno);
    EXPECT_FALSE(exists(archive));
}

TEST_F(ArchiveTest, OtherExtensionsGoToTbzip) {
    const std::string tbzip = scratch_ / "bin/tbzip";
    fake(tbzip, "exit \"${TBZIP_EXIT:-0}\"\n");
    product("Lumbrel");
    mkdir((config_ + "/WEBHMI").c_str(), 0755);
    ASSERT_EQ(0, chdir(scratch_.path().c_str()));
    int result = prog_ArchiveFolder("\"out/cfg.zip\"", folder_.c_str(), 1);
    ASSERT_EQ(0, chdir(before_.c_str()));
    ASSERT_EQ(0, result) << errno;
    EXPECT_EQ(folder_ + "\n-a\n-r\n" + scratch_ / "out/cfg.zip" + "\n" + folder_ + "\n" + config_ +
                  "/SAVED_VALUES\n" + config_ + "/REPLAY_OPTIONS\n" + config_ + "/CMONITORS\n" +
                  config_ + "/TRENDS\n" + config_ + "/WEBHMI\n",
              args(tbzip));

    // Without the flag, only the two standard siblings.
    ASSERT_EQ(0, prog_ArchiveFolder("/tmp/x.kvz", folder_.c_str(), 0));
    EXPECT_EQ(folder_ + "\n-a\n-r\n/tmp/x.kvz\n" + folder_ + "\n" + config_ + "/SAVED_VALUES\n" +
                  config_ + "/REPLAY_OPTIONS\n",
              args(tbzip));

    setenv("TBZIP_EXIT", "3", 1);
    errno = 0;
    EXPECT_EQ(-1, prog_ArchiveFolder("/tmp/x.zip", folder_.c_str(), 0));
    EXPECT_EQ(3, errno);
    unsetenv("TBZIP_EXIT");

    unlink(tbzip.c_str());
    errno = 0;
    EXPECT_EQ(-1, prog_ArchiveFolder("/tmp/x.zip", folder_.c_str(), 0));
    EXPECT_EQ(2, errno);
    EXPECT_EQ(-1, prog_ArchiveFolder("\"\"", folder_.c_str(), 0));
}

} // namespace
