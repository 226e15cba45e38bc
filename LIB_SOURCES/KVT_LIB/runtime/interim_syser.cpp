// Status texts on standard error until the "dm_errors" entries and SYSER channels are
// served: the operator (or the runtime stand-in's log) still sees every message.
#include "syser.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace {
std::string g_name;
}

void syser_Register(int, const char *name) {
    g_name = name != nullptr ? name : "";
}

void syser_Printf(const char *format, ...) {
    int saved = errno;
    char text[121];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (text[0] != '\0') {
        fprintf(stderr, "%s: %s\n", g_name.c_str(), text);
        fflush(stderr);
    }
    errno = saved;
}

void syser_Clear() {}
