// Trace without outputs: the registry-driven trace is not wired up yet, so every call is
// accepted and nothing is written.
#include "dbg.h"

void dbg_CreateTrace(const char *) {}

void dbg_DeleteTrace() {}

void dbg_WriteTrace(const char *) {}

void dbg_HexDump(const void *, int) {}
