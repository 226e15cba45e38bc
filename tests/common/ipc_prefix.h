// Gives a test program its own IPC name space, so that parallel runs never meet, and
// removes every object it left behind.
#pragma once

#include "plat_shm.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

class UniqueIpcPrefix {
public:
    explicit UniqueIpcPrefix(const char *tag) {
        prefix_ = std::string("kvtt-") + tag + "-" + std::to_string(getpid());
        setenv("KVT_IPC_PREFIX", prefix_.c_str(), 1);
        plat_ShmUnlinkAll();
    }
    ~UniqueIpcPrefix() { plat_ShmUnlinkAll(); }
    const std::string &prefix() const { return prefix_; }

private:
    std::string prefix_;
};
