// The termios port on a pseudo-terminal: a block the partner sends at once is taken in one read
// and served byte by byte, a purge drops what was read ahead with what the kernel holds, and a
// byte that is not there waits out its own time-out.
#include "port.h"

#include "plat_error.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <deque>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class TermiosPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kvt_port_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        setenv("KVT_SERIAL_DIR", dir_.c_str(), 1);
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(0, grantpt(master_));
        ASSERT_EQ(0, unlockpt(master_));
        fs::create_symlink(ptsname(master_), dir_ / "COM7");
        port_Select(nullptr);
        PlatSerialLine line;
        line.baud = 19200;
        ASSERT_EQ(1, port_Current().Open("COM7", line)) << plat_GetLastError();
    }
    void TearDown() override {
        port_Current().Close();
        if (master_ >= 0) close(master_);
        unsetenv("KVT_SERIAL_DIR");
        fs::remove_all(dir_);
    }
    std::string ReadBytes(int n, int timeout_ms) {
        std::string got;
        for (int i = 0; i < n; ++i) {
            uint8_t b;
            if (!port_Current().Read(&b, 1, timeout_ms)) break;
            got += static_cast<char>(b);
        }
        return got;
    }

    fs::path dir_;
    int master_ = -1;
};

TEST_F(TermiosPortTest, ReadsAheadServesBytesAndPurgeDropsThem) {
    const std::string block = "\x02"
                              "ABCDEFGHIJ\x10\x03";
    ASSERT_EQ(static_cast<ssize_t>(block.size()), write(master_, block.data(), block.size()));
    PlatSerialCalls before = port_TermiosCalls();
    EXPECT_EQ(ReadBytes(5, 1000), block.substr(0, 5));
    PlatSerialCalls after = port_TermiosCalls();
    // One wait and one read for the block (two should the pty hand it over in two pieces),
    // not a read per byte.
    EXPECT_LE(after.reads - before.reads, 2u);
    EXPECT_LE(after.polls - before.polls, 2u);

    // The rest was read ahead; a purge drops it as it drops the kernel's input.
    ASSERT_EQ(1, port_Current().Purge());
    EXPECT_EQ(port_TermiosCalls().flushes, after.flushes + 1);
    int64_t t0 = NowMs();
    EXPECT_EQ(ReadBytes(1, 150), "");
    EXPECT_GE(NowMs() - t0, 140);

    // A request larger than what is buffered takes the rest from the line.
    ASSERT_EQ(3, write(master_, "xyz", 3));
    uint8_t two[2];
    ASSERT_EQ(1, port_Current().Read(two, 2, 1000));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(two), 2), "xy");
    ASSERT_EQ(2, write(master_, "uv", 2));
    uint8_t three[3];
    ASSERT_EQ(1, port_Current().Read(three, 3, 1000));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(three), 3), "zuv");
}

// A source that hands out scripted pieces, one per call ("" for a call that finds nothing in
// time), and records the waits it was given.
class ScriptedBytes final : public PortBytes {
public:
    std::deque<std::string> pieces;
    std::vector<int> waits;
    int flushes = 0;
    std::string written;

    int ReadSome(uint8_t *buf, int capacity, int timeout_ms) override {
        waits.push_back(timeout_ms);
        if (pieces.empty()) return 0;
        std::string piece = pieces.front();
        pieces.pop_front();
        int n =
            static_cast<int>(piece.size()) < capacity ? static_cast<int>(piece.size()) : capacity;
        memcpy(buf, piece.data(), static_cast<size_t>(n));
        return n;
    }
    int Write(const uint8_t *buf, int n, int) override {
        written.append(reinterpret_cast<const char *>(buf), static_cast<size_t>(n));
        return 1;
    }
    void Flush() override {
        ++flushes;
        pieces.clear();
    }
};

// The reading ahead over any source: pieces served byte by byte and across a request, a wait
// only when nothing is buffered (with the request's own time-out), a silent source failing the
// request, a purge dropping both what was read ahead and the source's input.
TEST(BufferedPort, ServesPiecesAndWaitsOnlyWhenEmpty) {
    ScriptedBytes source;
    std::unique_ptr<LinkPort> port = port_MakeBuffered(source);
    ASSERT_EQ(1, port->Open("COM1", PlatSerialLine{}));
    source.pieces = {"\x02"
                     "AB",
                     "CD", "", "EFG"};
    uint8_t b[4] = {};
    ASSERT_EQ(1, port->Read(b, 1, 220));
    EXPECT_EQ(b[0], 0x02);
    ASSERT_EQ(1, port->Read(b, 1, 220));
    ASSERT_EQ(1, port->Read(b, 1, 220));
    EXPECT_EQ(source.waits, std::vector<int>{220}); // one wait for the first three bytes
    ASSERT_EQ(1, port->Read(b, 2, 300));            // "CD", a new piece
    EXPECT_EQ(std::string(reinterpret_cast<char *>(b), 2), "CD");
    EXPECT_EQ(source.waits.size(), 2u);
    EXPECT_EQ(source.waits[1], 300);
    EXPECT_EQ(0, port->Read(b, 1, 50)); // the source stays silent
    ASSERT_EQ(1, port->Read(b, 1, 50));
    EXPECT_EQ(b[0], 'E');
    ASSERT_EQ(1, port->Purge()); // "FG" read ahead, and the source's input, are dropped
    EXPECT_EQ(source.flushes, 1);
    EXPECT_EQ(0, port->Read(b, 1, 10));
    ASSERT_EQ(1, port->Write(reinterpret_cast<const uint8_t *>("\x10"), 1, 10));
    EXPECT_EQ(source.written, "\x10");
}

} // namespace
