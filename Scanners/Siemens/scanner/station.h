// Status per controller station: whether it timed out in the current pass (its remaining
// requests are then skipped) and a short text describing its last failed request. The texts
// are shown in turn, at most one every 10 seconds, as the device's system status text.
#pragma once

#include "rk.h"
#include "s5types.h"

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr int STATION_TEXT_SIZE = 30;

struct S5StationStatus {
    uint8_t id;
    uint8_t failed;               // timed out in this pass
    char text[STATION_TEXT_SIZE]; // empty while the station is well
};
static_assert(sizeof(S5StationStatus) == 32);

// Adds a record for a station id not seen before; a known id changes nothing.
void scan_AddStation(uint8_t id);
void scan_ClearStationFailures();
// 1 when the station failed in this pass; an id without record counts as failed.
int scan_IsStationFailed(uint8_t id);
void scan_SetStationFailed(uint8_t id);
// The station's text buffer, or null.
char *scan_FindStationText(uint8_t id);

// Keeps the outcome of a request in its station's text: a success at the address of the
// text clears it, a time-out marks the station failed. 1, or 0 for an unknown station.
int scan_RecordRequestStatus(const S5RequestBlock *block);

void scan_ClearStationTexts();
// The text buffers of all stations in the order they were first seen.
void scan_ListStationTexts(std::vector<char *> &out);

// Takes the texts of all stations as the list to report and empties them. 1, or 0 when the
// list could not be built (then nothing is reported).
int scan_BuildStationReport();
// At the end of a scan cycle: shows the next non-empty text when the last one has been up for
// 10 s (or the clock went back), or the empty text when there is none.
void scan_ReportStationTexts();

// The text of the channel's station without its "address: " prefix, into out (size bytes).
void scan_SetStationText(const S5ChannelAddress *address, char *out, size_t size);

// Where reported texts go: the system status text (syser_Printf) unless a test replaces it.
// Returns the sink it replaces; nullptr restores the system status text.
using StationReportSink = void (*)(const char *text);
StationReportSink scan_SetStationReportSink(StationReportSink sink);

// Forgets every station and the report (a test between cases; the scanner never does).
void scan_ResetStations();
