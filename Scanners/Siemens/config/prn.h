// The printed configuration report: the device header, the communication settings and the
// channels of an S5 device, as fixed-width text lines on a printer device context that the
// host has opened. What the caller does not pass is read through the configuration file
// access, locally or from the named server.
#pragma once

#include "kstrn_cf.h"
#include "s5types.h"

#include <cstdint>
#include <string>

struct ChannelRecord;

// Whole device. 0, or -1 (bad metrics, a failed read or a failed page).
int prn_PrintDeviceReport(PrinterDC *dc, const char *server, const uint8_t *entry, int status,
                          int autosave, int byTag, int saveRate, const DeviceConfig *config,
                          ChannelRecord *const *tables);
// Channels first to last of one kind (last 0: the count; first 0: 1). 0 or -1.
int prn_PrintChannelGroup(PrinterDC *dc, const char *server, const uint8_t *entry, int kind,
                          int first, int last, const DeviceConfig *config,
                          const ChannelRecord *table);

int prn_PrintDeviceHeader(const char *title, const char *server, const char *deviceName, int status,
                          int autosave, int byTag, int saveRate);
int prn_PrintCommSettings(const char *server, const uint8_t *entry, const DeviceConfig *config);
// Output with paging: 1, or -1 when a page could not be started or ended.
int prn_PrintLine(const char *text);
int prn_LinesPerPage();
// The number of the next line on the current page, from 1.
int prn_CurrentLine();
std::string prn_FormatS5Address(const ChannelRecord &record);

// The server as the report names it: the password of a URL's user part and the values of
// "Password=" and "PWD=" items (any case) print as "****".
std::string prn_ServerText(const char *server);
// printf into a line of any length: the report cuts no text.
std::string prn_Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
// The float rule: "%8.<d>f" with 6 down to 0 decimals, the first of at most 8 characters, else
// the first 8 characters of the last.
std::string prn_FormatFloat(float value);
// Minutes (above 99 printed as 99), seconds and milliseconds of a time in milliseconds.
std::string prn_FormatMinSecMs(int32_t milliseconds);

// Starts the printer state for a device context: a new context or job starts afresh, a call in
// the same job carries on. -1 when the context has no text height or no line per page.
int prn_Attach(PrinterDC *dc);
// Forgets the device context (tests; the module's state otherwise lives as long as it does).
void prn_Reset();
