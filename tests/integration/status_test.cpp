// What the operator sees of a device end to end, with real processes: output values that
// survive a restart of the scanner, start-up failures in the system status table and its
// SYSER channel, the debug trace switched through the registry while the scanner runs, and
// the link's counts in the device's own status channels.
#include "chfile.h"
#include "chrec.h"
#include "dmw.h"
#include "reg.h"
#include "s5sim.h"
#include "s5types.h"
#include "shm.h"
#include "sim_runtime.h"
#include "tag.h"
#include "test_device.h"
#include "test_ipc.h"
#include "ts.h"

#include <chrono>
#include <csignal>
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

constexpr uint8_t WORD = S5_TYPE_WORD, BIT = S5_TYPE_BIT;

uint16_t db(int block, int word) {
    return static_cast<uint16_t>(block << 8 | word);
}

struct Ch {
    std::string tag;
    uint8_t type; // S5TypeByte
    uint16_t address;
    uint8_t bit = 0;
};

void writeChannels(const fs::path &path, uint8_t channelType, const std::vector<Ch> &channels) {
    std::vector<ChannelRecord> records(channels.size());
    for (size_t i = 0; i < channels.size(); ++i) {
        ChannelRecord &r = records[i];
        chrec_SetType(&r, channelType);
        chrec_SetFlag(&r, ChannelAnalog::Enable, 1);
        tag_SetTag(&r, channels[i].tag.c_str());
        S5ChannelAddress a{};
        a.station = 1;
        a.type = channels[i].type;
        a.address = channels[i].address;
        a.bit_number = channels[i].bit;
        memcpy(chrec_DevicePart(&r), &a, sizeof a);
    }
    ASSERT_EQ(0, chfile_WriteChannels(path.c_str(), records.data(), 0,
                                      static_cast<int32_t>(records.size())));
}

// A 3964R block as it crosses the line: STX, the telegram with every DLE doubled, DLE ETX and
// the block check.
int wireBytes(const std::vector<uint32_t> &telegram) {
    int n = 1;
    for (uint32_t b : telegram)
        n += b == 0x10 ? 2 : 1;
    return n + 3;
}

std::string readFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

using Texts = std::vector<std::string>;

// AO: three words of DB12; DO: bits 0 and 5 of output byte A0.
const std::vector<Ch> AO = {{"FLOW_SETPOINT", S5_AREA_D | WORD, db(12, 0)},
                            {"LEVEL", S5_AREA_D | WORD, db(12, 1)},
                            {"SPEED_LIMIT_01", S5_AREA_D | WORD, db(12, 2)}};
const std::vector<Ch> DO = {{"PUMP_1", S5_AREA_A | BIT, 0, 0}, {"PUMP_2", S5_AREA_A | BIT, 0, 5}};

class StatusTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int run = 0;
        prefix = test_UseUniqueIpcPrefix(("status" + std::to_string(++run)).c_str());
        root = fs::temp_directory_path() / prefix;
        ASSERT_FALSE(test_BuildBin().empty());
        // This process writes the trace switches into the scanner's registry.
        setenv("KVT_REGISTRY_ROOT", (root / "registry").c_str(), 1);
        reg_ForgetProductNames();
        test_StartController(root, &plc);
    }
    void TearDown() override {
        runtime.reset();
        plc.reset();
        test_RemoveIpcObjects(prefix);
        fs::remove_all(root);
        unsetenv("KVT_REGISTRY_ROOT");
        reg_ForgetProductNames();
    }

    fs::path folder() const { return root / "CURRENT_CONFIG" / "S5DEV"; }
    fs::path saved(const char *kind, const char *extension) const {
        return root / "SAVED_VALUES" / (std::string("S5DEV_") + kind + extension);
    }

    // The device record on port COM1 (block check on, short time-outs, one attempt) and
    // the save settings.
    void writeConfig(uint8_t readOutputsFirst, uint8_t byTag, const char *port = "COM1",
                     int32_t intervalMs = 1000, int32_t rate = 3600000) {
        S5PortSettings s{};
        memcpy(s.port_name, port, strlen(port));
        s.baud_rate = 19200;
        s.data_format = 1;
        s.parity = 2;
        s.protocol_mode = 1;
        s.read_outputs_first = readOutputsFirst;
        s.char_delay_ms = 100;
        s.ack_timeout_ms = 300;
        s.block_wait_ms = 300;
        s.retries = 1;
        test_WriteDeviceConfig(folder(), intervalMs, &s);
        // SaveOutputs on, by position or by tag, and a period long enough that only the stop
        // saves.
        char save[6] = {1, static_cast<char>(byTag)};
        memcpy(save + 2, &rate, sizeof rate);
        std::ofstream(folder() / "saveconfig", std::ios::binary).write(save, sizeof save);
    }

    void createRuntime(const std::string &device, const std::string &tables) {
        std::string text = test_RuntimeHead(root) + "device KSTRN 1 PLC-1 S5DEV " + device + "\n" +
                           tables + "errors 4\n";
        SimDescription description;
        std::string error;
        ASSERT_EQ(sim_ParseDescription(text, &description, &error), 0) << error;
        runtime = std::make_unique<SimRuntime>(description);
        ASSERT_EQ(runtime->create(), 0) << runtime->lastError();
    }

    void startReady() {
        mark = plc->log().NextSeq();
        ASSERT_EQ(runtime->start(1), 0) << runtime->lastError();
        ASSERT_EQ(runtime->waitReady(1), 0) << runtime->lastError();
    }
    void stop() {
        int status = -1;
        ASSERT_EQ(runtime->stop(1, &status), 0) << runtime->lastError();
        ASSERT_EQ(status, 0);
    }
    void scan() { ASSERT_EQ(runtime->scan(1), 0) << runtime->lastError(); }

    // An output device: AO in A2, DO in D2, saved by position or by tag.
    void startOutputs(uint8_t byTag, uint8_t readOutputsFirst = 0) {
        writeConfig(readOutputsFirst, byTag);
        writeChannels(folder() / "ao", CHANNEL_TYPE_AO, AO);
        writeChannels(folder() / "do", CHANNEL_TYPE_DO, DO);
        createRuntime("ao=A2 do=D2", "table A2 8 3\ntable D2 4 2\n");
        startReady();
    }

    // Writes outputs as another process, lets the scanner send them and stops it, which
    // saves them.
    void changeOutputsAndStop(const std::vector<double> &ao, const std::vector<int> &dout) {
        for (size_t i = 0; i < ao.size(); ++i)
            ASSERT_EQ(0, runtime->write("A2", static_cast<int>(i) + 1, ao[i]))
                << runtime->lastError();
        for (size_t i = 0; i < dout.size(); ++i)
            ASSERT_EQ(0, runtime->write("D2", static_cast<int>(i) + 1, dout[i]))
                << runtime->lastError();
        scan();
        stop();
    }

    // What a restart may not take from anywhere but the saved files: the controller's
    // outputs and the values left in the segments.
    void forgetOutputs() {
        set("D12.0", {0, 0, 0, 0});
        set("A0", {0});
        for (const char *id : {"A2", "D2"}) {
            SegmentHeader *seg = shm_OpenSegment((std::string("dm_") + id).c_str());
            ASSERT_NE(seg, SHM_NO_SEGMENT);
            shm_Lock(seg);
            memset(shm_Payload(seg) + 20, 0, static_cast<size_t>(seg->payloadLength - 20));
            shm_Unlock(seg);
        }
    }

    Texts commands() { return test_Commands(*plc, &mark); }
    void set(const std::string &where, const std::vector<uint32_t> &values) {
        test_SetMemory(*plc, where, values);
    }
    uint32_t get(const std::string &where) { return test_GetMemory(*plc, where); }
    std::vector<uint32_t> states(const char *id) {
        std::vector<uint32_t> out;
        for (uint32_t s : runtime->statuses(id))
            out.push_back(s & 1u);
        return out;
    }

    // A channel record of a configuration segment, read under its lock.
    ChannelRecord record(const char *id, int channel) {
        ChannelRecord r{};
        SegmentHeader *conf = shm_OpenSegment((std::string("dm_") + id + "_conf").c_str());
        EXPECT_NE(conf, SHM_NO_SEGMENT);
        if (conf == SHM_NO_SEGMENT) return r;
        shm_Lock(conf);
        memcpy(r.bytes, shm_Payload(conf) + 216 * (channel - 1), sizeof r.bytes);
        shm_Unlock(conf);
        return r;
    }

    void setTrace(const char *suffix, const std::string &text) {
        uint32_t type = PLAT_REG_SZ;
        uint32_t size = static_cast<uint32_t>(text.size() + 1);
        std::string name = std::string("S5DEV") + suffix;
        ASSERT_EQ(0u,
                  reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_SET_VALUE,
                                  name.c_str(), &type, const_cast<char *>(text.c_str()), &size));
    }

    std::string prefix;
    fs::path root;
    std::unique_ptr<s5sim::Simulator> plc;
    std::unique_ptr<SimRuntime> runtime;
    uint64_t mark = 0;
};
} // namespace

// ---- Saved values ----

TEST_F(StatusTest, OutputsChangedBeforeAStopAreRestoredAndWrittenAfterTheRestart) {
    startOutputs(0);
    changeOutputsAndStop({123, 0, 4567}, {0, 1});
    EXPECT_EQ(3u * 16, fs::file_size(saved("ao", ".bin")));
    EXPECT_EQ(3u * 15, fs::file_size(saved("ao", ".tag")));
    EXPECT_EQ(2u * 16, fs::file_size(saved("do", ".bin")));

    forgetOutputs();
    startReady();
    EXPECT_EQ((std::vector<float>{123, 0, 4567}), runtime->values("A2"));
    EXPECT_EQ((std::vector<uint32_t>{0, 1}), states("D2"));
    // Outputs start bad, so the first scan writes every restored element, DO before AO.
    EXPECT_EQ((Texts{"SEND A0 count 1 data 20", "SEND D12.0 count 1 data 00 7B",
                     "SEND D12.1 count 1 data 00 00", "SEND D12.2 count 1 data 11 D7"}),
              commands());
    EXPECT_EQ(123u, get("D12.0"));
    EXPECT_EQ(4567u, get("D12.2"));
    EXPECT_EQ(0x20u, get("A0"));
}

TEST_F(StatusTest, AConfigurationSegmentShorterThanItsTableEndsTheScannerWhateverTheStamp) {
    // The stamps are current after the first run; the DO table's "_conf" then claims one
    // record of two, at the next start and at a reconfigure.
    for (bool atStart : {true, false}) {
        SCOPED_TRACE(atStart);
        startOutputs(1);
        changeOutputsAndStop({1, 2, 3}, {1, 1});
        if (!atStart) startReady();
        SegmentHeader *conf = shm_OpenSegment("dm_D2_conf");
        ASSERT_NE(conf, SHM_NO_SEGMENT);
        conf->payloadLength = 216;
        if (atStart)
            ASSERT_EQ(runtime->start(1), 0) << runtime->lastError();
        else
            ASSERT_EQ(runtime->post(1, 302), 0) << runtime->lastError();
        int status = -1;
        ASSERT_EQ(runtime->waitExit(1, &status), 0) << runtime->lastError();
        EXPECT_EQ(status, 67);
        EXPECT_NE(runtime->errorTexts().find("CAN'T READ CONFIGURATION -0067"), std::string::npos)
            << runtime->errorTexts();
        runtime.reset();
        test_RemoveIpcObjects(prefix);
        prefix = test_UseUniqueIpcPrefix(("short" + std::to_string(atStart)).c_str());
    }
}

TEST_F(StatusTest, NegativeSaveRateAndScanIntervalNeitherSpinNorScheduleIntoThePast) {
    fs::path trace = root / "trace.txt";
    setTrace("_DebugType", "FILE");
    setTrace("_DebugFile", trace.string());
    setTrace("_Debug", "ON");
    writeConfig(0, 0, "COM1", -1000, -1000);
    writeChannels(folder() / "ao", CHANNEL_TYPE_AO, AO);
    writeChannels(folder() / "do", CHANNEL_TYPE_DO, DO);
    createRuntime("ao=A2 do=D2", "table A2 8 3\ntable D2 4 2\n");
    auto ms = [](const TimeStamp &t) { return int64_t{t.seconds} * 1000 + t.milliseconds; };
    TimeStamp before = ts_Now();
    startReady();
    TimeStamp after = ts_Now();
    // No interval: the next scan is due at once, never in the past or a period ahead.
    DeviceSlot s{};
    ASSERT_TRUE(runtime->slot(1, &s));
    EXPECT_GE(ms(s.nextScan), ms(before));
    EXPECT_LE(ms(s.nextScan), ms(after));
    const int requests = 5;
    for (int i = 0; i < requests; ++i)
        scan();
    stop();
    // No period: an idle pass saves and the pass after it sleeps until the next request, so
    // the loop runs a save pass at most once per request (and once after the start).
    std::string text = readFile(trace);
    size_t saves = 0;
    for (size_t at = text.find("outputs saved"); at != std::string::npos;
         at = text.find("outputs saved", at + 1))
        ++saves;
    EXPECT_GE(saves, 1u);
    EXPECT_LE(saves, 2u * (requests + 1)) << text.substr(0, 2000);
}

TEST_F(StatusTest, ReadingOutputsOnTheFirstScanTakesTheControllerOverTheSavedValues) {
    startOutputs(0, 1);
    changeOutputsAndStop({123, 0, 4567}, {0, 1});
    forgetOutputs();
    set("D12.1", {9});
    startReady();
    Texts sent = commands();
    for (const std::string &c : sent)
        EXPECT_EQ(0u, c.rfind("FETCH", 0)) << c;
    EXPECT_EQ((std::vector<float>{0, 9, 0}), runtime->values("A2"));
    EXPECT_EQ(0u, get("D12.0"));
}

TEST_F(StatusTest, ByTagValuesFollowTheirChannelsAfterAReorder) {
    startOutputs(1);
    changeOutputsAndStop({11, 22, 33}, {1, 0});
    forgetOutputs();
    // The configuration moves SPEED_LIMIT_01 to the front, drops LEVEL and adds a channel;
    // each channel keeps its controller address.
    writeChannels(folder() / "ao", CHANNEL_TYPE_AO,
                  {{"SPEED_LIMIT_01", S5_AREA_D | WORD, db(12, 2)},
                   {"NEW_CHANNEL", S5_AREA_D | WORD, db(12, 3)},
                   {"FLOW_SETPOINT", S5_AREA_D | WORD, db(12, 0)}});
    writeChannels(folder() / "do", CHANNEL_TYPE_DO,
                  {{"PUMP_2", S5_AREA_A | BIT, 0, 5}, {"PUMP_1", S5_AREA_A | BIT, 0, 0}});
    startReady();
    EXPECT_EQ((std::vector<float>{33, 0, 11}), runtime->values("A2"));
    EXPECT_EQ((std::vector<uint32_t>{0, 1}), states("D2"));
    EXPECT_EQ(11u, get("D12.0"));
    EXPECT_EQ(0u, get("D12.1"));
    EXPECT_EQ(33u, get("D12.2"));
    EXPECT_EQ(0x01u, get("A0"));
}

TEST_F(StatusTest, WithoutTheTagFileOnlyTagsThatFitTheValueFileMatch) {
    startOutputs(1);
    changeOutputsAndStop({11, 22, 33}, {});
    forgetOutputs();
    fs::remove(saved("ao", ".tag"));
    startReady();
    // LEVEL fits the 12 tag characters of the value file; the two longer tags would match
    // only on a prefix, which could put a value on the wrong channel.
    EXPECT_EQ((std::vector<float>{0, 22, 0}), runtime->values("A2"));
    EXPECT_EQ(0u, get("D12.0"));
    EXPECT_EQ(22u, get("D12.1"));
}

TEST_F(StatusTest, AValueFileCutShortRestoresTheRecordsBeforeTheCut) {
    startOutputs(0);
    changeOutputsAndStop({11, 22, 33}, {1, 1});
    forgetOutputs();
    // A damaged last record, and a DO file from a table with one channel fewer.
    fs::resize_file(saved("ao", ".bin"), 2 * 16 + 7);
    fs::resize_file(saved("do", ".bin"), 16);
    startReady();
    EXPECT_EQ((std::vector<float>{11, 22, 0}), runtime->values("A2"));
    EXPECT_EQ((std::vector<uint32_t>{1, 0}), states("D2"));
    EXPECT_EQ(22u, get("D12.1"));
    EXPECT_EQ(0u, get("D12.2"));
    EXPECT_EQ(0x01u, get("A0"));
    // The next stop writes whole files again.
    stop();
    EXPECT_EQ(3u * 16, fs::file_size(saved("ao", ".bin")));
}

TEST_F(StatusTest, ByTagAShorterTagFileEndsTheLoadAtItsEnd) {
    startOutputs(1);
    changeOutputsAndStop({11, 22, 33}, {});
    forgetOutputs();
    fs::resize_file(saved("ao", ".tag"), 15);
    startReady();
    EXPECT_EQ((std::vector<float>{11, 0, 0}), runtime->values("A2"));
}

TEST_F(StatusTest, ALongerValueFileKeepsItsStaleTailAfterTheNextSave) {
    startOutputs(0);
    changeOutputsAndStop({11, 22, 33}, {});
    // A fourth record, as left by a table that had one channel more.
    {
        std::ofstream bin(saved("ao", ".bin"), std::ios::binary | std::ios::app);
        std::string stale = "OLD_CHANNEL";
        stale.resize(12, '\0');
        float value = 99;
        bin.write(stale.data(), 12).write(reinterpret_cast<const char *>(&value), 4);
    }
    forgetOutputs();
    startReady();
    EXPECT_EQ((std::vector<float>{11, 22, 33}), runtime->values("A2"));
    ASSERT_EQ(0, runtime->write("A2", 2, 44.0)) << runtime->lastError();
    scan();
    stop();
    std::string bin = readFile(saved("ao", ".bin"));
    ASSERT_EQ(4u * 16, bin.size());
    float second, stale;
    memcpy(&second, bin.data() + 16 + 12, 4);
    memcpy(&stale, bin.data() + 48 + 12, 4);
    EXPECT_EQ(44.0f, second);
    EXPECT_EQ(99.0f, stale);
    EXPECT_EQ("OLD_CHANNEL", std::string(bin.data() + 48));
}

// ---- System status entry and SYSER channel ----

namespace {
class StartFailureTest : public StatusTest {
protected:
    // SYSER's table SY: channel 1 belongs to another component, channel 2 to this device.
    void createWithSyser(const std::string &device, const std::string &tables) {
        createRuntime(device, tables + "process SYSER id=SY\ntable SY 4 2\n");
        SegmentHeader *conf = shm_OpenSegment("dm_SY_conf");
        ASSERT_NE(conf, SHM_NO_SEGMENT);
        shm_Lock(conf);
        const char *components[] = {"OTHER-DEVICE", "PLC-1"};
        for (int c = 0; c < 2; ++c) {
            ChannelRecord r{};
            chrec_SetType(&r, CHANNEL_TYPE_DO);
            chrec_SetFlag(&r, ChannelDigital::Enable, 1);
            tag_SetDescription(&r, components[c]);
            memcpy(shm_Payload(conf) + 216 * c, r.bytes, sizeof r.bytes);
        }
        shm_Unlock(conf);
    }

    // The entry and the channel both show the text.
    void expectShown(const std::string &text) {
        std::string entries = runtime->errorTexts();
        EXPECT_NE(std::string::npos, entries.find("kind=2 name=PLC-1 text=" + text + "\n"))
            << entries;
        std::vector<uint32_t> statuses = runtime->statuses("SY");
        ASSERT_EQ(2u, statuses.size());
        EXPECT_EQ(0u, statuses[0] & 1u);
        EXPECT_EQ(1u, statuses[1] & 1u);
        ChannelRecord r = record("SY", 2);
        EXPECT_EQ(text.substr(0, 32), chrec_GetText(r, ChannelDigital::HighStateText));
        EXPECT_EQ(text.substr(0, 32), chrec_GetText(r, ChannelDigital::AlarmText));
        EXPECT_EQ("", chrec_GetText(record("SY", 1), ChannelDigital::HighStateText));
    }
};
} // namespace

TEST_F(StartFailureTest, AMissingConfigurationFolderIsShownWithItsCode) {
    createWithSyser("ai=A1", "table A1 8 3\n");
    ASSERT_EQ(runtime->start(1), 0) << runtime->lastError();
    int status = -1;
    ASSERT_EQ(runtime->waitExit(1, &status), 0) << runtime->lastError();
    EXPECT_EQ(2, status);
    expectShown("CAN'T ACCESS CONFIG DIR -0002");

    // Once the folder is there, the next start takes the same entry and clears it.
    writeConfig(0, 0);
    writeChannels(folder() / "ai", CHANNEL_TYPE_AI,
                  {{"P1", S5_AREA_D | WORD, db(10, 0)},
                   {"P2", S5_AREA_D | WORD, db(10, 1)},
                   {"P3", S5_AREA_D | WORD, db(10, 2)}});
    startReady();
    EXPECT_EQ("error 0: kind=2 name=PLC-1 text=\n", runtime->errorTexts());
    // The channel is cleared by the scanner's own initialisation, which may finish just after
    // the slot reads ready.
    EXPECT_TRUE(test_WaitUntil([&] { return (runtime->statuses("SY")[1] & 1u) == 0; }));
}

TEST_F(StartFailureTest, AMissingPortIsShownWithItsCode) {
    writeConfig(0, 0, "COM2");
    writeChannels(folder() / "ai", CHANNEL_TYPE_AI,
                  {{"P1", S5_AREA_D | WORD, db(10, 0)}, {"P2", S5_AREA_D | WORD, db(10, 1)}});
    // A port name that leads nowhere: never a fall-back to a machine port.
    fs::create_symlink(root / "no-such-tty", root / "ports" / "COM2");
    createWithSyser("ai=A1", "table A1 8 2\n");
    ASSERT_EQ(runtime->start(1), 0) << runtime->lastError();
    int status = -1;
    ASSERT_EQ(runtime->waitExit(1, &status), 0) << runtime->lastError();
    EXPECT_EQ(2, status);
    expectShown("CAN'T LOAD PATH DESCS -0002");
}

// ---- Debug trace and status channels of a device with inputs ----

namespace {
class InputDeviceTest : public StatusTest {
protected:
    void startInputs(const std::string &device, const std::string &tables) {
        writeConfig(0, 0);
        writeChannels(folder() / "ai", CHANNEL_TYPE_AI,
                      {{"P1", S5_AREA_D | WORD, db(10, 0)},
                       {"P2", S5_AREA_D | WORD, db(10, 1)},
                       {"P3", S5_AREA_D | WORD, db(10, 2)}});
        createRuntime(device, tables);
        startReady();
    }
    // What the scanner sent to the debugger output: its standard error, kept in its log.
    std::string debuggerOutput() { return readFile(root / "scanner-1.log"); }
};
} // namespace

TEST_F(InputDeviceTest, TheRegistrySwitchesTheTraceWhileTheScannerRuns) {
    fs::path trace = root / "trace.txt";
    setTrace("_DebugType", "FILE");
    setTrace("_DebugFile", trace.string());
    startInputs("ai=A1", "table A1 8 3\n");
    scan();
    EXPECT_FALSE(fs::exists(trace));

    setTrace("_Debug", "on");
    scan();
    // Every block on the line, byte by byte: the FETCH command out, the reply in.
    std::string text = readFile(trace);
    EXPECT_NE(std::string::npos,
              text.find("TX 0x02 0x00 0x00 0x45 0x44 0x0a 0x00 0x00 0x03 0xff 0xff 0x10 0x03 "))
        << text;
    EXPECT_NE(std::string::npos, text.find("RX 0x02 0x00 0x00 0x00 0x00 ")) << text;
    EXPECT_NE(std::string::npos, debuggerOutput().find("S5DEV : TX 0x02 0x00 0x00 0x45"))
        << debuggerOutput();

    setTrace("_Debug", "OFF");
    scan();
    // Switched off at the first write after the change: nothing after it reached the file.
    EXPECT_EQ(text, readFile(trace));
    scan();
    EXPECT_EQ(text, readFile(trace));

    // On again: the file starts anew.
    std::ofstream(trace, std::ios::app) << "left over\n";
    setTrace("_Debug", "ON");
    scan();
    std::string again = readFile(trace);
    EXPECT_EQ(std::string::npos, again.find("left over"));
    EXPECT_EQ(0u, again.find("TX 0x02 ")) << again;
}

// ---- Status channels ----

TEST_F(InputDeviceTest, OneFetchCountsBothBlocksInThePortStatusChannels) {
    // A data word 0x1010 is doubled on the line and counts twice.
    set("D10.0", {0x0012, 0x1010, 0x0304});
    startInputs("ai=A1 own=S1", "table A1 8 3\ntable S1 8 10\n");
    EXPECT_EQ((Texts{"FETCH D10.0 count 3"}), commands());
    EXPECT_EQ((std::vector<float>{0x12, 0x1010, 0x0304}), runtime->values("A1"));

    int sent = wireBytes({0x00, 0x00, 0x45, 0x44, 0x0A, 0x00, 0x00, 0x03, 0xFF, 0xFF});
    int received = wireBytes({0x00, 0x00, 0x00, 0x00, 0x00, 0x12, 0x10, 0x10, 0x03, 0x04});
    EXPECT_EQ(14, sent);
    EXPECT_EQ(16, received);
    // Port 0, rows RB RP RT RE RC TB TP TE (the analogue rows 3 to 10).
    std::vector<float> values = runtime->values("S1");
    ASSERT_EQ(10u, values.size());
    EXPECT_EQ((std::vector<float>{static_cast<float>(received), 1, 0, 0, 0,
                                  static_cast<float>(sent), 1, 0}),
              std::vector<float>(values.begin() + 2, values.end()));
    // Rows ST and RS are digital: STATUS is on ("ENABLED"), no reset asked for.
    std::vector<uint32_t> statuses = runtime->statuses("S1");
    ASSERT_EQ(10u, statuses.size());
    EXPECT_EQ(1u, statuses[0] & 1u);
    EXPECT_EQ(0u, statuses[1] & 1u);
    ChannelRecord st = record("S1", 1);
    EXPECT_EQ(0u, chrec_GetText(st, ChannelDigital::HighStateText).rfind("ENABLED", 0));
    EXPECT_EQ("KSTRN_1_ST", tag_GetTag(st));
    EXPECT_EQ("KSTRN_1_STATUS", tag_GetDescription(st));
}

TEST_F(InputDeviceTest, AnOperatorResetZeroesThePortCountersAtTheNextExchange) {
    set("D10.0", {1, 2, 3});
    startInputs("ai=A1 own=S1", "table A1 8 3\ntable S1 8 10\n");
    // The operator's write of RS, through the runtime's writer as any display does.
    dm_ResetForTests();
    uint32_t on = 1;
    ASSERT_EQ(0, dm_WriteDigital("S1", 2, 2, &on));
    ASSERT_EQ(1u, runtime->statuses("S1")[1] & 1u);
    scan();
    // The command block's bytes were counted first and met the reset, which also took
    // STATUS and RS back to 0; its packet and the whole reply block counted after it.
    std::vector<float> values = runtime->values("S1");
    ASSERT_EQ(10u, values.size());
    EXPECT_EQ((std::vector<float>{14, 1, 0, 0, 0, 0, 1, 0}),
              std::vector<float>(values.begin() + 2, values.end()));
    std::vector<uint32_t> statuses = runtime->statuses("S1");
    EXPECT_EQ(1u, statuses[0] & 1u);
    EXPECT_EQ(0u, statuses[1] & 1u);
}

TEST_F(StatusTest, APeriodicSaveKeepsOutputsThroughACrash) {
    writeConfig(0, 0);
    // Saved every 100 ms while the scanner runs.
    char save[6] = {1, 0};
    int32_t rate = 100;
    memcpy(save + 2, &rate, sizeof rate);
    std::ofstream(folder() / "saveconfig", std::ios::binary).write(save, sizeof save);
    writeChannels(folder() / "ao", CHANNEL_TYPE_AO, AO);
    writeChannels(folder() / "do", CHANNEL_TYPE_DO, DO);
    createRuntime("ao=A2 do=D2", "table A2 8 3\ntable D2 4 2\n");
    startReady();
    ASSERT_EQ(0, runtime->write("A2", 2, 321.0)) << runtime->lastError();
    scan();
    auto savedSecond = [&] {
        std::string bin = readFile(saved("ao", ".bin"));
        float v = 0;
        if (bin.size() >= 32) memcpy(&v, bin.data() + 16 + 12, 4);
        return v;
    };
    // The loop saves at its first pass after the period, which a scan request starts.
    ASSERT_TRUE(test_WaitUntil([&] { return runtime->scan(1) == 0 && savedSecond() == 321.0f; }));

    kill(runtime->scannerPid(1), SIGKILL);
    int status = -1;
    ASSERT_EQ(runtime->waitExit(1, &status), 0) << runtime->lastError();
    EXPECT_EQ(128 + SIGKILL, status);
    forgetOutputs();
    startReady();
    EXPECT_EQ((std::vector<float>{0, 321, 0}), runtime->values("A2"));
    EXPECT_EQ(321u, get("D12.1"));
}
