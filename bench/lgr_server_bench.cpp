// The request server over one run of 10^6 records, as ratios from one run to reading the same
// records straight through the file store: an RV reply against ReadLog of the newest record,
// and a 7S range over the whole run (first with the run list's cache being filled, then from the
// cache) against ReadLogs of every record in batches of 100.
#include "ldf.h"
#include "lfile.h"
#include "lgr_server.h"
#include "lstore_file.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {
constexpr int k_records = 1000000;
constexpr int k_batch = 10000;
constexpr uint32_t k_start = 1715934600;

double nowUs() {
    return std::chrono::duration<double, std::micro>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Scratch {
    std::string path;
    Scratch() {
        char tmpl[] = "/tmp/kvt-lgr-server-bench-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~Scratch() { std::filesystem::remove_all(path); }
};

LogHeader header() {
    LogHeader h{};
    h.blockCount = 2;
    memcpy(h.blocks[0].prefix, "AI", 2);
    h.blocks[0].first = 1;
    h.blocks[0].last = 3;
    memcpy(h.blocks[1].prefix, "DI", 2);
    h.blocks[1].first = 1;
    h.blocks[1].last = 2;
    ldf_LayoutRecord(&h);
    h.start = static_cast<int32_t>(k_start);
    return h;
}

// Writes the run; "" on failure.
std::string writeRun(const std::string &folder) {
    LogHeader h = header();
    std::vector<uint8_t> ai(3 * 216), di(2 * 216);
    const void *arrays[2] = {ai.data(), di.data()};
    std::string path =
        folder + "/RUN_" + lfile_FormatRunTime(static_cast<int32_t>(k_start)) + ".odl";
    CLogFileStore store;
    if (store.Create(path.c_str(), 0, &h, nullptr, arrays) != 0) return "";
    std::vector<uint8_t> batch(static_cast<size_t>(k_batch) * h.recordSize);
    for (int first = 0; first < k_records; first += k_batch) {
        for (int k = 0; k < k_batch; ++k) {
            uint8_t *r = batch.data() + static_cast<size_t>(k) * h.recordSize;
            int i = first + k;
            ldf_Put16(r, LDF_RECORD_MARKER);
            // Ten records a second.
            ldf_Put32(r + 4, static_cast<int32_t>(k_start + static_cast<uint32_t>(i / 10)));
            ldf_Put16(r + 8, static_cast<uint16_t>(100 * (i % 10)));
            for (int b = 0; b < h.blockCount; ++b) {
                int at = h.blocks[b].valuesOffset;
                int n = ldf_BlockChannels(h.blocks[b]);
                ldf_Put16(r + at - 2, LDF_VALUES_MARKER);
                for (int c = 0; c < n; ++c) {
                    ldf_Put32(r + at + 4 * c, LDF_FLAG_PRESENT);
                    ldf_PutFloat(r + at + 4 * n + 4 * c, static_cast<float>(i + c));
                }
            }
            ldf_Put16(r + h.recordSize - 2, LDF_RECORD_END);
        }
        if (store.WriteLog(&h, batch.data(), k_batch) != 0) return "";
    }
    store.Close();
    return path;
}

void BM_ServerAgainstStoreReads(benchmark::State &state) {
    Scratch dir;
    std::string path = writeRun(dir.path);
    if (path.empty()) {
        state.SkipWithError("cannot write the run");
        return;
    }
    LogHeader h = header();
    std::vector<uint8_t> all(static_cast<size_t>(k_records) * h.recordSize);
    std::vector<uint32_t> times(2 * static_cast<size_t>(k_records));
    std::vector<uint32_t> values(5 * static_cast<size_t>(k_records));
    char reply[4096];
    double readAll = 0, readOne = 0, rangeCold = 0, rangeWarm = 0, rv = 0;
    int rvCount = 0, readOneCount = 0;
    int written = 0;
    for (auto _ : state) {
        CLogFileStore store;
        LogHeader rh{};
        store.Open(nullptr, path.c_str(), LSTORE_READ);
        store.ReadHeader(&rh);
        double t0 = nowUs();
        for (int i = 0; i < k_records; i += 100)
            benchmark::DoNotOptimize(
                store.ReadLogs(i, &rh, all.data() + static_cast<size_t>(i) * rh.recordSize, 100));
        readAll += nowUs() - t0;
        for (int k = 0; k < 1000; ++k) {
            t0 = nowUs();
            benchmark::DoNotOptimize(store.ReadLog(k_records - 1, &rh, all.data(), rh.recordSize));
            readOne += nowUs() - t0;
            ++readOneCount;
        }
        store.Close();

        CLogRequestServer server;
        if (server.Open(dir.path.c_str()) != 0) {
            state.SkipWithError("cannot open the server");
            return;
        }
        std::string request = "7S,0,0,0,0," +
                              std::to_string(reinterpret_cast<uintptr_t>("AI,1,2,3,DI,1,2")) + "," +
                              std::to_string(k_records) + "," +
                              std::to_string(reinterpret_cast<uintptr_t>(times.data())) + "," +
                              std::to_string(reinterpret_cast<uintptr_t>(values.data())) + ",0,0";
        int length = 0;
        t0 = nowUs();
        server.HandleRequest(request.c_str(), static_cast<int>(request.size()) + 1, reply,
                             sizeof reply, &length);
        rangeCold += nowUs() - t0;
        t0 = nowUs();
        server.HandleRequest(request.c_str(), static_cast<int>(request.size()) + 1, reply,
                             sizeof reply, &length);
        rangeWarm += nowUs() - t0;
        written = atoi(reply + 2);
        const char rvRequest[] = "RV,AI,1,2,3,DI,1,2";
        for (int k = 0; k < 1000; ++k) {
            t0 = nowUs();
            server.HandleRequest(rvRequest, sizeof rvRequest, reply, sizeof reply, &length);
            rv += nowUs() - t0;
            ++rvCount;
        }
    }
    // Time of the straight reads over time of the server's answer: above 1 is faster.
    state.counters["range_cold_ratio"] = readAll / rangeCold;
    state.counters["range_warm_ratio"] = readAll / rangeWarm;
    state.counters["rv_ratio"] = (readOne / readOneCount) / (rv / rvCount);
    state.counters["rv_us"] = rv / rvCount;
    state.counters["records_7S"] = written;
}
BENCHMARK(BM_ServerAgainstStoreReads)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

BENCHMARK_MAIN();
