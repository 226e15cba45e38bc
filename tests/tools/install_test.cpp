// The installed tree works on its own: programs in <prefix>/bin, modules in <prefix>/lib*/kstrn.
#include "tool_run.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
void writeBytes(const fs::path &path, const std::vector<uint8_t> &bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<long>(bytes.size()));
}
} // namespace

TEST(Install, TheInstalledRuntimeRunsTheInstalledScannerThroughAScan) {
    ASSERT_FALSE(tool_BuildDir().empty());
    fs::path top = fs::temp_directory_path() / ("kvt-install-" + std::to_string(getpid()));
    fs::path prefix = top / "prefix", root = top / "site";
    fs::remove_all(top);
    ToolResult install = tool_Run("cmake --install " + tool_Quote(tool_BuildDir().string()) +
                                  " --prefix " + tool_Quote(prefix.string()) + " 2>&1");
    ASSERT_EQ(install.status, 0) << install.output;
    for (const char *program : {"KSTRN_SC", "kvt-runtime", "s5sim"})
        EXPECT_TRUE(fs::is_regular_file(prefix / "bin" / program)) << program;
    fs::path modules;
    for (const auto &e : fs::recursive_directory_iterator(prefix))
        if (e.path().filename() == "KSTRN_ex.so") modules = e.path().parent_path();
    ASSERT_EQ(modules.filename(), "kstrn");
    EXPECT_EQ(modules.parent_path().parent_path(), prefix);

    // One device with two analogue inputs on DB10 words 0 and 1.
    fs::path device = root / "CURRENT_CONFIG/KSTRN_01";
    fs::create_directories(device);
    fs::create_directories(root / "ports");
    std::vector<uint8_t> config(705, 0), ai(8 + 2 * 216, 0);
    config[0] = 1;
    config[1] = 0xE8; // scan interval 1000 ms
    config[2] = 0x03;
    for (int c = 0; c < 2; ++c) {
        uint8_t *r = ai.data() + 8 + 216 * c;
        r[0] = 'A', r[1] = 'I', r[2] = static_cast<uint8_t>('1' + c);
        r[28] = 0x01; // enabled
        r[188] = 0x00, r[189] = 0x40, r[190] = static_cast<uint8_t>(c), r[191] = 0x0A;
    }
    writeBytes(device / "config", config);
    writeBytes(device / "ai", ai);
    std::ofstream(root / "site.rt") << "root " << root.string() << "\nbin " << modules.string()
                                    << "\nscanner " << (prefix / "bin/KSTRN_SC").string()
                                    << "\ndevice KSTRN 1 INSTALLED KSTRN_01 ai=A1\n"
                                       "table A1 8 2\n";
    std::ofstream(root / "site.script") << "start 1\nwait-ready 1\nscan 1\nshow table A1\nstop 1\n";

    // The installed controller simulator serves COM1; the runtime starts once it is ready.
    std::string p = tool_Quote(prefix.string()), r = tool_Quote(root.string());
    ToolResult run =
        tool_Run("cd " + r + " && { " + p +
                 "/bin/s5sim --pty ports/COM1 --set D10.0=1234,77 > s5.out 2>&1 & "
                 "sim=$!; trap 'kill $sim; wait $sim' EXIT; "
                 "for i in $(seq 400); do grep -q '^ready' s5.out && break; sleep 0.025; done; "
                 "KVT_IPC_PREFIX=kvtinst" +
                 std::to_string(getpid()) + " timeout 60 " + p +
                 "/bin/kvt-runtime site.rt site.script; } 2>&1");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("scan of device 1 finished"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("statuses 1-2: 0x80 analog; values 1234,77"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("scanner 1 exited with 0"), std::string::npos) << run.output;
    fs::remove_all(top);
}
