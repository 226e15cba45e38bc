// kvt-cfgtool: the configuration-tool stand-in as a command (see cfgtool.h).
#include "cfgtool.h"

#include <iostream>
#include <string>
#include <vector>

// fontconfig (under cairo's font selection) keeps its configuration for the life of the
// process; the leak checker of sanitized builds is told so.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {
const char kUsage[] =
    "usage: kvt-cfgtool [options] COMMAND ...\n"
    "  print (--all | --kind K [--first F] [--last L] [--record FILE]) [--server SPEC]\n"
    "        (--pdf FILE | --text FILE)\n"
    "  advanced --record FILE [--script FILE]\n"
    "  channel --kind K --record FILE [--script FILE]\n"
    "  paste --kind K --from FILE --to FILE\n"
    "options: --module PATH (default $KVT_BIN/KSTRN_CF.so), --port-number N, --name TEXT,\n"
    "  --folder NAME, --kinds AI:8,DI:16,,DO:8, --answer yes|no (Yes/No questions)\n"
    "script lines: type ID TEXT | choose ID INDEX | check ID 0|1 | press OK|CANCEL|HELP |\n"
    "  expect ID TEXT | expect-message TEXT | show\n";
} // namespace

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        std::cout << kUsage;
        return 0;
    }
    return cfgtool_Main(args, std::cout, std::cerr);
}
