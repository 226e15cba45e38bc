// The scanner frame: start-up, the main loop driven by notification codes, and the state of
// the channel kinds that the scan cycle works on.
#pragma once

#include "ts.h"

#include <atomic>
#include <cstdint>
#include <string>

struct DeviceSlot;
struct ChannelTableHeader;
struct ChannelRecord;
struct SegmentHeader;

// Channel kinds in scan-state order.
enum : int { SCAN_AI = 0, SCAN_DI = 1, SCAN_AO = 2, SCAN_DO = 3, SCAN_CI = 4, SCAN_KINDS = 5 };

constexpr int SCAN_CONFIG_SIZE = 704;
constexpr int SCAN_RECORD_SIZE = 216;
// Significant-change baseline that means "none yet".
constexpr uint32_t SCAN_NO_BASELINE = 0x7FFFFFFFu;

struct ScanKindState {
    SegmentHeader *segment;     // the kind's data segment, null when none
    ChannelTableHeader *header; // payload offset 0 of the data segment
    uint8_t *payload;           // the same address as bytes
    ChannelRecord *records;     // the "_conf" segment's payload, or null
    int count;                  // channels the handlers see (n)
    int statusCount;            // channels of the data segment marked bad (N)
    uint8_t *runtimeRecords;    // ChannelRuntimeRecords behind the values, or null
    uint32_t *statuses;         // current
    float *values;              // current (analogue kinds)
    uint32_t *previousStatuses;
    float *previousValues;
    float *baselines;        // analogue kinds
    float *references;       // AI and CI
    uint32_t *localStatuses; // the scanner-local status array, null until assigned
    int saved;               // a good value was evaluated since the last save
    int localCount;          // channels the local arrays were sized for
    size_t localOffset;      // where they start in the local buffer
};

struct ScanState {
    // Changed by the listener thread through scan_OnMessage.
    std::atomic<int> running{1};
    std::atomic<int> pendingScans{0};
    std::atomic<int> reconfigure{0};
    std::atomic<int> initialiseValues{0};
    std::atomic<int> resetCounters{0};

    DeviceSlot *slot = nullptr;
    uint8_t *slotBytes = nullptr; // the same DeviceSlot as bytes
    SegmentHeader *deviceSegment = nullptr;
    uint8_t config[SCAN_CONFIG_SIZE] = {};
    uint8_t saveOutputs = 0;
    uint8_t saveByTag = 0;
    int32_t saveRate = 0;
    TimeStamp nextSave = {};
    std::string computer;
    std::string user;
    std::string typeName;
    std::string deviceName;
    std::string folder;
    ScanKindState kinds[SCAN_KINDS] = {};
    uint8_t *localBuffer = nullptr;
};

// DeviceSlot offsets the scanner reads or writes.
enum : int {
    SLOT_TYPE = 0,
    SLOT_NAME = 9,
    SLOT_NUMBER = 34,
    SLOT_FOLDER = 36,
    SLOT_IDS = 48,
    SLOT_RUNNING = 58,
    SLOT_CONFIG = 60,
    SLOT_SCAN_DURATION = 764,
    SLOT_NEXT_SCAN = 768,
    SLOT_INITIALISING = 776,
    SLOT_PID = 780,
    SLOT_CONFIGURED = 784,
};

// ChannelTableHeader offsets.
enum : int {
    TABLE_ID = 0,
    TABLE_VALUE_SIZE = 2,
    TABLE_COUNT = 4,
    TABLE_STATUS = 6,
    TABLE_DURATION = 8,
    TABLE_STAMP = 12,
    TABLE_VALUES = 20,
};

// The kind's two-character table id of the slot ("" when the slot has none).
std::string scan_KindId(int kind);
// Locks and unlocks the "dm_device" segment around slot fields the runtime also reads.
void scan_LockSlot();
void scan_UnlockSlot();
// Reports a failed configuration read: the XML error text for a parse error, else the
// literal message with the code.
void scan_ReportConfigError(const char *format, int code);

extern ScanState g_scan;

// Command-line start-up and main loop; never returns.
[[noreturn]] void scan_Main(int argc, char **argv);

// The device type from the program's file name: cut at its last '_', then the text after
// the last '/' or '\'. "" when the name has no '_'.
std::string scan_TypeName(const char *program);
// The device number as C's atoi reads it (leading digits; none gives 0), low 16 bits.
int scan_DeviceNumber(const char *text);

// Requests of the main loop, in the order it takes them: the three request flags come before
// pending scans.
enum : int {
    SCAN_REQUEST_NONE = 0,
    SCAN_REQUEST_RECONFIGURE,
    SCAN_REQUEST_INITIALISE_VALUES,
    SCAN_REQUEST_RESET_COUNTERS,
    SCAN_REQUEST_SCAN,
};
// Takes (clears, or counts down) the first request that applies; called with deliveries held.
int scan_TakeRequest();

// Callback of the notification mailslot; runs on the listener thread.
void scan_OnMessage(int code);

int scan_LoadConfig();
int scan_InitialiseDevice(int errorCode);
int scan_ReconfigureDevice();
int scan_InitialiseValues();
int scan_ResetCounters();
int scan_ScanDevice(int firstScan);
void scan_StoreScanTime();
void scan_SetSlotFlag();
void scan_SaveOutputs();
void scan_MarkAllBad(int errorCode);
[[noreturn]] void scan_Shutdown(int exitCode);
int scan_InitValues(int kind);
// Periodic save of the outputs (only with SaveOutputs): whether it is due at now, and the
// save itself with the next due time.
int scan_SaveIsDue(const TimeStamp &now);
void scan_PeriodicSave(const TimeStamp &now);
// References of AI and CI channels that do not use one become 0.
void scan_ClearUnusedReferences(int kind);
// Status channels of the device's own table id, when the runtime gave it one.
void scan_ReinitialiseStatusChannels();
