// Alarm and event messages of one pass over a channel table.
#pragma once

#include <cstdint>

struct ChannelTableHeader;

// Opens and locks the table's event segment for one pass; -1 when it is missing.
int alm_BeginDevice(ChannelTableHeader *header);

// Posts the loggers' codes, unlocks the event segment and ends the pass.
int alm_EndDevice();

// The end of an error alarm (kind 1) for a channel (0-based); value may be null.
int alm_SendErrorAlarmEnd(int channel, uint32_t status, const char *computer, const char *user,
                          const float *value);

// Start of an alarm (kind 0) for a channel (0-based); value may be null.
int alm_SendErrorAlarm(int channel, uint32_t status, int driveCommon, int priority, int delay,
                       const char *computer, const char *user, const float *value);

// Start (kind 4) and end (kind 5) of a warning.
int alm_SendLimitAlarm(int channel, uint32_t status, int priority, const char *computer,
                       const char *user, const float *value);
int alm_SendLimitAlarmEnd(int channel, uint32_t status, const char *computer, const char *user,
                          const float *value);

// Counts for the loggers of the channel (0-based) in the current pass.
int alm_CountEventStart(int channel);
int alm_CountEventEnd(int channel);
int alm_CountSignificantChange(int channel);
