// Debug trace: one trace per process, created for the device, switched on and off through
// the registry while the process runs.
//
// Under the product key (HKEY_LOCAL_MACHINE "SOFTWARE\Tallowbrook\<product>") the values
// "<device>_Debug" ("ON" / "OFF"), "<device>_DebugType" (holding "CON" and/or "FILE") and
// "<device>_DebugFile" (the trace file) select the outputs: the console (standard output),
// the file, and the debugger output (standard error, always on while the trace is on). A
// change of these values takes effect at the next write, without a restart.
//
// The facade functions are safe between threads: one process-wide lock serialises them.
#pragma once

#include <cstdint>
#include <string>

#include "plat_registry.h"

// Output flags of a trace.
enum : int {
    DBG_OUT_CONSOLE = 1,
    DBG_OUT_FILE = 2,
    DBG_OUT_DEBUGGER = 4,
};

constexpr int DBG_COUNTER_LOCATIONS = 10;
constexpr size_t DBG_LINE_BUFFER = 5000;

// A place where a communication counter would be shown: a one- or two-letter code and a
// number 1..10000. Read from the registry; nothing shows the counters.
struct DebugCounterLocation {
    char code[3]; // "" when cleared
    uint16_t number;
};

class DebugTrace {
public:
    explicit DebugTrace(const char *deviceName);
    ~DebugTrace();
    DebugTrace(const DebugTrace &) = delete;
    DebugTrace &operator=(const DebugTrace &) = delete;

    // Reads the registry values again and opens or closes the outputs when the trace was
    // switched on or off.
    void Reload();
    int IsEnabled() const { return enabled_; }
    int Outputs() const { return flags_; }
    void Write(const char *text);
    const DebugCounterLocation &CounterLocation(int index) const { return counters_[index]; }

    // "AB123" -> code "AB", number 123. 0, or -1 with *out cleared.
    static int ParseCounterLocation(const char *text, DebugCounterLocation *out);

private:
    std::string readText(const char *suffix, bool *present) const;
    void sendLine();

    std::string device_;
    PlatHKey key_ = 0;
    int usable_ = 0; // 0 when the key could not be opened: off for good
    int enabled_ = 0;
    int flags_ = 0;
    int fileFd_ = -1;
    std::string line_;
    DebugCounterLocation counters_[DBG_COUNTER_LOCATIONS] = {};
};

// Replaces any trace of this process by one for the device name.
void dbg_CreateTrace(const char *deviceName);
void dbg_DeleteTrace();

// Writes the text through the trace when there is one; nothing otherwise.
void dbg_WriteTrace(const char *text);

// Writes each byte as "0x%02x ", one write per byte; no other thread's text comes between.
void dbg_HexDump(const void *bytes, int length);

// printf-style dbg_WriteTrace (at most 1023 characters).
void dbg_Printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// The process's trace, or null (for tests and callers that ask whether it is on).
DebugTrace *dbg_GetTrace();
