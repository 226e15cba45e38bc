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
//   logger <type> <name> [active=0|1] [state=N] [rtlog=N] [folder=<path>] [conn=<text>]
//                            conn= comes last and takes the rest of the line, blanks included;
//                            folder= and conn= fill the second table and need loggers-long
//   loggers-long             "dm_loggers" also holds the second table (1528 bytes per logger)
//   errors <E>
//   error <kind> <name> [<text>]  the next long entry of "dm_errors" (the text is the rest of
//                            the line); the table holds max(E, error lines) entries
//   reply <request> <answer>  the scripted answer of every endpoint (see sim_replies.h)
//   tls <addr:port>           the TLS request socket (port 0: any free port)
//   soap <addr:port>          the SOAP service over HTTP; soap-tls <addr:port> over HTTPS
//   auth <user:password>      the SOAP service's Basic credential
//   files <folder>            the remote file service's folder (the server's KVT_CURRENT_CONFIG)
//   cert <file> key <file>    the endpoints' certificate and key (PEM); without, a self-signed
//                             EC P-256 certificate made at start
//   cert-out <file>           where the certificate in use is written (PEM)
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
#include "sim_net.h"

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
    int state = 0;
    int rtlog = 0;
    std::string folder;     // second table, at most 259 characters
    std::string connection; // second table, at most 1267 characters
};

struct SimErrorDesc {
    int kind = 0;
    std::string name; // at most 129 characters
    std::string text; // at most 254 characters
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
    bool loggersLong = false; // "dm_loggers" with its second table
    int errors = 0;
    std::vector<SimErrorDesc> errorEntries; // entries 0, 1, ... of "dm_errors"
    std::vector<std::string> replies;       // script statements of every endpoint
    std::string tls;                        // "ADDR:PORT" of the endpoints; "" none
    std::string soap;
    std::string soapTls;
    std::string user; // SOAP credential; "" none
    std::string password;
    std::string files; // the file service's folder; "" none
    std::string certFile;
    std::string keyFile;
    std::string certOut;
};

// 0, or -1 with "line N: ..." in *error.
int sim_ParseDescription(const std::string &text, SimDescription *out, std::string *error);
int sim_LoadDescription(const std::string &path, SimDescription *out, std::string *error);
// The statements a description may hold, each with its arguments and meaning.
std::string sim_DescriptionUsage();

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

// A channel status word: its hex value and the names of the bits set ("0x85F state alarm-on
// ... alarm"), bits without a name in hex at the end.
std::string sim_StatusText(uint32_t status);
// The line followed by the items, each after a blank, continued on indented lines so that no
// line passes 200 characters, the first leaving room for a caller's prefix (an item longer
// than that stays whole); ends in a newline.
std::string sim_WrapLine(const std::string &line, const std::vector<std::string> &items);

class SimRuntime {
public:
    static constexpr int k_waitMs = 10000;
    // One-shot code of a scan's finished table: this plus the table's index in the description.
    static constexpr int32_t k_oneShotBase = 1000;

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

    // The logger-status table as a logger process publishes it, each under the segment's lock
    // and without telling anybody: one channel's flag word and float value; the table's time
    // stamp (now when seconds < 0); a channel's configuration record in "_conf" (tag, Enable,
    // type 3 for channels 1 to 12 of each logger's 32, else 2).
    int putChannel(const std::string &id, int channel, int32_t flag, double value);
    int stampTable(const std::string &id, int64_t seconds, int milliseconds);
    int confChannel(const std::string &id, int channel, const std::string &tag);

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
    // The network endpoints the description asks for (null when not asked for).
    SimNetEndpoint *tls() { return tls_.get(); }
    SimNetEndpoint *soap() { return soap_.get(); }
    SimNetEndpoint *soapTls() { return soapTls_.get(); }
    // Starts the network endpoints alone (create() does it too): 0, or -1 with lastError().
    int startEndpoints();

    // Runs script commands (one per line) until the end, a failure (returns 1) or stop.
    int runScript(std::istream &in, std::ostream &out, const std::atomic<bool> &stopFlag);
    // Posts 300 at each started device's scan interval and prints one line per table of
    // each finished scan, until stopFlag is set or, with scans above 0, until that many
    // scans of each device have finished (or failed to).
    int run(std::ostream &out, const std::atomic<bool> &stopFlag, int scans = 0);
    // The script commands runScript accepts, one per line with their arguments and meaning.
    static std::string scriptUsage();

    // Received datagrams, one line each, "<ms> " and what it means: "alarm A1 1 AI-1: high
    // alarm, limit 100, value 100, priority 3, from PC/user", "derived values: table D1 changed;
    // feeds D1 1 DI-1", "logger 0 L0: 1 event started; logs ... (code 200001)", "A1 published".
    // In hex output (setHexOutput) the raw form instead: "<ms> xalarms <592 hex digits>",
    // "<ms> derived <id>", "<ms> logger <index> <code>", "<ms> code <value>"; the show
    // commands then print statuses in hex alone, codes and alarm bytes as numbers.
    // showReceived returns those after the sequence number given, which is moved to the last
    // one returned.
    void setHexOutput(bool on) { hexOutput_ = on; }
    bool hexOutput() const { return hexOutput_; }
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
    // A script command: its words, arguments and meaning as the usage shows them, how many
    // arguments it takes (maxArgs -1: any number), which must be numbers (see command()).
    struct Command {
        const char *name;
        const char *arguments;
        const char *meaning;
        int minArgs;
        int maxArgs;
        const char *numbers;
        int (*run)(SimRuntime &, const std::vector<std::string> &, std::ostream &,
                   const std::atomic<bool> &);
    };
    static const std::vector<Command> &commands();

    const SimDeviceDesc *device(int number) const;
    const SimTableDesc *table(const std::string &id) const;
    DeviceSlot *slotPointer(int number);
    std::vector<std::pair<int, SegmentHeader *>> dataSegments(int number);
    int fail(const std::string &text);
    SegmentHeader *lockSegment(const std::string &name);
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
    std::string explainAlarm(const SimReceived &r) const;
    std::string explainDerived(const SimReceived &r) const;
    std::string explainLogger(const SimReceived &r) const;
    std::string explainCode(int32_t code) const;
    // "D1 1 DI-1, ..." of the channels marked in an event row of a table.
    std::string eventChannels(const std::string &id, int row) const;

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
    bool hexOutput_ = false;
    PipeServer pipe_;
    std::unique_ptr<SimNetEndpoint> tls_;
    std::unique_ptr<SimNetEndpoint> soap_;
    std::unique_ptr<SimNetEndpoint> soapTls_;
};
