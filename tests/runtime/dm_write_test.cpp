#include "dmw.h"
#include "msl.h"
#include "plat_error.h"
#include "plat_system.h"
#include "table_fixture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <mutex>
#include <vector>

using namespace ChannelStatusBits;

namespace {
std::mutex g_lock;
std::vector<int> g_codes;
void recordCode(int code) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_codes.push_back(code);
}
int countOf(int code) {
    std::lock_guard<std::mutex> guard(g_lock);
    int n = 0;
    for (int c : g_codes)
        n += c == code;
    return n;
}

class ChannelWriters : public ::testing::Test, public TableFixtureBase {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> guard(g_lock);
            g_codes.clear();
        }
        msl_Open(recordCode);
        int32_t me = static_cast<int32_t>(plat_ProcessId());
        makeProcesses(
            {{"USERA", "UA", 0, 0, 0}, {"USERB", "UB", 1, 0, me}, {"USERC", "UC", 0, 1, 0}});
        makeTable("UA", 4, 4);
        makeTable("UB", 4, 4);
        makeTable("UC", 3, 8, true);
        for (int c = 1; c <= 4; ++c) {
            digital("UA", c);
            digital("UB", c);
        }
        for (int c = 1; c <= 3; ++c)
            analog("UC", c);
        dm_SetDigitalNotifyMode(0);
        dm_SetAnalogNotifyMode(0);
    }
    void TearDown() override { msl_Close(); }

    static ChannelRecord *digital(const char *id, int c) {
        ChannelRecord *r = record(id, c);
        chrec_SetType(r, CHANNEL_TYPE_DO);
        chrec_SetFlag(r, ChannelDigital::Enable, 1);
        return r;
    }
    static ChannelRecord *analog(const char *id, int c) {
        ChannelRecord *r = record(id, c);
        chrec_SetType(r, CHANNEL_TYPE_AO);
        chrec_SetFlag(r, ChannelAnalog::Enable, 1);
        return r;
    }
    static int write(const char *id, int c, float v) { return dm_WriteAnalog(id, c, c, &v); }
    static int runtimeCode(int c) {
        uint16_t code;
        memcpy(&code, dm_GetData("UC") + 20 + 8 * 3 + 264 * (c - 1), 2);
        return code;
    }
};

TEST_F(ChannelWriters, RangesOutsideTheTableChangeNothing) {
    uint32_t v[3] = {1, 1, 1};
    EXPECT_EQ(-1, dm_WriteDigital("UA", 3, 5, v));
    EXPECT_EQ(WERR_INVALID_PARAMETER, static_cast<uint32_t>(errno));
    EXPECT_EQ(0u, status("UA", 3));
    EXPECT_EQ(-1, dm_WriteDigital("UA", 0, 1, v));
    EXPECT_EQ(-1, dm_WriteDigital("UA", 2, 0, v));
    EXPECT_EQ(-1, dm_WriteDigital("ZZ", 1, 1, v));
    EXPECT_EQ(WERR_FILE_NOT_FOUND, static_cast<uint32_t>(errno));
    float f = 1;
    EXPECT_EQ(-1, dm_WriteAnalog("UA", 1, 1, &f)); // a digital table
    EXPECT_EQ(0, countOf(NC_DATA_CHANGED) + countOf(NC_VALUES_WRITTEN));
}

TEST_F(ChannelWriters, EmptyRangeWritesNothingButStillTellsOwnerAndSubscribers) {
    struct Case {
        const char *id;
        int first, last;
        int owner, subscribers; // codes 305 and 32 that the write sends
    };
    uint32_t v[4] = {1, 1, 1, 1};
    float f[4] = {5, 5, 5, 5};
    for (Case c : {Case{"UB", 3, 2, 1, 0}, Case{"UB", 4, 1, 1, 0}, Case{"UA", 2, 1, 0, 1},
                   Case{"UC", 3, 1, 0, 1}}) {
        {
            std::lock_guard<std::mutex> guard(g_lock);
            g_codes.clear();
        }
        shm_RequestNotify(dm_GetDataSegment(c.id), NC_DATA_CHANGED);
        bool analogue = c.id[1] == 'C';
        EXPECT_EQ(0, analogue ? dm_WriteAnalog(c.id, c.first, c.last, f)
                              : dm_WriteDigital(c.id, c.first, c.last, v))
            << c.id << " " << c.first << ".." << c.last;
        for (int ch = 1; ch <= 3; ++ch)
            EXPECT_EQ(0u, status(c.id, ch)) << c.id << " channel " << ch;
        EXPECT_EQ(c.owner, countOf(NC_VALUES_WRITTEN)) << c.id;
        EXPECT_EQ(c.subscribers, countOf(NC_DATA_CHANGED)) << c.id;
        shm_CancelNotify(dm_GetDataSegment(c.id));
    }
    // Past the table's ends stays refused, empty or not.
    EXPECT_EQ(-1, dm_WriteDigital("UB", 5, 4, v));
    EXPECT_EQ(WERR_INVALID_PARAMETER, static_cast<uint32_t>(errno));
}

TEST_F(ChannelWriters, TableWithoutRuntimeRecordsKeepsTheBytesBehindItsValues) {
    // An attributed analogue table whose payload ends with its values: the runtime records
    // would lie in the segment's subscriber tables.
    makeProcesses({{"USERE", "UE", 1, 1, 0}});
    SegmentHeader *seg = makeTable("UE", 2, 8);
    dm_ResetForTests();
    analog("UE", 1);
    const uint8_t *behind = shm_Payload(seg) + 20 + 8 * 2;
    const size_t size = 652 - 128; // to the end of the mapping
    std::vector<uint8_t> before(behind, behind + size);
    float x = 42.0f;
    ASSERT_EQ(0, dm_WriteAnalog("UE", 1, 1, &x));
    EXPECT_EQ(42.0f, value("UE", 1));
    EXPECT_EQ(before, std::vector<uint8_t>(behind, behind + size));
}

TEST_F(ChannelWriters, SmallConfigurationSegmentIsRefused) {
    makeProcesses({{"USERD", "UD", 0, 0, 0}});
    makeTable("UD", 4, 4, false, -216); // room for three records only
    dm_ResetForTests();
    uint32_t v[4] = {1, 1, 1, 1};
    EXPECT_EQ(0, dm_WriteDigital("UD", 1, 3, v));
    EXPECT_EQ(-1, dm_WriteDigital("UD", 1, 4, v));
}

TEST_F(ChannelWriters, DeviceStyleTableStoresOnlyAndTellsItsOwner) {
    uint32_t one = 1;
    setStatus("UB", 1, CS_BAD | CS_ALARM);
    ASSERT_EQ(0, dm_WriteDigital("UB", 1, 1, &one));
    EXPECT_EQ(CS_BAD | CS_ALARM | CS_STATE, status("UB", 1));
    EXPECT_EQ(1, countOf(NC_VALUES_WRITTEN));

    // Same state on a good channel: nothing written, but the owner is still told.
    setStatus("UB", 2, CS_STATE);
    ASSERT_EQ(0, dm_WriteDigital("UB", 2, 2, &one));
    EXPECT_EQ(CS_STATE, status("UB", 2));
    EXPECT_EQ(2, countOf(NC_VALUES_WRITTEN));
    EXPECT_EQ(0, countOf(NC_DATA_CHANGED));
}

TEST_F(ChannelWriters, ChannelsOfAnotherTypeAreSkipped) {
    chrec_SetType(record("UA", 2), CHANNEL_TYPE_DI);
    uint32_t v[3] = {1, 1, 1};
    ASSERT_EQ(0, dm_WriteDigital("UA", 1, 3, v));
    EXPECT_EQ(1u, status("UA", 1) & CS_STATE);
    EXPECT_EQ(0u, status("UA", 2));
    EXPECT_EQ(1u, status("UA", 3) & CS_STATE);
}

TEST_F(ChannelWriters, DigitalAlarmAndEventOfAnEvaluatedTable) {
    ChannelRecord *r = record("UA", 1);
    chrec_SetFlag(r, ChannelDigital::AlarmEnable, 1);
    chrec_SetFlag(r, ChannelDigital::AlarmState, 1);
    chrec_SetFlag(r, ChannelDigital::EventEnable, 1);
    chrec_SetFlag(r, ChannelDigital::EventState, 1);
    shm_RequestNotify(dm_GetDataSegment("UA"), NC_DATA_CHANGED);
    uint32_t one = 1, zero = 0;
    ASSERT_EQ(0, dm_WriteDigital("UA", 1, 1, &one));
    EXPECT_EQ(CS_STATE | CS_ALARM | CS_ALARM_HIGH | CS_ALARM_ON | CS_ALARM_SHOWN | CS_EVENT |
                  CS_EVENT_HIGH,
              status("UA", 1));
    EXPECT_EQ(1, countOf(NC_DATA_CHANGED));
    EXPECT_EQ(0, countOf(NC_VALUES_WRITTEN));

    ASSERT_EQ(0, dm_WriteDigital("UA", 1, 1, &zero));
    // The alarm ended: nothing of it stays.
    EXPECT_EQ(CS_EVENT_HIGH, status("UA", 1));

    // With a delay the alarm is neither in force nor shown, whatever the status had.
    chrec_Set(r, ChannelDigital::AlarmDelay, uint16_t{5});
    setStatus("UA", 1, CS_ALARM_ON | CS_ALARM_SHOWN);
    ASSERT_EQ(0, dm_WriteDigital("UA", 1, 1, &one));
    EXPECT_EQ(0u, status("UA", 1) & (CS_ALARM_ON | CS_ALARM_SHOWN));
    EXPECT_NE(0u, status("UA", 1) & CS_ALARM);
}

TEST_F(ChannelWriters, DisabledChannelIsMarkedBad) {
    chrec_SetFlag(record("UA", 1), ChannelDigital::Enable, 0);
    uint32_t one = 1;
    ASSERT_EQ(0, dm_WriteDigital("UA", 1, 1, &one));
    EXPECT_EQ(CS_BAD | CS_STATE, status("UA", 1));
    // Bad now and not forced: only the state follows.
    uint32_t zero = 0;
    ASSERT_EQ(0, dm_WriteDigital("UA", 1, 1, &zero));
    EXPECT_EQ(CS_BAD, status("UA", 1));
}

TEST_F(ChannelWriters, NotifyModeKeepsTheWriterOut) {
    uint32_t one = 1;
    dm_SetDigitalNotifyMode(1);
    shm_RequestNotify(dm_GetDataSegment("UA"), NC_DATA_CHANGED);
    ASSERT_EQ(0, dm_WriteDigital("UA", 1, 1, &one));
    EXPECT_EQ(0, countOf(NC_DATA_CHANGED));
    dm_SetDigitalNotifyMode(0);
    uint32_t zero = 0;
    ASSERT_EQ(0, dm_WriteDigital("UA", 1, 1, &zero));
    EXPECT_EQ(1, countOf(NC_DATA_CHANGED));
}

TEST_F(ChannelWriters, AnalogAlarmHoldsUntilTheDeadbandLevel) {
    ChannelRecord *r = record("UC", 1);
    chrec_SetFlag(r, ChannelAnalog::HighAlarmEnable, 1);
    chrec_SetFlag(r, ChannelAnalog::HighAlarmDeadbandEnable, 1);
    chrec_Set(r, ChannelAnalog::HighAlarmLimit, 100.0f);
    chrec_Set(r, ChannelAnalog::HighAlarmDeadband, 95.0f);
    ASSERT_EQ(0, write("UC", 1, 101.0f));
    EXPECT_EQ(CS_ANALOG | CS_ALARM | CS_ALARM_HIGH | CS_ALARM_ON | CS_ALARM_SHOWN, status("UC", 1));
    EXPECT_EQ(101.0f, value("UC", 1));
    ASSERT_EQ(0, write("UC", 1, 96.0f));
    EXPECT_NE(0u, status("UC", 1) & CS_ALARM);
    ASSERT_EQ(0, write("UC", 1, 94.0f));
    EXPECT_EQ(CS_ANALOG, status("UC", 1));
}

TEST_F(ChannelWriters, AnalogWarningUsesTheAlarmsDistance) {
    ChannelRecord *r = record("UC", 1);
    chrec_SetFlag(r, ChannelAnalog::HighAlarmEnable, 1);
    chrec_SetFlag(r, ChannelAnalog::HighWarningEnable, 1);
    chrec_SetFlag(r, ChannelAnalog::HighAlarmDeadbandEnable, 1);
    chrec_Set(r, ChannelAnalog::HighAlarmLimit, 100.0f);
    chrec_Set(r, ChannelAnalog::HighAlarmDeadband, 95.0f);
    chrec_Set(r, ChannelAnalog::HighWarningLimit, 90.0f);
    ASSERT_EQ(0, write("UC", 1, 91.0f));
    EXPECT_EQ(CS_WARNING | CS_WARNING_HIGH, status("UC", 1) & (CS_WARNING | CS_WARNING_HIGH));
    ASSERT_EQ(0, write("UC", 1, 86.0f));
    EXPECT_NE(0u, status("UC", 1) & CS_WARNING);
    ASSERT_EQ(0, write("UC", 1, 84.0f));
    EXPECT_EQ(0u, status("UC", 1) & CS_WARNING);
}

TEST_F(ChannelWriters, SignificantChangeComparesWithTheOldValue) {
    ChannelRecord *r = record("UC", 2);
    chrec_SetFlag(r, ChannelAnalog::SigChangeEnable, 1);
    chrec_Set(r, ChannelAnalog::SigChangeValue, -2.0f);
    ASSERT_EQ(0, write("UC", 2, 1.0f));
    EXPECT_EQ(0u, status("UC", 2) & CS_STATE);
    ASSERT_EQ(0, write("UC", 2, 3.0f));
    EXPECT_EQ(CS_STATE, status("UC", 2) & CS_STATE);
    ASSERT_EQ(0, write("UC", 2, 4.0f));
    EXPECT_EQ(0u, status("UC", 2) & CS_STATE);
}

TEST_F(ChannelWriters, EventsAndRuntimeRecords) {
    ChannelRecord *r = record("UC", 3);
    chrec_SetFlag(r, ChannelAnalog::EventEnable, 1);
    chrec_Set(r, ChannelAnalog::HighEventLimit, 10.0f);
    chrec_Set(r, ChannelAnalog::LowEventLimit, 0.0f);
    ASSERT_EQ(0, write("UC", 3, 10.0f));
    EXPECT_EQ(CS_EVENT | CS_EVENT_HIGH, status("UC", 3) & (CS_EVENT | CS_EVENT_HIGH));
    ASSERT_EQ(0, write("UC", 3, 5.0f));
    EXPECT_EQ(0u, status("UC", 3) & CS_EVENT);
    ASSERT_EQ(0, write("UC", 3, 0.0f));
    EXPECT_EQ(CS_EVENT, status("UC", 3) & (CS_EVENT | CS_EVENT_HIGH));
    EXPECT_EQ(DM_RUNTIME_CODE_WRITTEN, runtimeCode(3));
    EXPECT_EQ(0, runtimeCode(1));
}

TEST_F(ChannelWriters, NanIsAlwaysWrittenAndForceReevaluates) {
    float nan = std::nanf("");
    ASSERT_EQ(0, write("UC", 1, nan));
    EXPECT_TRUE(std::isnan(value("UC", 1)));
    ChannelRecord *r = record("UC", 1);
    chrec_SetFlag(r, ChannelAnalog::HighAlarmEnable, 1);
    chrec_Set(r, ChannelAnalog::HighAlarmLimit, 5.0f);
    float v = 6.0f;
    ASSERT_EQ(0, dm_WriteAnalog("UC", 1, 1, &v));
    uint32_t held = CS_ANALOG | CS_ALARM | CS_ALARM_HIGH;
    // The operator acknowledged: "on" and "shown" cleared in the segment. A plain write of
    // the same value leaves them; a forced one sends the alarm again and sets them.
    setStatus("UC", 1, held);
    ASSERT_EQ(0, dm_WriteAnalog("UC", 1, 1, &v));
    EXPECT_EQ(held, status("UC", 1));
    ASSERT_EQ(0, dm_ForceWriteAnalog("UC", 1, 1, &v));
    EXPECT_EQ(held | CS_ALARM_ON | CS_ALARM_SHOWN, status("UC", 1));
}

} // namespace
