// The printer device context a host opens and hands to a report (the GDI printer DC).
// Device units are the context's own; y of TextOutA is the top of the text cell and the text
// is Windows-1252 bytes. The implementations (recording, plain text, PDF) live in printer/.
#pragma once

#include <cstdint>

// GetDeviceCaps indexes, with the Windows values.
enum : int {
    PLAT_PHYSICALWIDTH = 110,
    PLAT_PHYSICALHEIGHT = 111,
    PLAT_PHYSICALOFFSETX = 112,
    PLAT_PHYSICALOFFSETY = 113,
};

struct PlatTextMetrics {
    int32_t tmHeight;
    int32_t tmAscent;
    int32_t tmDescent;
    int32_t tmAveCharWidth;
};

class PrinterDC {
public:
    virtual ~PrinterDC() = default;
    // The four physical sizes; any other index 0.
    virtual int GetDeviceCaps(int index) = 0;
    virtual int GetTextMetrics(PlatTextMetrics *metrics) = 0; // nonzero on success
    // A job number above 0, or 0 on failure.
    virtual int StartDoc(const char *name) = 0;
    // Ends an open page first; above 0 on success.
    virtual int EndDoc() = 0;
    virtual int StartPage() = 0;                                          // above 0 on success
    virtual int EndPage() = 0;                                            // above 0 on success
    virtual int TextOutA(int x, int y, const char *text, int length) = 0; // nonzero on success
    // The current job's number; it changes at every StartDoc.
    virtual int JobNumber() const = 0;
};
