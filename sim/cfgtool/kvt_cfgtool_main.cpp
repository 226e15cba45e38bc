// kvt-cfgtool: the configuration-tool stand-in as a command (see cfgtool.h).
#include "cfgtool.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << "usage: kvt-cfgtool [options] print|advanced|channel|paste ...\n";
        return 2;
    }
    return cfgtool_Main(args, std::cout, std::cerr);
}
