#include "plat_serial.h"

#include "plat_error.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A pseudo-terminal published as $KVT_SERIAL_DIR/COM7, as the controller simulator does.
class SerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kvt_serial_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        setenv("KVT_SERIAL_DIR", dir_.c_str(), 1);
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(0, grantpt(master_));
        ASSERT_EQ(0, unlockpt(master_));
        slave_path_ = ptsname(master_);
        fs::create_symlink(slave_path_, dir_ / "COM7");
    }
    void TearDown() override {
        plat_SerialClose(fd_);
        if (master_ >= 0) close(master_);
        unsetenv("KVT_SERIAL_DIR");
        fs::remove_all(dir_);
    }
    void OpenRaw() {
        fd_ = plat_SerialOpen("COM7");
        ASSERT_GE(fd_, 0) << plat_GetLastError();
        PlatSerialLine line;
        line.baud = 19200;
        ASSERT_EQ(0, plat_SerialConfigure(fd_, line, nullptr));
    }
    // Bytes the scanner side wrote, read at the master within a second.
    std::string MasterRead(size_t n) {
        std::string got;
        int64_t deadline = NowMs() + 1000;
        while (got.size() < n && NowMs() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                char buf[256];
                ssize_t r = read(master_, buf, sizeof buf);
                if (r > 0) got.append(buf, static_cast<size_t>(r));
            }
        }
        return got;
    }

    fs::path dir_;
    std::string slave_path_;
    int master_ = -1;
    int fd_ = -1;
};

TEST_F(SerialTest, NamesResolveThroughTheSerialFolderThenComNumbers) {
    std::string path;
    ASSERT_EQ(0, plat_SerialResolve("COM7", path));
    EXPECT_EQ((dir_ / "COM7").string(), path);
    ASSERT_EQ(0, plat_SerialResolve("com7", path));
    EXPECT_EQ((dir_ / "COM7").string(), path);
    ASSERT_EQ(0, plat_SerialResolve("COM3", path));
    EXPECT_EQ("/dev/ttyS2", path);
    ASSERT_EQ(0, plat_SerialResolve("com12", path));
    EXPECT_EQ("/dev/ttyS11", path);
    EXPECT_EQ(-1, plat_SerialResolve("COM0", path));
    EXPECT_EQ(WERR_FILE_NOT_FOUND, plat_GetLastError());
    EXPECT_EQ(-1, plat_SerialResolve("LPT1", path));
    EXPECT_EQ(-1, plat_SerialResolve("COMx", path));
}

TEST_F(SerialTest, DanglingLinkFailsWithoutFallingBack) {
    fs::create_symlink(dir_ / "nowhere", dir_ / "COM1");
    EXPECT_EQ(-1, plat_SerialOpen("COM1"));
    EXPECT_EQ(WERR_FILE_NOT_FOUND, plat_GetLastError());
}

TEST_F(SerialTest, OpenIsExclusiveUntilClosed) {
    OpenRaw();
    EXPECT_EQ(-1, plat_SerialOpen("COM7"));
    EXPECT_EQ(WERR_ACCESS_DENIED, plat_GetLastError());
    plat_SerialClose(fd_);
    fd_ = plat_SerialOpen("COM7");
    EXPECT_GE(fd_, 0);
}

TEST_F(SerialTest, RawModeCarriesEveryByteValue) {
    OpenRaw();
    const std::string all = std::string("\x00\x0d\x0a\x11\x13\x03\x1a\xff\x7f\x80", 10);
    ASSERT_EQ(static_cast<ssize_t>(all.size()), write(master_, all.data(), all.size()));
    uint8_t buf[10];
    ASSERT_EQ(1, plat_SerialRead(fd_, buf, 10, 1000));
    EXPECT_EQ(all, std::string(reinterpret_cast<char *>(buf), 10));

    ASSERT_EQ(1, plat_SerialWrite(fd_, reinterpret_cast<const uint8_t *>(all.data()), 10, 1000));
    EXPECT_EQ(all, MasterRead(10));
}

TEST(SerialLine, SizeParityAndStopBitsFollowTheCodes) {
    termios t{};
    t.c_iflag = ISTRIP | PARMRK | IXON | ICRNL | IGNPAR;
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_cflag = CS8 | CRTSCTS;
    PlatSerialLine line;
    line.byte_size = 7;
    line.parity = 2;
    line.stop_bits = 2;
    line.parity_check = 1;
    plat_SerialMakeRaw(&t, line);
    EXPECT_EQ(static_cast<tcflag_t>(CS7), t.c_cflag & CSIZE);
    EXPECT_EQ(static_cast<tcflag_t>(PARENB), t.c_cflag & (PARENB | PARODD | CMSPAR));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & (CREAD | CLOCAL));
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_EQ(static_cast<tcflag_t>(INPCK), t.c_iflag);
    EXPECT_EQ(0u, t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_EQ(0, t.c_cc[VMIN]);

    // Codes outside the tables leave what is there.
    line.byte_size = 0;
    line.parity = 9;
    line.stop_bits = 1;
    plat_SerialMakeRaw(&t, line);
    EXPECT_EQ(static_cast<tcflag_t>(CS7), t.c_cflag & CSIZE);
    EXPECT_EQ(static_cast<tcflag_t>(PARENB), t.c_cflag & (PARENB | PARODD | CMSPAR));
    EXPECT_TRUE(t.c_cflag & CSTOPB);

    line.parity = 3;
    line.stop_bits = 0;
    plat_SerialMakeRaw(&t, line);
    EXPECT_EQ(static_cast<tcflag_t>(PARENB | PARODD | CMSPAR),
              t.c_cflag & (PARENB | PARODD | CMSPAR));
    EXPECT_FALSE(t.c_cflag & CSTOPB);

    // Without parity there is nothing to check.
    line.parity = 0;
    plat_SerialMakeRaw(&t, line);
    EXPECT_FALSE(t.c_iflag & INPCK);
    EXPECT_FALSE(t.c_cflag & PARENB);
}

TEST_F(SerialTest, ConfigureReachesTheDevice) {
    fd_ = plat_SerialOpen("COM7");
    ASSERT_GE(fd_, 0);
    PlatSerialLine line;
    line.parity = 1;
    line.parity_check = 1;
    line.stop_bits = 2;
    EXPECT_EQ(0, plat_SerialConfigure(fd_, line, nullptr));
    termios t;
    ASSERT_EQ(0, tcgetattr(fd_, &t));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_iflag & (ISTRIP | PARMRK | IXON | ICRNL));
    EXPECT_FALSE(t.c_lflag & ICANON);
}

TEST_F(SerialTest, NonStandardRateIsAccepted) {
    fd_ = plat_SerialOpen("COM7");
    ASSERT_GE(fd_, 0);
    PlatSerialLine line;
    line.baud = 14400;
    std::vector<std::string> failures;
    EXPECT_EQ(0, plat_SerialConfigure(fd_, line, &failures))
        << (failures.empty() ? "" : failures.front());
}

TEST_F(SerialTest, BytesThatComeWhileWaitingAreTakenAtOnce) {
    OpenRaw();
    // The partner answers every byte; a read that only looked again in ticks would make the
    // twenty round trips take hundreds of milliseconds.
    std::thread partner([this] {
        for (int i = 0; i < 20; ++i) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 2000) != 1) return;
            char c;
            if (read(master_, &c, 1) != 1 || write(master_, &c, 1) != 1) return;
        }
    });
    int64_t start = NowMs();
    int answered = 0;
    for (uint8_t i = 0; i < 20; ++i) {
        uint8_t back = 0;
        ASSERT_EQ(1, plat_SerialWrite(fd_, &i, 1, 1000));
        answered += plat_SerialRead(fd_, &back, 1, 1000) == 1 && back == i;
    }
    partner.join();
    EXPECT_EQ(20, answered);
    EXPECT_LT(NowMs() - start, 150);
}

TEST_F(SerialTest, ShortReadWaitsItsTimeAndSetsNoError) {
    OpenRaw();
    ASSERT_EQ(1, write(master_, "A", 1));
    uint8_t buf[2];
    plat_SetLastError(777);
    int64_t start = NowMs();
    EXPECT_EQ(0, plat_SerialRead(fd_, buf, 2, 100));
    EXPECT_GE(NowMs() - start, 95);
    EXPECT_EQ(777u, plat_GetLastError());
}

TEST_F(SerialTest, ZeroTimeOutTakesOnlyWhatIsThere) {
    OpenRaw();
    uint8_t b;
    int64_t start = NowMs();
    EXPECT_EQ(0, plat_SerialRead(fd_, &b, 1, 0));
    EXPECT_LT(NowMs() - start, 50);
    ASSERT_EQ(1, write(master_, "B", 1));
    // Wait until the byte has reached the slave side before asking for it with no time.
    pollfd p{fd_, POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 1000));
    EXPECT_EQ(1, plat_SerialRead(fd_, &b, 1, -5));
    EXPECT_EQ('B', b);
}

TEST_F(SerialTest, PurgeDropsUnreadInputButSendsWhatWasWritten) {
    OpenRaw();
    const uint8_t dle = 0x10;
    ASSERT_EQ(1, plat_SerialWrite(fd_, &dle, 1, 100));
    ASSERT_EQ(3, write(master_, "xyz", 3));
    pollfd p{fd_, POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 1000));
    EXPECT_EQ(1, plat_SerialPurge(fd_));
    uint8_t b;
    EXPECT_EQ(0, plat_SerialRead(fd_, &b, 1, 20));
    EXPECT_EQ("\x10", MasterRead(1));
}

TEST_F(SerialTest, HungUpLineTimesOutWithoutSpinningAndWritesFail) {
    OpenRaw();
    close(master_);
    master_ = -1;
    uint8_t b = 0;
    clock_t cpu_start = clock();
    int64_t start = NowMs();
    EXPECT_EQ(0, plat_SerialRead(fd_, &b, 1, 300));
    EXPECT_GE(NowMs() - start, 290);
    // A spinning loop would burn the whole 300 ms of CPU.
    EXPECT_LT(static_cast<double>(clock() - cpu_start) / CLOCKS_PER_SEC, 0.1);

    EXPECT_EQ(0, plat_SerialWrite(fd_, &b, 1, 100));
    EXPECT_NE(0u, plat_GetLastError());
}

} // namespace
