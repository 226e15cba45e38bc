// Runtime-server stand-in: builds the shared memory of an installation from a small
// description, starts scanners as the runtime server does, posts them codes and watches what
// they publish. Used by the command kvt-runtime and as a fixture by integration tests.
//
// Description file, one statement per line, '#' starts a comment:
//   root <folder>            KVT_CURRENT_CONFIG=<root>/CURRENT_CONFIG, KVT_SAVED_VALUES,
//                            KVT_BIN=<root>/bin, KVT_SERIAL_DIR=<root>/ports,
//                            KVT_REGISTRY_ROOT=<root>/registry (folders created)
//   scanner <path>           the scanner program ("<TYPE>_<anything>")
//   bin <folder>             KVT_BIN instead of <root>/bin
//   layout new|old           segment layout (old: short tables only)
//   device <type> <number> <name> <folder> [ai=XX] [di=XX] [ao=XX] [do=XX] [ci=XX] [own=XX]
//   table <id> <4|8> <channels> [runtime]
//   process <name> [id=XX] [kindflag=n] [enabled=0|1] [attribute=n]
//   logger <type> <name> [active=0|1]
//   errors <E>
//   reply <request> <answer>  the pipe's scripted answer (see pipe_server.h)
//
// Fixture use (every wait is limited, by default to 10 s; -1 means it failed or timed out,
// and lastError() says why):
//   SimDescription d; sim_ParseDescription(text, &d, &err);
//   SimRuntime rt(d);
//   rt.create();                 // removes stale objects of KVT_IPC_PREFIX, creates segments
//   rt.start(1); rt.waitReady(1);
//   rt.scan(1);                  // posts 300, waits until every data segment notified
//   rt.post(1, 304);             // any code
//   rt.slot(1, &slot); rt.tableHeader("A1", &hdr); rt.statuses("A1"); rt.values("A1");
//   rt.write("A2", 3, 1.5);      // as another process: lock, write, unlock, 305 to the owner
//   rt.stop(1, &status);         // 31, then the exit status
// The destructor stops running scanners and removes every object of the prefix. Only one
// SimRuntime may be alive in a process (it owns the process's notification mailslot).
#pragma once

#include <sys/resource.h>

#include "dm.h"
#include "pipe_server.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

struct SimDeviceDesc {
    std::string type;
    int number = 0;
    std::string name;
    std::string folder;
    std::string ids[6]; // ai, di, ao, do, ci, own
};

struct SimTableDesc {
    std::string id;
    int bytesPerChannel = 4; // 4 digital, 8 analogue (and the status-channel table)
    int channels = 0;
    bool runtimeRecords = false; // 264 bytes per channel behind the values
};

struct SimProcessDesc {
    std::string name;
    std::string id;
    int kindFlag = 0;
    int enabled = 1;
    int attribute = 0;
};

struct SimLoggerDesc {
    std::string type;
    std::string name;
    int active = 1;
};

struct SimDescription {
    std::string root;
    std::string scanner;
    std::string bin;
    bool oldLayout = false;
    std::vector<SimDeviceDesc> devices;
    std::vector<SimTableDesc> tables;
    std::vector<SimProcessDesc> processes;
    std::vector<SimLoggerDesc> loggers;
    int errors = 0;
    std::vector<std::string> replies; // pipe script statements
};

// 0, or -1 with "line N: ..." in *error.
int sim_ParseDescription(const std::string &text, SimDescription *out, std::string *error);
int sim_LoadDescription(const std::string &path, SimDescription *out, std::string *error);

// A table id as the segments name it: at most 2 characters, upper-cased.
std::string sim_TableId(const std::string &id);

// A code or datagram received by the stand-in.
struct SimReceived {
    std::string receiver; // "runtime", "logger <name>", "xalarms", "derived"
    int32_t code = 0;     // first 4 bytes (mailslot codes)
    std::vector<uint8_t> bytes;
    int64_t atMs = 0; // monotonic milliseconds since the stand-in was created
    uint64_t sequence = 0;
};

// An alarm message as the alarm process reads it (see alm.h for the layout).
struct SimAlarm {
    std::string tableId;
    int channel = 0; // 1-based, without the bad mark
    bool bad = false;
    int delay = 0;
    int kind = 0;
    bool analogue = false;
    bool high = false;
    bool driveCommon = false;
    int priority = 0;
    bool hasValue = false;
    float value = 0;
    std::string computer;
    std::string user;
    uint32_t flags = 0;
};
// false when the datagram is not 296 bytes long.
bool sim_DecodeAlarm(const std::vector<uint8_t> &bytes, SimAlarm *out);

class SimRuntime {
public:
    static constexpr int k_waitMs = 10000;

    explicit SimRuntime(const SimDescription &description);
    ~SimRuntime();
    SimRuntime(const SimRuntime &) = delete;
    SimRuntime &operator=(const SimRuntime &) = delete;

    // Removes stale objects, creates and fills every segment, opens the mailslots.
    int create();

    // Spawns "<scanner> <number>" with the installation's environment.
    int start(int number);
    // Slot pid = the spawned pid, configured 1, initialising 0, next scan time set.
    int waitReady(int number, int timeoutMs = k_waitMs);
    // Posts a code to the scanner's pid (slot 780).
    int post(int number, int32_t code);
    // One scan: one-shot notify entries on the device's data segments, 300, wait for them.
    int scan(int number, int timeoutMs = k_waitMs);
    // Posts 31 and waits for the exit status (exit code, or 128 + signal).
    int stop(int number, int *exitStatus, int timeoutMs = k_waitMs);
    // Waits for a scanner that ends by itself.
    int waitExit(int number, int *exitStatus, int timeoutMs = k_waitMs);
    bool running(int number);
    pid_t scannerPid(int number);
    // The CPU time an ended scanner used, as its exit reported it (its own, not its children's
    // or the stand-in's); false while it runs or when it was never started.
    bool scannerUsage(int number, struct rusage *out);

    // Output write as another process: digital sets/clears bit 0 of the status, analogue
    // writes the float value; then 305 to the table's owner.
    int write(const std::string &id, int channel, double value);

    // Readers (copies taken under the segment lock).
    bool slot(int number, DeviceSlot *out);
    bool tableHeader(const std::string &id, ChannelTableHeader *out);
    std::vector<uint32_t> statuses(const std::string &id);
    std::vector<float> values(const std::string &id); // analogue tables only
    std::vector<SimReceived> received();
    std::string errorTexts();

    // Texts of the show commands.
    std::string showSlot(int number);
    std::string showTable(const std::string &id);
    std::string showErrors();
    std::string showCodes();
    std::string showAlarms();
    std::string showRequests();

    // The runtime's pipe: scripted answers and the record of requests.
    PipeServer &pipe() { return pipe_; }

    // Runs script commands (one per line) until the end, a failure (returns 1) or stop.
    int runScript(std::istream &in, std::ostream &out, const std::atomic<bool> &stopFlag);
    // Posts 300 at each started device's scan interval and prints one line per table of
    // each finished scan, until stopFlag is set.
    int run(std::ostream &out, const std::atomic<bool> &stopFlag);

    // Received datagrams, one line each: "<ms> xalarms <592 hex digits>", "<ms> derived <id>",
    // "<ms> logger <index> <code>", "<ms> code <value>"; those after the sequence number
    // given, which is moved to the last one returned.
    std::string formatReceived(const SimReceived &r) const;
    std::string showReceived(uint64_t *fromSequence);
    // Waits until count records of the receiver have arrived in all; 0, or -1 on time-out.
    int waitReceived(const std::string &receiver, size_t count, int timeoutMs = k_waitMs);
    // The enabled byte of a data process, under the "dm_datproc" lock.
    int setProcessEnabled(const std::string &name, int enabled);
    // Channel (1-based) in event row (0 derived, i + 1 logger i), under the event lock.
    int setEventChannel(const std::string &id, int row, int channel, bool on);
    // Unbinds ("off") or binds again ("on") the "xalarms" or "derived" receiver.
    int setReceiver(const std::string &receiver, bool on);
    // Script commands of these additions: 0 / -1, or 1 when the line is not one of them.
    int observeCommand(const std::vector<std::string> &w, std::ostream &out);

    // Posts 31 to running scanners, waits for them, removes every object. Idempotent.
    void shutdown();

    const std::string &lastError() const { return lastError_; }
    const SimDescription &description() const { return description_; }

    // Used by the mailslot callbacks.
    void record(const std::string &receiver, const void *bytes, int length);

private:
    struct Scanner {
        pid_t pid = 0;
        bool exited = false;
        int exitStatus = 0;
        struct rusage usage = {};
    };
    struct Binding; // a mailslot the stand-in reads (loggers, xalarms, derived)

    const SimDeviceDesc *device(int number) const;
    const SimTableDesc *table(const std::string &id) const;
    DeviceSlot *slotPointer(int number);
    std::vector<std::pair<int, SegmentHeader *>> dataSegments(int number);
    int fail(const std::string &text);
    int reap(int number, bool wait, int timeoutMs);
    int64_t nowMs() const;
    uint64_t sequenceNow();
    int requestScan(int number, std::vector<int32_t> *expected, uint64_t *mark);
    bool codesSince(uint64_t mark, const std::vector<int32_t> &expected);
    bool waitCodes(uint64_t mark, const std::vector<int32_t> &expected, int timeoutMs);
    std::vector<std::string> environment(int number) const;
    int bind(const std::string &receiver, const std::string &slotName, int size);
    int unbind(const std::string &receiver);
    int command(const std::string &line, std::ostream &out, const std::atomic<bool> &stopFlag);

    SimDescription description_;
    std::string lastError_;
    bool created_ = false;
    bool mailslotOpen_ = false;
    std::map<int, Scanner> scanners_;
    std::vector<std::unique_ptr<Binding>> bindings_;
    std::mutex shutdownLock_; // an interrupt may shut down while the script does
    std::mutex receivedLock_;
    std::condition_variable receivedChanged_;
    std::vector<SimReceived> received_;
    uint64_t nextSequence_ = 1;
    int64_t startMs_ = 0;
    std::string prefix_;
    int platformId_ = 2;
    PipeServer pipe_;
};
