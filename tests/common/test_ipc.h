// Gives a test program its own IPC namespace, so runs in parallel never meet.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

inline std::string test_UseUniqueIpcPrefix(const char *tag) {
    std::string prefix = std::string("kvtt-") + tag + "-" + std::to_string(getpid());
    setenv("KVT_IPC_PREFIX", prefix.c_str(), 1);
    return prefix;
}

// Removes the shared-memory objects a test created under its prefix.
inline void test_RemoveIpcObjects(const std::string &prefix) {
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
        std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size() + 1, prefix + ".") == 0)
            std::filesystem::remove(entry.path(), ec);
    }
}
