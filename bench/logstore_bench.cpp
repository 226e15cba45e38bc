// The file store's appends and reads against the raw system calls they stand on, as ratios from
// one run: WriteLog of batches of 100 records of 62 bytes against a raw O_DSYNC pwrite of the
// same batches, and ReadLogs of the run against a raw pread of the same bytes (the aim is at
// least 0.5 for both). And the time of the 10,000th lfile_AddEventAt into one text file against
// the 1,000th (the rewrite grows with the file).
#include "ldf.h"
#include "lfile.h"
#include "lstore_file.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
constexpr int k_batch = 100;
constexpr int k_batches = 200;

double nowUs() {
    return std::chrono::duration<double, std::micro>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Scratch {
    std::string path;
    Scratch() {
        char tmpl[] = "/tmp/kvt-logstore-bench-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~Scratch() { std::filesystem::remove_all(path); }
};

LogHeader header() {
    LogHeader h;
    memset(&h, 0, sizeof h);
    h.blockCount = 2;
    memcpy(h.blocks[0].prefix, "ai", 2);
    h.blocks[0].first = 1;
    h.blocks[0].last = 3;
    memcpy(h.blocks[1].prefix, "di", 2);
    h.blocks[1].first = 1;
    h.blocks[1].last = 2;
    ldf_LayoutRecord(&h);
    return h;
}

std::vector<uint8_t> batch(const LogHeader &h) {
    std::vector<uint8_t> b(static_cast<size_t>(k_batch) * h.recordSize);
    for (int i = 0; i < k_batch; ++i) {
        uint8_t *r = b.data() + static_cast<size_t>(i) * h.recordSize;
        ldf_Put16(r, LDF_RECORD_MARKER);
        ldf_Put32(r + 4, 1715934600 + i);
        for (int k = 0; k < h.blockCount; ++k)
            ldf_Put16(r + h.blocks[k].valuesOffset - 2, LDF_VALUES_MARKER);
        ldf_Put16(r + h.recordSize - 2, LDF_RECORD_END);
    }
    return b;
}

void BM_StoreAgainstRawIo(benchmark::State &state) {
    Scratch dir;
    LogHeader h = header();
    std::vector<uint8_t> records = batch(h);
    std::vector<uint8_t> ai(3 * 216), di(2 * 216);
    const void *arrays[2] = {ai.data(), di.data()};
    double store = 0, raw = 0, storeRead = 0, rawRead = 0;
    std::vector<uint8_t> back(static_cast<size_t>(k_batch) * k_batches * h.recordSize);
    for (auto _ : state) {
        std::string path = dir.path + "/240517_083000.odl";
        std::filesystem::remove(path);
        CLogFileStore s;
        LogHeader w = h;
        if (s.Create(path.c_str(), 0, &w, nullptr, arrays) != 0)
            state.SkipWithError("create failed");
        double t0 = nowUs();
        for (int i = 0; i < k_batches; ++i)
            s.WriteLog(&w, records.data(), k_batch);
        store += nowUs() - t0;
        s.Close();

        std::string rawPath = dir.path + "/raw.bin";
        int fd = open(rawPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_DSYNC | O_CLOEXEC, 0644);
        off_t at = w.dataOffset;
        t0 = nowUs();
        for (int i = 0; i < k_batches; ++i, at += static_cast<off_t>(records.size()))
            benchmark::DoNotOptimize(pwrite(fd, records.data(), records.size(), at));
        raw += nowUs() - t0;

        CLogFileStore r;
        LogHeader rh;
        r.Open(nullptr, path.c_str(), LSTORE_READ);
        r.ReadHeader(&rh);
        // Reads alternate so that both meet the same cache and load.
        for (int pass = 0; pass < 20; ++pass) {
            t0 = nowUs();
            benchmark::DoNotOptimize(r.ReadLogs(0, &rh, back.data(), k_batch * k_batches));
            storeRead += nowUs() - t0;
            t0 = nowUs();
            benchmark::DoNotOptimize(pread(fd, back.data(), back.size(), w.dataOffset));
            rawRead += nowUs() - t0;
        }
        close(fd);
    }
    state.counters["write_ratio"] = raw / store;
    state.counters["read_ratio"] = rawRead / storeRead;
    state.counters["write_MBps"] =
        static_cast<double>(records.size()) * k_batches * state.iterations() / store;
}
BENCHMARK(BM_StoreAgainstRawIo)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_AddEventGrowth(benchmark::State &state) {
    Scratch dir;
    double at1000 = 0, at10000 = 0;
    for (auto _ : state) {
        std::string file = dir.path + "/240517_083000.txt";
        std::filesystem::remove(file);
        lfile_ReplaceSection(file.c_str(), "HEADER", "h");
        for (int i = 1; i <= 10000; ++i) {
            double t0 = nowUs();
            lfile_AddEventAt(file.c_str(), "[TEXT]", 1715934600 + i, "event text", nullptr);
            double t = nowUs() - t0;
            if (i == 1000) at1000 += t;
            if (i == 10000) at10000 += t;
        }
    }
    state.counters["us_at_1000"] = at1000 / state.iterations();
    state.counters["us_at_10000"] = at10000 / state.iterations();
    state.counters["growth"] = at10000 / at1000;
}
BENCHMARK(BM_AddEventGrowth)->Unit(benchmark::kMillisecond)->Iterations(1);
} // namespace

BENCHMARK_MAIN();
