// Logged-data files as the configuration side reads them: the header fed directly to its reader
// in pieces, then the file put in a run folder under a name of the input's and found, opened and
// read through the file collection and the file store as a viewer of the run reads it.
//
// Input: one byte of settings (bits 0-1 the file's name: an open run, a closed run, a run of
// another prefix, the name's text from the input; bits 2-4 the piece size of the direct header
// reads; bit 5 any name for FindLogger; bit 6 a text file beside the run), the name's length and
// text (bits 0-1 = 3 only), then the file's bytes.
#include "fuzz_install.h"
#include "ldf.h"
#include "lstore_file.h"
#include "lstore_filecoll.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// What a viewer reads at most at once: records of up to 64 KiB, 256 KiB in all.
constexpr int64_t kMaxRecord = 65536;
constexpr int64_t kMaxRead = 262144;

const std::string &folder() {
    static const std::string path = [] {
        std::string p = fuzz::install().base + "/runs";
        mkdir(p.c_str(), 0777);
        return p;
    }();
    return path;
}

void readHeaderDirectly(const uint8_t *data, size_t size, size_t piece) {
    LdfReader read = [&](void *buffer, size_t length, int64_t offset) -> int64_t {
        if (offset < 0) return -1;
        if (static_cast<uint64_t>(offset) >= size) return 0;
        size_t n = std::min(length, size - static_cast<size_t>(offset));
        if (piece != 0) n = std::min(n, piece);
        memcpy(buffer, data + offset, n);
        return static_cast<int64_t>(n);
    };
    LogHeader header;
    if (ldf_ReadHeader(read, &header) == 0) ldf_CheckHeader(header);
}

void readRun(CLogStore *store) {
    LogHeader header;
    memset(&header, 0, sizeof header);
    if (store->ReadHeader(&header) != 0) return;
    std::vector<uint8_t> channels;
    for (int b = 0; b < header.blockCount && b < LDF_MAX_BLOCKS; ++b) {
        int n = std::clamp(ldf_BlockChannels(header.blocks[b]), 0, 64);
        channels.resize(static_cast<size_t>(std::max(n, 1)) * LDF_CHANNEL_SIZE);
        store->ReadChannelInfo(&header, channels.data(), b, 0, n);
        if (n > 1) store->ReadChannelInfo(&header, channels.data(), b, n - 1, 1);
    }
    store->ReadChannelInfo(&header, channels.data(), header.blockCount, 0, 1);
    int count = store->GetNoLogs(&header);
    store->GetNoValidLogs(&header);
    int32_t textTime = 0;
    store->GetTextTime(&textTime);
    TimeStamp from{}, to{};
    store->QueryLogs(&from, &to, &header, nullptr, header.recordSize, 0, 0, nullptr, 0, 0);
    int64_t size = header.recordSize;
    if (size <= 0 || size > kMaxRecord || count <= 0) return;
    int64_t fit = std::min<int64_t>(count + 1, kMaxRead / size);
    if (fit <= 0) return;
    std::vector<uint8_t> records(static_cast<size_t>(fit * size));
    store->ReadLogs(0, &header, records.data(), static_cast<int>(fit));
    store->ReadLogs(count - 1, &header, records.data(), static_cast<int>(fit));
    store->ReadLog(count - 1, &header, records.data(), static_cast<int>(size));
    store->ReadLog(0, &header, records.data(), static_cast<int>(fit * size));
}

std::string runName(uint8_t settings, fuzz::Reader &in) {
    switch (settings & 3) {
    case 0:
        return "RUN240517_083000.odl";
    case 1:
        return "RUN240517_083000_240518_090000.odl";
    case 2:
        return "OTHER690101_000000.odl";
    default:
        break;
    }
    size_t length = in.byte() % 48;
    std::string name;
    for (size_t i = 0; i < length && in.size > 0; ++i) {
        char c = static_cast<char>(in.byte());
        name += c == '/' || c == '\0' ? '_' : c;
    }
    if (name.empty() || name == "." || name == "..") name = "RUN";
    return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::install();
    fuzz::Reader in{data, size};
    uint8_t settings = in.byte();
    std::string name = runName(settings, in);
    size_t piece = (settings >> 2 & 7) * 113;
    readHeaderDirectly(in.data, in.size, piece);

    std::string path = folder() + "/" + name;
    fuzz::writeFile(path, in.data, in.size);
    std::string text = path.substr(0, path.rfind('.')) + ".txt";
    if (settings & 0x40) fuzz::writeFile(text, in.data, std::min<size_t>(in.size, 16));

    CLogFileCollection collection;
    if (collection.Open(nullptr, folder().c_str(), "", "run", LSTORE_READ) == 0) {
        int nameSize = 0;
        char found[256];
        LogTimePair start, stop;
        if (collection.FindFirst(&nameSize) == 1)
            for (int i = 0; i < 4 && collection.FindNext(found, &start, &stop) == 1; ++i) {
            }
        std::string opened = name;
        if (collection.FindLogger(found, &nameSize, &start, &stop, settings & 0x20 ? 1 : 0) == 1)
            opened = found;
        std::unique_ptr<CLogStore> store(collection.OpenLogger(opened.c_str(), LSTORE_READ));
        if (store) {
            readRun(store.get());
            store->Close();
        }
    }
    CLogFileStore direct;
    if (direct.Open(nullptr, path.c_str(), LSTORE_READ) == 0) {
        readRun(&direct);
        direct.Close();
    }
    unlink(path.c_str());
    unlink(text.c_str());
    fuzz::trimEventLog();
    return 0;
}

// The seeds: runs written by the file store itself, empty and with records, of one and of
// several blocks, under each kind of name.
namespace {

LogHeader seedHeader(int blocks, int sigChange) {
    LogHeader h;
    memset(&h, 0, sizeof h);
    h.blockCount = static_cast<uint16_t>(blocks);
    for (int b = 0; b < blocks; ++b) {
        memcpy(h.blocks[b].prefix, b % 2 ? "di" : "ai", 2);
        h.blocks[b].first = static_cast<uint16_t>(1 + 4 * b);
        h.blocks[b].last = static_cast<uint16_t>(1 + 4 * b + b % 3);
    }
    h.sigChange = static_cast<uint8_t>(sigChange);
    ldf_LayoutRecord(&h);
    h.start = 1715934600;
    return h;
}

std::string seedRun(int blocks, int records, int sigChange) {
    std::string path = folder() + "/seed.odl";
    unlink(path.c_str());
    LogHeader h = seedHeader(blocks, sigChange);
    std::vector<std::vector<uint8_t>> channels;
    std::vector<const void *> arrays;
    for (int b = 0; b < blocks; ++b) {
        channels.emplace_back(static_cast<size_t>(ldf_BlockChannels(h.blocks[b])) *
                                  LDF_CHANNEL_SIZE,
                              static_cast<uint8_t>(0x30 + b));
        arrays.push_back(channels.back().data());
    }
    CLogFileStore store;
    if (store.Create(path.c_str(), 0, &h, nullptr, arrays.data()) != 0) abort();
    std::vector<uint8_t> record(static_cast<size_t>(h.recordSize));
    for (int i = 0; i < records; ++i) {
        std::fill(record.begin(), record.end(), 0);
        ldf_Put16(record.data(), LDF_RECORD_MARKER);
        record[2] = static_cast<uint8_t>(i % 3);
        ldf_Put32(record.data() + 4, h.start + i);
        for (int b = 0; b < blocks; ++b) {
            int at = h.blocks[b].valuesOffset;
            int n = ldf_BlockChannels(h.blocks[b]);
            ldf_Put16(record.data() + at - 2, LDF_VALUES_MARKER);
            for (int c = 0; c < n; ++c) {
                ldf_Put32(record.data() + at + 4 * c, LDF_FLAG_PRESENT);
                ldf_PutFloat(record.data() + at + 4 * n + 4 * c,
                             i == 1 ? INFINITY : static_cast<float>(i + c));
            }
        }
        ldf_Put16(record.data() + h.recordSize - 2, LDF_RECORD_END);
        if (store.WriteLog(&h, record.data(), 1) != 0) abort();
    }
    store.Close();
    std::string bytes = fuzz::readFile(path);
    unlink(path.c_str());
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (fuzz::seedFolder() == nullptr) return 0;
    fuzz::install();
    fuzz::writeSeed("open-empty-1", std::string("\x00", 1) + seedRun(1, 0, 1));
    fuzz::writeSeed("open-3-2", std::string("\x44", 1) + seedRun(2, 3, 1));
    fuzz::writeSeed("closed-5-3", std::string("\x09", 1) + seedRun(3, 5, 0));
    fuzz::writeSeed("other-2-1", std::string("\x62", 1) + seedRun(1, 2, 1));
    std::string named = "RUN240601_120000_240601_130000.odl";
    fuzz::writeSeed("named-2-4", std::string("\x4F", 1) + static_cast<char>(named.size()) + named +
                                     seedRun(4, 2, 1));
    fuzz::writeSeed("pieces-17", std::string("\x1C", 1) + seedRun(17, 1, 1));
    exit(0);
}
