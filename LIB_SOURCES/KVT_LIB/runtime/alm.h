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
