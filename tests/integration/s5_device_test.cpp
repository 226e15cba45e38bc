// A configured S5 device end to end: the scanner process against the runtime stand-in and a
// simulated controller on a pseudo-terminal, checked on the controller's side (its command
// log and memory) and on the runtime's side (statuses, values, system status texts).
#include "chfile.h"
#include "chrec.h"
#include "s5sim.h"
#include "s5types.h"
#include "sim_runtime.h"
#include "test_device.h"
#include "test_ipc.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {
namespace fs = std::filesystem;

struct Ch {
    uint8_t type; // S5TypeByte
    uint16_t address;
    uint8_t bit = 0;
};

uint16_t Db(int block, int word) {
    return static_cast<uint16_t>(block << 8 | word);
}

void WriteChannels(const fs::path &path, uint8_t channelType, const std::vector<Ch> &channels) {
    std::vector<ChannelRecord> records(channels.size());
    for (size_t i = 0; i < channels.size(); ++i) {
        ChannelRecord &r = records[i];
        chrec_SetType(&r, channelType);
        chrec_SetFlag(&r, ChannelAnalog::Enable, 1);
        S5ChannelAddress a{};
        a.station = 1;
        a.type = channels[i].type;
        a.address = channels[i].address;
        a.bit_number = channels[i].bit;
        std::memcpy(chrec_DevicePart(&r), &a, sizeof a);
    }
    ASSERT_EQ(0, chfile_WriteChannels(path.c_str(), records.data(), 0,
                                      static_cast<int32_t>(records.size())));
}

constexpr uint8_t WORD = S5_TYPE_WORD, BIT = S5_TYPE_BIT, SIGNED = S5_TYPE_SIGNED;

// AI: D10.5 (signed) and D10.6 in one block, M20, and a 16-bit value at E4..E5.
const std::vector<Ch> AI = {{S5_AREA_D | WORD | SIGNED, Db(10, 5)},
                            {S5_AREA_D | WORD, Db(10, 6)},
                            {S5_AREA_M, 20},
                            {S5_AREA_E | WORD, 4}};
// DI: two bits of M30..M31 and bit 3 of D11.0.
const std::vector<Ch> DI = {
    {S5_AREA_M | BIT, 30, 0}, {S5_AREA_M | BIT, 30, 9}, {S5_AREA_D | BIT, Db(11, 0), 3}};
// AO: D12.0, D12.1 and the flag byte M40.
const std::vector<Ch> AO = {
    {S5_AREA_D | WORD, Db(12, 0)}, {S5_AREA_D | WORD, Db(12, 1)}, {S5_AREA_M, 40}};
// DO: bits 0 and 5 of output byte A0.
const std::vector<Ch> DO = {{S5_AREA_A | BIT, 0, 0}, {S5_AREA_A | BIT, 0, 5}};

class S5DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int run = 0;
        prefix = test_UseUniqueIpcPrefix(("s5dev" + std::to_string(++run)).c_str());
        root = fs::temp_directory_path() / prefix;
        ASSERT_FALSE(test_BuildBin().empty());
        test_StartController(root, &plc);
    }
    void TearDown() override {
        runtime.reset();
        plc.reset();
        test_RemoveIpcObjects(prefix);
        fs::remove_all(root);
    }

    // The device's configuration: COM1 with one attempt, so that a silent controller is noticed
    // within a second, and time-outs long enough for a loaded machine.
    void WriteConfig(uint8_t readOutputsFirst, uint8_t readBack) {
        fs::path folder = root / "CURRENT_CONFIG" / "S5DEV";
        S5PortSettings s{};
        std::memcpy(s.port_name, "COM1", 4);
        s.baud_rate = 19200;
        s.data_format = 1;
        s.parity = 2;
        s.protocol_mode = 1;
        s.read_outputs_first = readOutputsFirst;
        s.read_back_outputs = readBack;
        s.char_delay_ms = 500;
        s.ack_timeout_ms = 1000;
        s.block_wait_ms = 1000;
        s.retries = 1;
        test_WriteDeviceConfig(folder, 1000, &s);
        WriteChannels(folder / "ai", CHANNEL_TYPE_AI, AI);
        WriteChannels(folder / "di", CHANNEL_TYPE_DI, DI);
        WriteChannels(folder / "ao", CHANNEL_TYPE_AO, AO);
        WriteChannels(folder / "do", CHANNEL_TYPE_DO, DO);
    }

    void Start(uint8_t readOutputsFirst = 0, uint8_t readBack = 0) {
        WriteConfig(readOutputsFirst, readBack);
        std::string text = test_RuntimeHead(root) +
                           "device KSTRN 1 PLC-1 S5DEV ai=A1 di=D1 ao=A2 do=D2\n"
                           "table A1 8 4\ntable D1 4 3\ntable A2 8 3\ntable D2 4 2\n"
                           "errors 4\n";
        SimDescription description;
        std::string error;
        ASSERT_EQ(sim_ParseDescription(text, &description, &error), 0) << error;
        runtime = std::make_unique<SimRuntime>(description);
        ASSERT_EQ(runtime->create(), 0) << runtime->lastError();
        mark = plc->log().NextSeq();
        ASSERT_EQ(runtime->start(1), 0) << runtime->lastError();
        ASSERT_EQ(runtime->waitReady(1), 0) << runtime->lastError();
    }

    // The commands the controller decoded since the last call.
    std::vector<std::string> Commands() { return test_Commands(*plc, &mark); }
    void Scan() { ASSERT_EQ(runtime->scan(1), 0) << runtime->lastError(); }

    void Set(const std::string &where, const std::vector<uint32_t> &values) {
        test_SetMemory(*plc, where, values);
    }
    uint32_t Get(const std::string &where) { return test_GetMemory(*plc, where); }
    static std::vector<uint32_t> Bad(const std::vector<uint32_t> &statuses) {
        std::vector<uint32_t> out;
        for (uint32_t s : statuses)
            out.push_back(s & 0x20);
        return out;
    }
    static std::vector<uint32_t> States(const std::vector<uint32_t> &statuses) {
        std::vector<uint32_t> out;
        for (uint32_t s : statuses)
            out.push_back(s & 0x21);
        return out;
    }

    std::string prefix;
    fs::path root;
    std::unique_ptr<s5sim::Simulator> plc;
    std::unique_ptr<SimRuntime> runtime;
    uint64_t mark = 0;
};

using Texts = std::vector<std::string>;

TEST_F(S5DeviceTest, FirstScanWritesEveryOutputThenInputsFollowTheController) {
    Set("D10.5", {0xFFFE, 1234});
    Set("M20", {77});
    Set("E4", {0x12, 0x34});
    Set("M30", {0x01, 0x02});
    Set("D11.0", {0x0008});
    Start();
    // Outputs before inputs, DO before AO; all output channels start bad, so every output
    // element is written once; inputs are read one FETCH per block.
    EXPECT_EQ((Texts{"SEND A0 count 1 data 00", "SEND D12.0 count 1 data 00 00",
                     "SEND D12.1 count 1 data 00 00", "SEND M40 count 1 data 00",
                     "FETCH M30 count 2", "FETCH D11.0 count 1", "FETCH D10.5 count 2",
                     "FETCH M20 count 1", "FETCH E4 count 2"}),
              Commands());
    EXPECT_EQ((std::vector<float>{-2, 1234, 77, 0x3412}), runtime->values("A1"));
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 0, 0}), Bad(runtime->statuses("A1")));
    EXPECT_EQ((std::vector<uint32_t>{1, 1, 1}), States(runtime->statuses("D1")));
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 0}), Bad(runtime->statuses("A2")));

    Set("D10.6", {99});
    Set("M30", {0x00});
    Scan();
    // Outputs unchanged: nothing written, nothing read back.
    EXPECT_EQ((Texts{"FETCH M30 count 2", "FETCH D11.0 count 1", "FETCH D10.5 count 2",
                     "FETCH M20 count 1", "FETCH E4 count 2"}),
              Commands());
    EXPECT_EQ(99, runtime->values("A1")[1]);
    EXPECT_EQ((std::vector<uint32_t>{0, 1, 1}), States(runtime->statuses("D1")));
}

TEST_F(S5DeviceTest, OnlyChangedOutputElementsAreWritten) {
    Start();
    Commands();
    // Channels of the runtime's writes count from 1.
    ASSERT_EQ(0, runtime->write("A2", 2, 500.0)) << runtime->lastError();
    ASSERT_EQ(0, runtime->write("D2", 2, 1)) << runtime->lastError();
    Scan();
    Texts commands = Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ("SEND A0 count 1 data 20", commands[0]);
    EXPECT_EQ("SEND D12.1 count 1 data 01 F4", commands[1]);
    EXPECT_EQ(5u, commands.size() - 2); // then the five input blocks
    EXPECT_EQ(500u, Get("D12.1"));
    EXPECT_EQ(0x20u, Get("A0"));
    EXPECT_EQ(500, runtime->values("A2")[1]);
}

TEST_F(S5DeviceTest, AFailedWriteIsRepeatedOnTheNextScan) {
    Start();
    Commands();
    std::string error;
    ASSERT_TRUE(plc->AddFault("error_byte:10@SEND,D", &error)) << error;
    ASSERT_EQ(0, runtime->write("A2", 2, 300.0)) << runtime->lastError();
    Scan();
    EXPECT_EQ("SEND D12.1 count 1 data 01 2C", Commands().at(0));
    EXPECT_EQ(0u, Get("D12.1"));
    EXPECT_EQ(0x20u, runtime->statuses("A2")[1] & 0x20);
    // The station text follows the tables' notifications: wait for it.
    EXPECT_TRUE(test_WaitUntil([&] {
        return runtime->errorTexts().find("DB12DW1: S5 3964R 0xa") != std::string::npos;
    })) << runtime->errorTexts();
    // Same value, but the channel is bad, as is its neighbour of the failed block: both are
    // written again.
    Scan();
    Texts commands = Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ("SEND D12.0 count 1 data 00 00", commands[0]);
    EXPECT_EQ("SEND D12.1 count 1 data 01 2C", commands[1]);
    EXPECT_EQ(300u, Get("D12.1"));
    EXPECT_EQ(0u, runtime->statuses("A2")[1] & 0x20);
    EXPECT_EQ(300, runtime->values("A2")[1]);
}

TEST_F(S5DeviceTest, FirstScanCanReadTheOutputsAndUnchangedOnesCanBeReadBack) {
    Set("D12.0", {7, 8});
    Set("M40", {9});
    Set("A0", {0x01});
    Start(1, 1);
    Texts commands = Commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ((Texts{"FETCH A0 count 1", "FETCH D12.0 count 2", "FETCH M40 count 1"}),
              Texts(commands.begin(), commands.begin() + 3));
    EXPECT_EQ((std::vector<float>{7, 8, 9}), runtime->values("A2"));
    EXPECT_EQ((std::vector<uint32_t>{1, 0}), States(runtime->statuses("D2")));
    EXPECT_EQ(7u, Get("D12.0"));

    // From now on changes are written; with nothing to write the blocks are read back.
    Set("M40", {11});
    ASSERT_EQ(0, runtime->write("A2", 1, 70.0)) << runtime->lastError();
    Scan();
    commands = Commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ((Texts{"FETCH A0 count 1", "SEND D12.0 count 1 data 00 46", "FETCH M40 count 1"}),
              Texts(commands.begin(), commands.begin() + 3));
    EXPECT_EQ(70u, Get("D12.0"));
    EXPECT_EQ(11, runtime->values("A2")[2]);
}

TEST_F(S5DeviceTest, StationTextShowsATimeOutAndClearsAfterRecovery) {
    Start();
    Commands();
    std::string error;
    ASSERT_TRUE(plc->AddFault("ack_no_reply@FETCH,M,20-20*100", &error)) << error;
    Scan();
    // The time-out at M20 stops station 1 for the pass: E4 is not asked for.
    Texts commands = Commands();
    EXPECT_EQ("FETCH M20 count 1", commands.back());
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 0x20, 0x20}), Bad(runtime->statuses("A1")));
    EXPECT_TRUE(test_WaitUntil([&] {
        return runtime->errorTexts().find("F20: TIMEOUT") != std::string::npos;
    })) << runtime->errorTexts();

    plc->faults().Clear();
    Scan();
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 0, 0}), Bad(runtime->statuses("A1")));
    // The cleared text is shown when the one on display has had its 10 seconds.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (runtime->errorTexts().find("TIMEOUT") != std::string::npos &&
           std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        Scan();
    }
    EXPECT_EQ(std::string::npos, runtime->errorTexts().find("TIMEOUT")) << runtime->errorTexts();
}

} // namespace
