#include "printer_dc.h"

#include <string>

RecordingPrinterDC::RecordingPrinterDC() = default;

void RecordingPrinterDC::SetCaps(int width, int height, int offsetX, int offsetY) {
    width_ = width;
    height_ = height;
    offsetX_ = offsetX;
    offsetY_ = offsetY;
}

void RecordingPrinterDC::SetTextHeight(int height) {
    metrics_.tmHeight = height;
}

int RecordingPrinterDC::GetDeviceCaps(int index) {
    switch (index) {
    case PLAT_PHYSICALWIDTH:
        return width_;
    case PLAT_PHYSICALHEIGHT:
        return height_;
    case PLAT_PHYSICALOFFSETX:
        return offsetX_;
    case PLAT_PHYSICALOFFSETY:
        return offsetY_;
    default:
        return 0;
    }
}

int RecordingPrinterDC::GetTextMetrics(PlatTextMetrics *metrics) {
    if (metrics == nullptr) return 0;
    *metrics = metrics_;
    return 1;
}

int RecordingPrinterDC::StartDoc(const char *name) {
    ++job_;
    inPage_ = false;
    log_.push_back(std::string("StartDoc ") + (name != nullptr ? name : ""));
    return job_;
}

int RecordingPrinterDC::EndDoc() {
    if (inPage_) EndPage();
    log_.push_back("EndDoc");
    return 1;
}

int RecordingPrinterDC::StartPage() {
    if (++starts_ == failStart_) {
        log_.push_back("StartPage failed");
        return 0;
    }
    inPage_ = true;
    log_.push_back("StartPage");
    return 1;
}

int RecordingPrinterDC::EndPage() {
    if (++ends_ == failEnd_) {
        log_.push_back("EndPage failed");
        return 0;
    }
    inPage_ = false;
    log_.push_back("EndPage");
    return 1;
}

int RecordingPrinterDC::TextOutA(int x, int y, const char *text, int length) {
    std::string line = "TextOut " + std::to_string(x) + " " + std::to_string(y) + " ";
    if (text != nullptr && length > 0) line.append(text, static_cast<size_t>(length));
    log_.push_back(line);
    return 1;
}

std::string RecordingPrinterDC::LogText() const {
    std::string all;
    for (const std::string &line : log_)
        all += line + "\n";
    return all;
}
