// Logger statistics channels: each logger's 32 channels in the table of the "logst" data process
// (segments "dm_<id>" and "dm_<id>_conf"), their configuration records, and the 24 date and
// time channels the request server derives from them.
//
// Logger n (1-based) owns channels (n - 1) x 32 + 1 to n x 32. The publishing side (attach,
// counters, publish, detach) is one module state per process; while detached every publishing
// operation does nothing.
#pragma once

#include "chrec.h"
#include "dm.h"

#include <cstdint>
#include <optional>
#include <string>

// A logger's channels in the table, and the channels one logger exposes with the derived ones.
constexpr int LST_CHANNELS_PER_LOGGER = 32;
constexpr int LST_TABLE_ROWS = 56;
// Bytes of one logger's configuration records in the configuration segment.
constexpr int LST_RECORDS_BYTES = LST_CHANNELS_PER_LOGGER * 216;

// The configuration record of one statistics channel (the channel record layout).
using LoggerStatusRecord = ChannelRecord;
static_assert(sizeof(LoggerStatusRecord) == 216);

// Clears max(count, 32) records, then builds the first count (at most 56) from the table.
void lst_InitStatusRecords(int loggerNumber, int count, LoggerStatusRecord *records);

// Level k of a path after cutting it to at most five separators after its first character
// ('\' and '/' alike): at most 32 characters, or nothing when the path has too few levels.
std::optional<std::string> lst_PathPiece(const char *path, int k);

// Splits the four YYMMDD / HHMMSS channel pairs into year, month, day and hour, minute, second
// (targets 33 to 56). flags and values hold channels 1 to 56 (index 0 is channel 1).
void lst_SplitDateTimes(uint32_t *flags, float *values);

// Sets event channel e (13, 21, 24, 27 or 29) and e + 1 from a stored time; 0, or -1 for another
// channel. Detached: nothing.
int lst_StampEvent(int channel, int32_t time);

// Publishing side.
int lst_Attach(int loggerNumber, const LoggerEntry *entry);
void lst_Detach();
int lst_IsAttached();
uint32_t lst_CountWrite(uint32_t bytes);
void lst_CountRead(uint32_t bytes);
void lst_ResetCounters();
void lst_SetRealTimeLog(int32_t number, int32_t time);
void lst_SetLagLog(int32_t number, int32_t time);
void lst_SetHistoricalLog(int32_t number, int32_t time);
void lst_SetExpiry(int32_t time);
void lst_SetIncompleteCount(int32_t count);
void lst_SetStoreInfo(const char *identity, const char *dataPath, const char *sourceName);
void lst_Publish();

// The ACTIVITY text of a logger state byte.
const char *lst_ActivityText(int state);
