// Command line and command input of the s5sim program.
#pragma once

#include "s5sim.h"

#include <string>
#include <utility>
#include <vector>

namespace s5sim {

struct Options {
    Settings settings;
    std::string pty_link;            // --pty LINK
    std::string port_path;           // --port PATH
    std::vector<std::string> sets;   // LOC=V[,V...]
    std::vector<std::string> faults; // RULE
    std::string log_file;
};

// The command line's options and the command input's commands and fault rules, from the
// tables the parsers use.
std::string Usage();
std::string CommandUsage();

// A command of the command input: its word, arguments and meaning, and what runs it (returns
// what to print; quit set by "quit").
struct CommandInfo {
    const char *name;
    const char *arguments;
    const char *meaning;
    std::string (*run)(Simulator &sim, const std::string &rest, bool *quit);
};
const std::vector<CommandInfo> &Commands();

bool ParseOptions(int argc, char **argv, Options *options, std::string *error);

// "N[:WORDS]": a block and its size in words (256 when left out).
bool ParseBlockSpec(const std::string &text, std::pair<int, int> *block, std::string *error);

// "LOC=V[,V...]" with values decimal or 0x hex.
bool ParseSetting(const std::string &text, Location *loc, std::vector<uint32_t> *values,
                  std::string *error);

// Runs one line of the command input; returns what to print (lines ending in '\n', may be
// empty). quit is set by "quit".
std::string RunCommand(Simulator &sim, const std::string &line, bool *quit);

} // namespace s5sim
