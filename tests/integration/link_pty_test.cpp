// The scanner's 3964R link and RK512 telegrams over a real pseudo-terminal against the
// controller simulator on a thread: every area both ways, every fault of the simulator with
// the result the scanner must report, and the clean exchange after each.
#include "link.h"
#include "plat_serial.h"
#include "plat_error.h"
#include "rk.h"
#include "s5sim.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using s5sim::EventKind;

int64_t NowMs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

int64_t ThreadCpuMs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// A request block with room for its data and the planner's bitmap behind it.
struct Request {
    Request(int area, uint16_t start, uint16_t count) {
        block.type = static_cast<S5TypeByte>(area);
        block.start = start;
        block.count = count;
        block.size = static_cast<uint16_t>(count * S5_ELEMENT_SIZE[area]);
        buffer.assign(block.size + 64u, 0xEE);
        block.data = buffer.data();
    }
    S5RequestBlock block;
    std::vector<uint8_t> buffer;
};

class LinkPty : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kvt_link_pty_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        setenv("KVT_SERIAL_DIR", dir_.c_str(), 1);
        Launch(SimSettings());

        link_ResetSettings();
        LinkSettings &s = link_Settings();
        s.retries = 3;
        s.char_delay = 100;
        s.ack_timeout = 300;
        s.block_wait = 400;
        s.priority = 0;
        PlatSerialLine line;
        line.baud = 19200;
        ASSERT_EQ(link_OpenPort("COM7", line), 1) << plat_GetLastError();
    }

    void TearDown() override {
        link_ClosePort();
        sim_.reset();
        link_ResetSettings();
        std::filesystem::remove_all(dir_);
    }

    static s5sim::Settings SimSettings() {
        s5sim::Settings s;
        s.char_delay_ms = 100;
        s.ack_timeout_ms = 300;
        s.retries = 3;
        s.reaction_ms = 0;
        s.high_priority = true;
        return s;
    }

    void Launch(const s5sim::Settings &settings) {
        sim_.reset();
        sim_ = std::make_unique<s5sim::Simulator>(settings);
        std::string error;
        ASSERT_TRUE(sim_->OpenPty(dir_ + "/COM7", &error)) << error;
        sim_->Start();
    }

    void Fault(const std::string &rule) {
        std::string error;
        ASSERT_TRUE(sim_->AddFault(rule, &error)) << error;
    }

    void SetMemory(const std::string &where, const std::vector<uint32_t> &values) {
        s5sim::Location loc;
        std::string error;
        ASSERT_TRUE(s5sim::ParseLocation(where, &loc, &error)) << error;
        ASSERT_TRUE(sim_->memory().Set(loc, values, &error)) << error;
    }

    std::vector<uint32_t> GetMemory(const std::string &where, uint32_t n) {
        s5sim::Location loc;
        std::string error;
        std::vector<uint32_t> v;
        EXPECT_TRUE(s5sim::ParseLocation(where, &loc, &error)) << error;
        EXPECT_TRUE(sim_->memory().Get(loc, n, &v, &error)) << error;
        return v;
    }

    // Status of a FETCH of M0 count 2 (0 when it worked).
    uint32_t FetchM() {
        Request r(S5_AREA_M, 0, 2);
        uint64_t from = sim_ ? sim_->log().NextSeq() : 0;
        int n = rk_Fetch(&r.block);
        if (n > 0 && sim_) Settle(from);
        // A closing NAK must reach the simulator before the next purge can drop it.
        if (n == 0 && sim_) sim_->log().WaitFor(EventKind::NakIn, from, 300);
        EXPECT_EQ(n == 0, r.block.status != 0);
        if (n == 0) {
            EXPECT_EQ(plat_GetLastError(), r.block.status);
        }
        return r.block.status;
    }

    // Waits until the simulator has taken the final DLE of a reply, so that its event log holds
    // the whole exchange before a test reads it.
    void Settle(uint64_t from) { sim_->log().WaitFor(EventKind::ReplyDone, from, 1000); }

    void ExpectRecovery() { EXPECT_EQ(FetchM(), 0u) << "the exchange after the fault failed"; }

    size_t CountEvents(EventKind kind, uint64_t from = 0) {
        size_t n = 0;
        for (const auto &e : sim_->log().Since(from))
            n += e.kind == kind;
        return n;
    }

    std::string dir_;
    std::unique_ptr<s5sim::Simulator> sim_;
};

TEST_F(LinkPty, FetchAndSendOfEveryArea) {
    for (int area = 0; area < S5_AREA_COUNT; ++area) {
        char letter = S5_AREA_LETTERS[area];
        bool block = area <= S5_AREA_X;
        int size = S5_ELEMENT_SIZE[area];
        uint16_t start = block ? static_cast<uint16_t>(9 << 8 | 30) : 300;
        std::string where = std::string(1, letter) + (block ? "9.30" : "300");

        // SEND takes host order and leaves the controller's view in memory.
        Request send(area, start, 3);
        if (size == 2) {
            uint16_t v[3] = {0x1234, 0x0010, 0xFF02};
            std::memcpy(send.block.data, v, sizeof v);
        } else {
            const uint8_t v[3] = {0x10, 0x02, 0xFE};
            std::memcpy(send.block.data, v, sizeof v);
        }
        uint64_t from = sim_->log().NextSeq();
        ASSERT_EQ(rk_Send(&send.block), 1) << letter << std::hex << " " << send.block.status;
        EXPECT_EQ(send.block.status, 0u);
        Settle(from);
        std::vector<uint32_t> want = size == 2 ? std::vector<uint32_t>{0x1234, 0x0010, 0xFF02}
                                               : std::vector<uint32_t>{0x10, 0x02, 0xFE};
        EXPECT_EQ(GetMemory(where, 3), want) << letter;

        SetMemory(where, size == 2 ? std::vector<uint32_t>{0xA1B2, 0x1010, 7}
                                   : std::vector<uint32_t>{0x10, 0x03, 0x99});
        Request fetch(area, start, 3);
        from = sim_->log().NextSeq();
        ASSERT_EQ(rk_Fetch(&fetch.block), 3 * size)
            << letter << std::hex << " " << fetch.block.status;
        if (size == 2) {
            uint16_t got[3];
            std::memcpy(got, fetch.block.data, sizeof got);
            EXPECT_EQ(got[0], 0xA1B2) << letter;
            EXPECT_EQ(got[1], 0x1010) << letter;
            EXPECT_EQ(got[2], 7) << letter;
        } else {
            EXPECT_EQ(fetch.block.data[0], 0x10) << letter;
            EXPECT_EQ(fetch.block.data[1], 0x03) << letter;
            EXPECT_EQ(fetch.block.data[2], 0x99) << letter;
        }
        EXPECT_EQ(fetch.buffer[fetch.block.size], 0xEE) << letter << ": written past the data";
        Settle(from);
    }
    EXPECT_EQ(sim_->counters().naks_received, 0u);
    EXPECT_EQ(sim_->counters().naks_sent, 0u);
}

TEST_F(LinkPty, LargestPlannedBlockAndControllerErrors) {
    Request big(S5_AREA_D, 20 << 8, 51); // 102 data bytes
    EXPECT_EQ(rk_Fetch(&big.block), 102);
    Request missing(S5_AREA_D, 20 << 8 | 250, 10); // past the end of the block
    EXPECT_EQ(rk_Fetch(&missing.block), 0);
    EXPECT_EQ(missing.block.status, PLC_ERROR_BASE | 0x0A);
    ExpectRecovery();
}

// A reply whose last byte comes late, but well within the character delay, is the same reply as
// one sent in a burst: the port reads ahead what the line holds, and a byte it does not hold yet
// is still waited for with the whole delay.
TEST_F(LinkPty, SlowLastByteWithinTheDelayGivesTheSameReply) {
    link_Settings().char_delay = 400;
    SetMemory("D20.0", {0x1002, 0x0010, 0xFF03});
    struct Outcome {
        int length;
        uint32_t status;
        uint32_t error;
        std::vector<uint8_t> data;
        LinkCounters counters;
    };
    auto fetch = [&] {
        Request r(S5_AREA_D, 20 << 8, 3);
        link_ResetCounters();
        uint64_t from = sim_->log().NextSeq();
        Outcome o;
        o.length = rk_Fetch(&r.block);
        o.status = r.block.status;
        o.error = plat_GetLastError();
        o.data.assign(r.block.data, r.block.data + r.block.size);
        o.counters = link_Counters();
        Settle(from);
        return o;
    };
    Outcome burst = fetch();
    ASSERT_EQ(burst.length, 6);
    Fault("slow_bytes:200");
    Outcome slow = fetch();
    EXPECT_EQ(sim_->counters().faults, 1u);
    EXPECT_EQ(slow.length, burst.length);
    EXPECT_EQ(slow.status, burst.status);
    EXPECT_EQ(slow.error, burst.error);
    EXPECT_EQ(slow.data, burst.data);
    EXPECT_EQ(std::memcmp(&slow.counters, &burst.counters, sizeof(LinkCounters)), 0);
    EXPECT_EQ(sim_->counters().naks_received, 0u);
}

struct FaultCase {
    const char *rule;
    uint32_t status;
};

class LinkPtyFault : public LinkPty, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(LinkPtyFault, ScannerReportsTheFaultThenRecovers) {
    const FaultCase &c = GetParam();
    Fault(c.rule);
    EXPECT_EQ(FetchM(), c.status) << c.rule;
    ExpectRecovery();
    EXPECT_EQ(sim_->counters().faults, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LinkPtyFault,
    ::testing::Values(
        FaultCase{"nak_command", LINK_ERR_NAK},
        FaultCase{"error_byte:0x0A@FETCH,M", PLC_ERROR_BASE | 0x0A},
        FaultCase{"error_byte:0x33", PLC_ERROR_BASE | 0x33},
        FaultCase{"short_reply", LINK_ERR_TOO_SHORT}, FaultCase{"long_reply", LINK_ERR_TOO_LONG},
        FaultCase{"tiny_reply", LINK_ERR_TOO_SHORT}, FaultCase{"huge_reply", LINK_ERR_TOO_LONG},
        FaultCase{"bad_bcc", LINK_ERR_BCC}, FaultCase{"bad_dle", LINK_ERR_DLE},
        FaultCase{"drop_etx", LINK_ERR_TIMEOUT}, FaultCase{"slow_bytes:250", LINK_ERR_TIMEOUT},
        FaultCase{"garbage_before_stx:30", 0}, FaultCase{"conflict:2", 0},
        FaultCase{"conflict:100", LINK_ERR_CONFLICT},
        FaultCase{"unsolicited_send", LINK_ERR_UNEXPECTED}, FaultCase{"delay_reply:200", 0}),
    [](const ::testing::TestParamInfo<FaultCase> &info) {
        std::string name;
        for (const char *p = info.param.rule; *p && *p != ':' && *p != '@'; ++p)
            if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
        return name + std::to_string(info.index);
    });

TEST_F(LinkPty, NoAckGivesRetriesStxThenOneNak) {
    Fault("no_ack");
    EXPECT_EQ(FetchM(), LINK_ERR_TIMEOUT);
    ASSERT_TRUE(sim_->log().WaitFor(EventKind::NakIn, 0, 2000));
    EXPECT_EQ(CountEvents(EventKind::StxIn), 3u);
    EXPECT_EQ(sim_->counters().naks_received, 1u);
    ExpectRecovery();
}

TEST_F(LinkPty, AckNoReplyGivesBlockWaitsWithoutNak) {
    Fault("ack_no_reply");
    int64_t t0 = NowMs();
    EXPECT_EQ(FetchM(), LINK_ERR_TIMEOUT);
    EXPECT_GE(NowMs() - t0, 3 * 400 - 50); // three block waits
    EXPECT_EQ(sim_->counters().naks_received, 0u);
    ExpectRecovery();
}

TEST_F(LinkPty, BrokenRepliesAreNakedOncePerAttempt) {
    Fault("bad_bcc");
    EXPECT_EQ(FetchM(), LINK_ERR_BCC);
    ASSERT_TRUE(sim_->log().WaitFor(EventKind::ReplyFailed, 0, 2000));
    EXPECT_EQ(sim_->counters().naks_received, 3u);
    EXPECT_EQ(sim_->counters().retransmissions, 2u);
    ExpectRecovery();
}

TEST_F(LinkPty, ConflictAtHighPriorityIsBoundedToo) {
    link_Settings().priority = 1;
    Fault("conflict:2");
    EXPECT_EQ(FetchM(), 0u);
    Fault("conflict:100");
    EXPECT_EQ(FetchM(), LINK_ERR_CONFLICT);
    ASSERT_TRUE(sim_->log().WaitFor(EventKind::NakIn, 0, 2000));
    ExpectRecovery();
}

TEST_F(LinkPty, LateReplyAfterTheScannerGaveUp) {
    Fault("delay_reply:1500");
    EXPECT_EQ(FetchM(), LINK_ERR_TIMEOUT);
    // The simulator's reply finds nobody listening and is given up in its own time.
    ASSERT_TRUE(sim_->log().WaitFor(EventKind::ReplyFailed, 0, 5000));
    ExpectRecovery();
}

TEST_F(LinkPty, PulledLineEndsInTimeOutsNotABusyLoop) {
    Fault("close_port");
    int64_t wall = NowMs(), cpu = ThreadCpuMs();
    uint32_t status = FetchM();
    EXPECT_NE(status, 0u);
    ASSERT_TRUE(sim_->log().WaitFor(EventKind::PortClosed, 0, 1000));
    // Reads on a line without a partner wait out their time-out.
    uint8_t b;
    int64_t t0 = NowMs();
    EXPECT_EQ(link_ReadBytes(&b, 1, 200), 0);
    EXPECT_GE(NowMs() - t0, 190);
    for (int i = 0; i < 2; ++i)
        EXPECT_NE(FetchM(), 0u);
    int64_t spent_wall = NowMs() - wall, spent_cpu = ThreadCpuMs() - cpu;
    EXPECT_GE(spent_wall, 200);
    EXPECT_LT(spent_cpu * 4, spent_wall) << "cpu " << spent_cpu << " ms of " << spent_wall;
}

// The purge before each telegram must not drop the final DLE of the previous exchange that the
// line has not carried yet: the controller would repeat its reply and the next command would
// meet it as a conflict.
TEST_F(LinkPty, BackToBackExchangesKeepTheFinalDle) {
    for (int i = 0; i < 200; ++i) {
        Request r(S5_AREA_M, 0, 2);
        ASSERT_EQ(rk_Fetch(&r.block), 2) << i;
    }
    ASSERT_TRUE(sim_->WaitReplies(200, 2000));
    EXPECT_EQ(sim_->counters().retransmissions, 0u);
    EXPECT_EQ(sim_->counters().conflicts, 0u);
}

TEST_F(LinkPty, SimulatorGoneAndBack) {
    sim_.reset(); // the controller is switched off: its end of the line disappears
    // The line stays gone for 300 ms while the link tries it. Waiting costs the port a read and
    // a tick of 20 ms at a time; a loop that spins comes back thousands of times.
    uint64_t woken = plat_SerialWakeups();
    int64_t wall = NowMs();
    EXPECT_NE(FetchM(), 0u);
    uint8_t b;
    EXPECT_EQ(link_ReadBytes(&b, 1, 300), 0);
    int64_t spent = NowMs() - wall;
    EXPECT_GE(spent, 290);
    uint64_t wakeups = plat_SerialWakeups() - woken;
    EXPECT_LE(wakeups, static_cast<uint64_t>(16 + 4 * (spent / 20))) << "in " << spent << " ms";
    // The scanner opens its port once; a new controller line needs a new open.
    link_ClosePort();
    Launch(SimSettings());
    PlatSerialLine line;
    ASSERT_EQ(link_OpenPort("COM7", line), 1);
    ExpectRecovery();
}

} // namespace
