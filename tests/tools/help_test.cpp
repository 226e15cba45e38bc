// The commands explain themselves: every option, statement and command their parsers accept
// is in the usage, and every one the usage names is accepted.
#include "tool_run.h"

#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
std::string bin(const std::string &program) {
    return tool_Quote((tool_BuildDir() / "bin" / program).string());
}

// The lines of a usage section that name an entry ("  name ..."), first word(s) only.
std::vector<std::string> entries(const std::string &usage, const std::string &section) {
    std::vector<std::string> names;
    bool inside = false;
    for (const std::string &line : tool_Lines(usage)) {
        if (line.rfind(section, 0) == 0) {
            inside = true;
            continue;
        }
        if (!inside) continue;
        if (line.empty() || line[0] != ' ') break;
        if (line.size() > 2 && line[2] != ' ') names.push_back(line.substr(2));
    }
    return names;
}
} // namespace

TEST(Help, KvtRuntimeNamesEveryOptionStatementAndCommandItAccepts) {
    ASSERT_FALSE(tool_BuildDir().empty());
    ToolResult r = tool_Run(bin("kvt-runtime") + " --help 2>/dev/null");
    ASSERT_EQ(r.status, 0);
    for (const char *word :
         {"--hex",          "--help",         "root <folder>",    "scanner <path>", "bin <folder>",
          "layout new|old", "device <type>",  "table <id>",       "process <name>", "logger <type>",
          "errors <count>", "loggers-long",   "reply <request>",  "start <device>", "wait-ready",
          "scan <device>",  "post <device>",  "write <table>",    "stop <device>",  "show slot",
          "show table",     "show errors",    "show codes",       "show alarms",    "show requests",
          "show received",  "events <table>", "enable <process>", "receiver",       "run [scans]"})
        EXPECT_NE(r.output.find(std::string("  ") + word), std::string::npos) << word;

    // Each statement the usage names is one the description parser knows: given without its
    // arguments it is refused for them, never as unknown (one without arguments is accepted).
    fs::path folder = fs::temp_directory_path() / ("kvt-help-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::vector<std::string> statements = entries(r.output, "Description statements");
    ASSERT_GE(statements.size(), 10u);
    for (const std::string &s : statements) {
        std::string verb = s.substr(0, s.find(' '));
        std::ofstream(folder / "d") << verb << "\n";
        ToolResult bad = tool_Run(bin("kvt-runtime") + " " + tool_Quote((folder / "d").string()) +
                                  " /dev/null 2>&1");
        if (verb != s) {
            EXPECT_EQ(bad.status, 2) << verb;
        }
        EXPECT_EQ(bad.output.find("unknown statement"), std::string::npos) << bad.output;
    }
    // Each script command likewise, against a description with nothing in it.
    std::ofstream(folder / "d") << "root " << folder.string() << "\n";
    std::vector<std::string> commands = entries(r.output, "Script commands");
    ASSERT_GE(commands.size(), 17u);
    for (const std::string &c : commands) {
        std::string words = c.substr(0, c.find(" <") < c.find(" [") ? c.find(" <") : c.find(" ["));
        if (words == "run") continue; // without a scanner it fails as the others; it would wait
        std::ofstream(folder / "s") << words << " x\n";
        ToolResult bad = tool_Run("KVT_IPC_PREFIX=kvthelp" + std::to_string(getpid()) + " " +
                                  bin("kvt-runtime") + " " + tool_Quote((folder / "d").string()) +
                                  " " + tool_Quote((folder / "s").string()) + " 2>&1");
        EXPECT_EQ(bad.output.find("unknown command"), std::string::npos) << bad.output;
    }
    fs::remove_all(folder);

    ToolResult wrong = tool_Run(bin("kvt-runtime") + " --bogus d 2>&1");
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.output.find("unknown option --bogus"), std::string::npos) << wrong.output;
}

TEST(Help, S5simNamesEveryOptionAndCommandItAccepts) {
    ASSERT_FALSE(tool_BuildDir().empty());
    ToolResult r = tool_Run(bin("s5sim") + " --help 2>/dev/null");
    ASSERT_EQ(r.status, 0);
    std::vector<std::string> options = entries(r.output, "usage: s5sim");
    ASSERT_GE(options.size(), 15u);
    for (const char *word :
         {"--pty", "--port", "--bcc", "--priority", "--char-delay", "--ack", "--retries",
          "--reaction", "--seed", "--db", "--dx", "--set", "--fault", "--log", "--help"})
        EXPECT_NE(r.output.find(std::string("  ") + word + (word[2] == 'h' ? "" : " ")),
                  std::string::npos)
            << word;
    // An option the usage names is known to the parser: a missing value is its only fault.
    for (const std::string &o : options) {
        std::string name = o.substr(0, o.find(' '));
        if (name == "--help") continue;
        ToolResult bad = tool_Run(bin("s5sim") + " " + name + " 2>&1");
        EXPECT_EQ(bad.status, 2) << name;
        EXPECT_NE(bad.output.find(name + " needs a value"), std::string::npos) << bad.output;
    }
    for (const char *word : {"set LOC", "get LOC", "fault RULE", "clear-faults", "counters", "quit",
                             "no_ack", "close_port"})
        EXPECT_NE(r.output.find(word), std::string::npos) << word;
}

TEST(Help, TheScannerStaysSilentOnAWrongArgumentCount) {
    ASSERT_FALSE(tool_BuildDir().empty());
    ToolResult r = tool_Run("KVT_IPC_PREFIX=kvthelpsc" + std::to_string(getpid()) + " " +
                            bin("KSTRN_SC") + " --help 2>&1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "");
}
