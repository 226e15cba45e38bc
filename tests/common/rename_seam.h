// A seam on rename(2) for the one test program that includes it: a rename onto the path named
// here fails with EACCES, as a commit refused at its last step would; every other goes through.
#pragma once

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace renameseam {
inline std::string failTo;
} // namespace renameseam

extern "C" int rename(const char *from, const char *to) noexcept {
    if (to != nullptr && !renameseam::failTo.empty() && renameseam::failTo == to) {
        errno = EACCES;
        return -1;
    }
    return static_cast<int>(syscall(SYS_rename, from, to));
}
