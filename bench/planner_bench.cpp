// The request-block planner for a device of 10,000 channels per kind: how long planning takes,
// and how many bytes one poll of the planned blocks puts on the line against the least that
// 3964R/RK512 allows for the same addresses.
//
// The line is an in-process controller that answers every FETCH at once with zero data and
// counts every byte both ways, so the byte count is exact (framing, acknowledgements, DLE
// doubling). The least is an optimal cover of the same elements by FETCH blocks of at most
// 136 data bytes (the reply a FETCH may carry), never across a data block, priced with the
// same framing.
#include "chrec.h"
#include "link.h"
#include "port.h"
#include "s5.h"
#include "station.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <tuple>
#include <vector>

namespace {

constexpr int CHANNELS = 10000;
constexpr int MAX_FETCH_BYTES = 136;

// Answers the active side's STX with DLE, its command frame with DLE and a reply, and counts
// the bytes.
class CountingPlc final : public LinkPort {
public:
    uint64_t bytes = 0;

    int Open(const char *, const PlatSerialLine &) override { return 1; }
    int Read(uint8_t *buf, int n, int) override {
        if (static_cast<int>(out_.size()) < n) return 0;
        for (int i = 0; i < n; ++i) {
            buf[i] = out_.front();
            out_.pop_front();
        }
        bytes += static_cast<uint64_t>(n);
        return 1;
    }
    int Write(const uint8_t *buf, int n, int) override {
        bytes += static_cast<uint64_t>(n);
        in_.insert(in_.end(), buf, buf + n);
        Serve();
        return 1;
    }
    int Purge() override { return 1; }
    void Close() override {}

private:
    void Serve() {
        if (in_.size() == 1 && in_[0] == LINK_STX) { // the partner's STX
            in_.clear();
            out_.push_back(LINK_DLE);
        } else if (in_.size() == 1 && in_[0] == LINK_DLE) { // our STX or our reply taken
            in_.clear();
            if (replyPending_) {
                replyPending_ = false;
                Frame(reply_);
            }
        } else if (in_.size() >= 3 && in_[in_.size() - 3] == LINK_DLE &&
                   in_[in_.size() - 2] == LINK_ETX) {
            std::vector<uint8_t> telegram;
            for (size_t i = 0; i + 3 < in_.size(); ++i) {
                telegram.push_back(in_[i]);
                if (in_[i] == LINK_DLE) ++i;
            }
            in_.clear();
            int count = telegram[6] << 8 | telegram[7];
            int area =
                static_cast<int>(std::strchr(S5_AREA_LETTERS, telegram[3]) - S5_AREA_LETTERS);
            reply_.assign(4 + count * S5_ELEMENT_SIZE[area], 0);
            replyPending_ = true;
            out_.push_back(LINK_DLE);
            out_.push_back(LINK_STX);
        }
    }
    void Frame(const std::vector<uint8_t> &telegram) {
        uint8_t bcc = 0;
        auto put = [&](uint8_t b) {
            out_.push_back(b);
            bcc ^= b;
        };
        for (uint8_t b : telegram) {
            put(b);
            if (b == LINK_DLE) put(b);
        }
        put(LINK_DLE);
        put(LINK_ETX);
        out_.push_back(bcc);
    }

    std::vector<uint8_t> in_;
    std::deque<uint8_t> out_;
    std::vector<uint8_t> reply_;
    bool replyPending_ = false;
};

// Wire bytes of one FETCH of `count` zero elements: STX DLE, command frame, DLE; STX DLE,
// reply frame, DLE. Only the address and count bytes of the command can need doubling.
int FetchWireBytes(int start, int count, int elementSize) {
    int doubled = 0;
    for (int b : {start >> 8, start & 0xFF, count >> 8, count & 0xFF})
        doubled += b == LINK_DLE;
    return 2 + (10 + doubled + 3) + 1 + 2 + (4 + count * elementSize + 3) + 1;
}

S5ChannelAddress Address(const ChannelRecord &r) {
    return s5_ChannelAddress(r);
}

// The least bytes of a poll that reads every element the enabled channels need.
int64_t LeastWireBytes(const std::vector<ChannelRecord> &records) {
    // Elements needed per (station, area, data block).
    std::map<std::tuple<int, int, int>, std::vector<int>> groups;
    for (const ChannelRecord &r : records) {
        S5ChannelAddress a = Address(r);
        if (!s5_AcceptChannel(a)) continue;
        int area = s5_TypeArea(a.type);
        bool dataBlock = area == S5_AREA_D || area == S5_AREA_X;
        int block = dataBlock ? a.address >> 8 : 0;
        auto &elements = groups[{a.station, area, block}];
        for (int e = 0; e <= s5_ChannelExtent(a); ++e)
            elements.push_back(a.address + e);
    }
    int64_t total = 0;
    for (auto &[key, elements] : groups) {
        std::sort(elements.begin(), elements.end());
        elements.erase(std::unique(elements.begin(), elements.end()), elements.end());
        int size = S5_ELEMENT_SIZE[std::get<1>(key)];
        int maxCount = MAX_FETCH_BYTES / size;
        size_t k = elements.size();
        // best[j]: least bytes for the first j elements.
        std::vector<int64_t> best(k + 1, INT64_MAX);
        best[0] = 0;
        for (size_t j = 1; j <= k; ++j) {
            for (size_t i = j; i >= 1; --i) {
                int count = elements[j - 1] - elements[i - 1] + 1;
                if (count > maxCount) break;
                int64_t cost = best[i - 1] + FetchWireBytes(elements[i - 1], count, size);
                best[j] = std::min(best[j], cost);
            }
        }
        total += best[k];
    }
    return total;
}

ChannelRecord Channel(uint8_t station, uint8_t type, uint16_t address, uint8_t bit = 0) {
    ChannelRecord r{};
    chrec_SetType(&r, CHANNEL_TYPE_AI);
    chrec_SetFlag(&r, ChannelAnalog::Enable, 1);
    S5ChannelAddress a{};
    a.station = station;
    a.type = type;
    a.address = address;
    a.bit_number = bit;
    std::memcpy(chrec_DevicePart(&r), &a, sizeof a);
    return r;
}

// Address layouts of 10,000 channels.
std::vector<ChannelRecord> Layout(int which) {
    std::vector<ChannelRecord> out;
    std::mt19937 random(7);
    switch (which) {
    case 0: // contiguous data words: DB 1..40, DW 0..249
        for (int i = 0; i < CHANNELS; ++i)
            out.push_back(Channel(1, S5_AREA_D | S5_TYPE_WORD,
                                  static_cast<uint16_t>((1 + i / 250) << 8 | i % 250)));
        break;
    case 1: // scattered timer words over four stations
        for (int i = 0; i < CHANNELS; ++i)
            out.push_back(Channel(static_cast<uint8_t>(random() % 4), S5_AREA_T | S5_TYPE_WORD,
                                  static_cast<uint16_t>(random() % 65536)));
        break;
    case 2: // every bit of input bytes 0..1249
        for (int i = 0; i < CHANNELS; ++i)
            out.push_back(Channel(1, S5_AREA_E | S5_TYPE_BIT, static_cast<uint16_t>(i / 8),
                                  static_cast<uint8_t>(i % 8)));
        break;
    default: // a plant: mixed areas and shapes, in clusters with gaps, in random order
        for (int i = 0; i < CHANNELS; ++i) {
            int cluster = static_cast<int>(random() % 200);
            int offset = static_cast<int>(random() % 40);
            switch (cluster % 4) {
            case 0:
                out.push_back(Channel(1, S5_AREA_D | S5_TYPE_WORD | S5_TYPE_SIGNED,
                                      static_cast<uint16_t>((cluster / 4) << 8 | offset * 3)));
                break;
            case 1:
                out.push_back(Channel(1, S5_AREA_M | S5_TYPE_WORD,
                                      static_cast<uint16_t>(cluster * 300 + offset * 2)));
                break;
            case 2:
                out.push_back(Channel(2, S5_AREA_E | S5_TYPE_BIT,
                                      static_cast<uint16_t>(cluster * 100 + offset),
                                      static_cast<uint8_t>(random() % 16)));
                break;
            default:
                out.push_back(Channel(2, S5_AREA_T, static_cast<uint16_t>(cluster * 500 + offset)));
            }
        }
    }
    return out;
}

const char *const LAYOUT_NAMES[] = {"contiguous", "scattered", "bits", "mixed"};

void BM_Plan(benchmark::State &state) {
    std::vector<ChannelRecord> records = Layout(static_cast<int>(state.range(0)));
    S5BlockList list;
    int blocks = 0;
    for (auto _ : state)
        blocks = s5_PlanBlocks(CHANNELS, records.data(), &list);
    state.SetLabel(LAYOUT_NAMES[state.range(0)]);
    state.counters["blocks"] = blocks;
    state.counters["per_channel"] = benchmark::Counter(
        CHANNELS, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    s5_ReleaseBlocks(&list);
}

void BM_PollBytes(benchmark::State &state) {
    std::vector<ChannelRecord> records = Layout(static_cast<int>(state.range(0)));
    S5BlockList list;
    s5_PlanBlocks(CHANNELS, records.data(), &list);
    CountingPlc plc;
    LinkPort *previous = port_Select(&plc);
    int good = 0;
    uint64_t before = 0, perScan = 0;
    for (auto _ : state) {
        before = plc.bytes;
        good = s5_PollBlocks(list);
        perScan = plc.bytes - before;
    }
    port_Select(previous);
    int64_t least = LeastWireBytes(records);
    state.SetLabel(LAYOUT_NAMES[state.range(0)]);
    state.counters["blocks"] = list.count;
    state.counters["good"] = good;
    state.counters["bytes_per_scan"] = static_cast<double>(perScan);
    state.counters["least_bytes"] = static_cast<double>(least);
    state.counters["ratio"] = static_cast<double>(perScan) / static_cast<double>(least);
    s5_ReleaseBlocks(&list);
}

BENCHMARK(BM_Plan)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PollBytes)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
