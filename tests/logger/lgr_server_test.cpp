// The logged-data request server over runs written with the file store: every request against
// replies worked out by hand, hostile requests, buffers one byte short, times after 2038.
#include "ldf.h"
#include "lfile.h"
#include "lgr_server.h"
#include "lstore_file.h"
#include "plat_clock.h"
#include "plat_error.h"
#include "plat_event.h"
#include "plat_folder.h"
#include "reg.h"
#include "tag.h"

#include "../common/temp_registry.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

LogHeader readHeader(const std::string &path) {
    CLogFileStore store;
    LogHeader h{};
    if (store.Open("", path.c_str(), LSTORE_READ) == 0) store.ReadHeader(&h);
    store.Close();
    return h;
}

// AI 1..3 analogue outputs, DI 5..6 digital outputs (records 40 + 16 + 2 + 2 = 62 bytes).
// With three blocks, XX 1 (analogue) follows.
LogHeader header(uint32_t start, int blocks = 2) {
    LogHeader h{};
    h.blockCount = static_cast<uint16_t>(blocks);
    memcpy(h.blocks[2].prefix, "XX", 2);
    h.blocks[2].first = 1;
    h.blocks[2].last = 1;
    memcpy(h.blocks[0].prefix, "AI", 2);
    h.blocks[0].first = 1;
    h.blocks[0].last = 3;
    memcpy(h.blocks[0].source, "PUMPS", 5);
    memcpy(h.blocks[1].prefix, "DI", 2);
    h.blocks[1].first = 5;
    h.blocks[1].last = 6;
    h.blocks[1].valueKind = 4;
    ldf_LayoutRecord(&h);
    h.start = static_cast<int32_t>(start);
    for (int i = 0; i < 172; ++i)
        h.carried[i] = static_cast<uint8_t>(i);
    return h;
}

std::vector<uint8_t> channelRecords(const char *prefix, int first, int count, uint8_t type) {
    std::vector<uint8_t> r(static_cast<size_t>(count) * 216);
    for (int k = 0; k < count; ++k) {
        auto *rec = reinterpret_cast<ChannelRecord *>(r.data() + k * 216);
        tag_SetTag(rec, (std::string(prefix) + "_" + std::to_string(first + k)).c_str());
        r[k * 216 + 24] = type;
    }
    return r;
}

float analogueValue(int i, int c) {
    return static_cast<float>(i * 10 + c);
}
int digitalState(int i, int c) {
    return (i + c) & 1;
}

// Record i: time start + i, ms i % 1000, AI values i*10+c, DI states.
std::vector<uint8_t> makeRecords(const LogHeader &h, uint32_t start, int first, int count) {
    std::vector<uint8_t> out(static_cast<size_t>(count) * h.recordSize);
    for (int k = 0; k < count; ++k) {
        uint8_t *r = out.data() + static_cast<size_t>(k) * h.recordSize;
        int i = first + k;
        ldf_Put16(r, LDF_RECORD_MARKER);
        ldf_Put32(r + 4, static_cast<int32_t>(start + static_cast<uint32_t>(i)));
        ldf_Put16(r + 8, static_cast<uint16_t>(i % 1000));
        for (int b = 0; b < h.blockCount; ++b) {
            int at = h.blocks[b].valuesOffset;
            int n = ldf_BlockChannels(h.blocks[b]);
            ldf_Put16(r + at - 2, LDF_VALUES_MARKER);
            for (int c = 0; c < n; ++c) {
                if (b != 1) {
                    ldf_Put32(r + at + 4 * c, LDF_FLAG_PRESENT);
                    ldf_PutFloat(r + at + 4 * n + 4 * c, analogueValue(i, c));
                } else {
                    ldf_Put32(r + at + 4 * c, digitalState(i, c));
                    ldf_PutFloat(r + at + 4 * n + 4 * c, static_cast<float>(digitalState(i, c)));
                }
            }
        }
        ldf_Put16(r + h.recordSize - 2, LDF_RECORD_END);
    }
    return out;
}

// The data file of a run: the start time, and for a closed run the stop time, in its name.
std::string runPath(const std::string &folder, const std::string &prefix, uint32_t start,
                    uint32_t stop) {
    std::string name = prefix + lfile_FormatRunTime(static_cast<int32_t>(start));
    if (stop != 0) name += "_" + lfile_FormatRunTime(static_cast<int32_t>(stop));
    return folder + "/" + name + ".odl";
}

// A run of count records; stop 0 leaves it open. openName keeps the open form of the name.
std::string writeRun(const std::string &folder, const std::string &prefix, uint32_t start,
                     int count, uint32_t stop, const std::string &text = "", bool openName = false,
                     int blocks = 2) {
    std::string path = runPath(folder, prefix, start, openName ? 0 : stop);
    static const std::vector<uint8_t> ai = channelRecords("AI", 1, 3, 2);
    static const std::vector<uint8_t> di = channelRecords("DI", 5, 2, 3);
    static const std::vector<uint8_t> xx = channelRecords("XX", 1, 1, 2);
    const void *arrays[3] = {ai.data(), di.data(), xx.data()};
    LogHeader h = header(start, blocks);
    CLogFileStore store;
    EXPECT_EQ(store.Create(path.c_str(), 0, &h, nullptr, arrays), 0) << path;
    if (count > 0) {
        std::vector<uint8_t> records = makeRecords(h, start, 0, count);
        EXPECT_EQ(store.WriteLog(&h, records.data(), count), 0);
    }
    if (stop != 0) {
        h.stop = static_cast<int32_t>(stop);
        EXPECT_EQ(store.WriteHeader(&h, 1), 0);
    }
    store.Close();
    if (!text.empty()) {
        std::ofstream txt(path.substr(0, path.size() - 4) + ".txt", std::ios::binary);
        txt << text;
    }
    return path;
}

struct Answer {
    int rc;
    std::string bytes;
};

Answer ask(CLogRequestServer &server, const std::string &request, int capacity = 65536) {
    std::vector<char> reply(static_cast<size_t>(capacity) + 16, '#');
    int length = -7;
    int rc = server.HandleRequest(request.c_str(), static_cast<int>(request.size()) + 1,
                                  reply.data(), capacity, &length);
    EXPECT_EQ(reply[static_cast<size_t>(capacity)], '#') << request << ": written past capacity";
    return {rc, rc == 1 ? std::string(reply.data(), static_cast<size_t>(length)) : ""};
}

std::string z(const std::string &text) {
    return text + std::string(1, '\0');
}

template <typename T>
std::string bytesOf(T v) {
    return std::string(reinterpret_cast<const char *>(&v), sizeof v);
}

std::string stamp(int32_t seconds, int16_t ms) {
    return bytesOf(seconds) + bytesOf(ms);
}

std::string addr(const void *p) {
    return std::to_string(reinterpret_cast<uintptr_t>(p));
}

class LgrServer : public ::testing::Test {
protected:
    void SetUp() override { plat_SetFakeTick(1000); }
    void TearDown() override { plat_ClearFakeClock(); }
    // Lets the store, reopen and run-list throttles pass.
    void later(uint32_t ms = 31000) { plat_AdvanceFakeTick(ms); }
    TempFolder temp_;
};

constexpr uint32_t T0 = 1700000000; // 2023-11-14 22:13:20

} // namespace

TEST_F(LgrServer, AnswersEveryRequestFromTheNewestRun) {
    std::string line = temp_ / "LINE";
    ASSERT_EQ(mkdir(line.c_str(), 0777), 0);
    // The first run is finished but still has its open name.
    std::string first = writeRun(line, "LINE_", T0, 5, T0 + 100,
                                 "[TEXT]\r\nfirst run\r\n[HEADER]\r\nHDR\r\n", true);
    writeRun(line, "LINE_", T0 + 1000, 10, 0, "[TEXT]\r\nsecond\r\n");

    CLogRequestServer server;
    ASSERT_EQ(server.Open(line.c_str()), 0);

    // TS: newest record of the open run (index 9: T0 + 1009, ms 9), then the carried bytes.
    Answer ts = ask(server, "TS");
    ASSERT_EQ(ts.rc, 1);
    std::string carried;
    for (int i = 0; i < 172; ++i)
        carried.push_back(static_cast<char>(i));
    EXPECT_EQ(ts.bytes, z(std::to_string(T0 + 1009) + ",9") + carried);

    EXPECT_EQ(ask(server, "QE").bytes, z("0"));
    EXPECT_EQ(ask(server, "QP").bytes, z("3")); // AI, DI and the status group
    EXPECT_EQ(ask(server, "IP,*,9").bytes, z("1,USERAA,PUMPS,AI:3,0,A;USERAB,DI CHANNELS,DI:6,0,D;"
                                             "logst,LOGGER STATUS CHANNELS,LS:56,0,A;"));
    EXPECT_EQ(ask(server, "IP,*,1").bytes, z("1,USERAA,PUMPS,AI:3,0,A;"));
    EXPECT_EQ(ask(server, "ip,userab").bytes, z("1,USERAB,DI CHANNELS,DI:6,0,D;"));
    EXPECT_EQ(ask(server, "TP,*,9").bytes, z("1,1,1,1,1,1,1,"));
    EXPECT_EQ(ask(server, "IP,USERZZ").bytes, z("0,"));
    EXPECT_EQ(ask(server, "IPX").bytes, z("0")); // IP needs its comma
    EXPECT_EQ(ask(server, "ES").bytes, z("1"));
    EXPECT_EQ(ask(server, "DS").bytes, z("0"));
    EXPECT_EQ(ask(server, "RS").bytes, z("1")); // open run: logging
    EXPECT_EQ(ask(server, "WS").bytes.substr(0, 3), "-1,");
    EXPECT_EQ(ask(server, "ZZ").bytes, z("0"));
    EXPECT_EQ(ask(server, "IS").bytes, z("1," + std::to_string(T0)));
    // The open run ends at its newest record; 15 records in all.
    EXPECT_EQ(ask(server, "NS").bytes, z("1," + std::to_string(T0 + 1009) + ",15"));

    // CV: the run start stamp, records with outputs turned into inputs; 57 outside every block.
    Answer cv = ask(server, "CV,AI,3,DI,6,9");
    ASSERT_EQ(cv.rc, 1);
    ASSERT_EQ(cv.bytes.size(), 2u + 6 + 216 + 6 + 216 * 2);
    EXPECT_EQ(cv.bytes.substr(0, 8), "1," + stamp(static_cast<int32_t>(T0 + 1000), 0));
    std::vector<uint8_t> ai = channelRecords("AI", 1, 3, 0);
    EXPECT_EQ(cv.bytes.substr(8, 216), std::string(ai.begin() + 432, ai.end()));
    EXPECT_EQ(cv.bytes[8 + 24], 0);
    EXPECT_EQ(cv.bytes[8 + 216 + 6 + 24], 1); // DI 6: digital output read as input
    EXPECT_EQ(cv.bytes.substr(8 + 216 + 6 + 216), std::string(216, '\0'));

    // RV: analogue flag and value; digital: the state only.
    Answer rv = ask(server, "RV,AI,2,DI,5,6");
    std::string expect = "1," + stamp(static_cast<int32_t>(T0 + 1000), 0) + bytesOf(int32_t{0x80}) +
                         bytesOf(analogueValue(9, 1)) + stamp(static_cast<int32_t>(T0 + 1000), 0) +
                         bytesOf(int32_t{digitalState(9, 0)}) +
                         bytesOf(int32_t{digitalState(9, 1)});
    EXPECT_EQ(rv.bytes, expect);
    // Numbers before any prefix, after a 0 a new group; no numbers at all is "0".
    EXPECT_EQ(ask(server, "RV,4").bytes, "1," + stamp(0, 0) + bytesOf(int32_t{0x20}));
    EXPECT_EQ(ask(server, "RV,AI,0,1").bytes.size(), 2u + 6 + 8);
    EXPECT_EQ(ask(server, "RV,AI,AIX,1").bytes, z("0"));
    EXPECT_EQ(ask(server, "CV,").bytes, z("0"));

    // TC: codes of tags, zeros when not found.
    std::string di6 = "DI" + bytesOf(uint16_t{6});
    EXPECT_EQ(ask(server, "TC,di_6,NOPE").bytes, "1," + di6 + std::string(4, '\0'));

    // 5S over both runs.
    later();
    EXPECT_EQ(ask(server, "5S,0,0,0,0").bytes,
              z("1," + std::to_string(T0) + "," + std::to_string(T0 + 1010) + ",15,20,1"));
    // 6S: HEADER, and the TEXT texts into a buffer.
    char text[64] = {};
    EXPECT_EQ(ask(server, "6S,HEADER," + addr(text) + ",0").bytes, z("1,5"));
    EXPECT_EQ(text[0], 0); // size 0: nothing copied
    EXPECT_EQ(ask(server, "6S,HEADER," + addr(text) + ",64").bytes, z("1,5"));
    EXPECT_EQ(std::string(text, 5), "HDR\r\n");
    memset(text, 0, sizeof text);
    EXPECT_EQ(ask(server, "6S,TEXT," + addr(text) + ",64").bytes, z("1,19"));
    EXPECT_EQ(std::string(text), "first run\r\nsecond\r\n");
    EXPECT_EQ(ask(server, "6S," + std::string(100, 'N') + "," + addr(text) + ",1").bytes,
              z("-1,0"));
    EXPECT_EQ(ask(server, "6S,HEADER").bytes, z("-1,0"));
    EXPECT_EQ(ask(server, "6S,TEXT,0,5").bytes, z("-1,87"));

    // 7S: records of [T0 + 3, T0 + 1002] over both runs, capacity 6: 2 + 3 records.
    const char *list = "AI,1,DI,6";
    uint32_t times[2 * 8];
    uint32_t values[2 * 8];
    char texts[32] = {};
    int64_t from = T0 + 3, to = int64_t{T0 + 1002} | (int64_t{999} << 32);
    Answer r7 =
        ask(server, "7S,1," + std::to_string(from) + ",1," + std::to_string(to) + "," + addr(list) +
                        ",6," + addr(times) + "," + addr(values) + "," + addr(texts) + ",32");
    EXPECT_EQ(r7.bytes, z("1,5,19,1"));
    EXPECT_EQ(std::string(texts, 19), "first run\r\nsecond\r\n");
    EXPECT_EQ(times[0], T0 + 3);
    EXPECT_EQ(times[1], 3u); // milliseconds 3, no microseconds
    EXPECT_EQ(times[2 * 2], T0 + 1000);
    EXPECT_EQ(times[2 * 4], T0 + 1002);
    float v;
    memcpy(&v, &values[0], 4);
    EXPECT_EQ(v, analogueValue(3, 0));
    memcpy(&v, &values[1], 4);
    EXPECT_EQ(v, static_cast<float>(digitalState(3, 1)));

    // 8S: two buckets over [T0 + 1000, T0 + 1010): records 0-4 and 5-9.
    uint32_t btimes[2 * 4];
    float bvalues[2 * 4];
    uint64_t result = 77;
    Answer r8 = ask(server, "8S,1," + std::to_string(T0 + 1000) + ",1," +
                                std::to_string(T0 + 1010) + "," + addr("AI,2") + ",2," +
                                addr(btimes) + "," + addr(bvalues) + ",0,0," + addr(&result));
    EXPECT_EQ(r8.bytes, z("1,2,0,1"));
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(btimes[0], T0 + 1000);
    EXPECT_EQ(btimes[2], T0 + 1004);
    EXPECT_EQ(btimes[4], T0 + 1005);
    EXPECT_EQ(bvalues[0], analogueValue(0, 1)); // first
    EXPECT_EQ(bvalues[1], analogueValue(4, 1)); // last
    EXPECT_EQ(bvalues[2], analogueValue(0, 1)); // min
    EXPECT_EQ(bvalues[3], analogueValue(4, 1)); // max
    // No buckets, or an empty range: "-1,87" and nothing written.
    btimes[0] = 5;
    EXPECT_EQ(ask(server, "8S,1,5,1,5," + addr("AI,2") + ",2," + addr(btimes) + "," +
                              addr(bvalues) + ",0,0," + addr(&result))
                  .bytes,
              z("-1,87"));
    EXPECT_EQ(ask(server, "8S,1,5,1,9," + addr("AI,2") + ",0," + addr(btimes) + "," +
                              addr(bvalues) + ",0,0," + addr(&result))
                  .bytes,
              z("-1,87"));
    EXPECT_EQ(btimes[0], 5u);
    // A number no channel code carries keeps its place and has no value: 65537 is not AI 1.
    EXPECT_EQ(ask(server, "7S,1," + std::to_string(T0 + 1000) + ",1," + std::to_string(T0 + 1000) +
                              "," + addr("AI,65537,1") + ",1," + addr(times) + "," + addr(values) +
                              ",0,0")
                  .bytes,
              z("1,1,0,1"));
    EXPECT_EQ(values[0], 0x7FFFFFFFu);
    memcpy(&v, &values[1], 4);
    EXPECT_EQ(v, analogueValue(0, 0));
    EXPECT_EQ(ask(server, "8S,1," + std::to_string(T0 + 1000) + ",1," + std::to_string(T0 + 1010) +
                              "," + addr("AI,65538,2") + ",1," + addr(btimes) + "," +
                              addr(bvalues) + ",0,0," + addr(&result))
                  .bytes,
              z("1,1,0,1"));
    for (int w = 0; w < 4; ++w) {
        uint32_t bits;
        memcpy(&bits, &bvalues[w], 4);
        EXPECT_EQ(bits, 0x7FFFFFFFu) << w;
    }
    EXPECT_EQ(bvalues[4], analogueValue(0, 1));
    EXPECT_EQ(bvalues[5], analogueValue(9, 1));
    // Addresses of 0 for buffers the request would write.
    EXPECT_EQ(ask(server, "7S,0,0,0,0,0,3,0," + addr(values) + ",0,0").bytes, z("-1,87"));

    // Closing renames the finished run into its closed form and leaves the open one.
    server.Close();
    EXPECT_NE(access(first.c_str(), F_OK), 0);
    EXPECT_EQ(access(runPath(line, "LINE_", T0, T0 + 100).c_str(), F_OK), 0);
    EXPECT_EQ(access(runPath(line, "LINE_", T0 + 1000, 0).c_str(), F_OK), 0);
}

TEST_F(LgrServer, RepliesNeverPassTheCapacityAndShortRequestsAreSafe) {
    std::string line = temp_ / "L";
    ASSERT_EQ(mkdir(line.c_str(), 0777), 0);
    writeRun(line, "L_", T0, 3, 0);
    CLogRequestServer server;
    ASSERT_EQ(server.Open(line.c_str()), 0);
    Answer full = ask(server, "CV,AI,1,2,3");
    ASSERT_EQ(full.rc, 1);
    int size = static_cast<int>(full.bytes.size());
    EXPECT_EQ(ask(server, "CV,AI,1,2,3", size).rc, 1);
    plat_SetLastError(0);
    EXPECT_EQ(ask(server, "CV,AI,1,2,3", size - 1).rc, -1);
    EXPECT_EQ(plat_GetLastError(), 234u);
    EXPECT_EQ(ask(server, "QE", 1).rc, -1); // "0" and its NUL need 2
    // 152 channel records do not fit 32768 bytes.
    std::string many = "CV,AI";
    for (int i = 0; i < 152; ++i)
        many += ",1";
    EXPECT_EQ(ask(server, many, 32768).rc, -1);
    EXPECT_EQ(plat_GetLastError(), 234u);

    // A request is read up to its NUL and never past its length.
    char reply[64];
    int length = 0;
    const char qe[2] = {'Q', 'E'};
    EXPECT_EQ(server.HandleRequest(qe, 2, reply, sizeof reply, &length), 1);
    EXPECT_EQ(std::string(reply, length), z("0"));
    const char rv[] = "RV,AI,1";
    EXPECT_EQ(server.HandleRequest(rv, 5, reply, sizeof reply, &length), 1); // "RV,AI"
    EXPECT_EQ(std::string(reply, length), z("0"));
    EXPECT_EQ(server.HandleRequest(nullptr, 5, reply, sizeof reply, &length), -1);
    EXPECT_EQ(server.HandleRequest("QE", 3, nullptr, 5, &length), -1);
    // The binary search of a run: exact, the record before a later one, the first, none.
    CLogFileStore store;
    LogHeader h{};
    ASSERT_EQ(
        store.Open("", (line + "/" + runPath("", "L_", T0, 0).substr(1)).c_str(), LSTORE_READ), 0);
    ASSERT_EQ(store.ReadHeader(&h), 0);
    EXPECT_EQ(lgr_FindRecordAtOrAfter(&store, &h, 3, T0 + 1, 1), 1);
    EXPECT_EQ(lgr_FindRecordAtOrAfter(&store, &h, 3, T0 + 1, 500), 1);
    EXPECT_EQ(lgr_FindRecordAtOrAfter(&store, &h, 3, T0 - 5, 0), 0);
    EXPECT_EQ(lgr_FindRecordAtOrAfter(&store, &h, 3, T0 + 100, 0), -1);
    EXPECT_EQ(lgr_FindRecordAtOrAfter(&store, &h, 0, T0, 0), -1);
    store.Close();

    // Numbers that do not scan.
    EXPECT_EQ(ask(server, "7S,1,x").bytes, z("-1,87"));
    EXPECT_EQ(ask(server, "5S,1,99999999999999999999999,0,0").bytes, z("-1,87"));
}

TEST_F(LgrServer, CompanionRunsAndTheirCurrentValues) {
    std::string slow = temp_ / "LINE";
    std::string fast = temp_ / "LINE_FAST_LOG";
    ASSERT_EQ(mkdir(slow.c_str(), 0777), 0);
    ASSERT_EQ(mkdir(fast.c_str(), 0777), 0);
    writeRun(slow, "S_", T0, 5, 0);       // newest T0 + 4
    writeRun(fast, "F_", T0 + 100, 3, 0); // newest T0 + 102: 98 s later
    CLogRequestServer server;
    ASSERT_EQ(server.Open(fast.c_str()), 0);
    // Slot 0 is the fast logger; its companion LINE is slot 1, the current slot, which gives the
    // stamp. Slot 0 has a value and is newer, so slot 1 is not consulted.
    Answer rv = ask(server, "RV,AI,1");
    EXPECT_EQ(rv.bytes, "1," + stamp(static_cast<int32_t>(T0), 0) + bytesOf(int32_t{0x80}) +
                            bytesOf(analogueValue(2, 0)));
    CLogRequestServer lone;
    EXPECT_EQ(lone.Open((temp_ / "NOWHERE").c_str()), -1);
    // A file URL is a folder text like any other, and no such folder exists.
    EXPECT_EQ(lone.Open(("file://" + slow).c_str()), -1);
    // A share on another computer cannot be reached here.
    EXPECT_EQ(lone.Open("//NOSUCHHOST/share/LINE"), -1);
    CLogRequestServer empty;
    std::string bare = temp_ / "BARE";
    ASSERT_EQ(mkdir(bare.c_str(), 0777), 0);
    EXPECT_EQ(empty.Open(bare.c_str()), -1); // no run at all
}

TEST_F(LgrServer, RangesAfter2038) {
    std::string line = temp_ / "Y2038";
    ASSERT_EQ(mkdir(line.c_str(), 0777), 0);
    const uint32_t late = 0x80000000u + 50; // 2038-01-19, negative as int32
    writeRun(line, "Y_", late - 100, 4, late - 90);
    writeRun(line, "Y_", late, 6, 0);
    CLogRequestServer server;
    ASSERT_EQ(server.Open(line.c_str()), 0);
    EXPECT_EQ(std::string(ask(server, "TS").bytes.c_str()), std::to_string(late + 5) + ",5");
    EXPECT_EQ(ask(server, "IS").bytes, z("1," + std::to_string(late - 100)));
    EXPECT_EQ(ask(server, "NS").bytes, z("1," + std::to_string(late + 5) + ",10"));
    later();
    EXPECT_EQ(ask(server, "5S,0,0,0,0").bytes,
              z("1," + std::to_string(late - 100) + "," + std::to_string(late + 6) + ",10,0,1"));
    uint32_t times[2 * 10];
    uint32_t values[10];
    Answer r7 =
        ask(server, "7S,1," + std::to_string(late - 98) + ",1," + std::to_string(late + 2) + "," +
                        addr("AI,3") + ",10," + addr(times) + "," + addr(values) + ",0,0");
    EXPECT_EQ(r7.bytes, z("1,4,0,1")); // late-98, late-97, late, late+1 (late+2 has 2 ms)
    EXPECT_EQ(times[0], late - 98);
    EXPECT_EQ(times[2 * 3], late + 1);
    uint32_t btimes[3 * 4];
    float bvalues[3 * 4];
    uint64_t result;
    Answer r8 = ask(server, "8S,0,0,0,0," + addr("AI,1") + ",3," + addr(btimes) + "," +
                                addr(bvalues) + ",0,0," + addr(&result));
    EXPECT_EQ(r8.bytes, z("1,2,0,1")); // the first and last thirds of [late-100, late+6)
    EXPECT_EQ(btimes[0], late - 100);
    EXPECT_EQ(btimes[2 * 4], late);

    // A million buckets over the whole 32-bit range: (t - from) x N passes 64 bits.
    const int n = 1000000;
    std::vector<uint32_t> wide(4 * static_cast<size_t>(n));
    std::vector<float> wideValues(4 * static_cast<size_t>(n));
    Answer all = ask(server, "8S,1,0,1,4294967295," + addr("AI,1") + "," + std::to_string(n) + "," +
                                 addr(wide.data()) + "," + addr(wideValues.data()) + ",0,0," +
                                 addr(&result));
    EXPECT_EQ(all.bytes, z("1,2,0,1"));
    auto bucketOf = [&](uint32_t t) {
        return static_cast<size_t>(static_cast<unsigned __int128>(t) * 1000000 * n /
                                   (uint64_t{4294967295u} * 1000000));
    };
    EXPECT_EQ(wide[4 * bucketOf(late - 100)], late - 100);
    EXPECT_EQ(wide[4 * bucketOf(late)], late);
    EXPECT_EQ(wide[4 * bucketOf(late) + 2], late + 5);
}

namespace {
// Overwrites bytes of a file.
void patch(const std::string &path, int64_t offset, const void *bytes, size_t size) {
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(pwrite(fd, bytes, size, offset), static_cast<ssize_t>(size));
    close(fd);
}
} // namespace

TEST_F(LgrServer, DamagedRunsAndBlocksGiveNoValues) {
    std::string line = temp_ / "DAMAGED";
    ASSERT_EQ(mkdir(line.c_str(), 0777), 0);
    // An older run whose header's reserved word is not 0x8001 stays out of the ranges.
    std::string old = writeRun(line, "D_", T0, 5, T0 + 10);
    uint16_t marker = 0x8002;
    patch(old, 4, &marker, 2);
    // The newest run's DI block claims values past its record's end marker.
    std::string newest = writeRun(line, "D_", T0 + 100, 3, 0);
    LogHeader h = readHeader(newest);
    uint16_t offset = static_cast<uint16_t>(h.blocks[1].valuesOffset + 2);
    patch(newest, 36 + 52 + 8, &offset, 2);
    patch(newest, h.extOffset + 2 + 52 + 8, &offset, 2);
    ASSERT_EQ(readHeader(newest).blocks[1].valuesOffset, offset);

    CLogRequestServer server;
    ASSERT_EQ(server.Open(line.c_str()), 0);
    EXPECT_EQ(ask(server, "RV,AI,1,DI,5").bytes,
              "1," + stamp(static_cast<int32_t>(T0 + 100), 0) + bytesOf(int32_t{0x80}) +
                  bytesOf(analogueValue(2, 0)) + stamp(static_cast<int32_t>(T0 + 100), 0) +
                  bytesOf(int32_t{0x20}));
    uint32_t times[2 * 8];
    uint32_t values[2 * 8];
    EXPECT_EQ(ask(server, "7S,0,0,0,0," + addr("AI,1,DI,5") + ",8," + addr(times) + "," +
                              addr(values) + ",0,0")
                  .bytes,
              z("1,3,0,1"));
    EXPECT_EQ(times[0], T0 + 100);
    float v;
    memcpy(&v, &values[0], 4);
    EXPECT_EQ(v, analogueValue(0, 0));
    EXPECT_EQ(values[1], 0x7FFFFFFFu);
}

TEST_F(LgrServer, ScanUpdatesRereadExactlyTheirSpan) {
    std::string line = temp_ / "SCAN";
    ASSERT_EQ(mkdir(line.c_str(), 0777), 0);
    std::string run = writeRun(line, "S_", T0, 5, 0, "[TEXT]\r\nx\r\n");
    CLogRequestServer server;
    ASSERT_EQ(server.Open(line.c_str()), 0);
    uint32_t times[2 * 8];
    float values[8];
    std::string request =
        "7S,0,0,0,0," + addr("AI,1") + ",8," + addr(times) + "," + addr(values) + ",0,0";
    EXPECT_EQ(ask(server, request).bytes, z("1,5,0,1"));
    EXPECT_EQ(values[2], analogueValue(2, 0));

    // Records 2 and 3 change in the file; the new line names the span of record 2 only
    // (T0 + 2 s 2 ms lies in [22:13:22, 22:13:23], T0 + 3 s 3 ms does not).
    LogHeader h = readHeader(run);
    float changed = 999, other = 777;
    patch(run, h.dataOffset + 2 * h.recordSize + h.blocks[0].valuesOffset + 12, &changed, 4);
    patch(run, h.dataOffset + 3 * h.recordSize + h.blocks[0].valuesOffset + 12, &other, 4);
    {
        std::ofstream txt(run.substr(0, run.size() - 4) + ".txt", std::ios::binary);
        txt << "[TEXT]\r\nx\r\n[SCAN UPDATES]\r\n23/11/14 22:13:22 23/11/14 22:13:23\r\n";
    }
    // The text file changes a little later than its first read.
    time_t newer = time(nullptr) + 100;
    struct timespec stamps[2] = {{newer, 0}, {newer, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (run.substr(0, run.size() - 4) + ".txt").c_str(), stamps, 0), 0);
    later();
    EXPECT_EQ(ask(server, request).bytes, z("1,5,0,1"));
    EXPECT_EQ(values[2], 999.0f);
    EXPECT_EQ(values[3], analogueValue(3, 0));
}

namespace {
void writeText(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}
} // namespace

TEST_F(LgrServer, CompactCachesKeepTheDashboardChannelsAndThoseRequested) {
    // PLANT/LOGGED_DATA/LINE holds the runs; PLANT/WEBHMI the menu and its dashboards.
    std::string plant = temp_ / "PLANT";
    std::string line = plant + "/LOGGED_DATA/LINE";
    ASSERT_EQ(system(("mkdir -p " + line + " " + plant + "/WEBHMI/DASHBOARDS").c_str()), 0);
    writeText(plant + "/WEBHMI/menu.xml", "<Menu><Item>Board1</Item><Item>Gone</Item></Menu>");
    writeText(plant + "/WEBHMI/DASHBOARDS/Board1",
              "<channel><prefix>AI</prefix><no>2</no></channel>"
              "<channel><prefix>AI</prefix><no>0</no></channel>"
              "<channel><prefix>AI</prefix><no>2</no></channel>"
              "<XChannel><prefix>XX</prefix><no>1</no></XChannel>"
              // Numbers no code carries; cut to 16 bits they would name XX 1.
              "<channel><prefix>XX</prefix><no>65537</no></channel>"
              "<channel><prefix>XX</prefix><no>-65535</no></channel>");
    // The older run has a block XX that the newest run lacks.
    writeRun(line, "L_", T0, 3, T0 + 10, "", false, 3);
    writeRun(line, "L_", T0 + 100, 3, 0);
    std::string plain = temp_ / "PLAIN";
    ASSERT_EQ(mkdir(plain.c_str(), 0777), 0);
    writeRun(plain, "L_", T0, 3, T0 + 10, "", false, 3);
    writeRun(plain, "L_", T0 + 100, 3, 0);

    uint32_t times[2 * 8];
    uint32_t values[3 * 8];
    auto range = [&](CLogRequestServer &server, const char *list) {
        later();
        return ask(server,
                   "7S,0,0,0,0," + addr(list) + ",8," + addr(times) + "," + addr(values) + ",0,0")
            .bytes;
    };
    // Without a menu the caches hold whole records: XX 1 of the older run is there.
    CLogRequestServer whole;
    ASSERT_EQ(whole.Open(plain.c_str()), 0);
    EXPECT_EQ(range(whole, "XX,1"), z("1,6,0,1"));
    EXPECT_EQ(values[1], 0x41200000u); // 10.0f, record 1's XX 1

    // With the dashboards AI 2 and XX 1 are kept.
    CLogRequestServer server;
    ASSERT_EQ(server.Open(line.c_str()), 0);
    EXPECT_EQ(range(server, "XX,1"), z("1,6,0,1"));
    EXPECT_EQ(values[1], 0x41200000u);
    // The Lumbrel edition skips XChannel elements: XX 1, in no block of the newest run, cannot
    // be added on request either, and reads as no value.
    {
        TempRegistry registry;
        uint32_t type = PLAT_REG_SZ;
        char name[] = "Lumbrel";
        uint32_t size = sizeof name;
        ASSERT_EQ(reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_MAKER_KEY, PLAT_KEY_SET_VALUE,
                                  "ProductName", &type, name, &size),
                  0u);
        reg_ForgetProductNames();
        CLogRequestServer lumbrel;
        ASSERT_EQ(lumbrel.Open(line.c_str()), 0);
        EXPECT_EQ(range(lumbrel, "XX,1"), z("1,6,0,1"));
        EXPECT_EQ(values[1], 0x7FFFFFFFu);
    }
    reg_ForgetProductNames();
    // AI 1 is added on request and the caches are rebuilt with it.
    EXPECT_EQ(range(server, "AI,1,2,DI,5"), z("1,6,0,1"));
    float f[3];
    memcpy(f, &values[3 * 4], 12); // record 1 of the newest run
    EXPECT_EQ(f[0], analogueValue(1, 0));
    EXPECT_EQ(f[1], analogueValue(1, 1));
    EXPECT_EQ(f[2], static_cast<float>(digitalState(1, 0)));
    EXPECT_EQ(times[2 * 4], T0 + 101);
}

TEST_F(LgrServer, NewerRunsAreTakenAtTheThirtySecondCheck) {
    std::string line = temp_ / "REOPEN";
    ASSERT_EQ(mkdir(line.c_str(), 0777), 0);
    writeRun(line, "R_", T0, 3, 0);
    CLogRequestServer server;
    ASSERT_EQ(server.Open(line.c_str()), 0);
    auto newest = [&]() {
        std::string ts = ask(server, "TS").bytes;
        return std::string(ts.c_str());
    };
    EXPECT_EQ(newest(), std::to_string(T0 + 2) + ",2");
    writeRun(line, "R_", T0 + 1000, 2, 0);
    later(29000);
    EXPECT_EQ(newest(), std::to_string(T0 + 2) + ",2"); // not yet 30 s
    later(1000);
    EXPECT_EQ(newest(), std::to_string(T0 + 1001) + ",1");
    // A newer run without records leaves the slot as it was.
    writeRun(line, "R_", T0 + 2000, 0, 0);
    later();
    EXPECT_EQ(newest(), std::to_string(T0 + 1001) + ",1");
    // The tick counter wraps: differences are taken modulo 2^32, so the check still comes
    // 30 s after the last one.
    plat_SetFakeTick(0xFFFFFF00u);
    EXPECT_EQ(newest(), std::to_string(T0 + 1001) + ",1");
    writeRun(line, "R_", T0 + 3000, 2, 0);
    later(29000);
    EXPECT_EQ(newest(), std::to_string(T0 + 1001) + ",1");
    later(1000);
    EXPECT_EQ(newest(), std::to_string(T0 + 3001) + ",1");
}

TEST_F(LgrServer, ARunWhoseLayoutChangesIsOpenedAfreshNeverReadWithTheOldBuffer) {
    std::string line = temp_ / "LAYOUT";
    ASSERT_EQ(mkdir(line.c_str(), 0777), 0);
    std::string path = writeRun(line, "R_", T0, 3, 0);
    CLogRequestServer server;
    ASSERT_EQ(server.Open(line.c_str()), 0);
    EXPECT_EQ(std::string(ask(server, "TS").bytes.c_str()), std::to_string(T0 + 2) + ",2");
    // The same file written again with a third block: longer records, more of them.
    ASSERT_EQ(writeRun(line, "R_", T0, 6, 0, "", false, 3), path);
    ASSERT_GT(readHeader(path).recordSize, header(T0).recordSize);
    later(1000);
    // The request that finds the new header answers nothing; the next opens the run again.
    EXPECT_EQ(ask(server, "TS").rc, 0);
    later(1000);
    EXPECT_EQ(std::string(ask(server, "TS").bytes.c_str()), std::to_string(T0 + 5) + ",5");
    auto analogue = [](float v) { return bytesOf(int32_t{0x80}) + bytesOf(v); };
    EXPECT_EQ(ask(server, "RV,XX,1,AI,3").bytes,
              "1," + stamp(static_cast<int32_t>(T0), 0) + analogue(analogueValue(5, 0)) +
                  stamp(static_cast<int32_t>(T0), 0) + analogue(analogueValue(5, 2)));
}

TEST_F(LgrServer, DigitalValuesThatAreNoInt32HaveNoValue) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // The stored values of DI 5 and DI 6, and the flags RV gives for them.
    struct Case {
        float di5, di6;
        int32_t f5, f6;
    } cases[] = {
        {nan, inf, 0x20, 0x20},       {-inf, 2147483648.0f, 0x20, 0x20},
        {-2147483648.0f, 3.0f, 0, 1}, {2147483520.0f, -3e9f, 0, 0x20},
        {-1.0f, 1e10f, 1, 0x20},
    };
    int k = 0;
    for (const Case &c : cases) {
        std::string line = temp_ / ("DIGITAL" + std::to_string(k++));
        ASSERT_EQ(mkdir(line.c_str(), 0777), 0);
        std::string path = writeRun(line, "N_", T0, 1, 0);
        LogHeader h = readHeader(path);
        int64_t values = h.dataOffset + h.blocks[1].valuesOffset + 4 * 2;
        patch(path, values, &c.di5, 4);
        patch(path, values + 4, &c.di6, 4);
        CLogRequestServer server;
        ASSERT_EQ(server.Open(line.c_str()), 0);
        EXPECT_EQ(ask(server, "RV,DI,5,6").bytes,
                  "1," + stamp(static_cast<int32_t>(T0), 0) + bytesOf(c.f5) + bytesOf(c.f6))
            << c.di5 << " " << c.di6;
    }
}

namespace {
void noPause(uint32_t) {}

// The parts of a channel record a database run keeps, around the tag and type of the caller.
void enabledAnalogue(ChannelRecord *r) {
    tag_SetDescription(r, "Line pressure");
    chrec_SetFlag(r, ChannelAnalog::Enable, 1);
    tag_SetUnits(r, "bar");
    chrec_Set(r, ChannelAnalog::MinimumUnits, 0.5f);
    chrec_Set(r, ChannelAnalog::MaximumUnits, 16.0f);
}
void enabledDigital(ChannelRecord *r) {
    tag_SetDescription(r, "Line valve");
    chrec_SetFlag(r, ChannelAnalog::Enable, 1);
    chrec_SetText(r, ChannelDigital::LowStateText, "SHUT");
    chrec_SetText(r, ChannelDigital::HighStateText, "OPEN");
}
} // namespace

TEST_F(LgrServer, ARunInADatabase) {
    // The logger LINE in a Jet database (SQLite underneath), one open run of 4 records.
    std::string conn = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (temp_ / "plant.mdb");
    PlatSleepHook previous = plat_SetSleepHook(noPause);
    {
        std::unique_ptr<CLogCollection> coll(lstore_CreateCollection(conn.c_str()));
        ASSERT_TRUE(coll);
        ASSERT_EQ(coll->Open(conn.c_str(), "", "LINE", "", LSTORE_READ | LSTORE_WRITE), 0)
            << coll->GetErrorMessage();
        std::vector<uint8_t> ai = channelRecords("AI", 1, 3, 2);
        std::vector<uint8_t> di = channelRecords("DI", 5, 2, 3);
        for (int k = 0; k < 3; ++k)
            enabledAnalogue(reinterpret_cast<ChannelRecord *>(ai.data() + k * 216));
        for (int k = 0; k < 2; ++k)
            enabledDigital(reinterpret_cast<ChannelRecord *>(di.data() + k * 216));
        const void *arrays[2] = {ai.data(), di.data()};
        int32_t start = static_cast<int32_t>(T0);
        LogHeader h = header(T0);
        h.blocks[0].valueKind = h.blocks[1].valueKind = 8; // values with their flags
        std::unique_ptr<CLogStore> run(
            coll->CreateLoggerEx(&start, 1, 0, &h, "[HEADER]\r\nDB\r\n", 0, nullptr, 0, arrays));
        ASSERT_TRUE(run) << coll->GetErrorText() << " / " << coll->GetErrorMessage();
        std::vector<uint8_t> records = makeRecords(h, T0, 0, 4);
        ASSERT_EQ(run->WriteLog(&h, records.data(), 4), 0) << run->GetErrorText();
        run->Close();
    }
    plat_SetSleepHook(previous);

    CLogRequestServer server;
    ASSERT_EQ(server.Open((conn + ";LoggerName=LINE").c_str()), 0);
    EXPECT_EQ(std::string(ask(server, "TS").bytes.c_str()), std::to_string(T0 + 3) + ",3");
    EXPECT_EQ(ask(server, "IP,*,1").bytes, z("1,USERAA,PUMPS,AI:3,0,A;"));
    EXPECT_EQ(ask(server, "RV,AI,2").bytes, "1," + stamp(static_cast<int32_t>(T0), 0) +
                                                bytesOf(int32_t{0x80}) +
                                                bytesOf(analogueValue(3, 1)));
    uint32_t times[2 * 8];
    float values[8];
    EXPECT_EQ(ask(server,
                  "7S,0,0,0,0," + addr("AI,3") + ",8," + addr(times) + "," + addr(values) + ",0,0")
                  .bytes,
              z("1,4,0,1"));
    EXPECT_EQ(times[2 * 3], T0 + 3);
    EXPECT_EQ(values[2], analogueValue(2, 2));
    char text[16] = {};
    EXPECT_EQ(ask(server, "6S,HEADER," + addr(text) + ",16").bytes, z("1,4"));
    // CV and TC read the channels back from the run's CHANNELS rows: what a row keeps (tag,
    // description, type, units and scale or state texts), outputs read as inputs.
    Answer cv = ask(server, "CV,AI,3,DI,6,9");
    ASSERT_EQ(cv.rc, 1);
    ASSERT_EQ(cv.bytes.size(), 2u + 6 + 216 + 6 + 216 * 2);
    EXPECT_EQ(cv.bytes.substr(0, 8), "1," + stamp(static_cast<int32_t>(T0), 0));
    ChannelRecord ai3{}, di6{};
    tag_SetTag(&ai3, "AI_3");
    enabledAnalogue(&ai3);
    chrec_SetType(&ai3, 0);
    tag_SetTag(&di6, "DI_6");
    enabledDigital(&di6);
    chrec_SetType(&di6, 1);
    EXPECT_EQ(cv.bytes.substr(8, 216), std::string(ai3.bytes, ai3.bytes + 216));
    EXPECT_EQ(cv.bytes.substr(8 + 216, 6), stamp(static_cast<int32_t>(T0), 0));
    EXPECT_EQ(cv.bytes.substr(8 + 216 + 6, 216), std::string(di6.bytes, di6.bytes + 216));
    EXPECT_EQ(cv.bytes.substr(8 + 216 + 6 + 216), std::string(216, '\0'));
    EXPECT_EQ(ask(server, "TC,di_6,NOPE,ai_2").bytes,
              "1,DI" + bytesOf(uint16_t{6}) + std::string(4, '\0') + "AI" + bytesOf(uint16_t{2}));
    // The logger name is taken out; without one the open fails with no error.
    CLogRequestServer nameless;
    EXPECT_EQ(nameless.Open(conn.c_str()), -1);
    EXPECT_EQ(plat_GetLastError(), 0u);
}
