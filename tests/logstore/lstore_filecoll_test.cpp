#include "lfile.h"
#include "lstore_filecoll.h"
#include "plat_error.h"
#include "store_fixture.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

uint32_t utc(int y, int mo, int d, int h, int mi, int s) {
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return static_cast<uint32_t>(timegm(&tm));
}

void touch(const std::string &path, const std::string &text = "") {
    std::ofstream(path, std::ios::binary) << text;
}

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

unsigned mode(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode : 0u;
}

std::string readAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class FileCollectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = dir_ / "runs";
        mkdir(folder_.c_str(), 0777);
        setenv("KVT_LOGGED_DATA", (dir_ / "logged").c_str(), 1);
    }
    void TearDown() override { unsetenv("KVT_LOGGED_DATA"); }
    std::string at(const std::string &name) const { return folder_ + "/" + name; }

    TempRegistry registry_;
    TempFolder &dir_ = const_cast<TempFolder &>(registry_.folder());
    std::string folder_;
};

TEST_F(FileCollectionTest, ListsAndFindsRunsByTheTimesInTheirNames) {
    for (const char *name :
         {"RUN240517_083000.odl", "RUN240517_083000_240518_090000.odl", "RUN690101_000000.odl",
          "RUN700101_000000.odl", "RUN240517083000.odl", ".RUN240601_000000.odl",
          "OTHER240601_000000.odl", "240701_000000.odl", "RUN240517_083000.txt", "notes.txt"})
        touch(at(name));
    mkdir(at("SUB250101_000000.odl").c_str(), 0777);

    CLogFileCollection c;
    ASSERT_EQ(c.Open(nullptr, folder_.c_str(), "", "run", LSTORE_READ), 0);
    int size = 0;
    ASSERT_EQ(c.FindFirst(&size), 1);
    EXPECT_EQ(size, 256);
    std::vector<std::string> names;
    std::vector<std::pair<uint32_t, uint32_t>> times;
    char name[256];
    LogTimePair start{}, stop{};
    while (c.FindNext(name, &start, &stop) == 1) {
        names.push_back(name);
        times.push_back({start.seconds, stop.seconds});
        EXPECT_EQ(start.zero, 0);
    }
    EXPECT_EQ(plat_GetLastError(), 0u);
    const std::vector<std::string> listed = {
        "240701_000000.odl",    "OTHER240601_000000.odl",
        "RUN240517_083000.odl", "RUN240517_083000_240518_090000.odl",
        "RUN690101_000000.odl", "RUN700101_000000.odl"};
    EXPECT_EQ(names, listed);
    ASSERT_EQ(times.size(), 6u);
    EXPECT_EQ(times[2], std::make_pair(utc(2024, 5, 17, 8, 30, 0), 0u));
    EXPECT_EQ(times[3], std::make_pair(utc(2024, 5, 17, 8, 30, 0), utc(2024, 5, 18, 9, 0, 0)));
    EXPECT_EQ(times[4].first, utc(2069, 1, 1, 0, 0, 0)); // past 2038, read unsigned
    EXPECT_EQ(times[5].first, 0u);                       // 70 is 1970

    // The newest run of the prefix is the one of 2069; equal starts keep the first listed.
    size = sizeof name;
    ASSERT_EQ(c.FindLogger(name, &size, &start, &stop, 0), 1);
    EXPECT_STREQ(name, "RUN690101_000000.odl");
    EXPECT_EQ(size, 20);
    CLogFileCollection bare;
    ASSERT_EQ(bare.Open(nullptr, folder_.c_str(), "", "", LSTORE_READ), 0);
    ASSERT_EQ(bare.FindLogger(name, &size, &start, &stop, 0), 1);
    EXPECT_STREQ(name, "240701_000000.odl");
    ASSERT_EQ(bare.FindLogger(name, &size, &start, &stop, 1), 1);
    EXPECT_STREQ(name, "RUN690101_000000.odl");
    CLogFileCollection none;
    ASSERT_EQ(none.Open(nullptr, folder_.c_str(), "", "NOSUCH", LSTORE_READ), 0);
    EXPECT_EQ(none.FindLogger(name, &size, &start, &stop, 0), 0);

    char store[300];
    int length = 0;
    c.MakeStoreName("RUN690101_000000.odl", store, &length);
    EXPECT_EQ(std::string(store), at("RUN690101_000000.odl"));
    EXPECT_EQ(length, static_cast<int>(folder_.size() + 20 + 2));
}

TEST_F(FileCollectionTest, DeletesOnlyClosedRunsOlderThanTheTime) {
    const char *old = "RUN240101_000000_240102_000000";
    const char *straddles = "RUN240101_000000_240701_000000";
    const char *late = "RUN690101_000000_690102_000000";
    for (const char *ext : {".odl", ".txt", ".kvt", ".zip"}) {
        touch(at(std::string(old) + ext));
        touch(at(std::string(straddles) + ext));
        touch(at(std::string(late) + ext));
    }
    touch(at("RUN200101_000000.odl")); // open: kept whatever its age
    chmod(at(std::string(old) + ".odl").c_str(), 0444);
    CLogFileCollection c;
    ASSERT_EQ(c.Open(nullptr, folder_.c_str(), "", "RUN", LSTORE_READ), 0);
    int32_t limit = static_cast<int32_t>(utc(2024, 6, 1, 0, 0, 0));
    c.DeleteOlderThan(&limit);
    for (const char *ext : {".odl", ".txt", ".kvt", ".zip"}) {
        EXPECT_FALSE(exists(at(std::string(old) + ext))) << ext;
        EXPECT_TRUE(exists(at(std::string(straddles) + ext))) << ext;
        EXPECT_TRUE(exists(at(std::string(late) + ext))) << ext;
    }
    EXPECT_TRUE(exists(at("RUN200101_000000.odl")));
}

TEST_F(FileCollectionTest, OpensCreatesAndRefusesFolders) {
    CLogFileCollection c;
    // An empty folder is the logger's folder under the logged-data folder, made only for writing.
    EXPECT_EQ(c.Open(nullptr, "", "L1", "P", LSTORE_READ), -1);
    EXPECT_FALSE(exists(dir_ / "logged"));
    ASSERT_EQ(c.Open(nullptr, "", "L1", "P", LSTORE_READ | LSTORE_WRITE), 0);
    EXPECT_EQ(std::string(c.GetFolder()), dir_ / "logged/L1");
    EXPECT_TRUE(exists(dir_ / "logged/L1"));
    // "<NAME>/rest" names a suite folder.
    ASSERT_EQ(c.Open(nullptr, "KVT_LOGGED_DATA\\L2\\deep", "", "", LSTORE_WRITE), 0);
    EXPECT_EQ(std::string(c.GetFolder()), dir_ / "logged/L2/deep");
    EXPECT_TRUE(exists(dir_ / "logged/L2/deep"));

    // Missing levels are made from the top, but never the replication tree up to its marker.
    std::string site = dir_ / "tree/EUROPE CIS/GERMANY/ACME/W1";
    EXPECT_EQ(c.Open(nullptr, site.c_str(), "", "", LSTORE_WRITE), -1);
    EXPECT_FALSE(exists(dir_ / "tree"));
    mkdir((dir_ / "tree").c_str(), 0777);
    EXPECT_EQ(c.Open(nullptr, site.c_str(), "", "", LSTORE_WRITE), -1);
    EXPECT_FALSE(exists(dir_ / "tree/EUROPE CIS"));
    mkdir((dir_ / "tree/EUROPE CIS").c_str(), 0777);
    ASSERT_EQ(c.Open(nullptr, site.c_str(), "", "", LSTORE_WRITE), 0);
    EXPECT_TRUE(exists(site));
    std::string logged = dir_ / "x/LOGGED_DATA/a/b";
    EXPECT_EQ(c.Open(nullptr, logged.c_str(), "", "", LSTORE_WRITE), -1);
    mkdir((dir_ / "x").c_str(), 0777);
    mkdir((dir_ / "x/LOGGED_DATA").c_str(), 0777);
    ASSERT_EQ(c.Open(nullptr, logged.c_str(), "", "", LSTORE_WRITE), 0);

    // Too long a folder is refused, never cut.
    std::string tooLong = dir_.path() + "/" + std::string(260, 'a');
    EXPECT_EQ(c.Open(nullptr, tooLong.c_str(), "", "", LSTORE_WRITE), -1);
    EXPECT_EQ(errno, 206);
    std::string nearly = dir_.path() + "/" + std::string(250 - dir_.path().size(), 'a');
    ASSERT_EQ(c.Open(nullptr, nearly.c_str(), "", "", LSTORE_WRITE), 0);
    char buffer[300] = "x";
    int length = 0;
    c.MakeStoreName("RUN690101_000000.odl", buffer, &length);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(errno, 206);
}

class FileRunTest : public FileCollectionTest {
protected:
    void SetUp() override {
        FileCollectionTest::SetUp();
        ASSERT_EQ(c_.Open(nullptr, folder_.c_str(), "", "RUN", LSTORE_READ | LSTORE_WRITE), 0);
    }
    CLogStore *create(int32_t start, const char *text = nullptr, int archive = 0) {
        LogHeader h = fx::twoBlockHeader(start);
        static const std::vector<uint8_t> ai = fx::channelRecords(3, 0x10),
                                          di = fx::channelRecords(2, 0x40);
        const void *arrays[2] = {ai.data(), di.data()};
        return c_.CreateLoggerEx(&start, 0, 0, &h, text, archive, nullptr, 0, arrays);
    }
    CLogFileCollection c_;
};

TEST_F(FileRunTest, CreatesClosesReopensAndDeletesRuns) {
    int32_t start = static_cast<int32_t>(utc(2024, 5, 17, 8, 30, 0));
    std::unique_ptr<CLogStore> s(create(start, "[HEADER]\r\nWell: 7\r\n"));
    ASSERT_NE(s, nullptr) << c_.GetErrorText();
    EXPECT_EQ(readAll(at("RUN240517_083000.txt")), "[HEADER]\r\nWell: 7\r\n");
    // The wide form writes UTF-16 after its byte order mark.
    int32_t wideStart = start + 3600;
    LogHeader wh = fx::twoBlockHeader(wideStart);
    static const std::vector<uint8_t> ai = fx::channelRecords(3, 0x10),
                                      di = fx::channelRecords(2, 0x40);
    const void *arrays[2] = {ai.data(), di.data()};
    std::unique_ptr<CLogStore> w(
        c_.CreateLogger(&wideStart, 0, 0, &wh, u"A\u00e9", 0, nullptr, 0, arrays));
    ASSERT_NE(w, nullptr) << c_.GetErrorText();
    EXPECT_EQ(readAll(at("RUN240517_093000.txt")), std::string("\xFF\xFE"
                                                               "A\0\xE9\0",
                                                               6));

    touch(at("RUN240517_083000.kvt"), "cfg");
    touch(at("RUN240517_083000.zip"), "zip");
    int32_t stop = static_cast<int32_t>(utc(2069, 1, 2, 3, 4, 5));
    ASSERT_EQ(c_.CloseLogger(s.get(), &start, &stop, 1), 0);
    const std::string closed = "RUN240517_083000_690102_030405";
    for (const char *ext : {".odl", ".txt", ".kvt", ".zip"}) {
        EXPECT_TRUE(exists(at(closed + ext))) << ext;
        EXPECT_FALSE(exists(at(std::string("RUN240517_083000") + ext))) << ext;
        EXPECT_EQ(mode(at(closed + ext)) & 0222, 0u) << ext; // read-only
    }
    char name[261];
    int length;
    s->GetName(name, &length);
    EXPECT_EQ(std::string(name), at(closed + ".odl"));

    // A move onto an existing run fails and changes nothing.
    touch(at("RUN240517_093000_240517_100000.odl"), "taken");
    int32_t wideStop = wideStart + 1800;
    EXPECT_EQ(c_.CloseLogger(w.get(), &wideStart, &wideStop, 0), -1);
    EXPECT_EQ(errno, 183);
    EXPECT_EQ(plat_GetLastError(), 183u);
    EXPECT_TRUE(exists(at("RUN240517_093000.odl")));
    EXPECT_TRUE(exists(at("RUN240517_093000.txt")));
    EXPECT_EQ(readAll(at("RUN240517_093000_240517_100000.odl")), "taken");

    // A closed run goes back into logging: its text file and archive follow its open name.
    std::unique_ptr<CLogStore> r(
        c_.OpenLogger((closed + ".odl").c_str(), LSTORE_READ | LSTORE_WRITE));
    ASSERT_NE(r, nullptr) << c_.GetErrorText();
    LogHeader h = fx::twoBlockHeader(start);
    EXPECT_EQ(c_.UseforLogging(r.get(), &h, "XYZ", 1, 1), -1);
    EXPECT_STREQ(c_.GetErrorMessage(), "Prefixes don't match");
    EXPECT_EQ(std::string(c_.GetErrorText()),
              "Prefixes don't match, Path " + at(closed + ".odl") + ", LogPrefix XYZ");
    ASSERT_EQ(c_.UseforLogging(r.get(), &h, "run", 1, 1), 0) << c_.GetErrorText();
    EXPECT_TRUE(exists(at("RUN240517_083000.odl")));
    EXPECT_TRUE(exists(at("RUN240517_083000.txt")));
    EXPECT_TRUE(exists(at("RUN240517_083000.kvt")));
    EXPECT_NE(mode(at("RUN240517_083000.txt")) & 0200, 0u);

    // Without a start time the run's four files go.
    ASSERT_EQ(c_.CloseLogger(r.get(), nullptr, nullptr, 0), 0);
    for (const char *ext : {".odl", ".txt", ".kvt"})
        EXPECT_FALSE(exists(at(std::string("RUN240517_083000") + ext))) << ext;
    EXPECT_EQ(c_.OpenLogger("RUN240517_083000.odl", LSTORE_READ), nullptr);
}

TEST_F(FileRunTest, ArchivesTheConfigurationWithoutMovingTheProcess) {
    // A configuration with its LOGGERS folder, and a compressor that only copies.
    std::string config = dir_ / "config";
    mkdir(config.c_str(), 0777);
    mkdir((config + "/LOGGERS").c_str(), 0777);
    mkdir((config + "/DEV1").c_str(), 0777);
    touch(config + "/config.xml", "<c/>");
    touch(config + "/LOGGERS/stand_1", "rec");
    std::string bin = dir_ / "bin";
    mkdir(bin.c_str(), 0777);
    touch(bin + "/compress", "#!/bin/sh\ncp \"$1\" \"$2\"\n");
    chmod((bin + "/compress").c_str(), 0755);
    std::string oldPath = getenv("PATH");
    setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    setenv("KVT_SAVED_CONFIG", (dir_ / "saved").c_str(), 1);
    mkdir((dir_ / "saved").c_str(), 0777);
    char before[PATH_MAX];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    ASSERT_EQ(chdir((config + "/LOGGERS").c_str()), 0);

    int32_t start = static_cast<int32_t>(utc(2024, 5, 17, 8, 30, 0));
    std::unique_ptr<CLogStore> s(create(start, nullptr, 1));
    char after[PATH_MAX];
    ASSERT_NE(getcwd(after, sizeof after), nullptr);
    EXPECT_EQ(std::string(after), config + "/LOGGERS");
    ASSERT_EQ(chdir(before), 0);
    setenv("PATH", oldPath.c_str(), 1);
    unsetenv("KVT_SAVED_CONFIG");
    ASSERT_NE(s, nullptr) << c_.GetErrorText();

    std::string list = "tar tf '" + at("RUN240517_083000.kvt") + "' > '" + (dir_ / "list") + "'";
    ASSERT_EQ(system(list.c_str()), 0);
    std::string names = readAll(dir_ / "list");
    EXPECT_NE(names.find("config.xml"), std::string::npos) << names;
    EXPECT_NE(names.find("LOGGERS/stand_1"), std::string::npos) << names;
    EXPECT_NE(names.find("DEV1"), std::string::npos) << names;

    // A failing archive fails the creation and leaves no run.
    setenv("PATH", bin.c_str(), 1);
    ASSERT_EQ(chdir((config + "/LOGGERS").c_str()), 0);
    std::unique_ptr<CLogStore> t(create(start + 60, nullptr, 1));
    ASSERT_NE(getcwd(after, sizeof after), nullptr);
    EXPECT_EQ(std::string(after), config + "/LOGGERS"); // a failure moves nothing either
    ASSERT_EQ(chdir(before), 0);
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(t, nullptr);
    EXPECT_FALSE(exists(at("RUN240517_083100.odl")));
}

// A store whose name is longer than any buffer the collection holds, as a database run's can be.
class LongNameStore : public CLogStore {
public:
    void GetName(char *buffer, int *length) override {
        given.push_back(length != nullptr ? *length : -1);
        lstore_PutName(name, buffer, length);
    }
    std::string name = "/runs/RUN" + std::string(400, 'n');
    std::vector<int> given;
};

TEST_F(FileCollectionTest, HandsEveryStoreNameCallTheBuffersOwnSize) {
    CLogFileCollection c;
    ASSERT_EQ(c.Open(nullptr, folder_.c_str(), "", "RUN", LSTORE_READ | LSTORE_WRITE), 0);
    LongNameStore store;
    LogHeader h{};
    EXPECT_EQ(c.UseforLogging(&store, &h, "RUN", 0, 0), 0) << c.GetErrorText();
    c.CloseLogger(&store, nullptr, nullptr, 0);
    ASSERT_EQ(store.given.size(), 3u);
    for (int given : store.given)
        EXPECT_EQ(given, 261);
}

} // namespace
