// The event log, for failures an operator must see when no window is open: each report goes
// to syslog and, as one line, to a log file of the caller's choosing.
#pragma once

#include <cstdint>

// Event types as the Windows event log numbers them.
enum : int { PLAT_EVENT_ERROR = 1, PLAT_EVENT_WARNING = 2, PLAT_EVENT_INFORMATION = 4 };

// Sends the text to syslog under the source's name: error as LOG_ERR, warning as LOG_WARNING,
// anything else as LOG_INFO. The event id and category have no place in syslog.
void plat_EventLogReport(const char *source, int type, uint16_t category, uint32_t eventId,
                         const char *text);

// Appends one line to the file (created 0666 when missing) in one write, so that reports of
// several processes never interleave. 0, or -1 with errno and the last error.
int plat_EventLogAppend(const char *path, const char *line);
