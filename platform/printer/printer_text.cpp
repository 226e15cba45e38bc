#include "printer_dc.h"

#include "plat_cp1252.h"

#include <cstdio>
#include <string>
#include <utility>

namespace {
constexpr int kOffsetY = 1;
constexpr int kHeight = 66;
constexpr int kWidth = 160;
} // namespace

TextPrinterDC::TextPrinterDC(std::string path) : path_(std::move(path)) {}

int TextPrinterDC::GetDeviceCaps(int index) {
    switch (index) {
    case PLAT_PHYSICALWIDTH:
        return kWidth;
    case PLAT_PHYSICALHEIGHT:
        return kHeight;
    case PLAT_PHYSICALOFFSETY:
        return kOffsetY;
    default:
        return 0;
    }
}

int TextPrinterDC::GetTextMetrics(PlatTextMetrics *metrics) {
    if (metrics == nullptr) return 0;
    *metrics = PlatTextMetrics{1, 1, 0, 1};
    return 1;
}

int TextPrinterDC::StartDoc(const char *) {
    ++job_;
    output_.clear();
    rows_.clear();
    pages_ = 0;
    inPage_ = false;
    return job_;
}

int TextPrinterDC::StartPage() {
    if (inPage_) FlushPage();
    inPage_ = true;
    rows_.clear();
    return 1;
}

void TextPrinterDC::FlushPage() {
    if (pages_ > 0) output_ += "\f\n";
    for (const std::string &row : rows_)
        output_ += plat_Cp1252ToUtf8(row) + "\n";
    ++pages_;
    rows_.clear();
    inPage_ = false;
}

int TextPrinterDC::EndPage() {
    FlushPage();
    return 1;
}

int TextPrinterDC::EndDoc() {
    if (inPage_) FlushPage();
    if (path_.empty()) return 1;
    FILE *f = fopen(path_.c_str(), "wb");
    if (f == nullptr) return 0;
    bool ok = fwrite(output_.data(), 1, output_.size(), f) == output_.size();
    ok = fclose(f) == 0 && ok;
    return ok ? 1 : 0;
}

int TextPrinterDC::TextOutA(int x, int y, const char *text, int length) {
    int row = y - kOffsetY;
    if (text == nullptr || length < 0 || row < 1 || x < 0) return 0;
    // Text drawn outside a page is lost, as on a printer.
    if (!inPage_) return 1;
    if (static_cast<int>(rows_.size()) < row) rows_.resize(static_cast<size_t>(row));
    std::string &line = rows_[static_cast<size_t>(row - 1)];
    size_t end = static_cast<size_t>(x) + static_cast<size_t>(length);
    if (line.size() < end) line.resize(end, ' ');
    line.replace(static_cast<size_t>(x), static_cast<size_t>(length), text,
                 static_cast<size_t>(length));
    return 1;
}
