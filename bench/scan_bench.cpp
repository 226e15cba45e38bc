// Cost of one scan cycle's channel processing and publishing, with no line: 10,000 analogue
// and 10,000 digital inputs evaluated (limits, deadbands, significant changes, events) inside
// a real alarm pass over shared-memory segments, and the statuses and values copied into the
// data segment. Reported per channel, and against the time the same values take on the line
// at 115200 baud when the planner fetches them in blocks of 100 bytes.
#include "alm.h"
#include "chp.h"
#include "chrec.h"
#include "dm.h"
#include "plat_shm.h"
#include "shm.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
namespace an = ChannelAnalog;
namespace dg = ChannelDigital;

constexpr int k_channels = 10000;
constexpr double k_baud = 115200.0;
constexpr int k_blockBytes = 100;

double ProcessCpuUs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

// One FETCH exchange of `words` words: the command telegram and the reply with its framing
// (STX, DLE, 10-byte header + DLE ETX BCC, DLE; STX, DLE, 4-byte header + data + DLE ETX BCC,
// DLE), 10 bit times a byte.
double FetchLineUs(int words) {
    double bytes = 1 + 1 + 13 + 1 + 1 + 1 + (4 + 2.0 * words + 3) + 1;
    return bytes * 10.0 / k_baud * 1e6;
}

double LineUsFor(int bytes) {
    double us = 0;
    for (int left = bytes; left > 0; left -= k_blockBytes)
        us += FetchLineUs((left < k_blockBytes ? left : k_blockBytes) / 2);
    return us;
}

struct Table {
    ChannelTableHeader *header;
    uint32_t *published;
    float *publishedValues;
};

Table MakeTable(const char *id, bool analogue) {
    int v = analogue ? 8 : 4;
    SegmentHeader *data =
        shm_OpenOrCreateSegment((std::string("dm_") + id).c_str(), 20 + v * k_channels);
    shm_OpenOrCreateSegment((std::string("dm_") + id + "_event").c_str(), 2 * k_channels / 8);
    Table t{};
    t.header = reinterpret_cast<ChannelTableHeader *>(shm_Payload(data));
    memcpy(t.header->tableId, id, 2);
    t.header->tableType = static_cast<uint16_t>(v);
    t.header->channelCount = k_channels;
    t.published = reinterpret_cast<uint32_t *>(shm_Payload(data) + 20);
    t.publishedValues =
        analogue ? reinterpret_cast<float *>(shm_Payload(data) + 20 + 4 * k_channels) : nullptr;
    return t;
}

void MakeDirectory() {
    std::string prefix = "kvtb-scan-" + std::to_string(getpid());
    setenv("KVT_IPC_PREFIX", prefix.c_str(), 1);
    plat_ShmUnlinkAll();
    SegmentHeader *devices = shm_OpenOrCreateSegment("dm_device", 4 + 788);
    int32_t one = 1;
    memcpy(shm_Payload(devices), &one, 4);
    auto *slot = reinterpret_cast<DeviceSlot *>(shm_Payload(devices) + 4);
    memcpy(slot->typeName, "KSTRN", 5);
    slot->deviceNumber = 1;
    memcpy(slot->kindIds[0], "BA", 2);
    memcpy(slot->kindIds[1], "BD", 2);
    SegmentHeader *processes = shm_OpenOrCreateSegment("dm_datproc", 4);
    int32_t none = 0;
    memcpy(shm_Payload(processes), &none, 4);
}

ChannelRecord AnalogueRecord() {
    ChannelRecord r{};
    chrec_SetType(&r, CHANNEL_TYPE_AI);
    for (int bit : {an::Enable, an::HighAlarmEnable, an::HighAlarmDeadbandEnable,
                    an::HighWarningEnable, an::EventEnable, an::SigChangeEnable, an::ScalingEnable})
        chrec_SetFlag(&r, bit, 1);
    chrec_Set(&r, an::Gain, 1.0f);
    chrec_Set(&r, an::HighAlarmLimit, 1e9f);
    chrec_Set(&r, an::HighAlarmDeadband, 1e9f);
    chrec_Set(&r, an::HighWarningLimit, 1e9f);
    chrec_Set(&r, an::HighEventLimit, 1e9f);
    chrec_Set(&r, an::LowEventLimit, -1e9f);
    chrec_Set(&r, an::SigChangeValue, 1e9f);
    return r;
}

ChannelRecord DigitalRecord() {
    ChannelRecord r{};
    chrec_SetType(&r, CHANNEL_TYPE_DI);
    chrec_SetFlag(&r, dg::Enable, 1);
    chrec_SetFlag(&r, dg::EventEnable, 1);
    chrec_SetFlag(&r, dg::EventState, 1);
    return r;
}

// One kind's scanner-local arrays and its published ones, as the cycle works on them.
struct Kind {
    std::vector<ChannelRecord> records;
    std::vector<uint32_t> statuses;
    std::vector<float> values, baselines, references;
    int saved = 0;
    ChpKind chp{};
    Table table{};

    Kind(bool analogue, const Table &t)
        : records(k_channels, analogue ? AnalogueRecord() : DigitalRecord()), statuses(k_channels),
          values(analogue ? k_channels : 0), baselines(analogue ? k_channels : 0),
          references(analogue ? k_channels : 0), table(t) {
        uint32_t none = 0x7FFFFFFFu;
        for (float &b : baselines)
            memcpy(&b, &none, sizeof b);
        chp.count = k_channels;
        chp.records = records.data();
        chp.statuses = statuses.data();
        chp.previousStatuses = t.published;
        chp.values = analogue ? values.data() : nullptr;
        chp.previousValues = t.publishedValues;
        chp.baselines = analogue ? baselines.data() : nullptr;
        chp.references = analogue ? references.data() : nullptr;
        chp.saved = &saved;
        chp.computer = "HOST";
        chp.user = "bench";
    }
    // What the handler would leave: every channel changed since the last cycle.
    void Read(int cycle) {
        for (int i = 0; i < k_channels; ++i) {
            if (!values.empty()) values[i] = static_cast<float>(cycle + i);
            statuses[i] = (statuses[i] & ~1u) | static_cast<uint32_t>((cycle + i) & 1);
        }
    }
    void ProcessAndPublish() {
        alm_BeginDevice(table.header);
        chp_ProcessKind(chp, 0);
        memcpy(table.published, statuses.data(), sizeof(uint32_t) * k_channels);
        if (table.publishedValues != nullptr)
            memcpy(table.publishedValues, values.data(), sizeof(float) * k_channels);
        alm_EndDevice();
    }
};

void BM_ScanCycleProcessing(benchmark::State &state) {
    MakeDirectory();
    Kind ai(true, MakeTable("BA", true));
    Kind di(false, MakeTable("BD", false));
    bool changing = state.range(0) != 0;
    int cycle = 0;
    double cpu = 0;
    for (auto _ : state) {
        if (changing || cycle < 2) {
            ai.Read(cycle);
            di.Read(cycle);
        }
        ++cycle;
        double start = ProcessCpuUs();
        ai.ProcessAndPublish();
        di.ProcessAndPublish();
        cpu += ProcessCpuUs() - start;
    }
    double perCycleUs = cpu / static_cast<double>(state.iterations());
    // 10,000 analogue words and 10,000 bits (625 words) fetched in 100-byte blocks.
    double lineUs = LineUsFor(2 * k_channels) + LineUsFor(2 * ((k_channels + 15) / 16));
    state.counters["cpu_us_per_cycle"] = perCycleUs;
    state.counters["ns_per_channel"] = perCycleUs * 1000.0 / (2.0 * k_channels);
    state.counters["line_ms_115200"] = lineUs / 1000.0;
    state.counters["cpu_to_line_ratio"] = perCycleUs / lineUs;
    alm_Reset();
    plat_ShmUnlinkAll();
}
BENCHMARK(BM_ScanCycleProcessing)->Arg(1)->Arg(0)->ArgName("every_channel_changed");

} // namespace

BENCHMARK_MAIN();
