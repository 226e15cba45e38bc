#include "sim_runtime.h"
#include "srv.h"

#include "msl.h"
#include "plat_mailslot.h"
#include "plat_shm.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
// This test program doubles as a minimal scanner: started with SIM_FAKE_SCANNER set, it
// plays the scanner's part of the runtime protocol and never reaches the tests.
std::atomic<int> g_pendingScans{0};
std::atomic<bool> g_stop{false};
std::atomic<int> g_written{0};

void fakeOnCode(int code) {
    if (code == 300)
        ++g_pendingScans;
    else if (code == 31)
        g_stop = true;
    else if (code == 305)
        ++g_written;
}

int fakeScanner(int number) {
    if (msl_Open(fakeOnCode) != nullptr || errno != 0) return 3;
    DeviceSlot *slot = dm_FindDevice("KSTRN", number);
    if (slot == nullptr) return 0;
    SegmentHeader *dev = dm_GetDeviceSegment();
    shm_Lock(dev);
    slot->running = 1;
    slot->pid = getpid();
    slot->configured = 1;
    slot->nextScan.seconds = 1;
    slot->initialising = 0;
    shm_Unlock(dev);
    while (!g_stop) {
        if (g_pendingScans > 0) {
            --g_pendingScans;
            // Before the notifications: they tell the runtime that the scan is over.
            slot->scanDuration = 7 + g_written;
            for (int k = DM_KIND_IDS - 1; k >= 0; --k) {
                char id[3] = {slot->kindIds[k][0], slot->kindIds[k][1], 0};
                SegmentHeader *seg = id[0] ? dm_GetDataSegment(id) : nullptr;
                if (seg == nullptr) continue;
                shm_Lock(seg);
                reinterpret_cast<ChannelTableHeader *>(shm_Payload(seg))->lastScanMs = 7;
                shm_Notify(seg, 0);
                shm_Unlock(seg);
            }
        }
        msl_Wait(20);
    }
    slot->running = 0;
    msl_Close();
    return 0;
}

// Runs once every static object of the libraries exists, before any test.
class FakeScannerHook : public ::testing::Environment {
public:
    void SetUp() override {
        if (const char *n = getenv("SIM_FAKE_SCANNER")) _exit(fakeScanner(atoi(n)));
    }
};
const ::testing::Environment *g_fakeScannerHook =
    ::testing::AddGlobalTestEnvironment(new FakeScannerHook);

std::string selfPath() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        tag_ = std::to_string(getpid()) + "-" + std::to_string(++serial);
        setenv("KVT_IPC_PREFIX", ("kvtt-sim-" + tag_).c_str(), 1);
        root_ = "/tmp/kvtt-sim-" + tag_;
    }
    void TearDown() override {
        std::string cmd = "rm -rf " + root_;
        (void)!system(cmd.c_str());
    }
    SimDescription parse(const std::string &text) {
        SimDescription d;
        std::string error;
        EXPECT_EQ(sim_ParseDescription("root " + root_ + "\n" + text, &d, &error), 0) << error;
        return d;
    }
    bool exists(const std::string &name) {
        struct stat st;
        return stat(("/dev/shm" + plat_ShmObjectName(name.c_str())).c_str(), &st) == 0;
    }
    int32_t payloadOf(const std::string &name) {
        SegmentHeader *s = shm_OpenSegment(name.c_str());
        return s == SHM_NO_SEGMENT ? -1 : s->payloadLength;
    }
    std::string tag_;
    std::string root_;
};
} // namespace

TEST(SimDescription, ParsesEveryStatement) {
    SimDescription d;
    std::string error;
    const char *text = "# demo\n"
                       "root /tmp/x   # comment\n"
                       "scanner /bin/KSTRN_SC\n"
                       "bin /opt/bin\n"
                       "layout old\n"
                       "device KSTRN 3 Press press ai=a1 di=D1 ao=A2 do=D2 ci=C1 own=S1\n"
                       "table a1 8 16 runtime\n"
                       "table D1 4 0\n"
                       "process alarm id=AL kindflag=2 enabled=0 attribute=9\n"
                       "logger trend Trend1 active=0\n"
                       "errors 5\n";
    ASSERT_EQ(sim_ParseDescription(text, &d, &error), 0) << error;
    EXPECT_EQ(d.root, "/tmp/x");
    EXPECT_EQ(d.scanner, "/bin/KSTRN_SC");
    EXPECT_EQ(d.bin, "/opt/bin");
    EXPECT_TRUE(d.oldLayout);
    ASSERT_EQ(d.devices.size(), 1u);
    EXPECT_EQ(d.devices[0].number, 3);
    EXPECT_EQ(d.devices[0].ids[0], "A1");
    EXPECT_EQ(d.devices[0].ids[5], "S1");
    ASSERT_EQ(d.tables.size(), 2u);
    EXPECT_EQ(d.tables[0].id, "A1");
    EXPECT_EQ(d.tables[0].bytesPerChannel, 8);
    EXPECT_TRUE(d.tables[0].runtimeRecords);
    ASSERT_EQ(d.processes.size(), 1u);
    EXPECT_EQ(d.processes[0].name, "ALARM");
    EXPECT_EQ(d.processes[0].kindFlag, 2);
    EXPECT_EQ(d.processes[0].enabled, 0);
    EXPECT_EQ(d.processes[0].attribute, 9);
    ASSERT_EQ(d.loggers.size(), 1u);
    EXPECT_EQ(d.loggers[0].active, 0);
    EXPECT_EQ(d.errors, 5);
}

TEST(SimDescription, ReportsTheLineOfAFault) {
    const char *bad[] = {
        "table A1 5 3",
        "table ABC 4 3",
        "device KSTRN 0 a b",
        "device KSTRN 1 a b x=1",
        "layout sideways",
        "process ALARM id=A12",
        "logger t n active=2",
        "frobnicate",
        "table A1 4 3\ntable a1 4 3",
        "errors -1",
        "device KSTRN 1 a b\ndevice KSTRN 1 c d",
    };
    for (const char *text : bad) {
        SimDescription d;
        std::string error;
        EXPECT_EQ(sim_ParseDescription(std::string("# first\n") + text, &d, &error), -1) << text;
        EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
    }
    std::string error;
    SimDescription d;
    sim_ParseDescription("root /x\n\nbogus\n", &d, &error);
    EXPECT_EQ(error.rfind("line 3:", 0), 0u) << error;
}

TEST_F(SimFixture, CreatesAndFillsEverySegment) {
    std::string folder = root_ + "/CURRENT_CONFIG/press";
    ASSERT_EQ(system(("mkdir -p " + folder).c_str()), 0);
    {
        std::ofstream config(folder + "/config", std::ios::binary);
        config.put(1); // AutoEnable, not part of the record
        int32_t interval = 250;
        config.write(reinterpret_cast<const char *>(&interval), 4);
        config.write("COM7", 4);
    }
    SimDescription d = parse("device KSTRN 3 Press press ai=A1 di=D1 own=S1\n"
                             "device KSTRN 4 Other other\n"
                             "table A1 8 10 runtime\n"
                             "table D1 4 9\n"
                             "process ALARM id=AL kindflag=2 attribute=4\n"
                             "process DERIVED\n"
                             "logger trend Trend\n"
                             "logger resub Copy\n"
                             "errors 3\n");
    // A stale object of an earlier run is removed first.
    ASSERT_NE(plat_ShmCreate("dm_stale", 64), nullptr);
    {
        SimRuntime rt(d);
        ASSERT_EQ(rt.create(), 0) << rt.lastError();
        EXPECT_FALSE(exists("dm_stale"));
        EXPECT_EQ(payloadOf("dm_device"), 4 + 790 * 2);
        EXPECT_EQ(payloadOf("dm_datproc"), 4 + 60 * 2);
        EXPECT_EQ(payloadOf("dm_loggers"), 4 + 172 * 2);
        EXPECT_EQ(payloadOf("dm_errors"), 4 + 443 * 3);
        EXPECT_EQ(payloadOf("dm_A1"), 20 + 8 * 10 + 264 * 10);
        EXPECT_EQ(payloadOf("dm_A1_conf"), 216 * 10);
        EXPECT_EQ(payloadOf("dm_A1_event"), 3 * 2);
        EXPECT_EQ(payloadOf("dm_D1"), 20 + 4 * 9);
        EXPECT_EQ(payloadOf("dm_D1_event"), 3 * 2);
        EXPECT_FALSE(exists("dm_S1")) << "an id without a table line gets no segments";
        EXPECT_TRUE(exists("dm_A1.mut"));

        DeviceSlot *slot = dm_FindDevice("KSTRN", 3);
        ASSERT_NE(slot, nullptr);
        EXPECT_STREQ(slot->deviceName, "Press");
        EXPECT_STREQ(slot->folder, "press");
        EXPECT_EQ(memcmp(slot->kindIds[0], "A1", 2), 0);
        EXPECT_EQ(memcmp(slot->kindIds[1], "D1", 2), 0);
        EXPECT_EQ(slot->kindIds[2][0], 0);
        int32_t interval;
        memcpy(&interval, slot->deviceConfig, 4);
        EXPECT_EQ(interval, 250);
        EXPECT_EQ(memcmp(slot->deviceConfig + 4, "COM7", 4), 0);
        EXPECT_EQ(slot->pid, 0);
        EXPECT_EQ(slot->running, 0);
        char own[3];
        EXPECT_EQ(dm_GetOwnTableId(slot, own), 0);
        EXPECT_STREQ(own, "S1");
        DeviceSlot *other = dm_FindDevice("KSTRN", 4);
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(other->deviceConfig[0], 0);

        DataProcessEntry *alarm = dm_FindDataProcess("ALARM");
        ASSERT_NE(alarm, nullptr);
        EXPECT_EQ(alarm->pid, getpid());
        EXPECT_EQ(alarm->kindFlag, 2);
        EXPECT_EQ(alarm->attribute, 4);
        EXPECT_EQ(alarm->enabled, 1);
        EXPECT_EQ(dm_FindLogger("copy"), 2);
        EXPECT_GE(dm_GetLogger(1)->pid, 0x40000000);

        ChannelTableHeader h;
        ASSERT_TRUE(rt.tableHeader("a1", &h));
        EXPECT_EQ(memcmp(h.tableId, "A1", 2), 0);
        EXPECT_EQ(h.tableType, 8);
        EXPECT_EQ(h.channelCount, 10);
        EXPECT_EQ(h.fileTime.seconds, 0);

        // Loggers, alarms and derived values each have a bound mailslot.
        for (const std::string &name :
             {msl_ProcessSlotName(static_cast<uint32_t>(dm_GetLogger(0)->pid)),
              std::string("xalarms"), std::string("derived")}) {
            int endpoint = plat_MailslotConnect(name.c_str());
            EXPECT_GE(endpoint, 0) << name;
            int32_t code = 200003;
            EXPECT_EQ(plat_MailslotSend(endpoint, &code, 4), 4);
            plat_MailslotDisconnect(endpoint);
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (rt.received().size() < 3 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_EQ(rt.received().size(), 3u);
    }
    EXPECT_FALSE(exists("dm_device")) << "objects are removed at the end";
    EXPECT_FALSE(exists("dm_A1.mut"));
}

TEST_F(SimFixture, LongLoggerTableAddsTheSecondTable) {
    SimDescription d = parse("loggers-long\n"
                             "logger stand A state=3 rtlog=-2 folder=/f conn=x y\n"
                             "logger stand B\n");
    SimRuntime rt(d);
    ASSERT_EQ(rt.create(), 0) << rt.lastError();
    EXPECT_EQ(payloadOf("dm_loggers"), 4 + 1700 * 2);
    SegmentHeader *s = shm_OpenSegment("dm_loggers");
    ASSERT_NE(s, SHM_NO_SEGMENT);
    const uint8_t *p = shm_Payload(s);
    auto *a = reinterpret_cast<const LoggerEntry *>(p + 4);
    EXPECT_EQ(a->state, 3);
    EXPECT_EQ(a->realTimeLog, -2);
    auto *second = reinterpret_cast<const LoggerSecondEntry *>(p + 4 + 172 * 2);
    EXPECT_STREQ(second[0].folder, "/f");
    EXPECT_STREQ(second[0].connection, "x y");
    EXPECT_EQ(second[1].folder[0], 0);
}

TEST_F(SimFixture, ErrorLinesFillTheLongErrorEntries) {
    SimDescription d = parse("errors 1\nerror 4 L1 DISK  FULL, ON D\nerror 2 DEV\n");
    SimRuntime rt(d);
    ASSERT_EQ(rt.create(), 0) << rt.lastError();
    EXPECT_EQ(payloadOf("dm_errors"), 4 + 443 * 2); // the larger of E and the lines
    EXPECT_EQ(rt.showErrors(), "error 0: kind=4 name=L1 text=DISK  FULL, ON D\n"
                               "error 1: kind=2 name=DEV text=\n");
    SimDescription bad;
    std::string error;
    EXPECT_EQ(sim_ParseDescription("error x L1\n", &bad, &error), -1);
    EXPECT_EQ(sim_ParseDescription("error 4\n", &bad, &error), -1);
}

TEST_F(SimFixture, OldLayoutSegments) {
    SimDescription d = parse("layout old\ntable D1 4 3\n");
    SimRuntime rt(d);
    ASSERT_EQ(rt.create(), 0) << rt.lastError();
    SegmentHeader *s = shm_OpenSegment("dm_D1");
    ASSERT_NE(s, SHM_NO_SEGMENT);
    EXPECT_EQ(s->notifyOffset - s->subscriberOffset, 60);
    EXPECT_EQ(s->capacity, 32 + 208);
}

TEST_F(SimFixture, DrivesAScannerThroughStartScanWriteAndStop) {
    SimDescription d = parse("scanner " + selfPath() +
                             "\ndevice KSTRN 2 Press press ai=A1 di=D1\n"
                             "table A1 8 4\ntable D1 4 4\n");
    setenv("SIM_FAKE_SCANNER", "2", 1);
    SimRuntime rt(d);
    ASSERT_EQ(rt.create(), 0) << rt.lastError();
    ASSERT_EQ(rt.start(2), 0) << rt.lastError();
    unsetenv("SIM_FAKE_SCANNER");
    ASSERT_EQ(rt.waitReady(2), 0) << rt.lastError();
    DeviceSlot slot;
    ASSERT_TRUE(rt.slot(2, &slot));
    EXPECT_EQ(slot.pid, rt.scannerPid(2));
    EXPECT_EQ(rt.start(2), -1) << "already running";

    ASSERT_EQ(rt.scan(2), 0) << rt.lastError();
    ChannelTableHeader h;
    ASSERT_TRUE(rt.tableHeader("A1", &h));
    EXPECT_EQ(h.lastScanMs, 7);

    ASSERT_EQ(rt.write("D1", 2, 1), 0) << rt.lastError();
    ASSERT_EQ(rt.write("A1", 4, 2.5), 0) << rt.lastError();
    EXPECT_EQ(rt.statuses("D1")[1] & 1u, 1u);
    EXPECT_FLOAT_EQ(rt.values("A1")[3], 2.5f);
    EXPECT_EQ(rt.write("A1", 5, 1), -1);
    ASSERT_EQ(rt.scan(2), 0) << rt.lastError();
    ASSERT_TRUE(rt.slot(2, &slot));
    EXPECT_EQ(slot.scanDuration, 7 + 2) << "both 305 codes reached the scanner";

    int status = -1;
    ASSERT_EQ(rt.stop(2, &status), 0) << rt.lastError();
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(rt.slot(2, &slot));
    EXPECT_EQ(slot.running, 0);
    EXPECT_FALSE(rt.running(2));
}

TEST_F(SimFixture, ScriptCommandsAndTheirFailures) {
    SimDescription d = parse("scanner " + selfPath() +
                             "\ndevice KSTRN 5 Press press di=D1\ntable D1 4 2\nerrors 1\n");
    setenv("SIM_FAKE_SCANNER", "5", 1);
    SimRuntime rt(d);
    ASSERT_EQ(rt.create(), 0) << rt.lastError();
    std::atomic<bool> stop{false};
    std::istringstream script("start 5\nwait-ready 5\nscan 5\nwrite D1 1 1\nshow table D1\n"
                              "show slot 5\nshow errors\nshow codes\nstop 5\n");
    std::ostringstream out;
    EXPECT_EQ(rt.runScript(script, out, stop), 0) << rt.lastError();
    unsetenv("SIM_FAKE_SCANNER");
    EXPECT_NE(out.str().find("scan of device 5 finished"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("table D1: type=4 channels=2"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("statuses 1: 0x1 state; 2: 0x0\n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("runtime: D1 published"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("scanner 5 exited with 0"), std::string::npos) << out.str();

    std::istringstream bad("show slot 5\nscan 5\nshow slot 5\n");
    std::ostringstream out2;
    EXPECT_EQ(rt.runScript(bad, out2, stop), 1);
    EXPECT_EQ(rt.lastError().rfind("line 2:", 0), 0u) << rt.lastError();
    std::istringstream unknown("jump 5\n");
    EXPECT_EQ(rt.runScript(unknown, out2, stop), 1);
}

TEST_F(SimFixture, AnswersScriptedPipeRequestsAndRecordsThem) {
    SimDescription d = parse("reply QL 3\nreply CP,X -1,5,no such process\n");
    ASSERT_EQ(d.replies.size(), 2u);
    SimRuntime rt(d);
    ASSERT_EQ(rt.create(), 0) << rt.lastError();
    srv_CloseAll();

    char reply[64] = {};
    int size = sizeof reply;
    EXPECT_EQ(srv_Command(".", "QL", reply, &size), 3);
    size = sizeof reply;
    EXPECT_EQ(srv_Command(".", "CP,X", reply, &size), -1);
    EXPECT_EQ(errno, 5);

    std::atomic<bool> stop{false};
    std::istringstream script("show requests\n");
    std::ostringstream out;
    EXPECT_EQ(rt.runScript(script, out, stop), 0) << rt.lastError();
    EXPECT_NE(out.str().find("QL"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("CP,X"), std::string::npos) << out.str();
    srv_CloseAll();
}

TEST(SimDescription, RefusesAReplyWithoutAnAnswer) {
    SimDescription d;
    std::string error;
    EXPECT_EQ(sim_ParseDescription("root /x\nreply\n", &d, &error), -1);
    EXPECT_EQ(error.rfind("line 2:", 0), 0u) << error;
}
