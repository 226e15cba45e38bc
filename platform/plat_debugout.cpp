#include "plat_debugout.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {
std::atomic<PlatDebugOutputHook> g_hook{nullptr};

void writeAll(int fd, const char *p, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, p, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // a closed or full output is not the caller's failure
        p += n;
        length -= static_cast<size_t>(n);
    }
}
} // namespace

void plat_ConsoleWrite(const char *text, size_t length) {
    int saved = errno;
    if (text != nullptr) writeAll(STDOUT_FILENO, text, length);
    errno = saved;
}

void plat_DebugOutput(const char *text) {
    if (text == nullptr) return;
    PlatDebugOutputHook hook = g_hook.load();
    if (hook != nullptr) {
        hook(text);
        return;
    }
    int saved = errno;
    writeAll(STDERR_FILENO, text, strlen(text));
    errno = saved;
}

PlatDebugOutputHook plat_SetDebugOutputHook(PlatDebugOutputHook hook) {
    return g_hook.exchange(hook);
}
