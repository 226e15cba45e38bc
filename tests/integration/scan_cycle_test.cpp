// The scan cycle end to end: the runtime stand-in, the scanner and the controller simulator on
// a pseudo-terminal. Values move from the controller's memory through the scanner's channel
// processing into the data segments, alarms reach "xalarms", events and significant changes
// reach the loggers, and outputs written by another process reach the controller.
#include "s5sim.h"
#include "sim_runtime.h"

#include "alm.h"
#include "chrec.h"
#include "dmw.h"
#include "msl.h"
#include "s5types.h"
#include "shm.h"
#include "test_device.h"
#include "test_ipc.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {
namespace fs = std::filesystem;
namespace cs = ChannelStatusBits;
namespace an = ChannelAnalog;
namespace dg = ChannelDigital;

constexpr int k_block = 10; // every channel lives in data block 10

void placeAt(ChannelRecord *r, size_t at, uint8_t type, int word, int bit) {
    S5ChannelAddress a{};
    a.type = type;
    a.address = static_cast<uint16_t>((k_block << 8) | word);
    a.bit_number = static_cast<uint8_t>(bit);
    memcpy(r->bytes + at, &a, sizeof a);
}

ChannelRecord analogueAt(int word) {
    ChannelRecord r{};
    chrec_SetType(&r, CHANNEL_TYPE_AI);
    chrec_SetFlag(&r, an::Enable, 1);
    placeAt(&r, an::DevicePart, S5_AREA_D | S5_TYPE_WORD, word, 0);
    return r;
}

ChannelRecord digitalAt(uint8_t type, int word, int bit) {
    ChannelRecord r{};
    chrec_SetType(&r, type);
    chrec_SetFlag(&r, dg::Enable, 1);
    placeAt(&r, dg::DevicePart, S5_AREA_D | S5_TYPE_BIT, word, bit);
    return r;
}

void writeChannelFile(const fs::path &file, const std::vector<ChannelRecord> &records) {
    std::vector<char> bytes(8 + 216 * records.size(), 0);
    for (size_t i = 0; i < records.size(); ++i)
        memcpy(bytes.data() + 8 + 216 * i, records[i].bytes, 216);
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

struct Alarm {
    std::string id;
    uint16_t channel;
    uint32_t bits;
    float value;
    uint32_t valueBits;
};

class ScanCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int run = 0;
        prefix = test_UseUniqueIpcPrefix(("cycle" + std::to_string(++run)).c_str());
        root = fs::temp_directory_path() / prefix;
        fs::create_directories(root);
        ASSERT_FALSE(test_BuildBin().empty());
        test_StartController(root, &plc);
    }
    void TearDown() override {
        runtime.reset();
        plc.reset();
        test_RemoveIpcObjects(prefix);
        fs::remove_all(root);
    }

    // AI (T1): channel 1 alarms high at 100 and ends at 95; channel 2 is scaled by 0.5 + 10
    // and counts significant changes of 5; channel 3 is reported against its reference. DI (T2):
    // channel 1 starts an event when high. DO (T3): channel 1 at D10.4 bit 0. Logger L0 logs every
    // channel.
    void start() {
        fs::path folder = root / "CURRENT_CONFIG" / "S5TEST";
        test_WriteDeviceConfig(folder);

        ChannelRecord alarmed = analogueAt(0);
        chrec_SetFlag(&alarmed, an::HighAlarmEnable, 1);
        chrec_SetFlag(&alarmed, an::HighAlarmDeadbandEnable, 1);
        chrec_Set(&alarmed, an::HighAlarmLimit, 100.0f);
        chrec_Set(&alarmed, an::HighAlarmDeadband, 95.0f);
        chrec_Set(&alarmed, an::HighAlarmPriority, uint8_t{3});
        ChannelRecord scaled = analogueAt(1);
        chrec_SetFlag(&scaled, an::ScalingEnable, 1);
        chrec_Set(&scaled, an::Gain, 0.5f);
        chrec_Set(&scaled, an::Offset, 10.0f);
        chrec_SetFlag(&scaled, an::SigChangeEnable, 1);
        chrec_Set(&scaled, an::SigChangeValue, 5.0f);
        ChannelRecord referenced = analogueAt(2);
        chrec_SetFlag(&referenced, an::ReferenceEnable, 1);
        std::vector<ChannelRecord> ai{alarmed, scaled, referenced};
        for (int w = 3; w < 8; ++w)
            ai.push_back(analogueAt(w));
        writeChannelFile(folder / "ai", ai);

        ChannelRecord evented = digitalAt(CHANNEL_TYPE_DI, 3, 0);
        chrec_SetFlag(&evented, dg::EventEnable, 1);
        chrec_SetFlag(&evented, dg::EventState, 1);
        std::vector<ChannelRecord> di{evented};
        for (int b = 1; b < 8; ++b)
            di.push_back(digitalAt(CHANNEL_TYPE_DI, 3, b));
        writeChannelFile(folder / "di", di);
        std::vector<ChannelRecord> outputs;
        for (int b = 0; b < 8; ++b)
            outputs.push_back(digitalAt(CHANNEL_TYPE_DO, 4, b));
        writeChannelFile(folder / "do", outputs);

        std::string text = test_RuntimeHead(root) +
                           "device KSTRN 1 PRESS-1 S5TEST ai=T1 di=T2 do=T3\n"
                           "table T1 8 8\ntable T2 4 8\ntable T3 4 8\nerrors 2\n"
                           "process ALARM enabled=1\nlogger stand L0\n";
        SimDescription description;
        std::string error;
        ASSERT_EQ(sim_ParseDescription(text, &description, &error), 0) << error;
        runtime = std::make_unique<SimRuntime>(description);
        ASSERT_EQ(runtime->create(), 0) << runtime->lastError();
        for (const char *id : {"T1", "T2"})
            logEveryChannel(id);
        ASSERT_EQ(runtime->start(1), 0) << runtime->lastError();
        ASSERT_EQ(runtime->waitReady(1), 0) << runtime->lastError();
    }

    // Row 1 of the table's event bitmap: the channels logger 0 logs (8 channels, 1 byte).
    void logEveryChannel(const char *id) {
        SegmentHeader *event = shm_OpenSegment((std::string("dm_") + id + "_event").c_str());
        ASSERT_NE(event, SHM_NO_SEGMENT);
        shm_Lock(event);
        shm_Payload(event)[1] = 0xFF;
        shm_Unlock(event);
    }

    void setWord(int word, uint32_t value) {
        std::string error;
        s5sim::Location loc{0, k_block, static_cast<uint32_t>(word)};
        ASSERT_TRUE(plc->memory().Set(loc, {value}, &error)) << error;
    }
    uint32_t word(int w) {
        std::vector<uint32_t> v;
        std::string error;
        s5sim::Location loc{0, k_block, static_cast<uint32_t>(w)};
        EXPECT_TRUE(plc->memory().Get(loc, 1, &v, &error)) << error;
        return v.empty() ? 0 : v[0];
    }
    void scan() { ASSERT_EQ(runtime->scan(1), 0) << runtime->lastError(); }

    std::vector<SimReceived> from(const std::string &receiver) {
        std::vector<SimReceived> out;
        for (const SimReceived &r : runtime->received())
            if (r.receiver == receiver) out.push_back(r);
        return out;
    }
    std::vector<Alarm> alarms() {
        std::vector<Alarm> out;
        for (const SimReceived &r : from("xalarms")) {
            EXPECT_EQ(r.bytes.size(), 296u);
            if (r.bytes.size() != 296u) continue;
            Alarm a{};
            a.id.assign(reinterpret_cast<const char *>(r.bytes.data()), 2);
            memcpy(&a.channel, r.bytes.data() + 2, 2);
            memcpy(&a.bits, r.bytes.data() + 8, 4);
            memcpy(&a.value, r.bytes.data() + 12, 4);
            memcpy(&a.valueBits, r.bytes.data() + 12, 4);
            out.push_back(a);
        }
        return out;
    }
    std::vector<uint32_t> loggerCodes() {
        std::vector<uint32_t> out;
        for (const SimReceived &r : from("logger L0"))
            out.push_back(static_cast<uint32_t>(r.code));
        return out;
    }

    std::string prefix;
    fs::path root;
    std::unique_ptr<SimRuntime> runtime;
    std::unique_ptr<s5sim::Simulator> plc;
};
} // namespace

TEST_F(ScanCycleTest, HighLimitRaisesOneAlarmThatClearsBelowTheDeadband) {
    setWord(0, 50);
    start();
    scan();
    EXPECT_TRUE(alarms().empty());
    setWord(0, 101);
    scan();
    ASSERT_TRUE(test_WaitUntil([&] { return alarms().size() >= 1; }));
    Alarm start = alarms()[0];
    EXPECT_EQ(start.id, "T1");
    EXPECT_EQ(start.channel, 1);
    EXPECT_EQ(start.bits, (3u << 7) | (1u << 4) | (1u << 3)); // kind 0, high, analogue
    EXPECT_EQ(start.value, 101.0f);
    uint32_t status = runtime->statuses("T1")[0];
    EXPECT_EQ(status & (cs::CS_ALARM | cs::CS_ALARM_HIGH | cs::CS_ALARM_ON | cs::CS_ALARM_SHOWN),
              cs::CS_ALARM | cs::CS_ALARM_HIGH | cs::CS_ALARM_ON | cs::CS_ALARM_SHOWN);

    setWord(0, 96);
    scan();
    EXPECT_NE(runtime->statuses("T1")[0] & cs::CS_ALARM, 0u);
    setWord(0, 94);
    scan();
    ASSERT_TRUE(test_WaitUntil([&] { return alarms().size() >= 2; }));
    std::vector<Alarm> all = alarms();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].bits, 1u | (1u << 4) | (1u << 3));
    EXPECT_EQ(all[1].value, 94.0f);
    EXPECT_EQ(runtime->statuses("T1")[0] & cs::CS_ALARM, 0u);
}

TEST_F(ScanCycleTest, DigitalInputChangeStartsAnEventForItsLogger) {
    start();
    scan();
    size_t before = loggerCodes().size();
    setWord(3, 1); // bit 0 of D10.3
    scan();
    ASSERT_TRUE(test_WaitUntil([&] { return loggerCodes().size() > before; }));
    EXPECT_EQ(loggerCodes().back(), 200001u);
    uint32_t status = runtime->statuses("T2")[0];
    EXPECT_EQ(status & (cs::CS_STATE | cs::CS_EVENT | cs::CS_EVENT_HIGH),
              cs::CS_STATE | cs::CS_EVENT | cs::CS_EVENT_HIGH);
    setWord(3, 0);
    scan();
    ASSERT_TRUE(test_WaitUntil([&] { return loggerCodes().size() > before + 1; }));
    EXPECT_EQ(loggerCodes().back(), 200000u - 1);
}

TEST_F(ScanCycleTest, OutputWrittenByAnotherProcessReachesTheControllerOnTheNextScan) {
    start();
    scan();
    EXPECT_EQ(word(4), 0u);
    uint32_t on = 1;
    ASSERT_EQ(dm_WriteDigital("T3", 3, 3, &on), 0); // channel 3: bit 2 of D10.4
    scan();
    EXPECT_EQ(word(4), 0x0004u);
    EXPECT_EQ(runtime->statuses("T3")[2] & (cs::CS_STATE | cs::CS_BAD), cs::CS_STATE);
}

TEST_F(ScanCycleTest, StationFailureMarksChannelsBadAndTheyRecover) {
    setWord(0, 40);
    start();
    scan();
    EXPECT_EQ(runtime->statuses("T1")[0] & cs::CS_BAD, 0u);
    std::string error;
    ASSERT_TRUE(plc->AddFault("error_byte:10@FETCH*1000", &error)) << error;
    scan();
    for (uint32_t s : runtime->statuses("T1"))
        EXPECT_NE(s & cs::CS_BAD, 0u);
    for (uint32_t s : runtime->statuses("T2"))
        EXPECT_NE(s & cs::CS_BAD, 0u);
    // The station text follows the tables' notifications: wait for it.
    EXPECT_TRUE(test_WaitUntil([&] { return runtime->errorTexts() != ""; }));
    plc->faults().Clear();
    scan();
    EXPECT_EQ(runtime->statuses("T1")[0] & cs::CS_BAD, 0u);
    EXPECT_EQ(runtime->values("T1")[0], 40.0f);
}

TEST_F(ScanCycleTest, ScaledValuesAndSignificantChangesFollowTheChannelSettings) {
    setWord(1, 100);
    start();
    scan();
    EXPECT_EQ(runtime->values("T1")[1], 60.0f); // 100 x 0.5 + 10
    size_t before = loggerCodes().size();
    setWord(1, 108); // 64: 4 from the baseline 60, not significant
    scan();
    EXPECT_EQ(runtime->values("T1")[1], 64.0f);
    EXPECT_EQ(runtime->statuses("T1")[1] & cs::CS_STATE, 0u);
    setWord(1, 110); // 65: 5 from the baseline
    scan();
    EXPECT_NE(runtime->statuses("T1")[1] & cs::CS_STATE, 0u);
    ASSERT_TRUE(test_WaitUntil([&] { return loggerCodes().size() > before; }));
    EXPECT_EQ(loggerCodes().back(), 0x80030D40u);
    EXPECT_EQ(loggerCodes().size(), before + 1);
}

TEST_F(ScanCycleTest, InitialisingValuesAddsTheValueShownToTheReference) {
    setWord(2, 40);
    start();
    scan();
    EXPECT_EQ(runtime->values("T1")[2], 40.0f);
    fs::path saved = root / "SAVED_VALUES" / "S5TEST_ai.bin";
    auto savedReference = [&] {
        std::vector<char> bytes(16 * 8, 0);
        std::ifstream(saved, std::ios::binary).read(bytes.data(), 16 * 8);
        float reference;
        memcpy(&reference, bytes.data() + 16 * 2 + 12, sizeof reference);
        return reference;
    };
    // Each time the reference becomes the reference plus the value shown, that is the raw
    // value, which the next cycle then reports as 0.
    for (uint32_t raw : {40u, 45u}) {
        SCOPED_TRACE(raw);
        setWord(2, raw);
        scan();
        ASSERT_EQ(runtime->post(1, NC_INITIALISE_VALUES), 0);
        EXPECT_TRUE(test_WaitUntil([&] { return runtime->values("T1")[2] == 0.0f; }))
            << runtime->values("T1")[2];
        EXPECT_EQ(savedReference(), static_cast<float>(raw));
    }
    setWord(2, 47);
    scan();
    EXPECT_EQ(runtime->values("T1")[2], 2.0f);
}

TEST_F(ScanCycleTest, AlarmProcessStartingLateGetsTheAlarmsAfterItAppears) {
    setWord(0, 50);
    start();
    ASSERT_EQ(runtime->setReceiver("xalarms", false), 0) << runtime->lastError();
    scan();
    setWord(0, 120); // raised while nobody listens: dropped
    scan();
    ASSERT_EQ(runtime->setReceiver("xalarms", true), 0) << runtime->lastError();
    setWord(0, 10);
    scan();
    ASSERT_EQ(runtime->waitReceived("xalarms", 1), 0) << runtime->lastError();
    std::vector<SimReceived> got = from("xalarms");
    ASSERT_EQ(got.size(), 1u);
    SimAlarm end;
    ASSERT_TRUE(sim_DecodeAlarm(got[0].bytes, &end));
    EXPECT_EQ(end.tableId, "T1");
    EXPECT_EQ(end.kind, 1);
    EXPECT_TRUE(end.high);
    EXPECT_TRUE(end.analogue);
    EXPECT_TRUE(end.hasValue);
    EXPECT_EQ(end.value, 10.0f);
    uint64_t from = 0;
    runtime->setHexOutput(true);
    std::string lines = runtime->showReceived(&from);
    EXPECT_NE(lines.find(" xalarms 5431010000000000"), std::string::npos) << lines;
    runtime->setHexOutput(false);
    from = 0;
    lines = runtime->showReceived(&from);
    EXPECT_NE(lines.find(" alarm T1 1: high alarm ended, limit 95, value 10, from "),
              std::string::npos)
        << lines;
}
