// The scanner frame: start-up, the main loop driven by notification codes, and the state of
// the channel kinds that the scan cycle works on.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct DeviceSlot;
struct ChannelTableHeader;
struct SegmentHeader;

// Channel kinds in scan-state order.
enum : int { SCAN_AI = 0, SCAN_DI = 1, SCAN_AO = 2, SCAN_DO = 3, SCAN_CI = 4, SCAN_KINDS = 5 };

constexpr int SCAN_CONFIG_SIZE = 704;
constexpr int SCAN_RECORD_SIZE = 216;
constexpr int SCAN_RUNTIME_RECORD_SIZE = 264;
// Significant-change baseline that means "none yet".
constexpr uint32_t SCAN_NO_BASELINE = 0x7FFFFFFFu;

struct ScanKindState {
    SegmentHeader *segment;     // the kind's data segment, null when none
    ChannelTableHeader *header; // payload offset 0 of the data segment
    uint8_t *records;           // ChannelRecord array of the "_conf" segment, or null
    int count;                  // channels the handlers see (n)
    int statusCount;            // channels of the data segment marked bad (N)
    uint8_t *runtimeRecords;    // 264-byte records behind the values, or null
    uint32_t *statuses;         // current
    float *values;              // current (analogue kinds)
    uint32_t *previousStatuses;
    float *previousValues;
    float *baselines;       // analogue kinds
    float *references;      // AI and CI
    uint8_t *localStatuses; // scanner-local arrays, null until assigned
    int saved;              // a good value was evaluated since the last save
    size_t localBytes;
    size_t localOffset;
};

struct ScanState {
    // Changed by the listener thread through scan_OnMessage.
    std::atomic<int> running{1};
    std::atomic<int> pendingScans{0};
    std::atomic<int> reconfigure{0};
    std::atomic<int> initialiseValues{0};
    std::atomic<int> resetCounters{0};

    DeviceSlot *slot = nullptr;
    SegmentHeader *deviceSegment = nullptr;
    uint8_t config[SCAN_CONFIG_SIZE] = {};
    uint8_t saveOutputs = 0;
    uint8_t saveByTag = 0;
    int32_t saveRate = 0;
    int32_t nextSaveSeconds = 0;
    int16_t nextSaveMs = 0;
    std::string computer;
    std::string user;
    std::string typeName;
    ScanKindState kinds[SCAN_KINDS] = {};
    uint8_t *localBuffer = nullptr;
};

extern ScanState g_scan;

// Command-line start-up and main loop; never returns.
[[noreturn]] void scan_Main(int argc, char **argv);

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
// The periodic save of the main loop: 1 when something was due (saved), 0 when idle.
int scan_PeriodicSave();

// Station status report of the link.
int scan_BuildStationReport();
void scan_ReportStationTexts();
