#include "printer_dc.h"

#include "plat_cp1252.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <cmath>
#include <string>
#include <utility>

namespace {
// A4 landscape in points, drawn in 1/600 inch.
constexpr double kPageWidthPt = 842;
constexpr double kPageHeightPt = 595;
constexpr double kUnitsPerInch = 600;
constexpr int kWidth = 7016;
constexpr int kHeight = 4961;
constexpr int kOffset = 100;
constexpr double kFontPoints = 8;
constexpr const char *kFont = "DejaVu Sans Mono";
} // namespace

// One owner for the surface and the context: both released in one place.
struct PdfPrinterDC::Cairo {
    struct SurfaceFree {
        void operator()(cairo_surface_t *s) const { cairo_surface_destroy(s); }
    };
    struct ContextFree {
        void operator()(cairo_t *c) const { cairo_destroy(c); }
    };
    std::unique_ptr<cairo_surface_t, SurfaceFree> surface;
    std::unique_ptr<cairo_t, ContextFree> cr;
};

PdfPrinterDC::PdfPrinterDC(std::string path) : path_(std::move(path)) {}

PdfPrinterDC::~PdfPrinterDC() {
    if (cairo_) EndDoc();
}

int PdfPrinterDC::GetDeviceCaps(int index) {
    switch (index) {
    case PLAT_PHYSICALWIDTH:
        return kWidth;
    case PLAT_PHYSICALHEIGHT:
        return kHeight;
    case PLAT_PHYSICALOFFSETX:
    case PLAT_PHYSICALOFFSETY:
        return kOffset;
    default:
        return 0;
    }
}

int PdfPrinterDC::StartDoc(const char *name) {
    if (cairo_) EndDoc();
    error_.clear();
    auto c = std::make_unique<Cairo>();
    c->surface.reset(cairo_pdf_surface_create(path_.c_str(), kPageWidthPt, kPageHeightPt));
    cairo_status_t status = cairo_surface_status(c->surface.get());
    if (status != CAIRO_STATUS_SUCCESS) {
        error_ = cairo_status_to_string(status);
        return 0;
    }
    // Pinned, so that the same report gives the same file.
    cairo_pdf_surface_set_metadata(c->surface.get(), CAIRO_PDF_METADATA_CREATE_DATE,
                                   "2000-01-01T00:00:00Z");
    if (name != nullptr && *name != '\0')
        cairo_pdf_surface_set_metadata(c->surface.get(), CAIRO_PDF_METADATA_TITLE,
                                       plat_Cp1252ToUtf8(name).c_str());
    c->cr.reset(cairo_create(c->surface.get()));
    cairo_t *cr = c->cr.get();
    cairo_scale(cr, 72.0 / kUnitsPerInch, 72.0 / kUnitsPerInch);
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, kFontPoints * kUnitsPerInch / 72.0);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_font_extents_t fe;
    cairo_font_extents(cr, &fe);
    ascent_ = fe.ascent;
    height_ = static_cast<int>(std::ceil(fe.ascent + fe.descent));
    status = cairo_status(cr);
    if (status != CAIRO_STATUS_SUCCESS) {
        error_ = cairo_status_to_string(status);
        return 0;
    }
    cairo_ = std::move(c);
    drawn_ = false;
    inPage_ = false;
    return ++job_;
}

int PdfPrinterDC::GetTextMetrics(PlatTextMetrics *metrics) {
    if (metrics == nullptr) return 0;
    if (!cairo_) {
        // Metrics before a job: measured on a scratch surface with the same font.
        cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
        cairo_t *cr = cairo_create(s);
        cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, kFontPoints * kUnitsPerInch / 72.0);
        cairo_font_extents_t fe;
        cairo_font_extents(cr, &fe);
        cairo_destroy(cr);
        cairo_surface_destroy(s);
        *metrics = PlatTextMetrics{static_cast<int32_t>(std::ceil(fe.ascent + fe.descent)),
                                   static_cast<int32_t>(std::lround(fe.ascent)),
                                   static_cast<int32_t>(std::lround(fe.descent)),
                                   static_cast<int32_t>(std::lround(fe.max_x_advance))};
        return 1;
    }
    cairo_font_extents_t fe;
    cairo_font_extents(cairo_->cr.get(), &fe);
    *metrics = PlatTextMetrics{height_, static_cast<int32_t>(std::lround(fe.ascent)),
                               static_cast<int32_t>(std::lround(fe.descent)),
                               static_cast<int32_t>(std::lround(fe.max_x_advance))};
    return 1;
}

int PdfPrinterDC::StartPage() {
    if (!cairo_) return 0;
    inPage_ = true;
    return 1;
}

int PdfPrinterDC::EndPage() {
    if (!cairo_) return 0;
    cairo_show_page(cairo_->cr.get());
    drawn_ = false;
    inPage_ = false;
    cairo_status_t status = cairo_status(cairo_->cr.get());
    if (status != CAIRO_STATUS_SUCCESS) {
        if (error_.empty()) error_ = cairo_status_to_string(status);
        return 0;
    }
    return 1;
}

int PdfPrinterDC::EndDoc() {
    if (!cairo_) return 0;
    if (drawn_ || inPage_) cairo_show_page(cairo_->cr.get());
    cairo_surface_t *surface = cairo_->surface.get();
    cairo_surface_finish(surface);
    cairo_status_t status = cairo_surface_status(surface);
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_status(cairo_->cr.get());
    cairo_.reset();
    if (status != CAIRO_STATUS_SUCCESS) {
        if (error_.empty()) error_ = cairo_status_to_string(status);
        return 0;
    }
    return 1;
}

int PdfPrinterDC::TextOutA(int x, int y, const char *text, int length) {
    if (!cairo_ || text == nullptr || length < 0) return 0;
    cairo_t *cr = cairo_->cr.get();
    std::string utf8 = plat_Cp1252ToUtf8(std::string(text, static_cast<size_t>(length)));
    cairo_move_to(cr, x, y + ascent_);
    cairo_show_text(cr, utf8.c_str());
    drawn_ = true;
    return cairo_status(cr) == CAIRO_STATUS_SUCCESS ? 1 : 0;
}
