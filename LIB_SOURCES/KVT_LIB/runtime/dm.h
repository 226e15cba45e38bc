// Runtime directory: what runs in the system, as the runtime server publishes it.
//
// Four directory segments list the devices ("dm_device"), data processes ("dm_datproc"),
// loggers ("dm_loggers") and system status texts ("dm_errors"); every channel table with the
// two-character id XX has the segments "dm_XX" (header and values), "dm_XX_conf" (channel
// records) and "dm_XX_event" (event bitmaps). Offsets below are payload offsets (the payload
// begins 128 bytes into the segment); other processes read them, so they are format.
//
// Lookups return nullptr for "none". Counts read from the segments are clamped to the entries
// the payload really holds, and a negative count reads as 0.
#pragma once

#include "shm.h"
#include "ts.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Channel kinds, in the order of the DeviceSlot ids.
enum : int { DM_AI = 0, DM_DI = 1, DM_AO = 2, DM_DO = 3, DM_CI = 4, DM_DC = 5 };
constexpr int DM_KIND_IDS = 5; // kinds with an id in the DeviceSlot

struct DeviceSlot {
    char typeName[9]; // first 5 characters: the driver prefix ("KSTRN")
    char deviceName[25];
    uint16_t deviceNumber;
    char folder[12]; // below the configuration root
    char kindIds[DM_KIND_IDS][2];
    uint8_t running; // scanner: 1 once started
    uint8_t reserved59;
    uint8_t deviceConfig[704]; // copy of the DeviceConfig; int32 scan interval (ms) at 0
    int32_t scanDuration;      // scanner: ms of the last scan cycle
    TimeStamp nextScan;        // scanner
    uint8_t initialising;      // scanner: 1 while (re)initialising
    uint8_t reserved777[3];
    int32_t pid;        // scanner's process id
    uint8_t configured; // scanner: 1 once the configuration is loaded
    uint8_t reserved785[3];
};
static_assert(sizeof(DeviceSlot) == 788);
static_assert(offsetof(DeviceSlot, deviceName) == 9);
static_assert(offsetof(DeviceSlot, deviceNumber) == 34);
static_assert(offsetof(DeviceSlot, folder) == 36);
static_assert(offsetof(DeviceSlot, kindIds) == 48);
static_assert(offsetof(DeviceSlot, running) == 58);
static_assert(offsetof(DeviceSlot, deviceConfig) == 60);
static_assert(offsetof(DeviceSlot, scanDuration) == 764);
static_assert(offsetof(DeviceSlot, nextScan) == 768);
static_assert(offsetof(DeviceSlot, initialising) == 776);
static_assert(offsetof(DeviceSlot, pid) == 780);
static_assert(offsetof(DeviceSlot, configured) == 784);

struct DataProcessEntry {
    char name[9]; // upper case: "ALARM", "DERIVED", "SYSER", "modb..." ...
    char displayName[25];
    char tableId[2];
    uint8_t kindFlag;
    uint8_t enabled;
    uint8_t reserved38;
    uint8_t attribute;
    int32_t pid; // owner's process id
    uint8_t reserved44[16];
};
static_assert(sizeof(DataProcessEntry) == 60);
static_assert(offsetof(DataProcessEntry, displayName) == 9);
static_assert(offsetof(DataProcessEntry, tableId) == 34);
static_assert(offsetof(DataProcessEntry, kindFlag) == 36);
static_assert(offsetof(DataProcessEntry, enabled) == 37);
static_assert(offsetof(DataProcessEntry, attribute) == 39);
static_assert(offsetof(DataProcessEntry, pid) == 40);

struct LoggerEntry {
    char typeName[9]; // "resub..." selects shortened channel names
    uint8_t active;
    uint8_t state;
    uint8_t reserved11;
    int32_t pid;
    uint8_t reserved16[21];
    char name[131];      // NUL-terminated within the field
    int32_t realTimeLog; // the logger's real-time log number
};
static_assert(sizeof(LoggerEntry) == 172);
static_assert(offsetof(LoggerEntry, active) == 9);
static_assert(offsetof(LoggerEntry, state) == 10);
static_assert(offsetof(LoggerEntry, pid) == 12);
static_assert(offsetof(LoggerEntry, name) == 37);
static_assert(offsetof(LoggerEntry, realTimeLog) == 168);

// Second table of "dm_loggers", after the entries, when the payload holds it. Only the two
// texts are known; the rest of the entry is opaque.
struct LoggerSecondEntry {
    char folder[260];      // NUL-padded
    char connection[1268]; // NUL-terminated within the field
};
static_assert(sizeof(LoggerSecondEntry) == 1528);
static_assert(offsetof(LoggerSecondEntry, connection) == 260);

#pragma pack(push, 1)
struct SystemErrorEntryShort {
    uint8_t kind;
    char name[25]; // at most 24 characters stored
    char text[30];
    uint8_t reserved56;
};
struct SystemErrorEntry {
    uint8_t kind; // 2 device scanner, 4 logger, 5 logger entry ("EXP " name)
    char name[130];
    char text[255]; // empty: no message
};
#pragma pack(pop)
static_assert(sizeof(SystemErrorEntryShort) == 57);
static_assert(offsetof(SystemErrorEntryShort, text) == 26);
static_assert(sizeof(SystemErrorEntry) == 386);
static_assert(offsetof(SystemErrorEntry, text) == 131);

// Start of the payload of every "dm_XX" data segment; channel values follow at 20.
struct ChannelTableHeader {
    char tableId[2];
    uint16_t tableType; // 8: the status-channel table of a device
    uint16_t channelCount;
    int16_t statusCode; // owner's last error, 0 when well
    int32_t lastScanMs; // ms of the kind's last scan, 0 after a failure
    TimeStamp fileTime; // last-write time of the channel file the records came from
};
static_assert(sizeof(ChannelTableHeader) == 20);
static_assert(offsetof(ChannelTableHeader, tableType) == 2);
static_assert(offsetof(ChannelTableHeader, channelCount) == 4);
static_assert(offsetof(ChannelTableHeader, statusCode) == 6);
static_assert(offsetof(ChannelTableHeader, lastScanMs) == 8);
static_assert(offsetof(ChannelTableHeader, fileTime) == 12);

constexpr int32_t DM_DEVICE_SLOT_SIZE = 788;
constexpr int32_t DM_DATA_PROCESS_SIZE = 60;
constexpr int32_t DM_LOGGER_SIZE = 172;
constexpr int32_t DM_LOGGER_SECOND_SIZE = 1528;
constexpr int32_t DM_CHANNEL_VALUES_OFFSET = 20;

// Kind names "ai", "di", "ao", "do", "ci", "dc", and "dc" again for index 6; "" otherwise.
const char *dm_ChannelTypeName(int kind);

// Open a directory segment once per process (0 also when already open; -1 when it cannot be
// opened, and the next call tries again).
int dm_MapDeviceTable();
int dm_MapDataProcessTable();
int dm_MapLoggerTable();
int dm_MapErrorTable();

// Directory contents after the map calls (0 / nullptr when not mapped).
SegmentHeader *dm_GetDeviceSegment();
int dm_DeviceCount();
DeviceSlot *dm_GetDeviceSlot(int index); // 0-based
int dm_DataProcessCount();
DataProcessEntry *dm_GetDataProcess(int index);
int dm_LoggerCount();
LoggerEntry *dm_GetLogger(int index);
// The logger's second-table entry (0-based); nullptr when the payload does not hold the whole
// second table (4 + 1700 bytes per logger) or the index is outside the count.
LoggerSecondEntry *dm_GetLoggerSecond(int index);
SegmentHeader *dm_GetErrorSegment();
int dm_ErrorCount();
bool dm_ErrorsShortOnly(); // the payload holds only the short entries
SystemErrorEntryShort *dm_GetErrorShort(int index);
SystemErrorEntry *dm_GetErrorLong(int index); // nullptr on the short-only layout

// The device's own table id (the list behind the slots, present when the payload holds
// 790 bytes per device). Writes the id with a NUL into id[3]; 0 when present, -1 when the
// list is missing, the id is empty or lies outside the payload.
int dm_GetOwnTableId(const DeviceSlot *slot, char id[3]);

// The slot whose type name matches in its first 5 characters (ignoring case) and whose
// number is the low 16 bits of number.
DeviceSlot *dm_FindDevice(const char *typeName, int number);

// Exact name (first 8 characters, ignoring case) wins, else the first 5-character match.
DataProcessEntry *dm_FindDataProcess(const char *name);

// 1-based logger index, or 0 with errno 0 when no logger has that name (ignoring case).
int dm_FindLogger(const char *name);

// Segments of a table id (2 characters, upper-cased); nullptr when the segment is missing.
SegmentHeader *dm_GetDataSegment(const char *id);
SegmentHeader *dm_GetConfSegment(const char *id);
SegmentHeader *dm_GetEventSegment(const char *id);
uint8_t *dm_GetData(const char *id);          // data segment payload
uint8_t *dm_GetConfData(const char *id);      // configuration segment payload
uint8_t *dm_GetChannelValues(const char *id); // data payload + 20

// Index of an id in the table cache (data processes, then 6 per device), -1 when unknown.
int dm_FindSegmentIndex(const char *id);

// Owner of a table: -1 without data segment; 0 for an id of nobody; else the pid.
int32_t dm_GetOwnerPid(const char *id);
// nullopt without data segment; "" for an unknown id; else display name or device name.
std::optional<std::string> dm_GetOwnerName(const char *id);
// -1 without data segment; 1 unknown; data process: 1 for "modb...", else kind flag + 1;
// device: 0 for its five kind tables, 1 for its own table.
int dm_GetIdKind(const char *id);
// -1 without data segment; a data process's attribute byte; 0 otherwise.
int dm_GetIdAttribute(const char *id);

// Moves the data process to the end of "dm_datproc" (its cache entry goes with it); 0 also
// when the name is unknown.
int dm_MoveDataProcessToEnd(const char *name);

// Test support: forget every mapping and the table cache (segments stay mapped).
void dm_ResetForTests();
