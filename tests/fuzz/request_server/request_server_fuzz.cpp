// The logged-data request server's request lines, answered from a small logger folder made once
// by the file store's own writer: two runs of LINE with their text files, and the web HMI's menu
// and dashboards beside the LOGGED_DATA level. Every input starts from that folder as made.
//
// Input: one byte of settings, then the rest.
//   bit 0 clear: request lines, one a line ('\n'). A line starting with '+' lets the server's
//     30-second checks pass first. Lines of 6S, 7S and 8S (any case) carry this program's own
//     buffers in their address fields (a field "0" stays 0) and no size larger than the buffer
//     it names; a 7S or 8S line names its channel list after a '|' ("7S,0,0,0,0,L,...|AI,1").
//   bit 0 set: operations on the folder's files between requests from a fixed set (below).
//   bit 1: the menu is left out (whole records in the run caches instead of compact ones).
//
// Seeds: KVT_FUZZ_WRITE_SEEDS=<folder> writes them there and exits.
#include "fuzz_install.h"
#include "ldf.h"
#include "lgr_server.h"
#include "lgr_server_internal.h"
#include "lfile.h"
#include "lstore_file.h"
#include "plat_clock.h"
#include "plat_shm.h"
#include "tag.h"

#include <algorithm>
#include <climits>
#include <dirent.h>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kStart = 1700000000;

struct Folder {
    std::string plant;
    std::string line;   // PLANT/LOGGED_DATA/LINE
    std::string boards; // PLANT/WEBHMI/DASHBOARDS
    std::string menu;
    // Every file as made, by path; the runs' data files first.
    std::vector<std::pair<std::string, std::string>> files;
    std::string newest; // the open run's data file
};

// The buffers that 6S, 7S and 8S name: as large as the reply needs, no larger, so that a write
// past any of them is seen.
struct Buffers {
    std::vector<uint8_t> times = std::vector<uint8_t>(4096);
    std::vector<uint8_t> values = std::vector<uint8_t>(8192);
    std::vector<char> text = std::vector<char>(512);
    std::vector<uint8_t> result = std::vector<uint8_t>(8);
    std::string list;
};

std::vector<uint8_t> channelRecords(const char *prefix, int first, int count, uint8_t type) {
    std::vector<uint8_t> r(static_cast<size_t>(count) * LDF_CHANNEL_SIZE);
    for (int k = 0; k < count; ++k) {
        auto *rec = reinterpret_cast<ChannelRecord *>(r.data() + k * LDF_CHANNEL_SIZE);
        tag_SetTag(rec, (std::string(prefix) + "_" + std::to_string(first + k)).c_str());
        r[k * LDF_CHANNEL_SIZE + 24] = type;
    }
    return r;
}

// AI 1-3 analogue, DI 5-6 digital, and with three blocks XX 1.
LogHeader runHeader(uint32_t start, int blocks) {
    LogHeader h{};
    h.blockCount = static_cast<uint16_t>(blocks);
    const char *prefixes[3] = {"AI", "DI", "XX"};
    const int first[3] = {1, 5, 1}, last[3] = {3, 6, 1};
    for (int b = 0; b < blocks; ++b) {
        memcpy(h.blocks[b].prefix, prefixes[b], 2);
        h.blocks[b].first = static_cast<uint16_t>(first[b]);
        h.blocks[b].last = static_cast<uint16_t>(last[b]);
    }
    memcpy(h.blocks[0].source, "PUMPS", 5);
    h.blocks[1].valueKind = 4;
    ldf_LayoutRecord(&h);
    h.start = static_cast<int32_t>(start);
    return h;
}

void writeRun(const std::string &path, uint32_t start, int count, uint32_t stop, int blocks) {
    static const std::vector<uint8_t> ai = channelRecords("AI", 1, 3, 2);
    static const std::vector<uint8_t> di = channelRecords("DI", 5, 2, 3);
    static const std::vector<uint8_t> xx = channelRecords("XX", 1, 1, 2);
    const void *arrays[3] = {ai.data(), di.data(), xx.data()};
    LogHeader h = runHeader(start, blocks);
    CLogFileStore store;
    if (store.Create(path.c_str(), 0, &h, nullptr, arrays) != 0) abort();
    std::vector<uint8_t> records(static_cast<size_t>(count) * h.recordSize);
    for (int i = 0; i < count; ++i) {
        uint8_t *r = records.data() + static_cast<size_t>(i) * h.recordSize;
        ldf_Put16(r, LDF_RECORD_MARKER);
        ldf_Put32(r + 4, static_cast<int32_t>(start + static_cast<uint32_t>(i)));
        ldf_Put16(r + 8, static_cast<uint16_t>(i * 7 % 1000));
        for (int b = 0; b < h.blockCount; ++b) {
            int at = h.blocks[b].valuesOffset;
            int n = ldf_BlockChannels(h.blocks[b]);
            ldf_Put16(r + at - 2, LDF_VALUES_MARKER);
            for (int c = 0; c < n; ++c) {
                ldf_Put32(r + at + 4 * c, b == 1 ? (i + c) & 1 : LDF_FLAG_PRESENT);
                ldf_PutFloat(r + at + 4 * n + 4 * c, static_cast<float>(i * 10 + c));
            }
        }
        ldf_Put16(r + h.recordSize - 2, LDF_RECORD_END);
    }
    if (count > 0 && store.WriteLog(&h, records.data(), count) != 0) abort();
    if (stop != 0) {
        h.stop = static_cast<int32_t>(stop);
        if (store.WriteHeader(&h, 1) != 0) abort();
    }
    store.Close();
}

std::string readFile(const std::string &path) {
    std::string text;
    if (lgr_ReadWholeFile(path.c_str(), &text) != 0) abort();
    return text;
}

void putFile(const std::string &path, const std::string &bytes) {
    fuzz::writeFile(path, reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

std::string runPath(const Folder &f, uint32_t start, uint32_t stop) {
    std::string name = "LINE_" + lfile_FormatRunTime(static_cast<int32_t>(start));
    if (stop != 0) name += "_" + lfile_FormatRunTime(static_cast<int32_t>(stop));
    return f.line + "/" + name + ".odl";
}

const Folder &folder() {
    static Folder f = [] {
        const fuzz::Installation &inst = fuzz::install();
        Folder d;
        d.plant = inst.base + "/PLANT";
        d.line = d.plant + "/LOGGED_DATA/LINE";
        d.boards = d.plant + "/WEBHMI/DASHBOARDS";
        d.menu = d.plant + "/WEBHMI/menu.xml";
        for (const std::string &dir :
             {d.plant, d.plant + "/LOGGED_DATA", d.line, d.plant + "/WEBHMI", d.boards})
            mkdir(dir.c_str(), 0777);
        // An older closed run with three blocks and the newest, open one with two.
        std::string older = runPath(d, kStart, kStart + 100);
        d.newest = runPath(d, kStart + 1000, 0);
        writeRun(older, kStart, 6, kStart + 100, 3);
        writeRun(d.newest, kStart + 1000, 12, 0, 2);
        d.files.emplace_back(d.newest, readFile(d.newest));
        d.files.emplace_back(older, readFile(older));
        auto text = [](const std::string &run) { return run.substr(0, run.size() - 4) + ".txt"; };
        d.files.emplace_back(text(d.newest),
                             "[TEXT]\r\nsecond\r\n[HEADER]\r\nHDR\r\n[SCAN UPDATES]\r\n"
                             "23/11/14 22:30:00 23/11/14 22:30:05\r\n");
        d.files.emplace_back(text(older), "[TEXT]\r\nfirst run\r\n[BACKFILLS]\r\nx\r\n");
        d.files.emplace_back(d.menu, "<Menu><Item>Board1</Item><Item>Board2</Item>"
                                     "<Item>Gone</Item></Menu>");
        d.files.emplace_back(d.boards + "/Board1",
                             "<channel><prefix>AI</prefix><no>2</no></channel>"
                             "<channel><prefix>DI</prefix><no>6</no></channel>"
                             "<XChannel><prefix>XX</prefix><no>1</no></XChannel>");
        d.files.emplace_back(d.boards + "/Board2",
                             "<channel><prefix>AI</prefix><no>1</no></channel>"
                             "<channel><prefix>AI</prefix><no>0</no></channel>");
        return d;
    }();
    return f;
}

// The names in a folder, sorted.
std::vector<std::string> listing(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (struct dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(dir + "/" + e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The folder as made: whatever a server renamed or a mutation added goes first. Requests alone
// change nothing but names (a finished run renamed on close), so a folder whose names are as
// made is left as it is.
void restore(bool menu, bool changed) {
    const Folder &f = folder();
    static int lastMenu = -1;
    static std::vector<std::string> made;
    std::vector<std::string> now = listing(f.line), boards = listing(f.boards);
    now.insert(now.end(), boards.begin(), boards.end());
    if (!changed && lastMenu == int(menu) && now == made) return;
    for (const std::string &name : now)
        unlink(name.c_str());
    unlink(f.menu.c_str());
    for (const auto &[path, bytes] : f.files)
        if (menu || path != f.menu) putFile(path, bytes);
    lastMenu = menu;
    made = listing(f.line);
    boards = listing(f.boards);
    made.insert(made.end(), boards.begin(), boards.end());
}

std::string addressOf(const void *p) {
    return std::to_string(reinterpret_cast<uintptr_t>(p));
}

std::vector<std::string> splitFields(const std::string &text) {
    std::vector<std::string> fields;
    size_t at = 0;
    for (;;) {
        size_t comma = text.find(',', at);
        fields.push_back(text.substr(at, comma == std::string::npos ? comma : comma - at));
        if (comma == std::string::npos) return fields;
        at = comma + 1;
    }
}

std::string joinFields(const std::vector<std::string> &fields) {
    std::string text;
    for (size_t i = 0; i < fields.size(); ++i)
        text += (i ? "," : "") + fields[i];
    return text;
}

// An address field names the buffer unless it is "0".
void putAddress(std::vector<std::string> &fields, size_t i, const void *buffer) {
    if (i < fields.size() && fields[i] != "0") fields[i] = addressOf(buffer);
}

// A size field that reads as more than limit is the limit.
void limitSize(std::vector<std::string> &fields, size_t i, long long limit) {
    if (i >= fields.size()) return;
    const char *p = fields[i].c_str();
    char *end = nullptr;
    long long v = strtoll(p, &end, 10);
    if (end != p && v > limit) fields[i] = std::to_string(limit);
}

size_t listChannels(const std::string &list) {
    size_t n = 0;
    for (const auto &g : lgr_detail::ParseChannelList(list.c_str(), list.size()))
        n += g.numbers.size();
    return n;
}

// The line as sent: the buffers of 6S, 7S and 8S put in.
std::string withBuffers(std::string line, Buffers &b) {
    if (line.size() < 3 || (line[1] != 'S' && line[1] != 's') || line[0] < '6' || line[0] > '8')
        return line;
    std::string head = line.substr(0, 3);
    if (line[0] == '6') {
        size_t comma = line.find(',', 3);
        if (comma == std::string::npos) return line;
        std::vector<std::string> fields = splitFields(line.substr(comma + 1));
        putAddress(fields, 0, b.text.data());
        limitSize(fields, 1, static_cast<long long>(b.text.size()));
        return line.substr(0, comma + 1) + joinFields(fields);
    }
    size_t bar = line.find('|');
    b.list = bar == std::string::npos ? std::string() : line.substr(bar + 1);
    std::vector<std::string> fields =
        splitFields(line.substr(3, bar == std::string::npos ? bar : bar - 3));
    size_t nc = listChannels(b.list);
    bool buckets = line[0] == '8';
    long long perRecord = buckets ? 16 : 8, perValue = buckets ? 16 : 4;
    long long limit = static_cast<long long>(b.times.size()) / perRecord;
    if (nc > 0) limit = std::min(limit, static_cast<long long>(b.values.size() / (perValue * nc)));
    putAddress(fields, 4, b.list.c_str());
    limitSize(fields, 5, limit);
    putAddress(fields, 6, b.times.data());
    putAddress(fields, 7, b.values.data());
    putAddress(fields, 8, b.text.data());
    limitSize(fields, 9, static_cast<long long>(b.text.size()));
    if (buckets) putAddress(fields, 10, b.result.data());
    return head + joinFields(fields);
}

// The reply buffer is as large as the capacity given, so that a write past it is seen.
void ask(CLogRequestServer &server, const std::string &request) {
    static std::vector<char> reply(65536);
    int length = 0;
    server.HandleRequest(request.c_str(), static_cast<int>(request.size()) + 1, reply.data(),
                         static_cast<int>(reply.size()), &length);
    if (length < 0 || length > static_cast<int>(reply.size())) abort();
}

void requestLines(CLogRequestServer &server, fuzz::Reader in, Buffers &b) {
    std::string rest(reinterpret_cast<const char *>(in.data), in.size);
    size_t at = 0;
    for (int lines = 0; at <= rest.size() && lines < 16; ++lines) {
        size_t end = rest.find('\n', at);
        if (end == std::string::npos) end = rest.size();
        std::string line = rest.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line[0] == '+') {
            plat_AdvanceFakeTick(31000);
            line.erase(0, 1);
        }
        ask(server, withBuffers(line, b));
    }
}

const char *const kRequests[] = {
    "TS",
    "QP",
    "IP,*,9",
    "TP,*,9",
    "RV,AI,1,2,3,DI,5,6,XX,1",
    "CV,AI,1,DI,6,XX,1,7",
    "TC,AI_1,DI_5,XX_1",
    "RS",
    "IS",
    "NS",
    "5S,0,0,0,0",
    "6S,TEXT,T,512",
    "6S,HEADER,T,512",
    "7S,0,0,0,0,L,64,T,V,T,512|AI,1,2,3,DI,5,6,XX,1",
    "8S,0,0,0,0,L,16,T,V,0,0,R|AI,2,DI,6",
    "7S,1,1700001003,0,0,L,8,T,V,0,0|XX,1,AI,1",
};
constexpr size_t kRequestCount = sizeof kRequests / sizeof kRequests[0];

// Operations (low three bits; the rest picks the file): 0 overwrite bytes of a file, 1 cut a
// file short, 2 replace a file, 3 a new record size in the open run's header, 4 and 6 a request
// of the fixed set, 5 and 7 let the 30-second checks pass.
void fileOperations(CLogRequestServer &server, fuzz::Reader in, Buffers &b) {
    const Folder &f = folder();
    for (int ops = 0; in.size > 0 && ops < 16; ++ops) {
        uint8_t op = in.byte();
        const std::string &path = f.files[(op >> 3) % f.files.size()].first;
        switch (op & 7) {
        case 0: {
            int64_t offset = in.word();
            if (in.byte() & 1) offset += 65536;
            size_t n = std::min<size_t>(1 + in.byte() % 16, in.size);
            int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (fd < 0) break;
            (void)!pwrite(fd, in.data, n, offset);
            close(fd);
            in.data += n;
            in.size -= n;
            break;
        }
        case 1:
            (void)!truncate(path.c_str(), in.word());
            break;
        case 2: {
            size_t n = std::min<size_t>(in.word() % 1024, in.size);
            fuzz::writeFile(path, in.data, n);
            in.data += n;
            in.size -= n;
            break;
        }
        case 3: {
            int32_t size = static_cast<int32_t>(in.word());
            int fd = open(f.newest.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0) break;
            (void)!pwrite(fd, &size, 4, 32);
            close(fd);
            break;
        }
        case 4:
        case 6:
            ask(server, withBuffers(kRequests[in.byte() % kRequestCount], b));
            break;
        default:
            plat_AdvanceFakeTick(31000);
            break;
        }
    }
}

void writeSeeds(const std::string &dir) {
    auto seed = [&](const std::string &name, const std::string &bytes) {
        putFile(dir + "/" + name, bytes);
    };
    std::string every;
    for (size_t i = 0; i < kRequestCount; ++i)
        every += std::string(i % 4 == 0 ? "+" : "") + kRequests[i] + "\n";
    seed("every-request", std::string(1, '\0') + every);
    seed("every-request-whole-records", std::string(1, '\2') + every);
    seed("status-and-lists", std::string(1, '\0') +
                                 "QE\nBS\nES\nDS\nWS\nPS\nFS\nXS\nMS\nZZ\nIP,USERAA\nip,userab\n"
                                 "IP,USERZZ\nIPX\nRV,4\nRV,AI,0,1\nCV,\n+TS\n+NS\n");
    seed("ranges", std::string(1, '\0') +
                       "7S,1,1700000003,1,4294968296002,L,6,T,V,T,512|AI,1,DI,6\n"
                       "+8S,1,1700001000,1,1700001010,L,2,T,V,0,0,R|AI,2\n"
                       "8S,1,5,1,5,L,2,T,V,0,0,R|AI,2\n7S,0,0,0,0,0,3,0,V,0,0\n"
                       "6s,TEXT,T,64\n6S,HEADER,T,0\n6S,TEXT,0,5\n");
    std::string ops;
    auto request = [&](size_t i) { ops += std::string(1, '\4') + std::string(1, char(i)); };
    auto later = [&]() { ops += '\5'; };
    // Every request, then every file damaged in turn with requests between.
    for (size_t i = 0; i < kRequestCount; ++i)
        request(i);
    seed("files-untouched", std::string(1, '\1') + ops);
    for (size_t k = 0; k < folder().files.size(); ++k) {
        ops.clear();
        request(0);
        char patch[] = {static_cast<char>(k << 3), 36 + 8, 0, 0, 3, '\x7F', '\x7F', '\x7F', '\x7F'};
        ops.append(patch, sizeof patch);
        later();
        for (size_t i : {0, 4, 11, 13, 14})
            request(i);
        seed("patch-file-" + std::to_string(k), std::string(1, '\1') + ops);
        ops.clear();
        char cut[] = {static_cast<char>(k << 3 | 1), 100, 0};
        ops.append(cut, sizeof cut);
        for (size_t i : {0, 9, 10, 13})
            request(i);
        seed("cut-file-" + std::to_string(k), std::string(1, '\1') + ops);
    }
    ops.clear();
    request(13);
    char resize[] = {3, 62 + 8, 0};
    ops.append(resize, sizeof resize);
    later();
    request(0);
    request(4);
    seed("record-size-changes", std::string(1, '\1') + ops);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    setenv("KVT_IPC_PREFIX", ("kvtf-rs-" + std::to_string(getpid())).c_str(), 1);
    plat_ShmUnlinkAll();
    const fuzz::Installation &inst = fuzz::install();
    setenv("KVT_WEBHMI", (inst.base + "/no-webhmi").c_str(), 1);
    folder();
    if (const char *seeds = getenv("KVT_FUZZ_WRITE_SEEDS")) {
        writeSeeds(seeds);
        exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Buffers buffers;
    fuzz::Reader in{data, size};
    static bool changed = true;
    uint8_t settings = in.byte();
    restore((settings & 2) == 0, changed);
    changed = (settings & 1) != 0;
    plat_SetFakeTick(1000);
    {
        CLogRequestServer server;
        if (server.Open(folder().line.c_str()) == 0) {
            if (settings & 1)
                fileOperations(server, in, buffers);
            else
                requestLines(server, in, buffers);
        }
        server.Close();
    }
    fuzz::trimEventLog();
    return 0;
}
