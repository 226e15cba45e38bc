// The logger-status table as the runtime stand-in publishes it (put, stamp, conf), and the
// request server's status channels.
#include "chrec.h"
#include "dm.h"
#include "ldf.h"
#include "lfile.h"
#include "lgr_server.h"
#include "lstore_file.h"
#include "plat_clock.h"
#include "shm.h"
#include "sim_runtime.h"
#include "tag.h"
#include "temp_registry.h"
#include "test_ipc.h"

#include <cstring>
#include <ctime>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sstream>
#include <string>

namespace {

// One open run of 3 records (AI 1..2) from start, named as the folder collection lists it.
void writeRun(const std::string &folder, uint32_t start) {
    LogHeader h{};
    h.blockCount = 1;
    memcpy(h.blocks[0].prefix, "AI", 2);
    h.blocks[0].first = 1;
    h.blocks[0].last = 2;
    ldf_LayoutRecord(&h);
    h.start = static_cast<int32_t>(start);
    std::vector<uint8_t> channels(2 * 216, 0);
    const void *arrays[1] = {channels.data()};
    CLogFileStore store;
    std::string path = folder + "/RUN_" + lfile_FormatRunTime(static_cast<int32_t>(start)) + ".odl";
    ASSERT_EQ(store.Create(path.c_str(), 0, &h, nullptr, arrays), 0);
    std::vector<uint8_t> records(3 * static_cast<size_t>(h.recordSize), 0);
    for (int i = 0; i < 3; ++i) {
        uint8_t *r = records.data() + i * h.recordSize;
        ldf_Put16(r, LDF_RECORD_MARKER);
        ldf_Put32(r + 4, static_cast<int32_t>(start + 60 * i));
        ldf_Put16(r + 16, LDF_VALUES_MARKER);
        ldf_Put16(r + h.recordSize - 2, LDF_RECORD_END);
    }
    ASSERT_EQ(store.WriteLog(&h, records.data(), 3), 0);
    store.Close();
}

std::string ask(CLogRequestServer &server, const std::string &request) {
    char reply[16384];
    int length = 0;
    int rc = server.HandleRequest(request.c_str(), static_cast<int>(request.size()) + 1, reply,
                                  sizeof reply, &length);
    EXPECT_EQ(rc, 1) << request;
    return rc == 1 ? std::string(reply, static_cast<size_t>(length)) : "";
}

template <typename T>
T at(const std::string &bytes, size_t offset) {
    T v{};
    if (offset + sizeof v <= bytes.size()) memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

ChannelRecord recordAt(const std::string &bytes, size_t offset) {
    ChannelRecord rec{};
    if (offset + 216 <= bytes.size()) memcpy(&rec, bytes.data() + offset, 216);
    return rec;
}

class LgrStatus : public ::testing::Test {
protected:
    void start(const std::string &tag, const std::string &statements) {
        prefix_ = test_UseUniqueIpcPrefix(tag.c_str());
        dm_ResetForTests();
        std::string error;
        ASSERT_EQ(sim_ParseDescription("root " + root_.path() + "\n" + statements, &d_, &error), 0)
            << error;
        rt_ = std::make_unique<SimRuntime>(d_);
        ASSERT_EQ(rt_->create(), 0) << rt_->lastError();
    }
    int run(const std::string &line) {
        std::istringstream in(line + "\n");
        std::ostringstream out;
        std::atomic<bool> stop{false};
        return rt_->runScript(in, out, stop);
    }
    void TearDown() override {
        rt_.reset();
        test_RemoveIpcObjects(prefix_);
    }
    TempRegistry registry_;
    TempFolder root_;
    std::string prefix_;
    SimDescription d_;
    std::unique_ptr<SimRuntime> rt_;
};

} // namespace

TEST_F(LgrStatus, TheStandInWritesFlagsValuesStampAndRecords) {
    start("lgrstput", "process logst id=LS\ntable LS 8 64\n");
    ASSERT_EQ(run("put LS 33 129 7.5"), 0) << rt_->lastError();
    ASSERT_EQ(run("stamp LS 2200000000 250"), 0) << rt_->lastError();
    ASSERT_EQ(run("conf LS 33 0002_STATUS"), 0) << rt_->lastError();
    ASSERT_EQ(run("conf LS 45 0002_NO_READ"), 0) << rt_->lastError();
    EXPECT_NE(run("put LS 65 0 1"), 0);
    EXPECT_NE(run("put LS 1 x 1"), 0);
    EXPECT_NE(run("stamp LS 5"), 0);
    EXPECT_NE(run("conf XX 1 T"), 0);

    uint8_t *data = dm_GetData("LS");
    ASSERT_NE(data, nullptr);
    ChannelTableHeader table;
    memcpy(&table, data, sizeof table);
    EXPECT_EQ(table.tableType, 8);
    EXPECT_EQ(table.channelCount, 64);
    EXPECT_EQ(static_cast<uint32_t>(table.fileTime.seconds), 2200000000u);
    EXPECT_EQ(table.fileTime.milliseconds, 250);
    int32_t flag;
    float value;
    memcpy(&flag, data + 20 + 4 * 32, 4);
    memcpy(&value, data + 20 + 4 * 64 + 4 * 32, 4);
    EXPECT_EQ(flag, 129);
    EXPECT_EQ(value, 7.5f);

    uint8_t *conf = dm_GetConfData("LS");
    ASSERT_NE(conf, nullptr);
    ChannelRecord first, later;
    memcpy(&first, conf + 216 * 32, 216);
    memcpy(&later, conf + 216 * 44, 216);
    EXPECT_EQ(tag_GetTag(first), "0002_STATUS");
    EXPECT_EQ(chrec_GetType(first), 3); // channel 1 of logger 2
    EXPECT_EQ(chrec_GetType(later), 2); // channel 13 of logger 2
    EXPECT_EQ(chrec_TestFlag(first, ChannelDigital::Enable), 1);
    EXPECT_EQ(chrec_TestFlag(later, ChannelAnalog::Enable), 1);
}

// 2024-05-17 13:45:30 UTC as stored: the run's third record lies two minutes later.
constexpr uint32_t k_start = 1715953530;

TEST_F(LgrStatus, ComputedFromTheNewestRunWithoutAPublishingLogger) {
    // A resub logger of another folder, and a table too small for logger 2: both ignored.
    std::string folder = root_.path() + "/DATA/PLANT/LINE";
    ASSERT_EQ(system(("mkdir -p " + folder).c_str()), 0);
    writeRun(folder, k_start);
    start("lgrstloc", "loggers-long\nlogger stand BOILER\nlogger resub COPY active=1 folder=" +
                          folder + "\nprocess logst id=LS\ntable LS 8 40\n");
    CLogRequestServer server;
    ASSERT_EQ(server.Open(folder.c_str()), 0);
    std::string cv = ask(server, "CV,LS,1,56,57");
    ASSERT_EQ(cv.size(), 2u + 6 + 3 * 216);
    ChannelRecord status = recordAt(cv, 8), last = recordAt(cv, 8 + 216 * 1);
    EXPECT_EQ(tag_GetTag(status), "0001_STATUS");
    EXPECT_EQ(chrec_GetType(status), 1); // digital output read as input
    EXPECT_EQ(tag_GetTag(last), "0001_LAG LOG SS");
    EXPECT_EQ(chrec_GetType(last), 0);
    EXPECT_EQ(cv.substr(8 + 2 * 216), std::string(216, '\0'));

    // DIRECTORY texts are the folder's pieces; PREFIX the run name before its time.
    std::string dirs = ask(server, "CV,LS,2,8,10");
    std::string piece(dirs.data() + 8 + 32, strnlen(dirs.data() + 8 + 32, 32));
    EXPECT_FALSE(piece.empty());
    EXPECT_EQ(std::string(dirs.data() + 8 + 216 + 32), "RUN_");
    EXPECT_EQ(std::string(dirs.data() + 8 + 2 * 216 + 32), "Logging");

    // STATUS 1 (open run), TYPE 0 (folder), R-T LOG NO 3, date and time of the newest record,
    // and the derived year, month and day.
    std::string rv = ask(server, "RV,LS,1,9,20,21,22,39,40,41");
    size_t o = 8;
    EXPECT_EQ(at<int32_t>(rv, o), 1);
    EXPECT_EQ(at<int32_t>(rv, o += 4), 0);
    EXPECT_EQ(at<int32_t>(rv, o += 4), 0x80);
    EXPECT_EQ(at<float>(rv, o += 4), 3.0f);
    EXPECT_EQ(at<int32_t>(rv, o += 4), 0x80);
    EXPECT_EQ(at<float>(rv, o += 4), 240517.0f);
    EXPECT_EQ(at<int32_t>(rv, o += 4), 0x80);
    EXPECT_EQ(at<float>(rv, o += 4), 134730.0f);
    for (float part : {24.0f, 5.0f, 17.0f}) {
        EXPECT_EQ(at<int32_t>(rv, o += 4), 0x80);
        EXPECT_EQ(at<float>(rv, o += 4), part);
    }
    EXPECT_EQ(rv.size(), o + 4);
    EXPECT_EQ(ask(server, "RS"), std::string("1\0", 2));
    EXPECT_EQ(ask(server, "QP"), std::string("2\0", 2)); // AI and the status group
}

TEST_F(LgrStatus, TakenFromTheResubLoggerThatPublishesThisFolder) {
    std::string folder = root_.path() + "/COPY";
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    writeRun(folder, k_start);
    start("lgrstpub", "loggers-long\nlogger stand BOILER\nlogger resub COPY active=1 folder=" +
                          folder + "\nprocess logst id=LS\ntable LS 8 64\n");
    ASSERT_EQ(run("put LS 33 0 0"), 0);        // STATUS of logger 2: disabled
    ASSERT_EQ(run("put LS 53 128 240101"), 0); // its R-T LOG DT
    ASSERT_EQ(run("stamp LS 2200000000 5"), 0);
    ASSERT_EQ(run("conf LS 33 0002_STATUS"), 0);
    CLogRequestServer server;
    ASSERT_EQ(server.Open(folder.c_str()), 0);
    std::string rv = ask(server, "RV,LS,1,21,39,40,41");
    EXPECT_EQ(at<uint32_t>(rv, 2), 2200000000u);
    EXPECT_EQ(at<int16_t>(rv, 6), 5);
    size_t o = 8;
    EXPECT_EQ(at<int32_t>(rv, o), 0);
    EXPECT_EQ(at<int32_t>(rv, o += 4), 0x80);
    EXPECT_EQ(at<float>(rv, o += 4), 240101.0f);
    for (float part : {24.0f, 1.0f, 1.0f}) {
        EXPECT_EQ(at<int32_t>(rv, o += 4), 0x80);
        EXPECT_EQ(at<float>(rv, o += 4), part);
    }
    EXPECT_EQ(ask(server, "RS"), std::string("0\0", 2));
    // The logger's 32 records come from the table (only channel 1 was written there); the
    // derived ones are built for logger 2.
    std::string cv = ask(server, "CV,LS,1,2,40");
    EXPECT_EQ(tag_GetTag(recordAt(cv, 8)), "0002_STATUS");
    EXPECT_EQ(chrec_GetType(recordAt(cv, 8)), 1);
    EXPECT_EQ(tag_GetTag(recordAt(cv, 8 + 216)), "");
    EXPECT_EQ(tag_GetTag(recordAt(cv, 8 + 2 * 216)), "0002_R-T LOG MM");

    // The logger stops publishing (inactive): the status is computed locally again.
    rt_.reset();
    start("lgrstpub2", "loggers-long\nlogger stand BOILER\nlogger resub COPY active=0 folder=" +
                           folder + "\nprocess logst id=LS\ntable LS 8 64\n");
    CLogRequestServer local;
    ASSERT_EQ(local.Open(folder.c_str()), 0);
    EXPECT_EQ(ask(local, "RS"), std::string("1\0", 2));
    EXPECT_EQ(tag_GetTag(recordAt(ask(local, "CV,LS,1"), 8)), "0001_STATUS");
}

TEST_F(LgrStatus, APublishedTableItsSegmentsDoNotHoldIsComputedLocally) {
    std::string folder = root_.path() + "/COPY";
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    writeRun(folder, k_start);
    // Each case changes the published segments; RS gives 0 from the table (logger 2's STATUS
    // is off there) and 1 when computed from the open run.
    struct Case {
        const char *name;
        int channels;
        int claimedCapacity; // the table's channel count, 0 as made
        int dataClaims;      // the data header's payload length, 0 as made
        int confClaims;      // the configuration header's payload length, 0 as made
        const char *rs;
    } cases[] = {
        {"as made", 64, 0, 0, 0, "0"},
        {"a count the data does not hold", 40, 64, 0, 0, "1"},
        {"a data payload short of the count", 64, 0, 20 + 8 * 40, 0, "1"},
        {"records short of logger 2's", 64, 0, 0, 216 * 40, "1"},
    };
    int k = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        rt_.reset();
        start("lgrstsize" + std::to_string(k++),
              "loggers-long\nlogger stand BOILER\nlogger resub COPY active=1 folder=" + folder +
                  "\nprocess logst id=LS\ntable LS 8 " + std::to_string(c.channels) + "\n");
        ASSERT_EQ(run("put LS 33 0 0"), 0);
        SegmentHeader *data = dm_GetDataSegment("LS");
        SegmentHeader *conf = dm_GetConfSegment("LS");
        ASSERT_NE(data, nullptr);
        ASSERT_NE(conf, nullptr);
        if (c.claimedCapacity != 0)
            reinterpret_cast<ChannelTableHeader *>(shm_Payload(data))->channelCount =
                static_cast<uint16_t>(c.claimedCapacity);
        if (c.dataClaims != 0) data->payloadLength = c.dataClaims;
        if (c.confClaims != 0) conf->payloadLength = c.confClaims;
        CLogRequestServer server;
        ASSERT_EQ(server.Open(folder.c_str()), 0);
        EXPECT_EQ(ask(server, "RS"), std::string(c.rs) + std::string(1, '\0'));
    }
}
