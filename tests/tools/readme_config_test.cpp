// The README's configuration-module commands, run as written on the files `make demo` leaves.
#include "tool_run.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Runs of blanks made one, for the text pdftotext extracts.
std::string Squeezed(const std::string &text) {
    std::string out;
    for (char c : text)
        if (c != ' ' || out.empty() || out.back() != ' ') out += c;
    return out;
}

// The commands of the README's section on the configuration module: its indented lines, with
// continuation lines joined and comments left out.
std::vector<std::string> ReadmeCommands() {
    std::ifstream in(tool_SourceDir() / "README.md");
    std::vector<std::string> commands;
    bool inSection = false, continued = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("## ", 0) == 0) inSection = line == "## The configuration module";
        if (!inSection || line.rfind("    ", 0) != 0) continue;
        line.erase(0, line.find_first_not_of(' '));
        if (line[0] == '#') continue;
        if (continued)
            commands.back() += "\n" + line;
        else
            commands.push_back(line);
        continued = line.back() == '\\';
    }
    return commands;
}

// Runs the commands in one shell in folder; each command's output and exit status.
std::vector<ToolResult> RunInOrder(const fs::path &folder, const std::vector<std::string> &cmds) {
    std::string script = "cd " + tool_Quote(folder.string()) + "\n";
    for (const std::string &c : cmds)
        script += c + " 2>&1\necho \"@@ $?\"\n";
    ToolResult all = tool_Run("bash -c " + tool_Quote(script));
    std::vector<ToolResult> results(1);
    for (const std::string &line : tool_Lines(all.output)) {
        if (line.rfind("@@ ", 0) == 0) {
            results.back().status = std::stoi(line.substr(3));
            results.emplace_back();
        } else {
            results.back().output += line + "\n";
        }
    }
    results.pop_back();
    return results;
}

TEST(Readme, ConfigurationModuleCommandsWorkAsWrittenOnTheDemoFiles) {
    ASSERT_FALSE(tool_BuildDir().empty());
    // A tree as a fresh clone has it after `make demo`: build/bin and build/demo.
    fs::path top = fs::temp_directory_path() / ("kvt-readme-test-" + std::to_string(getpid()));
    fs::path demo = top / "build/demo";
    fs::create_directories(top / "build");
    fs::create_directory_symlink(tool_BuildDir() / "bin", top / "build/bin");
    ToolResult made = tool_Run("KVT_DEMO_KEEP=" + tool_Quote(demo.string()) + " " +
                               tool_Quote((tool_SourceDir() / "scripts/demo").string()) + " " +
                               tool_Quote(tool_BuildDir().string()) + " --config-only 2>&1");
    ASSERT_EQ(made.status, 0) << made.output;
    // The screen says where the report is and shows its first lines.
    EXPECT_NE(made.output.find("configuration report of S5-DEMO-PRESS through KSTRN_CF.so: " +
                               (demo / "report.pdf").string() + ", " +
                               (demo / "report.txt").string() + "\n"),
              std::string::npos)
        << made.output;
    EXPECT_NE(made.output.find("\n        DEVICE NAME    [S5-DEMO-PRESS]\n"), std::string::npos);
    EXPECT_NE(made.output.find("\nAI1     [Y] AI-1 "), std::string::npos) << made.output;
    EXPECT_EQ(fs::file_size(demo / "device.rec"), 924u);
    EXPECT_EQ(fs::file_size(demo / "channel.rec"), 216u);
    EXPECT_EQ(fs::file_size(demo / "CURRENT_CONFIG/KSTRN_01/saveconfig"), 6u);
    EXPECT_EQ(tool_ReadFile(demo / "CURRENT_CONFIG/KSTRN_01/saveconfig")[0], 0) << "SaveOutputs";
    std::string channelBefore = tool_ReadFile(demo / "channel.rec");
    fs::remove(demo / "report.txt");
    fs::remove(demo / "report.pdf");

    std::vector<std::string> commands = ReadmeCommands();
    ASSERT_EQ(commands.size(), 7u);
    std::vector<ToolResult> first = RunInOrder(top, commands);
    ASSERT_EQ(first.size(), commands.size());
    for (size_t i = 0; i < commands.size(); ++i)
        EXPECT_EQ(first[i].status, 0) << commands[i] << "\n" << first[i].output;

    // The whole report as PDF and as text: the device and every kind's channels.
    ToolResult pdf =
        tool_Run("pdftotext -layout " + tool_Quote((demo / "report.pdf").string()) + " - 2>&1");
    ASSERT_EQ(pdf.status, 0) << pdf.output;
    std::string text = tool_ReadFile(demo / "report.txt");
    for (const char *want : {"DEVICE NAME    [S5-DEMO-PRESS]", "AI8     [Y] AI-8",
                             "DI16    [Y] DI-16", "AO4     [Y] AO-4", "DO8     [Y] DO-8"}) {
        EXPECT_NE(Squeezed(pdf.output).find(Squeezed(want)), std::string::npos) << want << "\n"
                                                                                << pdf.output;
        EXPECT_NE(text.find(want), std::string::npos) << want;
    }
    // One kind's range.
    std::string di = tool_ReadFile(demo / "di.txt");
    EXPECT_NE(di.find("DI4     [Y] DI-4"), std::string::npos) << di;
    EXPECT_EQ(di.find("DI5 "), std::string::npos) << di;
    EXPECT_EQ(di.find("AI1 "), std::string::npos) << di;
    // The dialogs changed their records, and the changes read back through the dialogs.
    EXPECT_NE(first[4].output.find("\nchanged 1\n"), std::string::npos) << first[4].output;
    EXPECT_NE(first[4].output.find("  601 visible=1 enabled=1 text=\"COM1\""), std::string::npos);
    EXPECT_NE(first[5].output.find("\nchanged 1\n"), std::string::npos) << first[5].output;
    std::string bin = tool_Quote((tool_BuildDir() / "bin/kvt-cfgtool").string());
    std::ofstream(top / "check.txt") << "expect 1002 3\npress CANCEL\n";
    ToolResult check =
        tool_Run("KVT_BIN=" + tool_Quote((tool_BuildDir() / "bin").string()) + " " + bin +
                 " advanced --record " + tool_Quote((demo / "device.rec").string()) + " --script " +
                 tool_Quote((top / "check.txt").string()) + " 2>&1");
    EXPECT_EQ(check.status, 0) << check.output;
    std::ofstream(top / "check.txt") << "expect 1004 10\nexpect 1002 12\npress CANCEL\n";
    check = tool_Run("KVT_BIN=" + tool_Quote((tool_BuildDir() / "bin").string()) + " " + bin +
                     " channel --kind 0 --record " + tool_Quote((demo / "channel.rec").string()) +
                     " --script " + tool_Quote((top / "check.txt").string()) + " 2>&1");
    EXPECT_EQ(check.status, 0) << check.output;
    // AI-1 as a digital input: kind 1, its S5 address moved from byte 188 to 192.
    std::string channel = tool_ReadFile(demo / "channel.rec"),
                pasted = tool_ReadFile(demo / "pasted.rec");
    ASSERT_EQ(pasted.size(), 216u);
    EXPECT_EQ(pasted[24], 1);
    EXPECT_EQ(pasted.substr(192, 16), channel.substr(188, 16));
    EXPECT_EQ(pasted.substr(0, 24), channelBefore.substr(0, 24)) << "tag";

    // A second run changes nothing and still succeeds.
    std::vector<ToolResult> second = RunInOrder(top, commands);
    ASSERT_EQ(second.size(), commands.size());
    for (size_t i = 0; i < commands.size(); ++i)
        EXPECT_EQ(second[i].status, 0) << commands[i] << "\n" << second[i].output;
    EXPECT_NE(second[4].output.find("\nchanged 0\n"), std::string::npos) << second[4].output;
    EXPECT_NE(second[5].output.find("\nchanged 0\n"), std::string::npos) << second[5].output;
    fs::remove_all(top);
}

} // namespace
