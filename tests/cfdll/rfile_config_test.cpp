// Configuration file access: the local folder, and a TLS server with its fallbacks.
#include "cfdll_fixture.h"
#include "plat_error.h"
#include "rfile_config.h"
#include "sim_net.h"
#include "srv.h"
#include "test_ipc.h"
#include "xml.h"

#include <atomic>
#include <cerrno>
#include <sstream>
#include <sys/syscall.h>
#include <unistd.h>

// Every change of the current directory in this program is counted: a read that switches to
// the device folder and back leaves the same folder behind, yet another thread of the host
// would have resolved its relative paths in the device folder meanwhile.
static std::atomic<int> g_directoryChanges{0};

extern "C" int chdir(const char *path) noexcept {
    ++g_directoryChanges;
    return static_cast<int>(syscall(SYS_chdir, path));
}

extern "C" int fchdir(int fd) noexcept {
    ++g_directoryChanges;
    return static_cast<int>(syscall(SYS_fchdir, fd));
}

namespace {

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> g_hookCalls;

int HookRead(const char *folder, const char *kind, int number, void *buffer, int size) {
    g_hookCalls.push_back(std::string("read ") + folder + " " + kind + " " +
                          std::to_string(number));
    std::memset(buffer, 'L', static_cast<size_t>(size));
    return 0;
}

int HookWrite(const char *folder, const char *user, const char *kind, int number, const void *,
              int size) {
    g_hookCalls.push_back(std::string("write ") + folder + " " + (user ? user : "-") + " " + kind +
                          " " + std::to_string(number) + " " + std::to_string(size));
    return 0;
}

class ConfigAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        test_UseUniqueIpcPrefix("rfcfg");
        dll_WireServices();
        const char *bin = getenv("KVT_BUILD_BIN");
        ASSERT_NE(bin, nullptr);
        setenv("KVT_BIN", bin, 1);
        root_ = tmp_.path() + "/root";
        mkdir(root_.c_str(), 0777);
        mkdir((root_ + "/LOGGERS").c_str(), 0777);
        // The root's own "config", which every configuration write touches.
        std::ofstream(root_ + "/config", std::ios::binary) << std::string(705, '\0');
        setenv("KVT_CURRENT_CONFIG", root_.c_str(), 1);
        for (int n = 1; n <= 25; ++n)
            ai_.push_back(test_AnalogChannel(("T" + std::to_string(n)).c_str(), n));
        test_WriteDeviceFolder(root_ + "/KSTRN_01", config_, 1, 1, 1, 5000, {{0, ai_}});
        SimNetSettings settings;
        settings.filesRoot = root_;
        server_ = std::make_unique<SimNetEndpoint>(settings);
        ASSERT_TRUE(server_->start()) << server_->error();
        spec_ = "tls://127.0.0.2:" + std::to_string(server_->port());
        g_hookCalls.clear();
    }
    void TearDown() override {
        rfile_SetLoggerFileHooks(nullptr, nullptr);
        srv_CloseAll();
        server_->stop();
    }
    std::string requests() const { return server_->formatRequests(); }

    TempRegistry registry_;
    TempFolder tmp_;
    std::string root_, spec_;
    DeviceConfig config_ = test_DeviceConfig();
    std::vector<ChannelRecord> ai_;
    std::unique_ptr<SimNetEndpoint> server_;
};

TEST_F(ConfigAccessTest, ChannelsLocallyAndFromTheServer) {
    // Local: channels 10 to 19 straight from the folder, no request.
    std::vector<ChannelRecord> got(10);
    ASSERT_EQ(rfile_ReadChannels(".", "KSTRN_01", 0, got.data(), 10, 10), 0);
    EXPECT_EQ(std::memcmp(got.data(), ai_.data() + 10, 10 * 216), 0);
    EXPECT_TRUE(server_->requests().empty());

    // Remote with IF.
    std::fill(got.begin(), got.end(), ChannelRecord{});
    ASSERT_EQ(rfile_ReadChannels(spec_.c_str(), "KSTRN_01", 0, got.data(), 10, 10), 0);
    EXPECT_EQ(std::memcmp(got.data(), ai_.data() + 10, 10 * 216), 0);
    EXPECT_NE(requests().find("IF,2162,KSTRN_01,10,10,0,,0"), std::string::npos) << requests();

    // A reply of the wrong length: records by RF from byte 8 + 216 x 10 on.
    server_->clearRequests();
    ASSERT_TRUE(server_->script("IF, 1,xx"));
    std::fill(got.begin(), got.end(), ChannelRecord{});
    ASSERT_EQ(rfile_ReadChannels(spec_.c_str(), "KSTRN_01", 0, got.data(), 10, 10), 0);
    EXPECT_EQ(std::memcmp(got.data(), ai_.data() + 10, 10 * 216), 0);
    EXPECT_NE(requests().find("RF,KVT_CURRENT_CONFIG\\KSTRN_01\\ai\t2160\t2168\t"),
              std::string::npos)
        << requests();

    // Past the end of the file: the short read fails with 38, not with no code at all.
    errno = 0;
    EXPECT_EQ(rfile_ReadChannels(spec_.c_str(), "KSTRN_01", 0, got.data(), 20, 10), -1);
    EXPECT_EQ(errno, WERR_HANDLE_EOF);

    // A missing extra file is read "open existing": -1 with 2, and nothing is left behind.
    char extra[16];
    errno = 0;
    EXPECT_EQ(rfile_ReadChannelsEx(spec_.c_str(), "KSTRN_01", 0, got.data(), 0, 2, extra,
                                   sizeof extra, "extra.bin"),
              -1);
    EXPECT_EQ(errno, WERR_FILE_NOT_FOUND);
    EXPECT_FALSE(Exists(root_ + "/KSTRN_01/extra.bin"));
    EXPECT_NE(requests().find(
                  "RF,KVT_CURRENT_CONFIG\\KSTRN_01\\extra.bin\t16\t0\t0\t-2147483648\t3\t0\t3\t"),
              std::string::npos)
        << requests();

    // The server's configuration error is final and its text is kept.
    server_->clearRequests();
    ASSERT_TRUE(server_->script("IF, -1,1465,bad ai file"));
    EXPECT_EQ(rfile_ReadChannels(spec_.c_str(), "KSTRN_01", 0, got.data(), 0, 1), -1);
    EXPECT_EQ(plat_GetLastError(), WERR_XML_PARSE_ERROR);
    EXPECT_EQ(requests().find("RF,"), std::string::npos);
}

TEST_F(ConfigAccessTest, DeviceConfigurationAndItsOutputs) {
    DeviceConfig got{};
    uint8_t autoEnable = 9, saveOutputs = 9, byTag = 9;
    int32_t rate = -7;
    // Only SaveRate wanted: the other three outputs stay as they were.
    ASSERT_EQ(rfile_ReadDeviceConfigEx(spec_.c_str(), "KSTRN_01", got.bytes, sizeof got.bytes,
                                       nullptr, 0, nullptr, nullptr, nullptr, nullptr, &rate),
              0);
    EXPECT_EQ(std::memcmp(got.bytes, config_.bytes, sizeof got.bytes), 0);
    EXPECT_EQ(rate, 5000);
    EXPECT_EQ(autoEnable, 9);
    EXPECT_NE(requests().find("GF,713,KSTRN_01,704,0,,0,0,0,1"), std::string::npos) << requests();

    // Fallback: "config" from byte 1 by RF; all four outputs unchanged.
    ASSERT_TRUE(server_->script("GF, -1,5"));
    got = DeviceConfig{};
    rate = -7;
    ASSERT_EQ(rfile_ReadDeviceConfigEx(spec_.c_str(), "KSTRN_01", got.bytes, sizeof got.bytes,
                                       nullptr, 0, nullptr, &autoEnable, &saveOutputs, &byTag,
                                       &rate),
              0);
    EXPECT_EQ(std::memcmp(got.bytes, config_.bytes, sizeof got.bytes), 0);
    EXPECT_EQ(rate, -7);
    EXPECT_EQ(autoEnable, 9);

    // The save settings and the status byte, locally and remotely, and the current directory
    // never moves, not even for a while.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    g_directoryChanges = 0;
    for (const char *server : {".", spec_.c_str()}) {
        saveOutputs = byTag = autoEnable = 9;
        rate = 0;
        ASSERT_EQ(rfile_ReadDeviceSaveSettings(server, "KSTRN_01", &saveOutputs, &byTag, &rate), 0)
            << server;
        EXPECT_EQ(saveOutputs, 1);
        EXPECT_EQ(byTag, 1);
        EXPECT_EQ(rate, 5000);
        ASSERT_EQ(rfile_ReadDeviceAutoEnable(server, "KSTRN_01", &autoEnable), 0) << server;
        EXPECT_EQ(autoEnable, 1);
    }
    char after[4096];
    ASSERT_NE(getcwd(after, sizeof after), nullptr);
    EXPECT_STREQ(after, cwd);
    EXPECT_EQ(g_directoryChanges.load(), 0);

    // Writes of the save settings and the status byte: "config" keeps its record.
    const std::string configFile = root_ + "/KSTRN_01/config";
    const std::string before = ReadAll(configFile);
    ASSERT_EQ(rfile_WriteDeviceAutoEnable(spec_.c_str(), "KSTRN_01", 0), 0);
    ASSERT_EQ(rfile_WriteDeviceSaveSettings(spec_.c_str(), "KSTRN_01", 0, 1, 750), 0);
    std::string now = ReadAll(configFile);
    ASSERT_EQ(now.size(), before.size());
    EXPECT_EQ(now[0], 0);
    EXPECT_EQ(now.substr(1), before.substr(1));
    std::string save = ReadAll(root_ + "/KSTRN_01/saveconfig");
    int32_t stored;
    std::memcpy(&stored, save.data() + 2, 4);
    EXPECT_EQ(save.substr(0, 2), std::string("\0\1", 2));
    EXPECT_EQ(stored, 750);
    ASSERT_EQ(rfile_WriteDeviceAutoEnable(".", "KSTRN_01", 1), 0);
    ASSERT_EQ(rfile_WriteDeviceSaveSettings(".", "KSTRN_01", 1, 0, 2500), 0);
    ASSERT_EQ(rfile_ReadDeviceAutoEnable(".", "KSTRN_01", &autoEnable), 0);
    ASSERT_EQ(rfile_ReadDeviceSaveSettings(".", "KSTRN_01", &saveOutputs, &byTag, &rate), 0);
    EXPECT_EQ(autoEnable, 1);
    EXPECT_EQ(saveOutputs, 1);
    EXPECT_EQ(byTag, 0);
    EXPECT_EQ(rate, 2500);

    // A pipe server on another computer whose folder is not named here would be a share
    // there: refused with 53.
    unsetenv("KVT_CURRENT_CONFIG");
    EXPECT_EQ(rfile_ReadDeviceAutoEnable("OTHERHOST", "KSTRN_01", &autoEnable), -1);
    EXPECT_EQ(plat_GetLastError(), WERR_BAD_NETPATH);
    setenv("KVT_CURRENT_CONFIG", root_.c_str(), 1);
}

TEST_F(ConfigAccessTest, LoggerFiles) {
    char buffer[40];
    // The module's set-up wires the logger services' own reader and writer.
    std::string record("\x01\x02\0\x04", 4);
    ASSERT_EQ(rfile_WriteLoggerConfig(".", "zz", 8, record.data(), 4, "ann"), 0);
    EXPECT_EQ(ReadAll(root_ + "/LOGGERS/zz_8"), record);
    std::memset(buffer, 0, sizeof buffer);
    ASSERT_EQ(rfile_ReadLoggerConfig(".", "zz", 8, buffer, 4), 0);
    EXPECT_EQ(std::string(buffer, 4), record);

    // Locally any reader and writer installed, through the hooks; none: 50.
    rfile_SetLoggerFileHooks(nullptr, nullptr);
    EXPECT_EQ(rfile_ReadLoggerConfig(".", "stand", 3, buffer, sizeof buffer), -1);
    EXPECT_EQ(plat_GetLastError(), WERR_NOT_SUPPORTED);
    rfile_SetLoggerFileHooks(HookRead, HookWrite);
    ASSERT_EQ(rfile_ReadLoggerConfig(".", "stand", 3, buffer, sizeof buffer), 0);
    ASSERT_EQ(rfile_WriteLoggerConfig(".", "stand", 3, buffer, 12, "ann"), 0);
    ASSERT_EQ(g_hookCalls.size(), 2u);
    EXPECT_EQ(g_hookCalls[0], "read " + root_ + "/LOGGERS stand 3");
    EXPECT_EQ(g_hookCalls[1], "write " + root_ + "/LOGGERS ann stand 3 12");

    // Remotely CF carries every byte, a zero included.
    record.assign("ab\0cd\0", 6);
    ASSERT_EQ(rfile_WriteLoggerConfig(spec_.c_str(), "stand", 4, record.data(), 6, "ann"), 1);
    EXPECT_EQ(ReadAll(root_ + "/LOGGERS/stand_4"), record);
    EXPECT_EQ(server_->requests().back().bytes, std::string("CF,stand,4,6,ann,") + record + '\0');
    std::memset(buffer, 0, sizeof buffer);
    ASSERT_EQ(rfile_ReadLoggerConfig(spec_.c_str(), "stand", 4, buffer, 6), 0);
    EXPECT_EQ(std::string(buffer, 6), record);
    EXPECT_EQ(rfile_ReadLoggerConfig(spec_.c_str(), "stand", 4, buffer, 7), -1);
    EXPECT_EQ(errno, WERR_HANDLE_EOF);

    // Refused with another error: written with WF; refused with 1465: -1.
    ASSERT_TRUE(server_->script("CF, -1,5"));
    std::string second("xyz\0", 4);
    EXPECT_EQ(rfile_WriteLoggerConfig(spec_.c_str(), "stand", 5, second.data(), 4, nullptr), 0);
    EXPECT_EQ(ReadAll(root_ + "/LOGGERS/stand_5"), second);
    EXPECT_EQ(server_->requests().back().bytes.compare(0, 38,
                                                       "WF,KVT_CURRENT_CONFIG\\LOGGERS\\stand_5\t"),
              0);
    ASSERT_TRUE(server_->script("CF, -1,1465,bad logger"));
    EXPECT_EQ(rfile_WriteLoggerConfig(spec_.c_str(), "stand", 6, second.data(), 4, nullptr), -1);
    EXPECT_FALSE(Exists(root_ + "/LOGGERS/stand_6"));

    // Too big for one request: no CF at all, the WF pieces straight away.
    server_->clearScript();
    server_->clearRequests();
    std::string big(40000, 'B');
    EXPECT_EQ(rfile_WriteLoggerConfig(spec_.c_str(), "stand", 7, big.data(), 40000, "ann"), 0);
    EXPECT_EQ(ReadAll(root_ + "/LOGGERS/stand_7"), big);
    EXPECT_EQ(requests().find("CF,"), std::string::npos);
    EXPECT_EQ(server_->requests().size(), 2u);
}

} // namespace
