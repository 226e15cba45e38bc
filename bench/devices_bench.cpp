// Many devices on one machine: 1, 8 and 32 scanner processes, each with its own runtime
// stand-in (a process of its own, with its own IPC prefix and installation) and its own
// controller simulator on a pseudo-terminal, scanned once a second for a fixed number of scans.
// The CPU counted is the scanner processes' own, user and system, as wait4 reports it when they
// end: not the simulators' (threads of this program) nor the stand-ins'. Reported per device per
// scan; `vs_one_device` divides that by the figure at one device, measured in the same run.
// The devices' starts and scans are spread over the second, as independent scanners of a plant
// fall, rather than all made at the same instant; each figure includes the scanner's start and
// stop, spread over enough scans that the start weighs little.
#include "chrec.h"
#include "s5sim.h"
#include "s5types.h"
#include "sim_runtime.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
namespace fs = std::filesystem;
namespace an = ChannelAnalog;
namespace dg = ChannelDigital;

constexpr int k_scans = 25;
constexpr int k_intervalMs = 1000;
constexpr int k_analogue = 100; // data words 0..99 of DB 10
constexpr int k_digital = 64;   // bits of data words 100..103

double g_perScanAtOne = 0;

std::string BuildBin() {
    char self[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    return (fs::path(std::string(self, n > 0 ? n : 0)).parent_path().parent_path() / "bin")
        .string();
}

void Place(ChannelRecord *r, size_t at, uint8_t type, int word, int bit) {
    S5ChannelAddress a{};
    a.type = type;
    a.address = static_cast<uint16_t>((10 << 8) | word);
    a.bit_number = static_cast<uint8_t>(bit);
    memcpy(r->bytes + at, &a, sizeof a);
}

void WriteChannels(const fs::path &file, const std::vector<ChannelRecord> &records) {
    std::vector<char> bytes(8 + 216 * records.size(), 0);
    for (size_t i = 0; i < records.size(); ++i)
        memcpy(bytes.data() + 8 + 216 * i, records[i].bytes, 216);
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

// The device folder: scan interval, 100 analogue and 64 digital inputs.
void WriteDevice(const fs::path &folder) {
    fs::create_directories(folder);
    std::vector<char> config(705, 0);
    config[0] = 1;
    int32_t interval = k_intervalMs;
    memcpy(config.data() + 1, &interval, sizeof interval);
    std::ofstream(folder / "config", std::ios::binary).write(config.data(), config.size());
    std::vector<ChannelRecord> ai, di;
    for (int w = 0; w < k_analogue; ++w) {
        ChannelRecord r{};
        chrec_SetType(&r, CHANNEL_TYPE_AI);
        chrec_SetFlag(&r, an::Enable, 1);
        Place(&r, an::DevicePart, S5_AREA_D | S5_TYPE_WORD, w, 0);
        ai.push_back(r);
    }
    for (int b = 0; b < k_digital; ++b) {
        ChannelRecord r{};
        chrec_SetType(&r, CHANNEL_TYPE_DI);
        chrec_SetFlag(&r, dg::Enable, 1);
        Place(&r, dg::DevicePart, S5_AREA_D | S5_TYPE_BIT, k_analogue + b / 16, b % 16);
        di.push_back(r);
    }
    WriteChannels(folder / "ai", ai);
    WriteChannels(folder / "di", di);
}

struct Outcome {
    double user_us = -1;
    double system_us = -1;
    int scans = 0;
};

// The runtime stand-in of one device, in a process of its own: starts the scanner, scans it
// once a second, stops it and reports the CPU wait4 gave for it. Runs in a forked child and
// ends with _exit.
[[noreturn]] void StandIn(const fs::path &root, const std::string &prefix, int offsetMs, int out) {
    setenv("KVT_IPC_PREFIX", prefix.c_str(), 1);
    Outcome o;
    std::string bin = BuildBin();
    std::string text = "root " + root.string() + "\nbin " + bin + "\nscanner " + bin +
                       "/KSTRN_SC\n"
                       "device KSTRN 1 PLANT S5DEV ai=T1 di=T2\n"
                       "table T1 8 " +
                       std::to_string(k_analogue) + "\ntable T2 4 " + std::to_string(k_digital) +
                       "\nerrors 2\n";
    SimDescription description;
    std::string error;
    std::this_thread::sleep_for(std::chrono::milliseconds(offsetMs));
    if (sim_ParseDescription(text, &description, &error) == 0) {
        SimRuntime runtime(description);
        if (runtime.create() == 0 && runtime.start(1) == 0 && runtime.waitReady(1) == 0) {
            auto next = std::chrono::steady_clock::now();
            for (int s = 0; s < k_scans; ++s) {
                std::this_thread::sleep_until(next);
                next += std::chrono::milliseconds(k_intervalMs);
                if (runtime.scan(1) == 0) ++o.scans;
            }
            int status = 0;
            rusage usage{};
            if (runtime.stop(1, &status) == 0 && runtime.scannerUsage(1, &usage)) {
                o.user_us = usage.ru_utime.tv_sec * 1e6 + usage.ru_utime.tv_usec;
                o.system_us = usage.ru_stime.tv_sec * 1e6 + usage.ru_stime.tv_usec;
            }
        }
        if (o.user_us < 0)
            fprintf(stderr, "device %s: %s\n", prefix.c_str(), runtime.lastError().c_str());
        runtime.shutdown();
    }
    if (write(out, &o, sizeof o) != sizeof o) _exit(1);
    _exit(0);
}

void BM_ManyDevices(benchmark::State &state) {
    const int devices = static_cast<int>(state.range(0));
    char tmpl[] = "/tmp/kvt_devices_bench_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        state.SkipWithError("no temp folder");
        return;
    }
    const fs::path base = tmpl;
    double user = 0, system = 0;
    int scans = 0, failed = 0;
    for (auto _ : state) {
        std::vector<std::unique_ptr<s5sim::Simulator>> plcs;
        std::vector<fs::path> roots;
        for (int d = 0; d < devices; ++d) {
            fs::path root = base / ("dev" + std::to_string(d));
            WriteDevice(root / "CURRENT_CONFIG" / "S5DEV");
            fs::create_directories(root / "ports");
            auto plc = std::make_unique<s5sim::Simulator>(s5sim::Settings{});
            plc->log().SetCapacity(1000);
            std::string error;
            if (!plc->OpenPty((root / "ports" / "COM1").string(), &error)) {
                state.SkipWithError(error.c_str());
                return;
            }
            plc->Start();
            plcs.push_back(std::move(plc));
            roots.push_back(root);
        }
        std::vector<pid_t> children;
        std::vector<int> pipes;
        for (int d = 0; d < devices; ++d) {
            int fds[2];
            if (pipe(fds) != 0) break;
            fflush(nullptr);
            pid_t pid = fork();
            if (pid == 0) {
                close(fds[0]);
                StandIn(roots[static_cast<size_t>(d)],
                        "kvtb-" + std::to_string(getppid()) + "-" + std::to_string(d),
                        d * k_intervalMs / devices, fds[1]);
            }
            close(fds[1]);
            if (pid < 0) {
                close(fds[0]);
                break;
            }
            children.push_back(pid);
            pipes.push_back(fds[0]);
        }
        for (size_t i = 0; i < children.size(); ++i) {
            Outcome o;
            bool got = read(pipes[i], &o, sizeof o) == sizeof o;
            close(pipes[i]);
            int status = 0;
            waitpid(children[i], &status, 0);
            if (!got || o.user_us < 0) {
                ++failed;
                continue;
            }
            user += o.user_us;
            system += o.system_us;
            scans += o.scans;
            failed += k_scans - o.scans;
        }
        failed += devices - static_cast<int>(children.size());
        for (auto &plc : plcs)
            plc->Stop();
    }
    fs::remove_all(base);
    if (scans == 0) return;
    const double per = (user + system) / scans;
    if (devices == 1) g_perScanAtOne = per;
    state.counters["devices"] = devices;
    state.counters["scans"] = scans;
    state.counters["failed"] = failed;
    state.counters["user_us_per_scan"] = user / scans;
    state.counters["sys_us_per_scan"] = system / scans;
    state.counters["cpu_us_per_scan"] = per;
    if (g_perScanAtOne > 0) state.counters["vs_one_device"] = per / g_perScanAtOne;
}

} // namespace

BENCHMARK(BM_ManyDevices)
    ->Arg(1)
    ->Arg(8)
    ->Arg(32)
    ->Iterations(2)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

BENCHMARK_MAIN();
