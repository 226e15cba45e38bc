#include "alm.h"

#include "dmw.h"
#include "msl.h"
#include "plat_shm.h"
#include "runtime_tables.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using namespace ChannelStatusBits;

namespace {
constexpr int32_t k_logger0 = 900001;
constexpr int32_t k_logger1 = 900002;
constexpr int32_t k_logger2 = 900003;

uint32_t u32(const std::vector<uint8_t> &m, size_t at) {
    uint32_t v;
    memcpy(&v, m.data() + at, 4);
    return v;
}
uint16_t u16(const std::vector<uint8_t> &m, size_t at) {
    uint16_t v;
    memcpy(&v, m.data() + at, 2);
    return v;
}

class Alarms : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        std::string prefix =
            "kvtt-alm-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
        setenv("KVT_IPC_PREFIX", prefix.c_str(), 1);
        plat_ShmUnlinkAll();
        alm_Reset();
        rt::makeDevices({{"KSTRN", 1, "press", {"AI", "DI", nullptr, nullptr, nullptr}, 0}});
        table = rt::makeTable("AI", 16, true);
        rt::makeTable("DI", 12, false);
    }
    void TearDown() override {
        alm_Reset();
        plat_ShmUnlinkAll();
    }
    void processes(uint8_t alarmEnabled, uint8_t derivedEnabled) {
        rt::makeProcesses(
            {{"ALARM", "AL", 0, alarmEnabled, 0, 0}, {"DERIVED", "DV", 0, derivedEnabled, 0, 0}});
    }
    rt::Table table{};
};
} // namespace

TEST_F(Alarms, AlarmStartCarriesEveryFieldAtItsOffset) {
    processes(1, 0);
    rt::Reader alarms("xalarms");
    ASSERT_EQ(alm_BeginDevice(table.header), 0);
    float value = 101.5f;
    uint32_t status = CS_ALARM | CS_ALARM_HIGH | CS_ANALOG | CS_BAD;
    ASSERT_EQ(alm_SendErrorAlarm(2, status, 1, 5, 7, "HOST", "operator", &value), 0);
    ASSERT_EQ(alm_EndDevice(), 0);
    std::vector<uint8_t> m = alarms.next();
    ASSERT_EQ(m.size(), 296u);
    EXPECT_EQ(m[0], 'A');
    EXPECT_EQ(m[1], 'I');
    EXPECT_EQ(u16(m, 2), 0x8003); // channel 3, bad
    EXPECT_EQ(u16(m, 4), 7);
    EXPECT_EQ(u32(m, 8), (5u << 7) | (1u << 5) | (1u << 4) | (1u << 3));
    float carried;
    memcpy(&carried, m.data() + 12, 4);
    EXPECT_EQ(carried, 101.5f);
    EXPECT_STREQ(reinterpret_cast<const char *>(m.data() + 16), "HOST");
    EXPECT_STREQ(reinterpret_cast<const char *>(m.data() + 32), "operator");
    EXPECT_EQ(u32(m, 292), 0u);
    for (size_t i = 65; i < 292; ++i)
        ASSERT_EQ(m[i], 0) << i;
}

TEST_F(Alarms, EndsAndWarningsSetTheirKindAndOnlyAlarmsMarkBadChannels) {
    processes(1, 0);
    rt::Reader alarms("xalarms");
    ASSERT_EQ(alm_BeginDevice(table.header), 0);
    uint32_t bad = CS_BAD | CS_ALARM_HIGH | CS_WARNING_HIGH | CS_ANALOG;
    EXPECT_EQ(alm_SendErrorAlarmEnd(0, bad, "H", "U", nullptr), 0);
    EXPECT_EQ(alm_SendLimitAlarm(1, bad, 9, "H", "U", nullptr), 0);
    EXPECT_EQ(alm_SendLimitAlarmEnd(15, CS_BAD, "H", "U", nullptr), 0);
    alm_EndDevice();

    std::vector<uint8_t> end = alarms.next();
    ASSERT_EQ(end.size(), 296u);
    EXPECT_EQ(u16(end, 2), 0x8001);
    EXPECT_EQ(u32(end, 8), 1u | (1u << 4) | (1u << 3));
    EXPECT_EQ(u32(end, 12), ALM_NO_VALUE);

    std::vector<uint8_t> warning = alarms.next();
    ASSERT_EQ(warning.size(), 296u);
    EXPECT_EQ(u16(warning, 2), 2); // never marked bad
    EXPECT_EQ(u32(warning, 8), 4u | (9u << 7) | (1u << 4) | (1u << 3));

    std::vector<uint8_t> warningEnd = alarms.next();
    ASSERT_EQ(warningEnd.size(), 296u);
    EXPECT_EQ(u16(warningEnd, 2), 16);
    EXPECT_EQ(u32(warningEnd, 8), 5u); // digital, low side
}

TEST_F(Alarms, OverlongNamesAndTextsAreCutInsideTheirFields) {
    processes(1, 0);
    rt::Reader alarms("xalarms");
    std::string computer(40, 'C'), user(300, 'U'), text(400, 'T');
    EXPECT_EQ(alm_SendText("AI", 42, computer.c_str(), user.c_str(), text.c_str()), 0);
    std::vector<uint8_t> m = alarms.next();
    ASSERT_EQ(m.size(), 296u);
    EXPECT_EQ(u16(m, 2), 42);
    EXPECT_EQ(u32(m, 8), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(m.data() + 16)), std::string(15, 'C'));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(m.data() + 32)), std::string(32, 'U'));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(m.data() + 65)), std::string(226, 'T'));
    EXPECT_EQ(u32(m, 292), 0u);

    ASSERT_EQ(alm_SendSystemMessage("H", user.c_str()), 0);
    std::vector<uint8_t> sys = alarms.next();
    ASSERT_EQ(sys.size(), 296u);
    EXPECT_EQ(sys[0], ' ');
    EXPECT_EQ(sys[1], ' ');
    EXPECT_EQ(u16(sys, 2), 0);
    EXPECT_EQ(u32(sys, 8), 3u);
    EXPECT_EQ(sys[64], 0);
}

TEST_F(Alarms, ChannelsOutsideThePassAreRefusedWithoutEffect) {
    processes(1, 1);
    rt::Reader alarms("xalarms");
    rt::Reader derived("derived");
    rt::Reader logger(msl_ProcessSlotName(k_logger0));
    rt::makeLoggers({{"L0", 1, k_logger0}});
    for (int c = 0; c < 16; ++c) {
        rt::markChannel(table, 0, c);
        rt::markChannel(table, 1, c);
    }
    EXPECT_EQ(alm_SendErrorAlarm(0, 0, 0, 0, 0, "H", "U", nullptr), -1); // no pass yet
    EXPECT_EQ(alm_EndDevice(), -1);
    ASSERT_EQ(alm_BeginDevice(table.header), 0);
    EXPECT_EQ(alm_SendErrorAlarm(16, 0, 0, 0, 0, "H", "U", nullptr), -1);
    EXPECT_EQ(alm_SendErrorAlarmEnd(-1, 0, "H", "U", nullptr), -1);
    EXPECT_EQ(alm_SendLimitAlarm(16, 0, 0, "H", "U", nullptr), -1);
    EXPECT_EQ(alm_SendLimitAlarmEnd(16, 0, "H", "U", nullptr), -1);
    EXPECT_EQ(alm_CountEventStart(16), -1);
    EXPECT_EQ(alm_CountEventEnd(16), -1);
    EXPECT_EQ(alm_CountSignificantChange(16), -1);
    EXPECT_EQ(alm_CountDerived(16), -1);
    EXPECT_EQ(alm_EndDevice(), 0);
    EXPECT_TRUE(alarms.empty());
    EXPECT_TRUE(derived.empty());
    EXPECT_TRUE(logger.empty());
}

TEST_F(Alarms, LoggersGetOneCodePerPassFromTheirCounters) {
    processes(0, 0);
    rt::makeLoggers({{"L0", 1, k_logger0}, {"L1", 1, k_logger1}, {"L2", 0, k_logger2}});
    rt::Reader l0(msl_ProcessSlotName(k_logger0));
    rt::Reader l1(msl_ProcessSlotName(k_logger1));
    rt::Reader l2(msl_ProcessSlotName(k_logger2));
    rt::markChannel(table, 1, 3); // logger 0 logs channel 3
    rt::markChannel(table, 2, 9); // logger 1 logs channel 9
    rt::markChannel(table, 3, 3); // logger 2 (inactive) logs channel 3

    ASSERT_EQ(alm_BeginDevice(table.header), 0);
    alm_CountSignificantChange(3);
    alm_CountSignificantChange(3);
    alm_CountEventStart(3);
    alm_CountEventStart(9);
    alm_CountEventEnd(9); // started and ended: logger 1 hears nothing
    ASSERT_EQ(alm_EndDevice(), 0);

    std::vector<uint8_t> code = l0.next();
    ASSERT_EQ(code.size(), 4u);
    EXPECT_EQ(u32(code, 0), 0x80030D40u + 1);
    EXPECT_TRUE(l0.empty());
    EXPECT_TRUE(l1.empty());
    EXPECT_TRUE(l2.empty());

    // Counters start again at zero, and an ended event alone gives base - 1.
    ASSERT_EQ(alm_BeginDevice(table.header), 0);
    alm_CountEventEnd(3);
    alm_CountEventEnd(9);
    ASSERT_EQ(alm_EndDevice(), 0);
    code = l0.next();
    ASSERT_EQ(code.size(), 4u);
    EXPECT_EQ(u32(code, 0), 200000u - 1);
    code = l1.next();
    ASSERT_EQ(code.size(), 4u);
    EXPECT_EQ(u32(code, 0), 200000u - 1);
}

TEST_F(Alarms, BitsOutsideTheRowReadAsClear) {
    processes(0, 0);
    // 12 channels: rows of 12 >> 3 = 1 byte, so channels 8..11 are never logged.
    rt::Table di = rt::makeTable("DI", 12, false);
    rt::makeLoggers({{"L0", 1, k_logger0}});
    rt::Reader l0(msl_ProcessSlotName(k_logger0));
    di.rows[1] = 0xFF;
    di.rows[2] = 0xFF; // what a wider row would hold for channels 8..15
    ASSERT_EQ(alm_BeginDevice(di.header), 0);
    alm_CountEventStart(9);
    alm_CountEventStart(11);
    ASSERT_EQ(alm_EndDevice(), 0);
    EXPECT_TRUE(l0.empty());

    ASSERT_EQ(alm_BeginDevice(di.header), 0);
    alm_CountEventStart(7);
    ASSERT_EQ(alm_EndDevice(), 0);
    std::vector<uint8_t> code = l0.next();
    ASSERT_EQ(code.size(), 4u);
    EXPECT_EQ(u32(code, 0), 200001u);
}

TEST_F(Alarms, RowsThatDoNotFitTheEventPayloadCountNothing) {
    processes(0, 0);
    // 16 channels: rows of 2 bytes. A payload of 5 bytes holds rows 0 and 1 (logger 0) and
    // one byte of row 2 (logger 1); row 3 (logger 2) lies wholly behind it.
    SegmentHeader *event = shm_OpenOrCreateSegment("dm_EV_event", 5);
    rt::Table t = rt::makeTable("EV", 16, false);
    ASSERT_EQ(t.event, event);
    rt::makeLoggers({{"L0", 1, k_logger0}, {"L1", 1, k_logger1}, {"L2", 1, k_logger2}});
    rt::Reader l0(msl_ProcessSlotName(k_logger0));
    rt::Reader l1(msl_ProcessSlotName(k_logger1));
    rt::Reader l2(msl_ProcessSlotName(k_logger2));
    rt::markChannel(t, 1, 3);
    memset(t.rows + 4, 0xFF, 4); // row 2's byte inside the payload and what lies behind it
    ASSERT_EQ(alm_BeginDevice(t.header), 0);
    alm_CountEventStart(3);
    alm_CountEventStart(12);
    ASSERT_EQ(alm_EndDevice(), 0);
    std::vector<uint8_t> code = l0.next();
    ASSERT_EQ(code.size(), 4u);
    EXPECT_EQ(u32(code, 0), 200001u);
    EXPECT_TRUE(l1.empty());
    EXPECT_TRUE(l2.empty());
}

TEST_F(Alarms, DerivedProcessHearsTheTableIdOncePerPass) {
    processes(1, 1);
    rt::Reader alarms("xalarms");
    rt::Reader derived("derived");
    rt::markChannel(table, 0, 4);
    ASSERT_EQ(alm_BeginDevice(table.header), 0);
    EXPECT_EQ(alm_CountDerived(3), 0);
    alm_CountEventStart(4);
    alm_SendErrorAlarm(4, CS_ANALOG, 0, 1, 0, "H", "U", nullptr);
    alm_SendLimitAlarm(4, CS_ANALOG, 1, "H", "U", nullptr); // warnings are not derived
    ASSERT_EQ(alm_EndDevice(), 0);
    std::vector<uint8_t> id = derived.next();
    ASSERT_EQ(id.size(), 2u);
    EXPECT_EQ(id[0], 'A');
    EXPECT_EQ(id[1], 'I');
    EXPECT_TRUE(derived.empty());

    // A pass with only a warning on a derived channel tells nobody.
    ASSERT_EQ(alm_BeginDevice(table.header), 0);
    alm_SendLimitAlarmEnd(4, CS_ANALOG, "H", "U", nullptr);
    ASSERT_EQ(alm_EndDevice(), 0);
    EXPECT_TRUE(derived.empty());
}

TEST_F(Alarms, MissingOrDisabledAlarmProcessDropsMessagesUntilItAppears) {
    rt::Reader alarms("xalarms");
    processes(0, 0);
    ASSERT_EQ(alm_BeginDevice(table.header), 0);
    EXPECT_EQ(alm_SendErrorAlarm(0, 0, 0, 0, 0, "H", "U", nullptr), 0);
    EXPECT_TRUE(alarms.empty());
    processes(1, 0); // enabled while the scanner runs
    EXPECT_EQ(alm_SendErrorAlarm(1, 0, 0, 0, 0, "H", "U", nullptr), 0);
    alm_EndDevice();
    std::vector<uint8_t> m = alarms.next();
    ASSERT_EQ(m.size(), 296u);
    EXPECT_EQ(u16(m, 2), 2);
    EXPECT_TRUE(alarms.empty());
}

TEST_F(Alarms, AlarmProcessThatStartsLateOrRestartsGetsTheNextMessages) {
    processes(1, 0);
    rt::Reader alarms("xalarms");
    alarms.unbind();
    ASSERT_EQ(alm_BeginDevice(table.header), 0);
    EXPECT_EQ(alm_SendErrorAlarm(0, 0, 0, 0, 0, "H", "U", nullptr), 0); // nobody listens
    ASSERT_TRUE(alarms.bind());
    EXPECT_EQ(alm_SendErrorAlarm(1, 0, 0, 0, 0, "H", "U", nullptr), 0);
    std::vector<uint8_t> m = alarms.next();
    ASSERT_EQ(m.size(), 296u);
    EXPECT_EQ(u16(m, 2), 2);

    alarms.unbind(); // the alarm process restarts
    EXPECT_EQ(alm_SendErrorAlarm(2, 0, 0, 0, 0, "H", "U", nullptr), -1);
    ASSERT_TRUE(alarms.bind());
    EXPECT_EQ(alm_SendErrorAlarm(3, 0, 0, 0, 0, "H", "U", nullptr), 0);
    alm_EndDevice();
    m = alarms.next();
    ASSERT_EQ(m.size(), 296u);
    EXPECT_EQ(u16(m, 2), 4);
}

TEST_F(Alarms, PassWithoutEventSegmentFails) {
    rt::makeDevices({{"KSTRN", 1, "press", {"AI", "DI", "AO", nullptr, nullptr}, 0}});
    dm_ResetForTests();
    shm_OpenOrCreateSegment("dm_AO", 20);
    ChannelTableHeader header{};
    memcpy(header.tableId, "AO", 2);
    header.channelCount = 8;
    EXPECT_EQ(alm_BeginDevice(&header), -1);
    EXPECT_EQ(alm_CountEventStart(0), -1);
}
