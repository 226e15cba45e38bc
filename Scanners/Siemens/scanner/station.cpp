#include "station.h"

#include "s5area.h"
#include "syser.h"
#include "ts.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr int MAX_STATIONS = 256;
constexpr int32_t REPORT_PERIOD_S = 10;

S5StationStatus g_stations[MAX_STATIONS];
bool g_known[MAX_STATIONS];
std::vector<uint8_t> g_order; // ids in the order first seen

struct Report {
    std::vector<char *> texts;
    int shown = -1;       // index of the text shown last
    int32_t shown_at = 0; // seconds; 0 makes the first report due at once
} g_report;

// A station text is data, never a format.
void ShowSystemStatus(const char *text) {
    syser_Printf("%s", text);
}

StationReportSink g_sink = ShowSystemStatus;

// The field holds 29 characters and the terminating zero; longer texts are cut.
void StoreText(char *text, const std::string &value) {
    size_t n = value.size() < STATION_TEXT_SIZE - 1 ? value.size() : STATION_TEXT_SIZE - 1;
    std::memcpy(text, value.data(), n);
    text[n] = '\0';
}

} // namespace

void scan_AddStation(uint8_t id) {
    if (g_known[id]) return;
    g_stations[id] = S5StationStatus{id, 0, {}};
    g_known[id] = true;
    g_order.push_back(id);
}

void scan_ClearStationFailures() {
    for (uint8_t id : g_order)
        g_stations[id].failed = 0;
}

int scan_IsStationFailed(uint8_t id) {
    return g_known[id] ? g_stations[id].failed : 1;
}

void scan_SetStationFailed(uint8_t id) {
    if (g_known[id]) g_stations[id].failed = 1;
}

char *scan_FindStationText(uint8_t id) {
    return g_known[id] ? g_stations[id].text : nullptr;
}

int scan_RecordRequestStatus(const S5RequestBlock *block) {
    char *text = scan_FindStationText(block->station);
    if (text == nullptr) return 0;
    std::string prefix = s5_FormatAddress(block->start, s5_TypeArea(block->type)) + ": ";
    uint32_t status = block->status;
    if (status == 0) {
        // Only a success at the failed address itself shows that the failure is over.
        if (std::strncmp(text, prefix.c_str(), prefix.size()) == 0) text[0] = '\0';
    } else if (status == LINK_ERR_TIMEOUT) {
        StoreText(text, prefix + "TIMEOUT");
        scan_SetStationFailed(block->station);
    } else {
        const char *space = status < LINK_ERROR_BASE  ? "Win32 "
                            : status < PLC_ERROR_BASE ? "Data Link "
                                                      : "S5 3964R ";
        char code[16];
        std::snprintf(code, sizeof code, "0x%x", status & 0xFFFFFFu);
        StoreText(text, prefix + space + code);
    }
    return 1;
}

void scan_ClearStationTexts() {
    for (uint8_t id : g_order)
        g_stations[id].text[0] = '\0';
}

void scan_ListStationTexts(std::vector<char *> &out) {
    out.clear();
    for (uint8_t id : g_order)
        out.push_back(g_stations[id].text);
}

int scan_BuildStationReport() {
    g_report.texts.clear();
    g_report.shown = -1;
    try {
        scan_ListStationTexts(g_report.texts);
    } catch (const std::bad_alloc &) {
        g_report.texts.clear();
        return 0;
    }
    scan_ClearStationTexts();
    return 1;
}

void scan_ReportStationTexts() {
    const int n = static_cast<int>(g_report.texts.size());
    if (n == 0) return;
    int32_t now = ts_Now().seconds;
    // A clock set back (end of summer time) must not keep a stale text up for an hour.
    if (now >= g_report.shown_at && now - g_report.shown_at < REPORT_PERIOD_S) return;
    // The text shown last comes last; when every text is empty that one (empty) is shown,
    // which clears the status.
    int last = g_report.shown < 0 ? n - 1 : g_report.shown % n;
    int index = last;
    for (int step = 1; step <= n; ++step) {
        int candidate = (last + step) % n;
        if (g_report.texts[static_cast<size_t>(candidate)][0] != '\0') {
            index = candidate;
            break;
        }
    }
    g_sink(g_report.texts[static_cast<size_t>(index)]);
    g_report.shown = index;
    g_report.shown_at = now;
}

void scan_SetStationText(const S5ChannelAddress *address, char *out, size_t size) {
    if (out == nullptr || size == 0) return;
    out[0] = '\0';
    const char *text = scan_FindStationText(address->station);
    if (text == nullptr) return;
    const char *colon = std::strstr(text, ": ");
    std::snprintf(out, size, "%s", colon != nullptr ? colon + 2 : text);
}

StationReportSink scan_SetStationReportSink(StationReportSink sink) {
    StationReportSink previous = g_sink;
    g_sink = sink != nullptr ? sink : ShowSystemStatus;
    return previous;
}

void scan_ResetStations() {
    for (uint8_t id : g_order)
        g_known[id] = false;
    g_order.clear();
    g_report = Report();
}
