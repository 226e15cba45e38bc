// The demo as a new user sees it: what the plant did, said in plain lines.
#include "tool_run.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
bool any(const std::vector<std::string> &lines, const std::string &pattern) {
    std::regex re(pattern);
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string &l) { return std::regex_search(l, re); });
}
} // namespace

TEST(Demo, ShowsTheAlarmsEventsAndOutputInPlainLines) {
    ASSERT_FALSE(tool_BuildDir().empty());
    fs::path script = fs::temp_directory_path() / ("kvt-demo-test-" + std::to_string(getpid()));
    {
        // The demo's own script with a bounded run: the ramp 0..120..90 takes 15 steps of
        // 150 ms, scanned every 25 ms.
        std::ifstream in(tool_SourceDir() / "examples/demo/demo.script");
        std::ofstream out(script);
        for (std::string line; std::getline(in, line);)
            out << (line == "run" ? "run 240" : line) << "\n";
    }
    // What the demo leaves for the README's commands goes beside the script, not into the
    // build folder that other tests use.
    fs::path keep = script.string() + ".keep";
    ToolResult r = tool_Run("KVT_DEMO_KEEP=" + tool_Quote(keep.string()) +
                            " KVT_DEMO_SCRIPT=" + tool_Quote(script.string()) +
                            " KVT_DEMO_STEP_MS=150 KVT_DEMO_SCAN_MS=25 timeout -s INT 120 " +
                            tool_Quote((tool_SourceDir() / "scripts/demo").string()) + " " +
                            tool_Quote(tool_BuildDir().string()) + " 2>&1");
    fs::remove(script);
    fs::remove_all(keep);
    ASSERT_EQ(r.status, 0) << r.output;
    std::vector<std::string> lines = tool_Lines(r.output);

    EXPECT_TRUE(any(lines, "^[0-9]+ alarm A1 1 AI-1: high alarm, limit 100, value 100, "
                           "priority 3, from [^ ]+/[^ ]+$"))
        << r.output;
    EXPECT_TRUE(any(lines, "^[0-9]+ alarm A1 1 AI-1: high alarm ended, limit 95, value 90, from "))
        << r.output;
    EXPECT_TRUE(any(lines, "^[0-9]+ alarm D1 1 DI-1: alarm, alarm state 1, priority 2, from "));
    EXPECT_TRUE(any(lines, "^[0-9]+ alarm D1 1 DI-1: alarm ended, alarm state 1, from "));
    EXPECT_TRUE(any(lines, "^[0-9]+ logger 0 L0: 1 event started; logs .*D1 1 DI-1"));
    EXPECT_TRUE(any(lines, "^[0-9]+ logger 0 L0: 1 event ended; logs .*D1 1 DI-1"));
    EXPECT_TRUE(any(lines, "^[0-9]+ derived values: table D1 changed; feeds D1 1 DI-1$"));
    EXPECT_TRUE(any(lines, "^[0-9]+ A1 published$"));
    EXPECT_TRUE(any(lines, "^device 1 table D1: .* statuses 1: 0x[0-9A-F]+ state alarm-on"));
    EXPECT_TRUE(any(lines, "^controller: value D11.4 1$")) << r.output;
    EXPECT_FALSE(any(lines, "xalarms|^[0-9]+ code ")) << r.output;
    for (const std::string &line : lines)
        EXPECT_LE(line.size(), 200u) << line;
}
