// Logger settings: the records of the three logger kinds, their files in the LOGGERS folder
// (binary, or XML with a schema and change history), the runtime's logger table and the
// logger list.
//
// A kind is chosen by the first five characters of its name, compared without regard to
// case: "stand" (a standard logger recording channels), "repub" (a republisher) and "resub"
// (a resubscriber). File names use the kind as passed: "<kind>_<n>" and "<kind>_<n>.xml".
//
// Functions return 0 (or a count), or -1 with errno: a Windows number from the files, 87 for a
// bad argument, or 1465 for an XML failure whose text xml_GetErrorText() gives (also reported
// to the event log).
#pragma once

#include "dm.h"
#include "structs.h"
#include "ts.h"

#include <cstddef>
#include <cstdint>
#include <ctime>

// ---- Kinds and records ----

enum LgrKind : int32_t {
    LGR_KIND_UNKNOWN = -1,
    LGR_KIND_STAND = 0,
    LGR_KIND_REPUB = 1,
    LGR_KIND_RESUB = 2,
};

constexpr int32_t LGR_STAND_SIZE = 32220;
constexpr int32_t LGR_REPUB_SIZE = 8040;
constexpr int32_t LGR_RESUB_SIZE = 1480;

// Records are byte images: every field is reached through its offset, little-endian.
struct LgrStandRecord {
    uint8_t bytes[LGR_STAND_SIZE];
};
struct LgrRepubRecord {
    uint8_t bytes[LGR_REPUB_SIZE];
};
struct LgrResubRecord {
    uint8_t bytes[LGR_RESUB_SIZE];
};
static_assert(sizeof(LgrStandRecord) == 32220);
static_assert(sizeof(LgrRepubRecord) == 8040);
static_assert(sizeof(LgrResubRecord) == 1480);

// Offsets shared by every kind.
namespace LgrCommon {
constexpr uint32_t Autostart = 0;
constexpr uint32_t Name = 1;
} // namespace LgrCommon

// The "stand" record: the fields the conversions and the required-element rules read.
namespace LgrStand {
constexpr uint32_t Name = 1, NameSize = 25;
constexpr uint32_t Delete = 26, StartMode = 27, Cycle = 28;
constexpr uint32_t DeleteCode = 29, CycleLogForCode = 30, CycleEveryCode = 31;
constexpr uint32_t DeleteOlderThan = 32, CycleLogFor = 38, CycleEvery = 44;
constexpr uint32_t StartTime = 50, StopTime = 56;
constexpr uint32_t OldLogRanges = 62; // 16 x 6
constexpr uint32_t Type = 158, EventLogs = 159;
constexpr uint32_t OldAverageBits = 180; // uint16, log channel j at 1 << j
constexpr uint32_t OldEventRanges = 182; // 16 x 6
constexpr uint32_t OldLogTags = 549;     // 16 x 24, the first 12 bytes of each tag pair
constexpr uint32_t OldEventTags = 933;   // 16 x 24
constexpr uint32_t DataExport = 1320, ExportType = 1324;
constexpr uint32_t ExportFileType = 3531;
constexpr uint32_t ExportFileName = 5582, ExportFileNameSize = 256;
constexpr uint32_t ExportFlags = 5863;
constexpr uint32_t DiskSpaceChecking = 5864;
constexpr uint32_t ChannelsValid = 5872;
constexpr uint32_t RecalcBytes = 5873; // 64 x 1
constexpr uint32_t Averages = 6372;    // 64 x int32
constexpr uint32_t LogRanges = 6628;   // 64 x 6
constexpr uint32_t EventRanges = 7012; // 64 x 6
constexpr uint32_t UseEmail = 10468;
constexpr uint32_t PasswordsValid = 13240;
constexpr uint32_t MapiPasswordLength = 13244, MapiPassword = 13248;
constexpr uint32_t NtPasswordLength = 13504, NtPassword = 13508;
constexpr uint32_t SmtpPasswordLength = 13764, SmtpPassword = 13768;
constexpr uint32_t PasswordBytes = 256;
constexpr uint32_t EmailUseMAPI = 13216, EmailLogOnAs = 13220, EmailUseSMTPLogin = 13224;
constexpr uint32_t Lags = 14032; // 64 x int32
constexpr uint32_t RateofChangeType = 14288;
constexpr uint32_t Storage = 14556;
constexpr uint32_t Sources = 15588;   // 64 x 33
constexpr uint32_t LogTags = 18773;   // 64 x 30
constexpr uint32_t EventTags = 20693; // 64 x 30
constexpr uint32_t Replicate = 18724;
constexpr uint32_t RofCRewindType = 22628;
constexpr uint32_t LogChannels = 22964, LogChannelSize = 84;
constexpr uint32_t EventChannels = 28340, EventChannelSize = 36;
constexpr uint32_t ExportFlagFields = 30644; // 8 x int32
constexpr uint32_t MapiPasswordText = 30676, NtPasswordText = 31190, SmtpPasswordText = 31704;
constexpr uint32_t PasswordTextSize = 514;
constexpr uint32_t Channels = 64;
// Offsets inside a LogChannels entry.
constexpr uint32_t ChSource = 0, ChRange = 34, ChTags = 40, ChAverage = 72, ChLag = 76,
                   ChRecalc = 80;
// Offsets inside an EventChannels entry.
constexpr uint32_t EvRange = 0, EvTags = 6;
constexpr uint32_t RangeSize = 6, TagPairSize = 30, SourceSize = 33, OldTagSize = 24,
                   OldTagBytes = 12;
// "stand" records given with at least this many bytes are compared whole for the history.
constexpr uint32_t ViewStart = LogChannels;
} // namespace LgrStand

// The "repub" record: the fields the period codes and the required-element rules read.
namespace LgrRepub {
constexpr uint32_t DeleteSource = 26, DeleteDestination = 27, Cycle = 28;
constexpr uint32_t DeleteSourceCode = 29, DeleteDestinationCode = 30, CyclePublishForCode = 31,
                   CycleEveryCode = 32;
constexpr uint32_t DeleteSourceOlderThan = 33, DeleteDestinationOlderThan = 39,
                   CyclePublishFor = 45, CycleEvery = 51;
constexpr uint32_t ChannelFilter = 79;
constexpr uint32_t SourceStorage = 348;
constexpr uint32_t SourceLogin = 1576;
constexpr uint32_t RenameAllocatedSubscription = 3388;
constexpr uint32_t DestinationStorage = 3680;
constexpr uint32_t DestinationLogin = 4908;
constexpr uint32_t ThrottleBandwidth = 5536;
} // namespace LgrRepub

// The "resub" record: the fields the required-element rules read.
namespace LgrResub {
constexpr uint32_t ExpiryTimeEnable = 131;
constexpr uint32_t OverrideDestination = 140;
constexpr uint32_t DatabaseDestinationUse = 404;
constexpr uint32_t GenerateAlarmOnChannelAlarm = 1432;
constexpr uint32_t GenerateAlarmOnChannelError = 1435;
constexpr uint32_t GenerateAlarmOnCommTimeout = 1438;
} // namespace LgrResub

// The kind of a kind name, LGR_KIND_UNKNOWN for any other (or null).
int lgr_KindOf(const char *kind);
// The record size of a kind (0 for an unknown one) and its structs type (null).
int32_t lgr_KindSize(int kind);
const structs_type *lgr_KindType(int kind);

extern const structs_type lgr_stand_type;
extern const structs_type lgr_repub_type;
extern const structs_type lgr_resub_type;
constexpr int LGR_STAND_LEAVES = 1008;
constexpr int LGR_REPUB_LEAVES = 294;
constexpr int LGR_RESUB_LEAVES = 26;

// Little-endian field access.
uint8_t lgr_U8(const void *record, uint32_t offset);
uint16_t lgr_U16(const void *record, uint32_t offset);
int32_t lgr_I32(const void *record, uint32_t offset);
void lgr_SetU8(void *record, uint32_t offset, uint8_t value);
void lgr_SetU16(void *record, uint32_t offset, uint16_t value);
void lgr_SetI32(void *record, uint32_t offset, int32_t value);

// ---- Conversions of the "stand" record and period codes ----

// The period's code (1..12) from its months, days, hours and minutes (bytes 1..4; byte 0 is
// ignored) counted in minutes; 0 for any other length.
uint8_t lgr_PeriodCode(const uint8_t period[6]);
// Bytes 29..32 of a "repub" record from its four periods.
void lgr_RepubPeriodCodes(void *record);
// After an XML read: the older 16-channel parts, the 64-channel parts, codes, export flags and
// file type, and the password bytes, all from the structured view.
void lgr_StandFromView(void *record);
// Before writing XML or comparing for history: the structured view from the record's parts.
// A record whose 64-channel parts are not valid yet is upgraded first.
void lgr_StandToView(void *record);
// Between the 16-channel older parts and the 64-channel parts. 1, or -1 for a null record.
int lgr_UpgradeStandRecord(void *record);
int lgr_DowngradeStandRecord(void *record);

// Two lower-case hex digits per byte, NUL-terminated (out holds 2 x count + 1).
void lgr_HexEncode(char *out, const uint8_t *bytes, int count);
// Pairs of hex digits (either case) into bytes, at most max; stops at the first other
// character or a lone last digit. The number of bytes decoded.
int lgr_HexDecode(uint8_t *out, const char *text, int max);

// ---- Files ----

// Reads logger number of the kind from folder: the XML form when the kind is known, ReadXML is
// on and "<kind>_<n>.xml" exists, else up to size bytes of the binary file. 0 or -1. A failed
// XML read still leaves the record, as far as it was parsed, in the buffer.
int lgr_ReadLoggerFile(const char *folder, const char *kind, int number, void *buffer, int size);
// Writes the binary file and/or the XML form (by WriteXML), touches the configuration, writes
// the change history (user null: the logged-on user). 0 or -1.
int lgr_WriteLoggerFile(const char *folder, const char *user, const char *kind, int number,
                        const void *record, int size);
int lgr_WriteLoggerXml(const char *folder, const char *user, const char *kind, int number,
                       const void *record, int size);
int lgr_WriteLoggerSchema(const char *folder, const char *kind, const void *record, int size);

// found is "," followed by each element name read and ",". 0, or -1 with the XML error
// "<name> tag not found" for the first required element missing.
int lgr_CheckRequiredFields(const char *found, const char *kind, const void *record);
int lgr_RequireField(const char *found, const char *name);

// ---- The runtime's logger table ----

// Maps "dm_loggers" once; 0 or -1.
int lgr_AttachLoggerTable();
// Logger number (1-based); null when not attached, 0 or beyond the count.
LoggerEntry *lgr_GetLoggerEntry(int number);
// The logger's file in the current directory, its kind from its table entry.
int lgr_ReadLoggerFileByNumber(int number, void *buffer, int size);
int lgr_WriteLoggerFileByNumber(int number, const void *record, int size);

// ---- The logger list ----

struct LoggerInfo {
    char kind[10];
    int16_t number;
    char name[130];
};
static_assert(sizeof(LoggerInfo) == 142);
static_assert(offsetof(LoggerInfo, number) == 10);
static_assert(offsetof(LoggerInfo, name) == 12);

// The list by "IL,<selector>" from the server, else from LOGCAP.TXT and the LOGGERS files of
// its configuration. selector: "*,<n>" the first n, "<k>" the k-th, or a logger name. At most
// capacity entries are filled. The count; 0; -1; -2 for a LOGCAP.TXT line that does not parse.
int lgr_GetLoggers(const char *server, const char *selector, LoggerInfo *table, int capacity);
// Fills one entry from the first 131 bytes of the logger's record. 1 or -1.
int lgr_FillLoggerInfo(const char *folder, const char *kind, int number, LoggerInfo *out);

// ---- Dates ----

// Days of the month of tm_year/tm_mon (a month outside 0..11 carries into the year first).
int lgr_DaysInMonth(const struct tm *tm);
// The stamp less the period (byte 0 years, then months, days, hours, minutes, seconds); the
// milliseconds are kept. Clamped to 0 .. 2^32 - 1 seconds.
TimeStamp lgr_SubtractPeriod(const TimeStamp &stamp, const uint8_t period[6]);
