// Gives a test program its own IPC namespace, so runs in parallel never meet.
#pragma once

#include <cstdlib>
#include <string>
#include <unistd.h>

inline std::string test_UseUniqueIpcPrefix(const char *tag) {
    std::string prefix = std::string("kvtt-") + tag + "-" + std::to_string(getpid());
    setenv("KVT_IPC_PREFIX", prefix.c_str(), 1);
    return prefix;
}
