// The printer device contexts: a recording one for tests, plain text, and PDF through cairo.
#pragma once

#include "plat_printer.h"

#include <memory>
#include <string>
#include <vector>

// Logs every call as a line ("StartDoc name", "StartPage", "TextOut x y bytes", "EndPage",
// "EndDoc"). Defaults: OFFSETX 50, OFFSETY 50, HEIGHT 3300, WIDTH 2550, tmHeight 50.
class RecordingPrinterDC : public PrinterDC {
public:
    RecordingPrinterDC();
    int GetDeviceCaps(int index) override;
    int GetTextMetrics(PlatTextMetrics *metrics) override;
    int StartDoc(const char *name) override;
    int EndDoc() override;
    int StartPage() override;
    int EndPage() override;
    int TextOutA(int x, int y, const char *text, int length) override;
    int JobNumber() const override { return job_; }

    void SetCaps(int width, int height, int offsetX, int offsetY);
    void SetTextHeight(int height);
    // The n-th (from 1) StartPage or EndPage of the context fails; 0 none.
    void FailStartPage(int n) { failStart_ = n; }
    void FailEndPage(int n) { failEnd_ = n; }
    const std::vector<std::string> &Log() const { return log_; }
    std::string LogText() const; // the lines joined with '\n', one at the end of each
    void ClearLog() { log_.clear(); }

private:
    int width_ = 2550, height_ = 3300, offsetX_ = 50, offsetY_ = 50;
    PlatTextMetrics metrics_{50, 40, 10, 25};
    int job_ = 0;
    bool inPage_ = false;
    int starts_ = 0, ends_ = 0, failStart_ = 0, failEnd_ = 0;
    std::vector<std::string> log_;
};

// Character cells: tmHeight 1, OFFSETX 0, OFFSETY 1, HEIGHT 66, WIDTH 160. Text goes to column
// x, row y - OFFSETY; each page is written as rows 1 to the last row drawn, in UTF-8, and a line
// holding only "\f" separates pages.
class TextPrinterDC : public PrinterDC {
public:
    // Writes to the file at EndDoc; an empty path keeps the text only in memory.
    explicit TextPrinterDC(std::string path = {});
    int GetDeviceCaps(int index) override;
    int GetTextMetrics(PlatTextMetrics *metrics) override;
    int StartDoc(const char *name) override;
    int EndDoc() override;
    int StartPage() override;
    int EndPage() override;
    int TextOutA(int x, int y, const char *text, int length) override;
    int JobNumber() const override { return job_; }
    const std::string &Output() const { return output_; }

private:
    void FlushPage();
    std::string path_;
    std::string output_;
    std::vector<std::string> rows_; // Windows-1252 rows of the open page, from row 1
    bool inPage_ = false;
    int pages_ = 0;
    int job_ = 0;
};

// A4 landscape PDF in 1/600 inch units: WIDTH 7016, HEIGHT 4961, OFFSETX 100, OFFSETY 100,
// "DejaVu Sans Mono" 8 pt. StartPage does nothing, EndPage shows the page, EndDoc finishes the
// file. The creation date is fixed so that two runs give the same file.
class PdfPrinterDC : public PrinterDC {
public:
    explicit PdfPrinterDC(std::string path);
    ~PdfPrinterDC() override;
    int GetDeviceCaps(int index) override;
    int GetTextMetrics(PlatTextMetrics *metrics) override;
    int StartDoc(const char *name) override;
    int EndDoc() override;
    int StartPage() override;
    int EndPage() override;
    int TextOutA(int x, int y, const char *text, int length) override;
    int JobNumber() const override { return job_; }
    // The first cairo failure, as cairo's text; empty while none.
    const std::string &Error() const { return error_; }

    struct Cairo;

private:
    std::string path_;
    std::unique_ptr<Cairo> cairo_;
    std::string error_;
    int job_ = 0;
    bool drawn_ = false;
    bool inPage_ = false;
    double ascent_ = 0;
    int height_ = 0;
};
