// The console and the debugger output of a process. The console is standard output; the
// debugger output (where a Windows debugger or DebugView showed OutputDebugString) is
// standard error, one write per string so that lines of different processes do not mix.
#pragma once

#include <cstddef>

// Writes the bytes to standard output as they are.
void plat_ConsoleWrite(const char *text, size_t length);

// Sends one string to the debugger output.
void plat_DebugOutput(const char *text);

// Test hook: while set, each string sent goes to the hook instead of standard error.
// Returns the previous hook.
using PlatDebugOutputHook = void (*)(const char *text);
PlatDebugOutputHook plat_SetDebugOutputHook(PlatDebugOutputHook hook);
