// Text output with paging, and the printer state kept between calls.
#include "prn.h"

#include <string>

namespace {

struct PrinterState {
    PrinterDC *dc = nullptr;
    int job = 0;
    int line = 1;        // the next line on the current page
    bool newPage = true; // a page has been ended (or none started yet)
    std::string pending; // text waiting for its newline
};

PrinterState g_state;

int TextHeight(PrinterDC *dc) {
    PlatTextMetrics tm{};
    if (dc == nullptr || dc->GetTextMetrics(&tm) == 0) return 0;
    return tm.tmHeight;
}

} // namespace

int prn_Attach(PrinterDC *dc) {
    if (dc == nullptr) return -1;
    // Carrying the line counter into another job would leave its lines outside any page.
    if (dc != g_state.dc || dc->JobNumber() != g_state.job) {
        g_state.dc = dc;
        g_state.job = dc->JobNumber();
        g_state.line = 1;
        g_state.newPage = true;
        g_state.pending.clear();
    }
    // No text height, or no whole line on a page, would divide by zero or page for ever.
    if (TextHeight(dc) <= 0 || prn_LinesPerPage() < 1) return -1;
    return 0;
}

void prn_Reset() {
    g_state = PrinterState{};
}

int prn_LinesPerPage() {
    PrinterDC *dc = g_state.dc;
    int height = TextHeight(dc);
    if (height <= 0) return 0;
    return (dc->GetDeviceCaps(PLAT_PHYSICALHEIGHT) - 6 * dc->GetDeviceCaps(PLAT_PHYSICALOFFSETY)) /
           height;
}

int prn_CurrentLine() {
    return g_state.line;
}

int prn_PrintLine(const char *text) {
    PrinterDC *dc = g_state.dc;
    if (dc == nullptr) return -1;
    g_state.pending += text != nullptr ? text : "";
    if (g_state.line == 1 && g_state.newPage) {
        if (dc->StartPage() <= 0) {
            g_state.pending.clear();
            return -1;
        }
        g_state.newPage = false;
    }
    std::string rest;
    bool more = false;
    size_t at = g_state.pending.find_first_of("\f\n");
    if (at != std::string::npos) {
        rest = g_state.pending.substr(at + 1);
        more = !rest.empty();
        if (g_state.pending[at] == '\f') {
            // Text before a form feed without its newline is dropped with the page.
            g_state.pending.clear();
            if (dc->EndPage() <= 0) return -1;
            g_state.line = 1;
            g_state.newPage = true;
        } else {
            std::string before = g_state.pending.substr(0, at);
            if (!before.empty()) {
                int x = 2 * dc->GetDeviceCaps(PLAT_PHYSICALOFFSETX);
                int y = dc->GetDeviceCaps(PLAT_PHYSICALOFFSETY) + g_state.line * TextHeight(dc);
                dc->TextOutA(x, y, before.data(), static_cast<int>(before.size()));
            }
            g_state.pending.clear();
            ++g_state.line;
        }
    }
    if (more) return prn_PrintLine(rest.c_str());
    return 1;
}
