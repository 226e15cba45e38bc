// The process's one trace. Threads of the configuration side (connections, database access,
// the request server) write trace too, so every facade call holds one lock; a hex dump holds
// it for the whole dump so that its bytes stay together.
#include "dbg.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

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
        // One write for the whole dump: the trace looks for a switch-over before each write,
        // which is not to be paid for every byte of every block on the line.
        static const char digits[] = "0123456789abcdef";
        const auto *p = static_cast<const unsigned char *>(bytes);
        std::string text(static_cast<size_t>(length) * 5, ' ');
        for (int i = 0; i < length; ++i) {
            char *at = text.data() + 5 * i;
            at[0] = '0';
            at[1] = 'x';
            at[2] = digits[p[i] >> 4];
            at[3] = digits[p[i] & 15];
        }
        g_trace->Write(text.c_str());
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
