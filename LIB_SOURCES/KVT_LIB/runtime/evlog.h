// The event log: failures an operator must see even when no window is open (configuration
// parse errors above all).
#pragma once

// Event types.
enum : int { EVLOG_ERROR = 1, EVLOG_WARNING = 2, EVLOG_INFORMATION = 4 };

// Reports one event under the product's name (event id 102, category 0): to syslog, and as
// the line "HH:MM:SS MM/DD/YY <text>" appended to "<root>/<product>.log", where the root is
// the folder of the bare "KVT_" prefix. The server is ignored: there is no remote event
// log. A report that cannot be written is dropped.
void evlog_ReportEvent(const char *server, int type, const char *text);
