#include "plat_cp1252.h"
#include "plat_error.h"
#include "plat_file.h"
#include "plat_filecreate.h"
#include "plat_fileops.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

mode_t modeOf(const std::string &path) {
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_mode & 0777;
}

TEST(PlatFileOps, DispositionsModesAndLocks) {
    TempFolder dir;
    std::string f = dir / "run.odl";
    mode_t old = umask(077);
    int fd = plat_FileCreate(f.c_str(), PLAT_GENERIC_READ | PLAT_GENERIC_WRITE, PLAT_CREATE_NEW,
                             PLAT_OPEN_WRITE_THROUGH | PLAT_OPEN_NULL_ACCESS_LIST);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(modeOf(f), 0666u); // null access list: open to everybody whatever the umask
    EXPECT_NE(fcntl(fd, F_GETFL) & O_DSYNC, 0);
    std::string g = dir / "plain";
    int plain = plat_FileCreate(g.c_str(), PLAT_GENERIC_WRITE, PLAT_OPEN_ALWAYS, 0);
    ASSERT_GE(plain, 0);
    EXPECT_EQ(modeOf(g), 0600u);
    umask(old);
    EXPECT_EQ(plat_FileCreate(f.c_str(), PLAT_GENERIC_READ, PLAT_CREATE_NEW, 0), -1);
    EXPECT_EQ(errno, 183);
    EXPECT_EQ(plat_FileCreate((dir / "none").c_str(), PLAT_GENERIC_READ, PLAT_OPEN_EXISTING, 0),
              -1);
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(plat_FileCreate((dir / "no/file").c_str(), PLAT_GENERIC_READ, PLAT_OPEN_ALWAYS, 0),
              -1);
    EXPECT_EQ(errno, 3);
    EXPECT_EQ(plat_FileCreate("\\\\host\\share\\f", PLAT_GENERIC_READ, PLAT_OPEN_EXISTING, 0), -1);
    EXPECT_EQ(errno, 53);
    EXPECT_EQ(plat_FileCreate(dir.path().c_str(), PLAT_GENERIC_READ, PLAT_OPEN_EXISTING, 0), -1);
    EXPECT_EQ(errno, 5);

    ASSERT_EQ(plat_FileWriteAt(fd, "abcdef", 6, 0), 0);
    int trunc =
        plat_FileCreate(f.c_str(), PLAT_GENERIC_READ | PLAT_GENERIC_WRITE, PLAT_CREATE_ALWAYS, 0);
    ASSERT_GE(trunc, 0);
    EXPECT_EQ(plat_FileSize(trunc), 0);
    ASSERT_EQ(plat_FileSetEnd(trunc, 10), 0);
    EXPECT_EQ(plat_FileSize(fd), 10);

    // The lock belongs to the open, not the process: the second descriptor conflicts, and
    // closing the first releases it. A byte past the end may be locked.
    EXPECT_EQ(plat_FileLockByte(fd, 100), 0);
    EXPECT_EQ(plat_FileLockByte(trunc, 100), -1);
    EXPECT_EQ(errno, 33);
    EXPECT_EQ(plat_FileLockByte(trunc, 99), 0);
    EXPECT_EQ(plat_FileUnlockByte(trunc, 5), 0);
    plat_FileClose(fd);
    EXPECT_EQ(plat_FileLockByte(trunc, 100), 0);
    plat_FileClose(trunc);
    plat_FileClose(plain);

    EXPECT_EQ(plat_FileSetReadOnly(f.c_str(), 1), 0);
    EXPECT_EQ(modeOf(f) & 0222, 0u);
    EXPECT_EQ(plat_FileSetReadOnly(f.c_str(), 0), 0);
    EXPECT_NE(modeOf(f) & 0200, 0u);
}

std::string bytesOf(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Windows opens a file marked read-only for reading only, and neither replaces nor deletes it,
// whoever asks: these tests run as root, whom the file's mode alone does not stop.
TEST(PlatFileOps, FileMarkedReadOnlyIsNeitherWrittenReplacedNorDeleted) {
    TempFolder dir;
    std::string f = dir / "closed.odl", other = dir / "other";
    std::ofstream(f, std::ios::binary) << "kept";
    ASSERT_EQ(plat_FileSetReadOnly(f.c_str(), 1), 0);
    ASSERT_EQ(modeOf(f), 0444u);
    std::ofstream(other, std::ios::binary) << "new";
    const char *p = f.c_str();
    std::vector<std::pair<const char *, std::function<int()>>> writers = {
        {"open read-write", [&] { return plat_FileOpen(p, PLAT_FILE_READ_WRITE); }},
        {"open or create", [&] { return plat_FileOpenOrCreate(p); }},
        {"open or create shared", [&] { return plat_FileOpenOrCreateShared(p); }},
        {"create truncated", [&] { return plat_FileCreateTruncated(p); }},
        {"create always",
         [&] { return plat_FileCreate(p, PLAT_GENERIC_WRITE, PLAT_CREATE_ALWAYS, 0); }},
        {"open always",
         [&] { return plat_FileCreate(p, PLAT_GENERIC_WRITE, PLAT_OPEN_ALWAYS, 0); }},
        {"replace", [&] { return plat_FileReplace(other.c_str(), p); }},
        {"delete", [&] { return plat_FileDelete(p); }},
    };
    for (auto &[name, write] : writers) {
        int fd = write();
        if (fd > 0) plat_FileClose(fd);
        EXPECT_EQ(fd, -1) << name;
        EXPECT_EQ(errno, 5) << name;
        EXPECT_EQ(bytesOf(f), "kept") << name;
        EXPECT_EQ(modeOf(f), 0444u) << name;
    }
    int reader = plat_FileOpen(p, PLAT_FILE_READ);
    EXPECT_GE(reader, 0);
    plat_FileClose(reader);

    // Cleared, the mark no longer stands in the way.
    ASSERT_EQ(plat_FileSetReadOnly(p, 0), 0);
    int fd = plat_FileCreate(p, PLAT_GENERIC_WRITE, PLAT_CREATE_ALWAYS, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(plat_FileWriteAt(fd, "w", 1, 0), 0);
    plat_FileClose(fd);
    EXPECT_EQ(bytesOf(f), "w");
    EXPECT_EQ(plat_FileReplace(other.c_str(), p), 0);
    EXPECT_EQ(bytesOf(f), "new");
}

TEST(PlatFileOps, MoveNeverReplacesAndDeleteReportsMissing) {
    TempFolder dir;
    std::string a = dir / "a.odl", b = dir / "b.odl";
    plat_FileClose(plat_FileCreate(a.c_str(), PLAT_GENERIC_WRITE, PLAT_CREATE_NEW, 0));
    plat_FileClose(plat_FileCreate(b.c_str(), PLAT_GENERIC_WRITE, PLAT_CREATE_NEW, 0));
    EXPECT_EQ(plat_FileMove(a.c_str(), b.c_str()), -1);
    EXPECT_EQ(errno, 183);
    EXPECT_EQ(plat_FileMove(a.c_str(), a.c_str()), 0); // onto itself: nothing to do
    EXPECT_EQ(plat_FileMove((dir / "x").c_str(), (dir / "y").c_str()), -1);
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(plat_FileDelete(b.c_str()), 0);
    EXPECT_EQ(plat_FileDelete(b.c_str()), -1);
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(plat_FileMove(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(access(a.c_str(), F_OK), -1);
    std::string c = dir / "c";
    plat_FileClose(plat_FileCreate(c.c_str(), PLAT_GENERIC_WRITE, PLAT_CREATE_NEW, 0));
    EXPECT_EQ(plat_FileReplace(c.c_str(), b.c_str()), 0);
}

TEST(PlatFileOps, ListingIsSortedSnapshotWithPatterns) {
    TempFolder dir;
    for (const char *n : {"b.txt", "A.odl", "a.TXT", "_x.odl", "c.odl"})
        plat_FileClose(plat_FileCreate((dir / n).c_str(), PLAT_GENERIC_WRITE, PLAT_CREATE_NEW, 0));
    PlatFindEntry e;
    PlatFindHandle list = plat_FindFirst((dir / "*.*").c_str(), &e);
    ASSERT_TRUE(list);
    std::vector<std::string> names{e.name};
    // Renaming during the walk neither skips nor repeats a name.
    ASSERT_EQ(plat_FileMove((dir / "c.odl").c_str(), (dir / "0.odl").c_str()), 0);
    while (plat_FindNext(list.get(), &e) == 0)
        names.push_back(e.name);
    EXPECT_EQ(errno, 18);
    // Letters fold to upper case, so '_' (0x5F) sorts after them.
    EXPECT_EQ(names,
              (std::vector<std::string>{".", "..", "A.odl", "a.TXT", "b.txt", "c.odl", "_x.odl"}));

    list = plat_FindFirst((dir / "*.txt").c_str(), &e);
    ASSERT_TRUE(list);
    EXPECT_EQ(e.name, "a.TXT");
    EXPECT_FALSE(plat_FindFirst((dir / "*.zip").c_str(), &e));
    EXPECT_EQ(errno, 2);
    EXPECT_FALSE(plat_FindFirst((dir / "none/*.*").c_str(), &e));
    EXPECT_EQ(errno, 3);
    EXPECT_EQ(plat_MatchPattern("?.O*", "a.odl"), 1);
    EXPECT_EQ(plat_MatchPattern("?.O*", "ab.odl"), 0);
}

TEST(PlatFileOps, Utf16ConvertsThroughTheTable) {
    std::string ansi = "A\x80\xE9\x9F";
    std::u16string wide = plat_Cp1252ToUtf16(ansi);
    EXPECT_EQ(wide, (std::u16string{u'A', 0x20AC, 0x00E9, 0x0178}));
    EXPECT_EQ(plat_Utf16ToCp1252(wide), ansi);
    EXPECT_EQ(plat_Utf16ToCp1252(u"\u4E2D\U0001F600x"), "??x");
}

} // namespace
