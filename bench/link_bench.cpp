// Cost of the 3964R link and RK512 layer per exchange over a pseudo-terminal, against the time
// the same bytes take on the line. The controller simulator answers on a thread of its own;
// only the scanner thread's CPU time counts as the link's cost.
#include "link.h"
#include "rk.h"
#include "s5sim.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace {

double ThreadCpuUs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

// Bytes on the wire for a FETCH of `words` zero words: STX, DLE, command frame (10 + DLE ETX
// + BCC), DLE; STX, DLE, reply frame (4 + data + DLE ETX + BCC), DLE.
double WireBytes(int words) {
    return 1 + 1 + 13 + 1 + 1 + 1 + (4 + 2.0 * words + 3) + 1;
}

// 8 data bits, no parity, one stop bit: 10 bit times per byte.
double LineUs(double bytes, double baud) {
    return bytes * 10.0 / baud * 1e6;
}

void BM_FetchOverPty(benchmark::State &state) {
    int words = static_cast<int>(state.range(0));
    char tmpl[] = "/tmp/kvt_link_bench_XXXXXX";
    if (!mkdtemp(tmpl)) {
        state.SkipWithError("no temp folder");
        return;
    }
    std::string dir = tmpl;
    setenv("KVT_SERIAL_DIR", dir.c_str(), 1);
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
    if (link_OpenPort("COM7", line) != 1) {
        state.SkipWithError("cannot open the port");
        return;
    }
    std::vector<uint8_t> buffer(2 * words + 64);
    S5RequestBlock block;
    block.type = S5_AREA_D;
    block.start = 5 << 8;
    block.count = static_cast<uint16_t>(words);
    block.size = static_cast<uint16_t>(2 * words);
    block.data = buffer.data();

    double cpu = 0;
    int64_t done = 0, failed = 0;
    for (auto _ : state) {
        double t0 = ThreadCpuUs();
        int n = rk_Fetch(&block);
        cpu += ThreadCpuUs() - t0;
        if (n == 0) ++failed;
        ++done;
        // The controller takes the final DLE before the next purge could drop it.
        sim.WaitReplies(static_cast<uint64_t>(done - failed), 1000);
    }
    link_ClosePort();
    sim.Stop();
    std::filesystem::remove_all(dir);

    double per = done ? cpu / done : 0;
    double bytes = WireBytes(words);
    state.counters["link_cpu_us"] = per;
    state.counters["wire_bytes"] = bytes;
    state.counters["line_us_19200"] = LineUs(bytes, 19200);
    state.counters["line_us_115200"] = LineUs(bytes, 115200);
    state.counters["ratio_19200_pct"] = 100.0 * per / LineUs(bytes, 19200);
    state.counters["ratio_115200_pct"] = 100.0 * per / LineUs(bytes, 115200);
    state.counters["failed"] = static_cast<double>(failed);
}

} // namespace

BENCHMARK(BM_FetchOverPty)->Arg(1)->Arg(10)->Arg(51)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
