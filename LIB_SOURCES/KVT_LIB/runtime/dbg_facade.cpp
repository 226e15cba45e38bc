// The process's one trace. Threads of the configuration side (connections, database access,
// the request server) write trace too, so every facade call holds one lock; a hex dump holds
// it for the whole dump so that its bytes stay together.
#include "dbg.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

namespace {
std::recursive_mutex g_lock;
std::unique_ptr<DebugTrace> g_trace;
} // namespace

void dbg_CreateTrace(const char *deviceName) {
    int saved = errno;
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    g_trace.reset();
    g_trace = std::make_unique<DebugTrace>(deviceName);
    errno = saved;
}

void dbg_DeleteTrace() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    g_trace.reset();
}

void dbg_WriteTrace(const char *text) {
    int saved = errno;
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (g_trace) g_trace->Write(text);
    errno = saved;
}

void dbg_HexDump(const void *bytes, int length) {
    if (bytes == nullptr || length <= 0) return;
    int saved = errno;
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (g_trace) {
        const auto *p = static_cast<const unsigned char *>(bytes);
        char text[8];
        for (int i = 0; i < length; ++i) {
            snprintf(text, sizeof text, "0x%02x ", p[i]);
            g_trace->Write(text);
        }
    }
    errno = saved;
}

void dbg_Printf(const char *format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    dbg_WriteTrace(text);
}

DebugTrace *dbg_GetTrace() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    return g_trace.get();
}
