#include "lfile.h"
#include "plat_file.h"
#include "plat_fileops.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(LogWriter, QueuesMergesWritesClosesAndAges) {
    TempFolder dir;
    LfileWriterSettings s;
    s.folder = dir / "runs"; // made by the writer
    s.prefix = "W";
    s.extension = ".log";
    s.start = 1715934600;
    s.capacity = 4;
    s.mapSize = 4096;
    s.intervalMs = 10;
    s.positionWord = 1;
    LfileWriter *w = lfile_StartWriter(s);
    ASSERT_NE(w, nullptr);
    std::string open = lfile_WriterPath(w);
    EXPECT_EQ(open, dir / "runs/W240517_083000.log");

    // Many more ranges than ring slots: queuing waits for the thread, nothing is lost.
    std::string expect(4, '\0');
    for (int i = 0; i < 100; ++i) {
        std::string piece = "record" + std::to_string(100 + i) + ";";
        ASSERT_EQ(lfile_QueueWrite(w, piece.data(), static_cast<int>(piece.size()),
                                   static_cast<int64_t>(expect.size())),
                  0);
        expect += piece;
    }
    EXPECT_EQ(lfile_QueueWrite(w, "x", 1, 4096), -1); // outside the byte map
    EXPECT_EQ(errno, 87);
    EXPECT_EQ(lfile_QueueWrite(w, "x", 1, -1), -1);
    ASSERT_EQ(lfile_StopWriter(w, 1715938200, 1), 0);

    std::string closed = dir / "runs/W240517_083000_240517_093000.log";
    EXPECT_EQ(access(open.c_str(), F_OK), -1);
    std::string bytes = slurp(closed);
    ASSERT_EQ(bytes.size(), expect.size());
    int32_t pos;
    memcpy(&pos, bytes.data(), 4);
    EXPECT_EQ(pos, static_cast<int32_t>(expect.size())); // the write position word
    EXPECT_EQ(bytes.substr(4), expect.substr(4));
    struct stat st;
    ASSERT_EQ(stat(closed.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);

    // Started again with the same start, the closed run returns to its open name and continues.
    w = lfile_StartWriter(s);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(access(closed.c_str(), F_OK), -1);
    int64_t end = static_cast<int64_t>(expect.size());
    ASSERT_EQ(lfile_QueueWrite(w, "tail", 4, end), 0);
    ASSERT_EQ(lfile_StopWriter(w, 1715938200, 0), 0);
    EXPECT_EQ(slurp(closed).substr(4), expect.substr(4) + "tail");

    // Age deletion: closed runs wholly before the limit go; open runs and later runs stay.
    for (const char *n : {"W230101_000000_230102_000000.log", "W230101_000000.log",
                          "X230101_000000_230102_000000.log", "W380101_000000_380102_000000.log"})
        std::ofstream(dir / (std::string("runs/") + n)) << "x";
    const uint8_t day[6] = {0, 0, 1, 0, 0, 0};
    EXPECT_EQ(lfile_DeleteOlder(s.folder.c_str(), "W", ".log", 1715934600 + 3601 + 86400, day), 2);
    EXPECT_EQ(access((dir / "runs/W230101_000000.log").c_str(), F_OK), 0);
    EXPECT_EQ(access((dir / "runs/X230101_000000_230102_000000.log").c_str(), F_OK), 0);
    EXPECT_EQ(access((dir / "runs/W380101_000000_380102_000000.log").c_str(), F_OK), 0);
    EXPECT_EQ(access(closed.c_str(), F_OK), -1);
}

TEST(LogWriter, EachByteEndsAsTheLastDataQueuedForIt) {
    TempFolder dir;
    LfileWriterSettings s;
    s.folder = dir.path();
    s.prefix = "R";
    s.extension = ".log";
    s.start = 1715934600;
    s.capacity = 16; // room for every piece: queuing never waits
    s.mapSize = 64;
    s.intervalMs = 3600 * 1000; // nothing is written before the stop
    LfileWriter *w = lfile_StartWriter(s);
    ASSERT_NE(w, nullptr);
    struct Piece {
        const char *data;
        int64_t offset;
    } pieces[] = {
        {"AAAA", 4},      {"BBBB", 4},                // the same range twice
        {"CCCCCCCC", 12}, {"dd", 14},                 // a range inside an earlier one
        {"EE", 20},       {"FFFF", 22}, {"gg", 20},   // merged neighbours, then one again
        {"hh", 30},       {"ii", 32},   {"jjjj", 30}, // neighbours covered by a later range
    };
    for (const Piece &p : pieces)
        ASSERT_EQ(lfile_QueueWrite(w, p.data, static_cast<int>(strlen(p.data)), p.offset), 0);
    std::string path = lfile_WriterPath(w);
    ASSERT_EQ(lfile_StopWriter(w, 1715938200, 0), 0);
    std::string expect(34, '\0');
    expect.replace(4, 4, "BBBB");
    expect.replace(12, 8, "CCddCCCC");
    expect.replace(20, 6, "ggFFFF");
    expect.replace(30, 4, "jjjj");
    EXPECT_EQ(slurp(dir / "R240517_083000_240517_093000.log"), expect);
    EXPECT_EQ(access(path.c_str(), F_OK), -1);
}

} // namespace
