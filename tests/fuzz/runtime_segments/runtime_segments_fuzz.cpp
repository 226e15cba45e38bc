// The runtime segments the configuration side reads: the logger statistics table "dm_LS" and its
// "_conf" records as the statistics channels attach to them, and the channel configuration
// segments "dm_AI_conf" and "dm_DI_conf" as a new run's channel records (file and database
// stores) and the MariaDB store's state texts take them. The runtime stand-in makes the
// segments once, in a name space of this process's own; every input starts from them as made
// and changes their headers and payloads inside the mappings, whose sizes stay as made.
//
// Input: per segment (LS, LS conf, AI conf, DI conf) one byte of what changes: bit 0 the
// payload length, bit 1 the subscriber table's offset, bit 2 the notify table's offset, bit 3
// the capacity (each a 32-bit word from the input), bit 4 up to four runs of payload bytes
// (offset word, length byte, bytes). Then the readers, each from one byte and its fields:
// 0 attach logger 1 to 3 (and detach), 1 a block's channel records from the runtime, 2 the
// same for a database run, 3 a state text.
//
// Seeds: KVT_FUZZ_WRITE_SEEDS=<folder> writes them there and exits.
#include "dm.h"
#include "fuzz_install.h"
#include "ldf.h"
#include "lst.h"
#include "lstore.h"
#include "lstore_db_channels.h"
#include "lstore_mysql_internal.h"
#include "plat_shm.h"
#include "shm.h"
#include "sim_runtime.h"

#include <memory>
#include <string>
#include <vector>

namespace {

const char *const kSegments[] = {"dm_LS", "dm_LS_conf", "dm_AI_conf", "dm_DI_conf"};
constexpr int kSegmentCount = 4;
const char kPrefixes[][3] = {"AI", "DI", "LS", "ZZ"};

struct Segment {
    SegmentHeader *header = nullptr;
    size_t mapped = 0;
    std::vector<uint8_t> made;
};

Segment g_segments[kSegmentCount];

void makeSegments() {
    const fuzz::Installation &inst = fuzz::install();
    std::string root = inst.base + "/runtime";
    mkdir(root.c_str(), 0777);
    SimDescription d;
    std::string error;
    std::string text = "root " + root +
                       "\nprocess LOGST id=LS\ntable LS 8 64\ntable AI 8 6\ntable DI 4 4\n"
                       "logger stand L1\nlogger resub R2\nerror 4 L1\nerror 4 R2 DISK FULL\n";
    if (sim_ParseDescription(text, &d, &error) != 0) abort();
    // Alive until the process ends; its destructor removes the objects.
    static std::unique_ptr<SimRuntime> runtime = std::make_unique<SimRuntime>(d);
    if (runtime->create() != 0) abort();
    // Channel records a run would copy: tags, and digital ones with their state texts.
    for (int c = 1; c <= 6; ++c)
        runtime->confChannel("AI", c, "AI_" + std::to_string(c));
    for (int c = 1; c <= 4; ++c)
        runtime->confChannel("DI", c, "DI_" + std::to_string(c));
    if (dm_MapLoggerTable() != 0 || dm_MapDataProcessTable() != 0) abort();
    for (int s = 0; s < kSegmentCount; ++s) {
        Segment &seg = g_segments[s];
        seg.header = shm_OpenSegment(kSegments[s]);
        if (seg.header == SHM_NO_SEGMENT) abort();
        ShmLayout layout{};
        if (shm_GetLayout(seg.header, &layout) != 0) abort();
        seg.mapped = static_cast<size_t>(layout.mappedSize);
        const uint8_t *bytes = reinterpret_cast<const uint8_t *>(seg.header);
        seg.made.assign(bytes, bytes + seg.mapped);
    }
    // The readers find the same mappings through the runtime's tables.
    if (dm_GetDataSegment("LS") != g_segments[0].header ||
        dm_GetConfSegment("LS") != g_segments[1].header ||
        dm_GetConfSegment("AI") != g_segments[2].header ||
        dm_GetConfSegment("DI") != g_segments[3].header)
        abort();
}

int32_t word32(fuzz::Reader &in) {
    uint32_t low = in.word();
    return static_cast<int32_t>(low | uint32_t{in.word()} << 16);
}

void changeSegment(Segment &seg, fuzz::Reader &in) {
    uint8_t what = in.byte();
    SegmentHeader *h = seg.header;
    if (what & 1) h->payloadLength = word32(in);
    if (what & 2) h->subscriberOffset = word32(in);
    if (what & 4) h->notifyOffset = word32(in);
    if (what & 8) h->capacity = word32(in);
    if (what & 16) {
        int runs = 1 + in.byte() % 4;
        size_t room = seg.mapped - SHM_HEADER_SIZE;
        for (int r = 0; r < runs && in.size > 0; ++r) {
            size_t offset = in.word() % room;
            size_t n = std::min<size_t>({in.byte(), in.size, room - offset});
            memcpy(shm_Payload(h) + offset, in.data, n);
            in.data += n;
            in.size -= n;
        }
    }
}

// A block of the prefix with a first and last channel from the input; at most 2048 channels,
// so that no input asks for more memory than the mapping could hold many times over.
LogBlockDescriptor block(fuzz::Reader &in) {
    LogBlockDescriptor b{};
    memcpy(b.prefix, kPrefixes[in.byte() % 4], 2);
    b.first = in.word();
    b.last = in.word();
    if (int{b.last} - int{b.first} >= 2048) b.last = static_cast<uint16_t>(b.first + 2047);
    return b;
}

void readers(fuzz::Reader &in) {
    for (int calls = 0; in.size > 0 && calls < 8; ++calls) {
        switch (in.byte() % 4) {
        case 0: {
            int n = 1 + in.byte() % 3;
            lst_Attach(n, dm_GetLogger(n - 1));
            lst_Detach();
            break;
        }
        case 1: {
            LogBlockDescriptor b = block(in);
            int n = std::max(ldf_BlockChannels(b), 0);
            std::vector<uint8_t> out(static_cast<size_t>(n) * LDF_CHANNEL_SIZE);
            lstore_ChannelsFromRuntime(b, out.data());
            break;
        }
        case 2: {
            LogHeader h{};
            h.blockCount = 1;
            h.blocks[0] = block(in);
            std::vector<ChannelRecord> records;
            ldbch_BlockRecords(h, 0, nullptr, nullptr, &records);
            break;
        }
        default: {
            LogBlockDescriptor b{};
            memcpy(b.prefix, kPrefixes[in.byte() % 4], 2);
            int channel = static_cast<int16_t>(in.word());
            lmy::StateText(b, channel, in.byte() & 1);
            break;
        }
        }
    }
}

std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (int v : values)
        text.push_back(static_cast<char>(v));
    return text;
}

std::string word(uint16_t v) {
    return bytes({v & 0xFF, v >> 8});
}

std::string dword(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    return word(static_cast<uint16_t>(u & 0xFFFF)) + word(static_cast<uint16_t>(u >> 16));
}

void writeSeeds(const std::string &dir) {
    auto seed = [&](const std::string &name, const std::string &text) {
        fuzz::writeFile(dir + "/" + name, reinterpret_cast<const uint8_t *>(text.data()),
                        text.size());
    };
    std::string untouched(kSegmentCount, '\0');
    // Each reader over the segments as made: attaches of loggers 2, 1 and 3, channel records
    // of AI 1-5 and DI 1-3 for a file run and of DI 2-3 for a database run, state texts.
    std::string every = bytes({0, 1, 0, 0, 0, 2}) + bytes({1, 0}) + word(1) + word(5) +
                        bytes({1, 1}) + word(1) + word(3) + bytes({2, 1}) + word(2) + word(3) +
                        bytes({3, 1}) + word(2) + bytes({1}) + bytes({3, 1}) + word(3) +
                        bytes({0}) + bytes({3, 0}) + word(7) + bytes({0});
    seed("every-reader", untouched + every);
    // Payload lengths shorter than the tables they hold, one segment at a time.
    const int32_t shortLengths[kSegmentCount] = {20 + 8 * 63, 6911, 216 * 2 + 100, 216 * 3};
    for (int s = 0; s < kSegmentCount; ++s) {
        std::string header;
        for (int k = 0; k < kSegmentCount; ++k)
            header += k == s ? bytes({1}) + dword(shortLengths[s]) : bytes({0});
        seed(std::string("short-") + kSegments[s], header + every);
    }
    // Tables that claim more than the mapping: a length past it, table offsets inside the
    // payload, a capacity past the mapping, and payload bytes at the start.
    std::string wide = bytes({15}) + dword(1 << 30) + dword(200) + dword(300) + dword(1 << 24) +
                       bytes({0}) + word(4) + bytes({4}) + bytes({0xFF, 0xFF, 0xFF, 0xFF});
    seed("claims-past-the-mapping", wide + wide + wide + wide + every);
    // The statistics table's header damaged: type 8, a channel count of 4096.
    std::string table = bytes({16, 0}) + word(0) + bytes({8, 0, 0, 8, 0, 0, 16, 0, 0}) +
                        std::string(kSegmentCount - 1, '\0');
    seed("damaged-table", table + every);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("KVT_IPC_PREFIX", ("kvtf-seg-" + std::to_string(getpid())).c_str(), 1);
    plat_ShmUnlinkAll();
    makeSegments();
    if (const char *seeds = getenv("KVT_FUZZ_WRITE_SEEDS")) {
        writeSeeds(seeds);
        exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    for (Segment &seg : g_segments)
        memcpy(seg.header, seg.made.data(), seg.mapped);
    fuzz::Reader in{data, size};
    for (Segment &seg : g_segments)
        changeSegment(seg, in);
    readers(in);
    fuzz::trimEventLog();
    return 0;
}
