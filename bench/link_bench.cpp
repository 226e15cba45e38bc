// Cost of the 3964R link and RK512 layer per exchange over a pseudo-terminal, against the least
// the handshake allows and against the time the same bytes take on the line. The controller
// simulator answers on a thread of its own; only the scanner thread's CPU time counts.
//
// The least: a bare loop on the same pseudo-terminal making only the calls an exchange cannot do
// without: a purge, four writes (STX, command frame, DLE, DLE: each answers the partner, so
// none can be merged) and four waits of one poll and one read each (DLE, DLE, STX, reply
// frame). The link runs as in the scanner: with the device's debug trace in place and switched
// off, so every trace call checks whether it was switched on. Link and bare loop take turns in
// rounds of the same run, so that a machine busy with other work weighs on both alike.
#include "dbg.h"
#include "link.h"
#include "port.h"
#include "rk.h"
#include "s5sim.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRounds = 20;
constexpr int kPerRound = 50;

double ThreadCpuUs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

// 8 data bits, no parity, one stop bit: 10 bit times per byte.
double LineUs(double bytes, double baud) {
    return bytes * 10.0 / baud * 1e6;
}

uint64_t Total(const PlatSerialCalls &c) {
    return c.reads + c.polls + c.writes + c.flushes;
}

// The bare exchange: the least system calls a FETCH takes, no time-out logic, no trace, no
// counters, no checks beyond the byte expected at each step.
class BareLoop {
public:
    BareLoop(const S5RequestBlock &block, bool bcc) {
        uint8_t header[RK_HEADER_SIZE];
        rk_BuildHeader(header, 'E', block);
        uint8_t check = 0;
        for (uint8_t b : header) {
            frame_.push_back(b);
            check ^= b;
            if (b == LINK_DLE) {
                frame_.push_back(b);
                check ^= b;
            }
        }
        frame_.push_back(LINK_DLE);
        frame_.push_back(LINK_ETX);
        check ^= LINK_DLE ^ LINK_ETX;
        if (bcc) frame_.push_back(check);
        // Zero data words carry no DLE to double.
        reply_bytes_ = 4 + block.size + 2 + (bcc ? 1 : 0);
    }

    // 1 when the exchange went through.
    int Exchange(int fd) {
        static const uint8_t stx = LINK_STX, dle = LINK_DLE;
        uint8_t in[512];
        ++calls.flushes;
        tcflush(fd, TCIFLUSH);
        if (!Put(fd, &stx, 1) || Wait(fd, in, 1) != 1 || in[0] != LINK_DLE) return 0;
        if (!Put(fd, frame_.data(), static_cast<int>(frame_.size())) || Wait(fd, in, 1) != 1 ||
            in[0] != LINK_DLE)
            return 0;
        if (Wait(fd, in, 1) != 1 || in[0] != LINK_STX) return 0;
        if (!Put(fd, &dle, 1)) return 0;
        int got = 0;
        while (got < reply_bytes_) {
            int r = Wait(fd, in + got, static_cast<int>(sizeof in) - got);
            if (r <= 0) return 0;
            got += r;
        }
        return Put(fd, &dle, 1);
    }

    PlatSerialCalls calls;

private:
    bool Put(int fd, const uint8_t *b, int n) {
        ++calls.writes;
        return write(fd, b, static_cast<size_t>(n)) == n;
    }
    int Wait(int fd, uint8_t *b, int capacity) {
        pollfd p{fd, POLLIN, 0};
        ++calls.polls;
        if (poll(&p, 1, 1000) != 1) return -1;
        ++calls.reads;
        return static_cast<int>(read(fd, b, static_cast<size_t>(capacity)));
    }

    std::vector<uint8_t> frame_;
    int reply_bytes_ = 0;
};

void BM_FetchOverPty(benchmark::State &state) {
    int words = static_cast<int>(state.range(0));
    char tmpl[] = "/tmp/kvt_link_bench_XXXXXX";
    if (!mkdtemp(tmpl)) {
        state.SkipWithError("no temp folder");
        return;
    }
    std::string dir = tmpl;
    setenv("KVT_SERIAL_DIR", dir.c_str(), 1);
    std::filesystem::create_directories(dir + "/registry");
    setenv("KVT_REGISTRY_ROOT", (dir + "/registry").c_str(), 1);
    dbg_CreateTrace("S5DEV");
    s5sim::Settings settings;
    settings.reaction_ms = 0;
    settings.wire_log = false;
    s5sim::Simulator sim(settings);
    sim.log().SetCapacity(1000);
    std::string error;
    if (!sim.OpenPty(dir + "/COM7", &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    sim.Start();
    link_ResetSettings();
    PlatSerialLine line;
    line.baud = 19200;
    std::vector<uint8_t> buffer(2 * words + 64);
    S5RequestBlock block;
    block.type = S5_AREA_D;
    block.start = 5 << 8;
    block.count = static_cast<uint16_t>(words);
    block.size = static_cast<uint16_t>(2 * words);
    block.data = buffer.data();
    BareLoop bare(block, link_Settings().bcc != 0);

    double link_cpu = 0, bare_cpu = 0;
    int64_t link_done = 0, bare_done = 0, failed = 0;
    uint64_t replies = 0, link_calls = 0, wire_bytes = 0;
    for (auto _ : state) {
        if (link_OpenPort("COM7", line) != 1) {
            state.SkipWithError("cannot open the port");
            break;
        }
        PlatSerialCalls before = port_TermiosCalls();
        link_ResetCounters();
        for (int i = 0; i < kPerRound; ++i) {
            double t0 = ThreadCpuUs();
            int n = rk_Fetch(&block);
            link_cpu += ThreadCpuUs() - t0;
            ++link_done;
            if (n == 0)
                ++failed;
            else
                ++replies;
            // The controller takes the final DLE before the next purge could drop it.
            sim.WaitReplies(replies, 1000);
        }
        link_calls += Total(port_TermiosCalls()) - Total(before);
        const LinkCounters &c = link_Counters();
        // Blocks both ways as counted by the link, and the four acknowledging DLEs.
        wire_bytes += c.tx_bytes + c.rx_bytes + 4u * c.rx_packets;
        link_ClosePort();

        int fd = plat_SerialOpen("COM7");
        if (fd < 0) {
            state.SkipWithError("cannot open the port for the bare loop");
            break;
        }
        plat_SerialConfigure(fd, line, nullptr);
        for (int i = 0; i < kPerRound; ++i) {
            double t0 = ThreadCpuUs();
            int ok = bare.Exchange(fd);
            bare_cpu += ThreadCpuUs() - t0;
            ++bare_done;
            if (!ok)
                ++failed;
            else
                ++replies;
            sim.WaitReplies(replies, 1000);
        }
        plat_SerialClose(fd);
    }
    sim.Stop();
    dbg_DeleteTrace();
    std::filesystem::remove_all(dir);
    if (link_done == 0 || bare_done == 0) return;

    double per = link_cpu / link_done;
    double least = bare_cpu / bare_done;
    double bytes = static_cast<double>(wire_bytes) / link_done;
    state.counters["link_cpu_us"] = per;
    state.counters["bare_cpu_us"] = least;
    state.counters["link_to_bare"] = per / least;
    state.counters["link_calls"] = static_cast<double>(link_calls) / link_done;
    state.counters["bare_calls"] = static_cast<double>(Total(bare.calls)) / bare_done;
    state.counters["wire_bytes"] = bytes;
    state.counters["line_us_115200"] = LineUs(bytes, 115200);
    state.counters["pct_115200"] = 100.0 * per / LineUs(bytes, 115200);
    state.counters["pct_19200"] = 100.0 * per / LineUs(bytes, 19200);
    state.counters["failed"] = static_cast<double>(failed);
}

} // namespace

BENCHMARK(BM_FetchOverPty)
    ->Arg(1)
    ->Arg(10)
    ->Arg(51)
    ->Iterations(kRounds)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
