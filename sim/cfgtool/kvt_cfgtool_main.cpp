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

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << "usage: kvt-cfgtool [options] print|advanced|channel|paste ...\n";
        return 2;
    }
    return cfgtool_Main(args, std::cout, std::cerr);
}
