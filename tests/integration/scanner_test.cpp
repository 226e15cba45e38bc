// The scanner as the runtime server runs it: real KSTRN_SC processes against the runtime
// stand-in's shared memory and notification codes.
#include "s5sim.h"
#include "sim_runtime.h"

#include "msl.h"
#include "plat_system.h"
#include "shm.h"
#include "test_device.h"
#include "test_ipc.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {
namespace fs = std::filesystem;

// The device folder of the installation: "config" (AutoEnable, then the record with a scan
// interval of 1000 ms) and one binary channel file per kind with a table.
void writeDeviceFolder(const fs::path &folder,
                       const std::vector<std::pair<std::string, int>> &kinds) {
    test_WriteDeviceConfig(folder);
    for (const auto &[name, channels] : kinds) {
        std::vector<char> file(8 + 216 * static_cast<size_t>(channels), 0);
        std::ofstream(folder / name, std::ios::binary).write(file.data(), file.size());
    }
}

class ScannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int run = 0;
        prefix = test_UseUniqueIpcPrefix(("scan" + std::to_string(++run)).c_str());
        root = fs::temp_directory_path() / prefix;
        fs::create_directories(root);
        ASSERT_FALSE(test_BuildBin().empty());
    }
    void TearDown() override {
        runtime.reset();
        plc.reset();
        test_RemoveIpcObjects(prefix);
        fs::remove_all(root);
    }

    // One KSTRN device, number 1, with an analogue input table (runtime records), a digital
    // input table and a digital output table; more description lines may follow.
    void createRuntime(const std::string &extraDevice = "", const std::string &extra = "") {
        writeDeviceFolder(root / "CURRENT_CONFIG" / "S5TEST", {{"ai", 4}, {"di", 8}, {"do", 3}});
        // The device's port COM1: a controller on a pseudo-terminal in the runtime's port folder.
        test_StartController(root, &plc);
        std::string text = test_RuntimeHead(root) +
                           "device KSTRN 1 PRESS-1 S5TEST ai=T1 di=T2 do=T3" + extraDevice + "\n" +
                           "table T1 8 4 runtime\ntable T2 4 8\ntable T3 4 3\nerrors 2\n" + extra;
        SimDescription description;
        std::string error;
        ASSERT_EQ(sim_ParseDescription(text, &description, &error), 0) << error;
        runtime = std::make_unique<SimRuntime>(description);
        ASSERT_EQ(runtime->create(), 0) << runtime->lastError();
    }

    void startReady() {
        ASSERT_EQ(runtime->start(1), 0) << runtime->lastError();
        ASSERT_EQ(runtime->waitReady(1), 0) << runtime->lastError();
    }

    // Registers this process as subscriber 1 of a data segment: every notification of the
    // segment then counts up the entry's pending count.
    void subscribe(const char *id) {
        counted = shm_OpenSegment((std::string("dm_") + id).c_str());
        ASSERT_NE(counted, SHM_NO_SEGMENT);
        shm_Lock(counted);
        shm_RegisterSubscriber(counted, 1);
        shm_Unlock(counted);
    }
    int notifications() {
        ShmLayout layout;
        shm_GetLayout(counted, &layout);
        int16_t pending;
        const uint8_t *base = reinterpret_cast<const uint8_t *>(counted);
        if (layout.longSubscribers > 0)
            memcpy(&pending, base + layout.longSubscriberOffset + 6, sizeof pending);
        else
            memcpy(&pending, base + layout.subscriberOffset + 4, sizeof pending);
        return pending;
    }

    // What the operator sees of the scanner's status texts: its standard error (kept in the
    // log) and the runtime's status entries.
    std::string statusTexts() {
        std::ifstream log(root / "scanner-1.log");
        std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        return text + runtime->errorTexts();
    }

    DeviceSlot slot() {
        DeviceSlot s{};
        EXPECT_TRUE(runtime->slot(1, &s));
        return s;
    }

    std::string prefix;
    fs::path root;
    std::unique_ptr<SimRuntime> runtime;
    std::unique_ptr<s5sim::Simulator> plc;
    SegmentHeader *counted = nullptr;
};

// Runs the scanner program directly with the given arguments; its exit status, or -1 when
// it does not end within the deadline.
int runScanner(const std::vector<std::string> &args) {
    std::string program = test_BuildBin() + "/KSTRN_SC";
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    bool ended = test_WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
} // namespace

TEST_F(ScannerTest, StartMarksTheSlotAndFinishesTheFirstInitialisation) {
    createRuntime();
    startReady();
    DeviceSlot s = slot();
    EXPECT_EQ(s.running, 1);
    EXPECT_EQ(s.pid, runtime->scannerPid(1));
    EXPECT_EQ(s.configured, 1);
    EXPECT_EQ(s.initialising, 0);
    EXPECT_NE(s.nextScan.seconds, 0);
    // The configuration record went from the device folder into the slot.
    int32_t interval;
    memcpy(&interval, s.deviceConfig, sizeof interval);
    EXPECT_EQ(interval, 1000);
    ChannelTableHeader header{};
    ASSERT_TRUE(runtime->tableHeader("T1", &header));
    EXPECT_EQ(header.statusCode, 0);
    EXPECT_NE(header.fileTime.seconds, 0);
}

TEST_F(ScannerTest, EachScanRequestRunsOneCycleAndLeavesTheScheduleAlone) {
    createRuntime();
    startReady();
    TimeStamp scheduled = slot().nextScan;
    subscribe("T1");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(runtime->scan(1), 0) << runtime->lastError();
    EXPECT_EQ(notifications(), 3);
    DeviceSlot s = slot();
    EXPECT_GE(s.scanDuration, 0);
    EXPECT_EQ(s.nextScan.seconds, scheduled.seconds);
    EXPECT_EQ(s.nextScan.milliseconds, scheduled.milliseconds);
    EXPECT_EQ(s.initialising, 0);
}

TEST_F(ScannerTest, TwoRequestsRunTwoScans) {
    createRuntime();
    startReady();
    subscribe("T2");
    ASSERT_EQ(runtime->post(1, NC_SCAN), 0);
    ASSERT_EQ(runtime->post(1, NC_SCAN), 0);
    ASSERT_TRUE(test_WaitUntil([&] { return notifications() >= 2; }));
    // One more request, waited for: had the two been one scan, or three, the count shows it.
    ASSERT_EQ(runtime->scan(1), 0) << runtime->lastError();
    EXPECT_EQ(notifications(), 3);
}

TEST_F(ScannerTest, ReconfigureAndInitialiseValuesRescanAndReschedule) {
    createRuntime();
    startReady();
    subscribe("T1");
    // A new scan interval in the device folder reaches the slot with the reconfiguration.
    test_WriteDeviceConfig(root / "CURRENT_CONFIG" / "S5TEST", 2000);
    int32_t interval = 0;
    ASSERT_EQ(runtime->post(1, NC_RECONFIGURE), 0);
    ASSERT_EQ(runtime->post(1, NC_INITIALISE_VALUES), 0);
    // Each runs a cycle of its own and ends by rescheduling, which clears the initialising
    // flag that its start set.
    ASSERT_TRUE(test_WaitUntil([&] { return notifications() >= 2 && slot().initialising == 0; }));
    DeviceSlot s = slot();
    memcpy(&interval, s.deviceConfig, sizeof interval);
    EXPECT_EQ(interval, 2000);
    EXPECT_EQ(s.running, 1);
    // Nothing is left pending: one request, one more cycle.
    ASSERT_EQ(runtime->scan(1), 0) << runtime->lastError();
    EXPECT_EQ(notifications(), 3);
}

TEST_F(ScannerTest, ResetCountersWithoutCounterInputsReturnsAtOnce) {
    createRuntime();
    startReady();
    subscribe("T3");
    TimeStamp scheduled = slot().nextScan;
    ASSERT_EQ(runtime->post(1, NC_RESET_COUNTERS), 0);
    ASSERT_EQ(runtime->scan(1), 0) << runtime->lastError();
    EXPECT_EQ(notifications(), 1);
    EXPECT_EQ(slot().nextScan.seconds, scheduled.seconds);
    EXPECT_EQ(slot().initialising, 0);
}

TEST_F(ScannerTest, StopMarksEveryChannelBadClearsRunningAndExitsWithZero) {
    createRuntime();
    startReady();
    ASSERT_EQ(runtime->scan(1), 0) << runtime->lastError();
    int status = -1;
    ASSERT_EQ(runtime->stop(1, &status), 0) << runtime->lastError();
    EXPECT_EQ(status, 0);
    for (const char *id : {"T1", "T2", "T3"}) {
        std::vector<uint32_t> statuses = runtime->statuses(id);
        ASSERT_FALSE(statuses.empty()) << id;
        for (uint32_t s : statuses)
            EXPECT_EQ(s & 0x20u, 0x20u) << id;
    }
    EXPECT_EQ(slot().running, 0);
}

TEST_F(ScannerTest, ACounterInputTableKeepsTheDeviceInitialisingUntilStopped) {
    writeDeviceFolder(root / "CURRENT_CONFIG" / "S5TEST", {{"ci", 2}});
    createRuntime(" ci=T4", "table T4 8 2\n");
    ASSERT_EQ(runtime->start(1), 0) << runtime->lastError();
    ASSERT_TRUE(test_WaitUntil([&] {
        DeviceSlot s = slot();
        return s.configured == 1 && s.initialising == 1;
    }));
    // It keeps reporting while it retries.
    ASSERT_TRUE(test_WaitUntil(
        [&] { return statusTexts().find("CAN'T INITIALISE DEVICE -0050") != std::string::npos; }));
    int status = -1;
    ASSERT_EQ(runtime->stop(1, &status), 0) << runtime->lastError();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(slot().running, 0);
}

TEST_F(ScannerTest, WrongArgumentsOrAnUnknownDeviceEndAtOnceWithZero) {
    createRuntime();
    EXPECT_EQ(runScanner({}), 0);
    EXPECT_EQ(runScanner({"1", "2"}), 0);
    EXPECT_EQ(runScanner({"0"}), 0);
    EXPECT_EQ(runScanner({"65536"}), 0);
    EXPECT_EQ(runScanner({"abc"}), 0);
    EXPECT_EQ(runScanner({"7"}), 0);
    // None of them touched the slot of device 1.
    EXPECT_EQ(slot().running, 0);
    EXPECT_EQ(slot().pid, 0);
}

TEST_F(ScannerTest, AMissingChannelFileEndsTheStartWithItsError) {
    createRuntime();
    fs::remove(root / "CURRENT_CONFIG" / "S5TEST" / "di");
    ASSERT_EQ(runtime->start(1), 0) << runtime->lastError();
    int status = -1;
    ASSERT_EQ(runtime->waitExit(1, &status), 0) << runtime->lastError();
    EXPECT_EQ(status, 2);
    EXPECT_EQ(slot().running, 0);
    std::string text = statusTexts();
    EXPECT_NE(text.find("CAN'T READ CONFIGURATION -0002"), std::string::npos) << text;
}

TEST_F(ScannerTest, TheOlderLayoutAndPlatformRunTheSameCycle) {
    for (int platform : {2, 1}) {
        SCOPED_TRACE(platform);
        // A namespace of its own: segments stay mapped in this process under their prefix.
        prefix = test_UseUniqueIpcPrefix(("layout" + std::to_string(platform)).c_str());
        setenv("KVT_PLATFORM_ID", std::to_string(platform).c_str(), 1);
        plat_OverridePlatformId(platform);
        createRuntime("", platform == 2 ? "layout old\n" : "");
        startReady();
        subscribe("T2");
        ASSERT_EQ(runtime->scan(1), 0) << runtime->lastError();
        ASSERT_EQ(runtime->scan(1), 0) << runtime->lastError();
        EXPECT_EQ(notifications(), 2);
        int status = -1;
        ASSERT_EQ(runtime->stop(1, &status), 0) << runtime->lastError();
        EXPECT_EQ(status, 0);
        runtime.reset();
        test_RemoveIpcObjects(prefix);
    }
    unsetenv("KVT_PLATFORM_ID");
    plat_OverridePlatformId(0);
}

// Every shared-memory object of the prefix but the mutexes, by name.
std::map<std::string, std::vector<uint8_t>> snapshot(const std::string &prefix) {
    std::map<std::string, std::vector<uint8_t>> out;
    for (const auto &entry : fs::directory_iterator("/dev/shm")) {
        std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size() + 1, prefix + ".") != 0) continue;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mut") == 0) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        out[name.substr(prefix.size() + 1)].assign(std::istreambuf_iterator<char>(in),
                                                   std::istreambuf_iterator<char>());
    }
    return out;
}

// The bytes of one object the scanner may change: the lock bookkeeping of the segment
// header, the pending counts of subscriber entries, the notify entries it requested (or
// whose code it was sent), and, per object, the fields the scanner owns.
struct Owned {
    std::vector<std::pair<size_t, size_t>> ranges; // [from, to) from the start of the object
    bool has(size_t at) const {
        for (const auto &[from, to] : ranges)
            if (at >= from && at < to) return true;
        return false;
    }
};

Owned ownedBytes(const std::string &name, const std::vector<uint8_t> &before,
                 const std::vector<uint8_t> &after, uint32_t scannerPid) {
    Owned o;
    o.ranges = {{108, 112}, {116, 120}};
    SegmentHeader h;
    memcpy(&h, before.data(), sizeof h);
    // Tables, as the undamaged offsets place them (platform id 2).
    int64_t sub = h.subscriberOffset, notify = h.notifyOffset;
    for (int i = 0; i < SHM_SUBSCRIBERS; ++i) {
        o.ranges.push_back({sub + 6 * i + 4, sub + 6 * i + 6});
        o.ranges.push_back({sub + 60 + 8 * i + 6, sub + 60 + 8 * i + 8});
    }
    auto pidAt = [&](const std::vector<uint8_t> &bytes, size_t at, size_t size) {
        uint32_t pid = 0;
        if (at + size <= bytes.size()) memcpy(&pid, bytes.data() + at, size);
        return pid;
    };
    for (int i = 0; i < SHM_NOTIFIES; ++i) {
        size_t s = notify + 4 * i, l = notify + 128 + 8 * i;
        // Requests of the scanner and of the runtime stand-in in this process.
        for (uint32_t owner : {scannerPid, static_cast<uint32_t>(getpid())}) {
            uint32_t mine = owner & 0xFFFF;
            if (pidAt(before, s, 2) == mine || pidAt(after, s, 2) == mine)
                o.ranges.push_back({s, s + 4});
            if (pidAt(before, l, 4) == owner || pidAt(after, l, 4) == owner)
                o.ranges.push_back({l, l + 8});
        }
        if (pidAt(after, s, 2) == 0) o.ranges.push_back({s + 2, s + 4}); // code of a sent one
        if (pidAt(after, l, 4) == 0) o.ranges.push_back({l + 4, l + 6});
    }
    // The device's tables: T1 analogue with runtime records (4), T2 digital (8), T3 digital (3).
    const std::map<std::string, size_t> perTable = {
        {"dm_T1", 4 * (8 + 264)}, {"dm_T2", 8 * 4}, {"dm_T3", 3 * 4}};
    const std::map<std::string, size_t> channels = {{"dm_T1", 4}, {"dm_T2", 8}, {"dm_T3", 3}};
    const size_t p = SHM_HEADER_SIZE;
    if (perTable.count(name) != 0) {
        o.ranges.push_back({p + 6, p + 20 + perTable.at(name)}); // status, duration, stamp, values
    } else if (name.size() > 5 && perTable.count(name.substr(0, 5)) != 0) {
        size_t n = channels.at(name.substr(0, 5));
        if (name.substr(5) == "_conf") o.ranges.push_back({p, p + 216 * n});
        if (name.substr(5) == "_event") o.ranges.push_back({p, p + 3 * ((n + 7) / 8)});
    } else if (name == "dm_device") {
        o.ranges.push_back({p + 4 + 58, p + 4 + 788}); // device 1: all but its identity
    } else if (name == "dm_errors") {
        // The entries that name the device afterwards (two short, then two long ones).
        for (int i = 0; i < 2; ++i) {
            size_t s = p + 4 + 57 * i, l = p + 4 + 57 * 2 + 386 * i;
            if (s + 57 <= after.size() && strncmp((const char *)&after[s + 1], "PRESS-1", 25) == 0)
                o.ranges.push_back({s, s + 57});
            if (l + 386 <= after.size() &&
                strncmp((const char *)&after[l + 1], "PRESS-1", 130) == 0)
                o.ranges.push_back({l, l + 386});
        }
    }
    return o;
}

// Each object byte for byte as before, apart from what the scanner owns.
void expectOnlyOwnedChanged(const std::map<std::string, std::vector<uint8_t>> &before,
                            const std::map<std::string, std::vector<uint8_t>> &after,
                            uint32_t scannerPid) {
    for (const auto &[name, b] : before) {
        auto found = after.find(name);
        ASSERT_NE(found, after.end()) << name;
        const std::vector<uint8_t> &a = found->second;
        ASSERT_EQ(a.size(), b.size()) << name;
        Owned owned = ownedBytes(name, b, a, scannerPid);
        for (size_t i = 0; i < b.size(); ++i)
            if (a[i] != b[i] && !owned.has(i)) {
                ADD_FAILURE() << name << " changed at " << i << ": " << int(b[i]) << " -> "
                              << int(a[i]);
                break;
            }
    }
}

TEST_F(ScannerTest, AHeaderClaimingMoreChannelsThanItsSegmentHoldsStaysInsideIt) {
    // The three-channel table T3 damaged three ways: its header's count and payload length
    // claim 60000 channels; its configuration segment's length and the header's count claim
    // 60000 records; its payload length alone claims more than the segment holds.
    enum Damage { CountAndLength, ConfLength, LengthOnly };
    for (Damage damage : {CountAndLength, ConfLength, LengthOnly}) {
        SCOPED_TRACE(damage);
        prefix = test_UseUniqueIpcPrefix(("overstated" + std::to_string(damage)).c_str());
        createRuntime();
        subscribe("T3");
        uint8_t *payload = shm_Payload(counted);
        uint16_t claimed = 60000;
        if (damage != LengthOnly) memcpy(payload + 4, &claimed, sizeof claimed);
        if (damage != ConfLength) counted->payloadLength = 20 + 4 * claimed;
        if (damage == ConfLength) {
            SegmentHeader *conf = shm_OpenSegment("dm_T3_conf");
            ASSERT_NE(conf, SHM_NO_SEGMENT);
            conf->payloadLength = 216 * claimed;
        }
        std::map<std::string, std::vector<uint8_t>> before = snapshot(prefix);
        int status = -1;
        ASSERT_EQ(runtime->start(1), 0) << runtime->lastError();
        uint32_t pid = static_cast<uint32_t>(runtime->scannerPid(1));
        if (damage == LengthOnly) {
            ASSERT_EQ(runtime->waitReady(1), 0) << runtime->lastError();
            ASSERT_EQ(runtime->scan(1), 0) << runtime->lastError();
            ASSERT_EQ(runtime->stop(1, &status), 0) << runtime->lastError();
            EXPECT_EQ(status, 0);
            // Marked bad at the start, the first scan, the one requested and the stop.
            EXPECT_EQ(notifications(), 4);
        } else {
            ASSERT_EQ(runtime->waitExit(1, &status), 0) << runtime->lastError();
            EXPECT_EQ(status, 67);
            EXPECT_NE(runtime->errorTexts().find("CAN'T READ CONFIGURATION -0067"),
                      std::string::npos)
                << runtime->errorTexts();
            // Marking the channels bad on the way out counts once.
            EXPECT_EQ(notifications(), 1);
        }
        EXPECT_EQ(slot().running, 0);
        for (int c = 0; c < 3; ++c) {
            uint32_t s;
            memcpy(&s, payload + 20 + 4 * c, sizeof s);
            EXPECT_EQ(s & 0x20u, 0x20u) << c;
        }
        expectOnlyOwnedChanged(before, snapshot(prefix), pid);
        counted = nullptr;
        runtime.reset();
        plc.reset();
        test_RemoveIpcObjects(prefix);
    }
}
