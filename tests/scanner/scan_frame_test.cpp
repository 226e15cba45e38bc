#include "scan.h"

#include "alm.h"
#include "dmw.h"
#include "msl.h"
#include "runtime_tables.h"
#include "shm.h"
#include "test_ipc.h"
#include "ts.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace cs = ChannelStatusBits;

namespace {
void resetRequests() {
    g_scan.running = 1;
    g_scan.pendingScans = 0;
    g_scan.reconfigure = 0;
    g_scan.initialiseValues = 0;
    g_scan.resetCounters = 0;
}

TimeStamp plusMs(TimeStamp t, int64_t ms) {
    ts_AddMs(&t, ms);
    return t;
}

int64_t diffMs(const TimeStamp &a, const TimeStamp &b) {
    return (static_cast<int64_t>(a.seconds) - b.seconds) * 1000 + a.milliseconds - b.milliseconds;
}
} // namespace

TEST(ScanStartup, TypeNameIsCutAtTheLastUnderscoreThenAfterTheLastSeparator) {
    EXPECT_EQ(scan_TypeName("/opt/kvt/bin/KSTRN_SC"), "KSTRN");
    EXPECT_EQ(scan_TypeName("C:\\KVT\\BIN\\KSTRN_SC.EXE"), "KSTRN");
    EXPECT_EQ(scan_TypeName("KSTRN_SC"), "KSTRN");
    EXPECT_EQ(scan_TypeName("/opt/my_kvt/KSTRN_X_SC"), "KSTRN_X");
    EXPECT_EQ(scan_TypeName("/opt/kvt/KSTRNSC"), "");
    // Cut first, then the separator: an underscore only in the folder gives the folder's tail.
    EXPECT_EQ(scan_TypeName("/opt/my_kvt/KSTRNSC"), "my");
    EXPECT_EQ(scan_TypeName(nullptr), "");
}

TEST(ScanStartup, DeviceNumberReadsLeadingDigitsAndKeepsTheLow16Bits) {
    EXPECT_EQ(scan_DeviceNumber("7"), 7);
    EXPECT_EQ(scan_DeviceNumber(" 12abc"), 12);
    EXPECT_EQ(scan_DeviceNumber("abc"), 0);
    EXPECT_EQ(scan_DeviceNumber(""), 0);
    EXPECT_EQ(scan_DeviceNumber("65536"), 0);
    EXPECT_EQ(scan_DeviceNumber("65537"), 1);
    EXPECT_EQ(scan_DeviceNumber("-1"), 65535);
    EXPECT_EQ(scan_DeviceNumber("99999999999999999999"), scan_DeviceNumber("99999999999999999999"));
}

TEST(ScanMessages, OnlyTheFiveRuntimeCodesChangeTheState) {
    resetRequests();
    for (int code :
         {int(NC_DATA_CHANGED), int(NC_VALUES_WRITTEN), 0, -1, 301, int(NC_LOGGER_EVENTS)})
        scan_OnMessage(code);
    EXPECT_EQ(g_scan.pendingScans.load(), 0);
    EXPECT_EQ(g_scan.reconfigure.load() + g_scan.initialiseValues.load() +
                  g_scan.resetCounters.load(),
              0);
    EXPECT_EQ(g_scan.running.load(), 1);

    scan_OnMessage(NC_SCAN);
    scan_OnMessage(NC_SCAN);
    scan_OnMessage(NC_RECONFIGURE);
    scan_OnMessage(NC_RESET_COUNTERS);
    scan_OnMessage(NC_INITIALISE_VALUES);
    EXPECT_EQ(g_scan.pendingScans.load(), 2);
    EXPECT_EQ(g_scan.reconfigure.load(), 1);
    EXPECT_EQ(g_scan.resetCounters.load(), 1);
    EXPECT_EQ(g_scan.initialiseValues.load(), 1);
    scan_OnMessage(NC_STOP);
    EXPECT_EQ(g_scan.running.load(), 0);
    resetRequests();
}

class ScanSaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_scan.saveOutputs = 1;
        g_scan.saveRate = 1000;
        now = ts_Now();
    }
    void TearDown() override { g_scan.saveOutputs = 0; }
    TimeStamp now{};
};

TEST_F(ScanSaveTest, NothingIsDueWithinOnePeriodBeforeTheDueTime) {
    g_scan.nextSave = plusMs(now, 500);
    EXPECT_EQ(scan_SaveIsDue(now), 0);
    g_scan.nextSave = plusMs(now, 1000);
    EXPECT_EQ(scan_SaveIsDue(now), 0);
    g_scan.nextSave = now;
    EXPECT_EQ(scan_SaveIsDue(now), 0);
    g_scan.saveOutputs = 0;
    g_scan.nextSave = plusMs(now, -5000);
    EXPECT_EQ(scan_SaveIsDue(now), 0);
}

TEST_F(ScanSaveTest, ADueSaveMovesTheDueTimeOnByWholePeriods) {
    TimeStamp due = plusMs(now, -1500);
    g_scan.nextSave = due;
    ASSERT_EQ(scan_SaveIsDue(now), 1);
    scan_PeriodicSave(now);
    EXPECT_EQ(diffMs(g_scan.nextSave, due), 2000);
}

TEST_F(ScanSaveTest, AClockSetBackRestartsTheGridFromNow) {
    g_scan.nextSave = plusMs(now, 5000);
    ASSERT_EQ(scan_SaveIsDue(now), 1);
    scan_PeriodicSave(now);
    EXPECT_EQ(diffMs(g_scan.nextSave, now), 1000);
    // Forward by more than two periods as well.
    g_scan.nextSave = plusMs(now, -2500);
    scan_PeriodicSave(now);
    EXPECT_EQ(diffMs(g_scan.nextSave, now), 1000);
}

TEST_F(ScanSaveTest, ARateOfZeroIsDueWheneverTimeMoved) {
    g_scan.saveRate = 0;
    g_scan.nextSave = plusMs(now, -1);
    ASSERT_EQ(scan_SaveIsDue(now), 1);
    scan_PeriodicSave(now);
    EXPECT_EQ(diffMs(g_scan.nextSave, now), 0);
    EXPECT_EQ(scan_SaveIsDue(now), 0);
}

namespace {
constexpr int k_channels = 5;

// An analogue table with runtime records, created in this process's own IPC namespace.
class ScanMarkBadTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix = test_UseUniqueIpcPrefix("markbad");
        int32_t length = 20 + 8 * k_channels + 264 * k_channels;
        segment = shm_OpenOrCreateSegment("dm_T1", length);
        ASSERT_NE(segment, SHM_NO_SEGMENT);
        payload = shm_Payload(segment);
        memcpy(payload, "T1", 2);
        uint16_t valueSize = 8, count = k_channels;
        memcpy(payload + TABLE_VALUE_SIZE, &valueSize, 2);
        memcpy(payload + TABLE_COUNT, &count, 2);
        int32_t duration = 77;
        memcpy(payload + TABLE_DURATION, &duration, 4);
        for (int c = 0; c < k_channels; ++c) {
            uint32_t status = c % 2 == 0 ? 0x0847u | cs::CS_ANALOG : 0x0001u;
            memcpy(payload + 20 + 4 * c, &status, 4);
        }
        memset(slot, 0, sizeof slot);
        int32_t scanTime = 55;
        memcpy(slot + SLOT_SCAN_DURATION, &scanTime, 4);
        g_scan.slotBytes = slot;
        for (ScanKindState &k : g_scan.kinds)
            k = ScanKindState{};
        ScanKindState &ai = g_scan.kinds[SCAN_AI];
        ai.segment = segment;
        ai.payload = payload;
        ai.header = reinterpret_cast<ChannelTableHeader *>(payload);
        ai.statusCount = k_channels;
        ai.count = 3;
        ai.runtimeRecords = payload + 20 + 8 * k_channels;
    }
    void TearDown() override {
        for (ScanKindState &k : g_scan.kinds)
            k = ScanKindState{};
        g_scan.slotBytes = nullptr;
        test_RemoveIpcObjects(prefix);
    }
    uint32_t status(int c) {
        uint32_t s;
        memcpy(&s, payload + 20 + 4 * c, 4);
        return s;
    }
    std::string prefix;
    SegmentHeader *segment = nullptr;
    uint8_t *payload = nullptr;
    uint8_t slot[788];
};
} // namespace

TEST_F(ScanMarkBadTest, EveryChannelTurnsBadWithoutAlarmBitsAndTheHeaderCarriesTheCode) {
    scan_MarkAllBad(0x12345);
    EXPECT_EQ(errno, 0x12345);
    for (int c = 0; c < k_channels; ++c) {
        uint32_t expected =
            c % 2 == 0 ? 0x0001u | cs::CS_BAD | cs::CS_ANALOG : 0x0001u | cs::CS_BAD;
        EXPECT_EQ(status(c), expected) << c;
        uint16_t record;
        memcpy(&record, payload + 20 + 8 * k_channels + 264 * c, 2);
        EXPECT_EQ(record, 13) << c;
    }
    int16_t code;
    int32_t duration, scanTime;
    memcpy(&code, payload + TABLE_STATUS, 2);
    memcpy(&duration, payload + TABLE_DURATION, 4);
    memcpy(&scanTime, slot + SLOT_SCAN_DURATION, 4);
    EXPECT_EQ(code, 0x2345);
    EXPECT_EQ(duration, 0);
    EXPECT_EQ(scanTime, 0);
    // Only the header's lock bookkeeping was touched, and it is released again.
    EXPECT_EQ(segment->lockOwner, 0);
}

TEST_F(ScanMarkBadTest, LocalStatusesFollowTheSegmentOnceTheyExist) {
    std::vector<uint32_t> local(3, 0xFFFFFFFFu);
    g_scan.kinds[SCAN_AI].localStatuses = local.data();
    scan_MarkAllBad(0);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(local[c], status(c)) << c;
}

// The alarm process was told of every alarm a status holds, so each one dropped is ended:
// in force (0), acknowledged (2) or still in its delay (4).
TEST_F(ScanMarkBadTest, EveryAlarmTheStatusesDropIsEnded) {
    rt::makeProcesses({{"ALARM", "AL", 0, 1, 0, 0}});
    ASSERT_NE(shm_OpenOrCreateSegment("dm_T1_event", 3), SHM_NO_SEGMENT);
    rt::Reader alarms("xalarms");
    alm_Reset();
    uint32_t held[3] = {cs::CS_ALARM | cs::CS_ALARM_ON | cs::CS_ALARM_SHOWN,
                        cs::CS_ALARM | cs::CS_ALARM_HIGH | cs::CS_ALARM_SHOWN, cs::CS_ALARM};
    for (int i = 0; i < 3; ++i) {
        uint32_t status = held[i] | cs::CS_ANALOG;
        memcpy(payload + 20 + 4 * (2 * i), &status, 4);
    }
    scan_MarkAllBad(0);
    for (int i = 0; i < 3; ++i) {
        std::vector<uint8_t> m = alarms.next();
        ASSERT_EQ(m.size(), 296u) << i;
        uint16_t channel;
        uint32_t bits;
        memcpy(&channel, m.data() + 2, 2);
        memcpy(&bits, m.data() + 8, 4);
        EXPECT_EQ(channel, 2 * i + 1);
        EXPECT_EQ(bits, 1u | ((held[i] & cs::CS_ALARM_HIGH) != 0 ? 1u << 4 : 0u) | (1u << 3));
    }
    EXPECT_TRUE(alarms.empty());
    alm_Reset();
}

TEST(ScanRequests, TheThreeFlagsGoBeforePendingScansInTheirOrder) {
    resetRequests();
    for (int code : {int(NC_SCAN), int(NC_SCAN), int(NC_RESET_COUNTERS), int(NC_INITIALISE_VALUES),
                     int(NC_RECONFIGURE)})
        scan_OnMessage(code);
    EXPECT_EQ(scan_TakeRequest(), SCAN_REQUEST_RECONFIGURE);
    EXPECT_EQ(scan_TakeRequest(), SCAN_REQUEST_INITIALISE_VALUES);
    EXPECT_EQ(scan_TakeRequest(), SCAN_REQUEST_RESET_COUNTERS);
    EXPECT_EQ(scan_TakeRequest(), SCAN_REQUEST_SCAN);
    scan_OnMessage(NC_RECONFIGURE);
    EXPECT_EQ(scan_TakeRequest(), SCAN_REQUEST_RECONFIGURE);
    EXPECT_EQ(scan_TakeRequest(), SCAN_REQUEST_SCAN);
    EXPECT_EQ(scan_TakeRequest(), SCAN_REQUEST_NONE);
    EXPECT_EQ(g_scan.pendingScans.load(), 0);
    resetRequests();
}
