#include "chp.h"

#include "alm.h"
#include "chrec.h"
#include "dmw.h"
#include "msl.h"
#include "plat_shm.h"
#include "runtime_tables.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace cs = ChannelStatusBits;
namespace an = ChannelAnalog;
namespace dg = ChannelDigital;

// Bits the runtime owns in the data segment.
constexpr uint32_t k_runtime0100 = 0x0100;
constexpr uint32_t k_runtime1000 = 0x1000;

namespace {
constexpr int32_t k_logger = 910001;

struct Message {
    uint16_t channel;
    uint16_t delay;
    uint32_t bits;
    uint32_t valueBits;
    float value;
};

Message decode(const std::vector<uint8_t> &m) {
    Message out{};
    memcpy(&out.channel, m.data() + 2, 2);
    memcpy(&out.delay, m.data() + 4, 2);
    memcpy(&out.bits, m.data() + 8, 4);
    memcpy(&out.valueBits, m.data() + 12, 4);
    memcpy(&out.value, m.data() + 12, 4);
    return out;
}

ChannelRecord analogRecord(uint8_t type = CHANNEL_TYPE_AI) {
    ChannelRecord r{};
    chrec_SetType(&r, type);
    chrec_SetFlag(&r, an::Enable, 1);
    return r;
}

ChannelRecord digitalRecord(uint8_t type = CHANNEL_TYPE_DI) {
    ChannelRecord r{};
    chrec_SetType(&r, type);
    chrec_SetFlag(&r, dg::Enable, 1);
    return r;
}

// A high alarm at 100 ending at 95, a high warning at 90, priorities 5 (high) and 6 (low).
ChannelRecord highAlarmRecord() {
    ChannelRecord r = analogRecord();
    chrec_SetFlag(&r, an::HighAlarmEnable, 1);
    chrec_SetFlag(&r, an::HighAlarmDeadbandEnable, 1);
    chrec_Set(&r, an::HighAlarmLimit, 100.0f);
    chrec_Set(&r, an::HighAlarmDeadband, 95.0f);
    chrec_Set(&r, an::HighWarningLimit, 90.0f);
    chrec_Set(&r, an::HighAlarmPriority, uint8_t{5});
    chrec_Set(&r, an::LowAlarmPriority, uint8_t{6});
    return r;
}

// Arrays of one kind of n channels, driven cycle by cycle as the scan cycle would.
class Kind {
public:
    Kind(std::vector<ChannelRecord> records, bool analogue, bool output = false)
        : records_(std::move(records)), a_(records_.size()), b_(records_.size()),
          v_(records_.size()), pv_(records_.size()), base_(records_.size()), ref_(records_.size()) {
        for (float &f : base_)
            memcpy(&f, &k_none, sizeof f);
        kind_.count = static_cast<int>(records_.size());
        kind_.records = records_.data();
        kind_.output = output;
        kind_.statuses = a_.data();
        kind_.previousStatuses = b_.data();
        kind_.values = analogue ? v_.data() : nullptr;
        kind_.previousValues = analogue ? pv_.data() : nullptr;
        kind_.baselines = analogue ? base_.data() : nullptr;
        kind_.references = analogue ? ref_.data() : nullptr;
        kind_.saved = &saved_;
        kind_.computer = "HOST";
        kind_.user = "op";
    }
    // The handler read value v (or a state) for channel i, good or bad.
    void read(int i, float v, bool bad = false) {
        v_[i] = v;
        setBad(i, bad);
    }
    void readState(int i, int state, bool bad = false) {
        a_[i] = (a_[i] & ~cs::CS_STATE) | (state ? cs::CS_STATE : 0);
        setBad(i, bad);
    }
    // One pass over the table, then the publishing copy of the cycle.
    void cycle(const rt::Table &table, int first = 0) {
        ASSERT_EQ(alm_BeginDevice(table.header), 0);
        chp_ProcessKind(kind_, first);
        b_ = a_;
        pv_ = v_;
        ASSERT_EQ(alm_EndDevice(), 0);
    }
    uint32_t status(int i) const { return a_[i]; }
    uint32_t &previous(int i) { return b_[i]; }
    uint32_t &current(int i) { return a_[i]; }
    float value(int i) const { return v_[i]; }
    float &reference(int i) { return ref_[i]; }
    float baseline(int i) const { return base_[i]; }
    int &saved() { return saved_; }
    ChannelRecord &record(int i) { return records_[i]; }
    const ChpKind &kind() const { return kind_; }

private:
    static constexpr uint32_t k_none = 0x7FFFFFFFu;
    void setBad(int i, bool bad) { a_[i] = bad ? (a_[i] | cs::CS_BAD) : (a_[i] & ~cs::CS_BAD); }
    std::vector<ChannelRecord> records_;
    std::vector<uint32_t> a_, b_;
    std::vector<float> v_, pv_, base_, ref_;
    int saved_ = 0;
    ChpKind kind_{};
};

class Processing : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        std::string prefix =
            "kvtt-chp-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
        setenv("KVT_IPC_PREFIX", prefix.c_str(), 1);
        plat_ShmUnlinkAll();
        alm_Reset();
        rt::makeDevices({{"KSTRN", 1, "press", {"AI", "DI", "AO", "DO", nullptr}, 0}});
        rt::makeProcesses({{"ALARM", "AL", 0, 1, 0, 0}});
        rt::makeLoggers({{"L0", 1, k_logger}});
        ai = rt::makeTable("AI", 8, true);
        di = rt::makeTable("DI", 8, false);
        for (int c = 0; c < 8; ++c) {
            rt::markChannel(ai, 1, c);
            rt::markChannel(di, 1, c);
        }
        alarms = std::make_unique<rt::Reader>("xalarms");
        logger = std::make_unique<rt::Reader>(msl_ProcessSlotName(k_logger));
    }
    void TearDown() override {
        alm_Reset();
        alarms.reset();
        logger.reset();
        plat_ShmUnlinkAll();
    }
    Message nextMessage() {
        std::vector<uint8_t> m = alarms->next();
        EXPECT_EQ(m.size(), 296u);
        if (m.size() != 296u) return Message{};
        return decode(m);
    }
    uint32_t nextCode() {
        std::vector<uint8_t> m = logger->next();
        EXPECT_EQ(m.size(), 4u);
        uint32_t code = 0;
        if (m.size() == 4u) memcpy(&code, m.data(), 4);
        return code;
    }
    rt::Table ai{}, di{};
    std::unique_ptr<rt::Reader> alarms, logger;
};
} // namespace

TEST_F(Processing, HighAlarmStartsAtItsLimitHoldsAboveTheDeadbandAndEndsBelowIt) {
    Kind k({highAlarmRecord()}, true);
    k.read(0, 50.0f);
    k.cycle(ai, 1);
    EXPECT_EQ(k.status(0) & cs::CS_ALARM, 0u);
    EXPECT_TRUE(alarms->empty());

    k.read(0, 101.0f);
    k.cycle(ai);
    uint32_t expected =
        cs::CS_ANALOG | cs::CS_ALARM | cs::CS_ALARM_HIGH | cs::CS_ALARM_ON | cs::CS_ALARM_SHOWN;
    EXPECT_EQ(k.status(0), expected);
    Message start = nextMessage();
    EXPECT_EQ(start.channel, 1);
    EXPECT_EQ(start.bits, (5u << 7) | (1u << 4) | (1u << 3));
    EXPECT_EQ(start.value, 101.0f);

    k.read(0, 96.0f);
    k.cycle(ai);
    EXPECT_EQ(k.status(0), expected);
    EXPECT_TRUE(alarms->empty());

    k.read(0, 94.0f);
    k.cycle(ai);
    EXPECT_EQ(k.status(0), cs::CS_ANALOG); // nothing of the ended alarm stays
    Message end = nextMessage();
    EXPECT_EQ(end.bits, 1u | (1u << 4) | (1u << 3));
    EXPECT_EQ(end.value, 94.0f);
}

TEST_F(Processing, WarningDeadbandUsesTheAlarmsDistance) {
    ChannelRecord r = highAlarmRecord();
    chrec_SetFlag(&r, an::HighWarningEnable, 1);
    Kind k({r}, true);
    k.read(0, 50.0f);
    k.cycle(ai, 1);
    k.read(0, 91.0f);
    k.cycle(ai);
    EXPECT_EQ(k.status(0) & (cs::CS_WARNING | cs::CS_WARNING_HIGH),
              cs::CS_WARNING | cs::CS_WARNING_HIGH);
    Message start = nextMessage();
    EXPECT_EQ(start.bits, 4u | (5u << 7) | (1u << 4) | (1u << 3));
    EXPECT_EQ(start.channel, 1);

    k.read(0, 86.0f); // above 90 - (100 - 95) = 85: holds
    k.cycle(ai);
    EXPECT_NE(k.status(0) & cs::CS_WARNING, 0u);
    EXPECT_TRUE(alarms->empty());

    k.read(0, 84.0f);
    k.cycle(ai);
    EXPECT_EQ(k.status(0) & cs::CS_WARNING, 0u);
    EXPECT_NE(k.status(0) & cs::CS_WARNING_HIGH, 0u); // keeps its value
    Message end = nextMessage();
    EXPECT_EQ(end.bits, 5u | (1u << 4) | (1u << 3));
    EXPECT_EQ(end.value, 84.0f);
}

TEST_F(Processing, LowAlarmAndWarningMirrorTheHighSide) {
    ChannelRecord r = analogRecord();
    chrec_SetFlag(&r, an::LowAlarmEnable, 1);
    chrec_SetFlag(&r, an::LowAlarmDeadbandEnable, 1);
    chrec_SetFlag(&r, an::LowWarningEnable, 1);
    chrec_Set(&r, an::LowAlarmLimit, 10.0f);
    chrec_Set(&r, an::LowAlarmDeadband, 15.0f);
    chrec_Set(&r, an::LowWarningLimit, 20.0f);
    chrec_Set(&r, an::LowAlarmPriority, uint8_t{3});
    chrec_Set(&r, an::LowAlarmDelay, uint16_t{0});
    Kind k({r}, true);
    k.read(0, 50.0f);
    k.cycle(ai, 1);
    k.read(0, 9.0f);
    k.cycle(ai);
    EXPECT_EQ(k.status(0) &
                  (cs::CS_ALARM | cs::CS_ALARM_HIGH | cs::CS_WARNING | cs::CS_WARNING_HIGH),
              cs::CS_ALARM | cs::CS_WARNING);
    Message warning = nextMessage();
    EXPECT_EQ(warning.bits, 4u | (3u << 7) | (1u << 3));
    Message alarm = nextMessage();
    EXPECT_EQ(alarm.bits, (3u << 7) | (1u << 3));

    k.read(0, 14.0f); // alarm holds below 15; warning holds below 20 + (15 - 10) = 25
    k.cycle(ai);
    EXPECT_EQ(k.status(0) & (cs::CS_ALARM | cs::CS_WARNING), cs::CS_ALARM | cs::CS_WARNING);
    k.read(0, 24.0f);
    k.cycle(ai);
    EXPECT_EQ(k.status(0) & (cs::CS_ALARM | cs::CS_WARNING), cs::CS_WARNING);
    EXPECT_EQ(nextMessage().bits, 1u | (1u << 3));
    k.read(0, 26.0f);
    k.cycle(ai);
    EXPECT_EQ(k.status(0) & cs::CS_WARNING, 0u);
    EXPECT_EQ(nextMessage().bits, 5u | (1u << 3));
}

TEST_F(Processing, NaNMakesTheChannelBadAndStartsItsErrorAlarmWithItsOwnDelay) {
    ChannelRecord r = highAlarmRecord();
    chrec_SetFlag(&r, an::ErrorAlarmEnable, 1);
    chrec_SetFlag(&r, an::ErrorAlarmDriveCommon, 1);
    chrec_Set(&r, an::ErrorAlarmDelay, uint16_t{3});
    chrec_Set(&r, an::ErrorAlarmPriority, uint8_t{7});
    Kind k({r}, true);
    k.read(0, 50.0f);
    k.cycle(ai, 1);
    k.read(0, std::numeric_limits<float>::quiet_NaN());
    k.cycle(ai);
    uint32_t s = k.status(0);
    EXPECT_NE(s & cs::CS_BAD, 0u);
    EXPECT_NE(s & cs::CS_ALARM, 0u);
    EXPECT_EQ(s & (cs::CS_ALARM_HIGH | cs::CS_ALARM_ON | cs::CS_ALARM_SHOWN), 0u);
    Message m = nextMessage();
    EXPECT_EQ(m.channel, 0x8001);
    EXPECT_EQ(m.delay, 3);
    EXPECT_EQ(m.bits, (7u << 7) | (1u << 5) | (1u << 3));
    EXPECT_EQ(m.valueBits, 0x7FFFFFFFu);

    // Still bad: nothing new; good again: the error alarm ends.
    k.read(0, std::numeric_limits<float>::infinity());
    k.cycle(ai);
    EXPECT_TRUE(alarms->empty());
    k.read(0, 50.0f);
    k.cycle(ai);
    EXPECT_EQ(k.status(0) & (cs::CS_BAD | cs::CS_ALARM), 0u);
    Message end = nextMessage();
    EXPECT_EQ(end.channel, 0x8001); // the ended status was bad
    EXPECT_EQ(end.bits, 1u | (1u << 3));
}

TEST_F(Processing, ScalingAndReferenceApplyToInputsButNeverToOutputs) {
    ChannelRecord in = analogRecord(CHANNEL_TYPE_AI);
    chrec_SetFlag(&in, an::ScalingEnable, 1);
    chrec_SetFlag(&in, an::ReferenceEnable, 1);
    chrec_Set(&in, an::Gain, 2.0f);
    chrec_Set(&in, an::Offset, 1.0f);
    ChannelRecord counter = in;
    chrec_SetType(&counter, CHANNEL_TYPE_CI);
    ChannelRecord out = in;
    chrec_SetType(&out, CHANNEL_TYPE_AO);
    // The product is rounded before the offset is added: a fused multiply-add would keep its
    // lowest bit, 2^-24.
    ChannelRecord fine = analogRecord(CHANNEL_TYPE_AI);
    chrec_SetFlag(&fine, an::ScalingEnable, 1);
    const float near1 = 1.0f + std::ldexp(1.0f, -12);
    chrec_Set(&fine, an::Gain, near1);
    chrec_Set(&fine, an::Offset, -1.0f);
    Kind k({in, counter, out, fine}, true);
    k.reference(0) = 5.0f;
    k.reference(1) = 5.0f;
    k.reference(2) = 5.0f;
    k.read(0, 10.0f);
    k.read(1, 10.0f);
    k.read(2, 10.0f);
    k.read(3, near1);
    k.cycle(ai, 1);
    EXPECT_EQ(k.value(0), 16.0f); // 10 x 2 + 1 - 5
    EXPECT_EQ(k.value(1), 21.0f); // scaled, no reference
    EXPECT_EQ(k.value(2), 10.0f);
    EXPECT_EQ(k.value(3), std::ldexp(1.0f, -11));
}

TEST_F(Processing, SignificantChangesCountAgainstTheBaseline) {
    ChannelRecord everyCycle = analogRecord();
    chrec_SetFlag(&everyCycle, an::SigChangeEnable, 1);
    ChannelRecord byFive = everyCycle;
    chrec_Set(&byFive, an::SigChangeValue, -5.0f); // the size counts, not the sign
    Kind k({everyCycle, byFive}, true);

    k.read(0, 10.0f);
    k.read(1, 10.0f);
    k.cycle(ai, 1); // both become baselines, nothing counted
    EXPECT_EQ(k.baseline(0), 10.0f);
    EXPECT_EQ(k.status(0) & cs::CS_STATE, 0u);
    EXPECT_TRUE(logger->empty());

    k.read(0, 10.0f); // unchanged, yet 0 >= 0 counts
    k.read(1, 13.0f);
    k.cycle(ai);
    EXPECT_NE(k.status(0) & cs::CS_STATE, 0u);
    EXPECT_EQ(k.status(1) & cs::CS_STATE, 0u);
    EXPECT_EQ(nextCode(), 0x80030D40u);

    k.read(0, 10.0f);
    k.read(1, 15.0f); // 5 from the baseline 10, not from 13
    k.cycle(ai);
    EXPECT_NE(k.status(1) & cs::CS_STATE, 0u);
    EXPECT_EQ(k.baseline(1), 15.0f);
    EXPECT_EQ(nextCode(), 0x80030D40u);
}

TEST_F(Processing, AnalogueEventsFollowTheirLimitsAndReachTheLogger) {
    ChannelRecord r = analogRecord();
    chrec_SetFlag(&r, an::EventEnable, 1);
    chrec_Set(&r, an::HighEventLimit, 80.0f);
    chrec_Set(&r, an::LowEventLimit, 20.0f);
    Kind k({r}, true);
    k.read(0, 50.0f);
    k.cycle(ai, 1);
    EXPECT_TRUE(logger->empty());
    k.read(0, 80.0f);
    k.cycle(ai);
    EXPECT_EQ(k.status(0) & (cs::CS_EVENT | cs::CS_EVENT_HIGH), cs::CS_EVENT | cs::CS_EVENT_HIGH);
    EXPECT_EQ(nextCode(), 200001u);
    k.read(0, 20.0f); // the high event ends and the low one starts in the same pass
    k.cycle(ai);
    EXPECT_EQ(k.status(0) & (cs::CS_EVENT | cs::CS_EVENT_HIGH), cs::CS_EVENT);
    EXPECT_TRUE(logger->empty());
    k.read(0, 21.0f);
    k.cycle(ai);
    EXPECT_EQ(k.status(0) & cs::CS_EVENT, 0u);
    EXPECT_EQ(nextCode(), 200000u - 1);
}

TEST_F(Processing, UnchangedChannelsAreSkippedWithoutMarkOrMessage) {
    ChannelRecord r = highAlarmRecord();
    Kind k({r}, true);
    k.read(0, 120.0f);
    k.cycle(ai, 1);
    nextMessage();
    k.saved() = 0;
    // The runtime acknowledged the alarm meanwhile: it must not be reported again.
    k.previous(0) &= ~cs::CS_ALARM_ON;
    k.read(0, 120.0f);
    k.cycle(ai);
    EXPECT_EQ(k.saved(), 0);
    EXPECT_TRUE(alarms->empty());
    EXPECT_EQ(k.status(0) & cs::CS_ALARM_ON, 0u);
}

TEST_F(Processing, DisabledChannelIsBadAndOnlyAFirstCycleEvaluatesIt) {
    ChannelRecord r = highAlarmRecord();
    chrec_SetFlag(&r, an::Enable, 0);
    chrec_SetFlag(&r, an::ErrorAlarmEnable, 1);
    Kind k({r}, true);
    k.current(0) = cs::CS_EVENT;
    k.read(0, 150.0f);
    k.cycle(ai);
    EXPECT_EQ(k.status(0), cs::CS_EVENT | cs::CS_BAD); // nothing else evaluated
    k.cycle(ai, 1);
    EXPECT_EQ(k.status(0), cs::CS_ANALOG | cs::CS_BAD); // bad, but no error alarm when disabled
    EXPECT_TRUE(alarms->empty());
}

TEST_F(Processing, AlarmWithADelayLeavesInForceAndShownAsFound) {
    ChannelRecord r = highAlarmRecord();
    chrec_Set(&r, an::HighAlarmDelay, uint16_t{10});
    Kind k({r}, true);
    k.read(0, 50.0f);
    k.cycle(ai, 1);
    k.read(0, 110.0f);
    k.cycle(ai);
    EXPECT_EQ(k.status(0) & (cs::CS_ALARM | cs::CS_ALARM_ON | cs::CS_ALARM_SHOWN), cs::CS_ALARM);
    Message m = nextMessage();
    EXPECT_EQ(m.delay, 10);
    // The runtime sets "in force" when the delay has passed; the next cycles keep it.
    k.previous(0) |= cs::CS_ALARM_ON;
    k.read(0, 111.0f);
    k.cycle(ai);
    EXPECT_NE(k.status(0) & cs::CS_ALARM_ON, 0u);
    EXPECT_TRUE(alarms->empty());
}

TEST_F(Processing, RuntimeBitsComeFromTheDataSegmentsWord) {
    ChannelRecord r = analogRecord();
    Kind input({r}, true);
    input.previous(0) = k_runtime0100 | cs::CS_ALARM_SHOWN;
    input.current(0) = k_runtime1000; // not in the segment: dropped
    input.read(0, 1.0f);
    input.cycle(ai, 1);
    // "Shown" comes from the segment too, but a channel out of alarm has nothing shown.
    EXPECT_EQ(input.status(0), cs::CS_ANALOG | k_runtime0100);

    Kind output({analogRecord(CHANNEL_TYPE_AO)}, true, true);
    output.current(0) = k_runtime1000; // the data segment's word
    output.previous(0) = k_runtime0100;
    output.read(0, 1.0f);
    ASSERT_EQ(alm_BeginDevice(ai.header), 0);
    chp_ProcessChannel(output.kind(), 0, 0);
    alm_EndDevice();
    EXPECT_EQ(output.previous(0), k_runtime1000);
}

TEST_F(Processing, DigitalAlarmAndEventFollowTheirStates) {
    ChannelRecord r = digitalRecord();
    chrec_SetFlag(&r, dg::AlarmEnable, 1);
    chrec_SetFlag(&r, dg::AlarmState, 1);
    chrec_SetFlag(&r, dg::AlarmDriveCommon, 1);
    chrec_Set(&r, dg::AlarmPriority, uint8_t{4});
    chrec_SetFlag(&r, dg::EventEnable, 1);
    chrec_SetFlag(&r, dg::EventState, 1);
    Kind k({r}, false);
    k.readState(0, 0);
    k.cycle(di, 1);
    EXPECT_EQ(k.status(0), 0u);
    EXPECT_TRUE(alarms->empty());

    k.readState(0, 1);
    k.cycle(di);
    EXPECT_EQ(k.status(0), cs::CS_STATE | cs::CS_ALARM | cs::CS_ALARM_HIGH | cs::CS_ALARM_ON |
                               cs::CS_ALARM_SHOWN | cs::CS_EVENT | cs::CS_EVENT_HIGH);
    Message m = nextMessage();
    EXPECT_EQ(m.bits, (4u << 7) | (1u << 5) | (1u << 4));
    EXPECT_EQ(m.valueBits, 0x7FFFFFFFu);
    EXPECT_EQ(nextCode(), 200001u);

    k.readState(0, 0);
    k.cycle(di);
    EXPECT_EQ(k.status(0) & (cs::CS_ALARM_MARKS | cs::CS_EVENT | cs::CS_STATE), 0u);
    EXPECT_EQ(nextMessage().bits, 1u | (1u << 4));
    EXPECT_EQ(nextCode(), 200000u - 1);
}

TEST_F(Processing, DigitalChannelWithoutChangeTakesThePreviousWordWhole) {
    Kind k({digitalRecord()}, false);
    k.readState(0, 1);
    k.cycle(di, 1);
    k.saved() = 0;
    k.previous(0) |= k_runtime0100 | cs::CS_EVENT;
    k.current(0) |= cs::CS_WARNING; // nothing but the previous word survives
    k.readState(0, 1);
    k.cycle(di);
    EXPECT_EQ(k.status(0), cs::CS_STATE | k_runtime0100 | cs::CS_EVENT);
    EXPECT_EQ(k.saved(), 0);

    // Bad on both sides: also taken whole, even in a first cycle.
    k.readState(0, 0, true);
    k.previous(0) = cs::CS_BAD | cs::CS_STATE;
    ASSERT_EQ(alm_BeginDevice(di.header), 0);
    chp_ProcessChannel(k.kind(), 0, 1);
    alm_EndDevice();
    EXPECT_EQ(k.status(0), cs::CS_BAD | cs::CS_STATE);
}

TEST_F(Processing, BadDigitalChannelRaisesItsErrorAlarmWithTheDigitalFields) {
    ChannelRecord r = digitalRecord();
    chrec_SetFlag(&r, dg::ErrorAlarmEnable, 1);
    chrec_Set(&r, dg::ErrorAlarmDelay, uint16_t{2});
    chrec_Set(&r, dg::ErrorAlarmPriority, uint8_t{9});
    Kind k({r, digitalRecord()}, false);
    k.readState(0, 1);
    k.readState(1, 1);
    k.cycle(di, 1);
    k.readState(0, 1, true);
    k.cycle(di);
    EXPECT_EQ(k.status(0) & (cs::CS_ALARM | cs::CS_ALARM_HIGH | cs::CS_BAD),
              cs::CS_ALARM | cs::CS_BAD);
    Message m = nextMessage();
    EXPECT_EQ(m.channel, 0x8001);
    EXPECT_EQ(m.delay, 2);
    EXPECT_EQ(m.bits, 9u << 7);
}

// However a save changes a channel in alarm, its status after every scan tells what the alarm
// messages told: an ended alarm leaves no mark, a started one only its own. An infinite gain
// raises a high alarm at value inf; the next configurations keep it (finite gain), end it
// (raised limit), start it again, end it (finite value under a raised limit) and move it to
// the low side with a delay.
TEST_F(Processing, StatusTellsWhatTheAlarmMessagesToldAcrossChangedConfigurations) {
    ChannelRecord r = analogRecord();
    chrec_SetFlag(&r, an::HighAlarmEnable, 1);
    chrec_Set(&r, an::HighAlarmLimit, 500.0f);
    chrec_SetFlag(&r, an::ScalingEnable, 1);
    chrec_Set(&r, an::Gain, std::numeric_limits<float>::infinity());
    Kind k({r}, true);
    ChannelRecord &rec = k.record(0);
    uint32_t told = 0;
    int messages = 0;
    auto scan = [&](float raw, int first) {
        k.read(0, raw);
        k.cycle(ai, first);
        while (!alarms->empty()) {
            Message m = nextMessage();
            ++messages;
            bool high = (m.bits & (1u << 4)) != 0;
            if ((m.bits & 7u) == 1u) {
                EXPECT_EQ(high, (told & cs::CS_ALARM_HIGH) != 0);
                told = 0;
            } else if ((m.bits & 7u) == 0u) {
                told = cs::CS_ALARM | (high ? cs::CS_ALARM_HIGH : 0u) |
                       (m.delay == 0 ? cs::CS_ALARM_ON | cs::CS_ALARM_SHOWN : 0u);
            }
        }
        EXPECT_EQ(k.status(0) & cs::CS_ALARM_MARKS, told) << "raw " << raw;
    };
    scan(510.0f, 1);
    EXPECT_EQ(k.status(0), 0x8C6u);
    chrec_Set(&rec, an::Gain, 2.0f);
    scan(510.0f, 1); // 1020 holds the alarm: nothing to tell
    EXPECT_EQ(k.status(0), 0x8C6u);
    EXPECT_EQ(messages, 1);
    chrec_Set(&rec, an::HighAlarmLimit, 2000.0f);
    scan(510.0f, 1); // 1020: ended
    EXPECT_EQ(messages, 2);
    scan(200.0f, 0);
    scan(240.0f, 0);

    chrec_Set(&rec, an::Gain, 1.0f);
    chrec_Set(&rec, an::HighAlarmLimit, 500.0f);
    scan(600.0f, 1);
    EXPECT_EQ(messages, 3);
    chrec_Set(&rec, an::HighAlarmLimit, 700.0f);
    scan(600.0f, 1);
    scan(600.0f, 0);
    EXPECT_EQ(messages, 4);

    chrec_Set(&rec, an::HighAlarmLimit, 550.0f);
    scan(600.0f, 1);
    chrec_Set(&rec, an::HighAlarmLimit, 1000.0f);
    chrec_SetFlag(&rec, an::LowAlarmEnable, 1);
    chrec_Set(&rec, an::LowAlarmLimit, 650.0f);
    chrec_Set(&rec, an::LowAlarmDelay, uint16_t{5});
    scan(600.0f, 1);
    EXPECT_EQ(messages, 7);
    EXPECT_EQ(told, cs::CS_ALARM);
}
