// The text and PDF device contexts.
#include "printer_dc.h"
#include "temp_registry.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

// fontconfig (under cairo's font selection) keeps its configuration for the life of the
// process; the leak checker of sanitized builds is told so.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Command(const std::string &command) {
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    pclose(p);
    return out;
}

TEST(TextPrinterTest, CellsRowsAndPages) {
    TempFolder tmp;
    TextPrinterDC dc(tmp.path() + "/out.txt");
    PlatTextMetrics tm{};
    ASSERT_NE(dc.GetTextMetrics(&tm), 0);
    EXPECT_EQ(tm.tmHeight, 1);
    // 60 lines a page by the report's rule.
    EXPECT_EQ((dc.GetDeviceCaps(PLAT_PHYSICALHEIGHT) - 6 * dc.GetDeviceCaps(PLAT_PHYSICALOFFSETY)) /
                  tm.tmHeight,
              60);
    EXPECT_EQ(dc.StartDoc("doc"), 1);
    dc.TextOutA(0, 5, "lost", 4); // outside a page
    dc.StartPage();
    dc.TextOutA(2, 2, "ab  ", 4);
    dc.TextOutA(0, 4, "caf\xe9", 4);
    dc.EndPage();
    dc.StartPage();
    dc.TextOutA(1, 2, "x", 1);
    EXPECT_EQ(dc.EndDoc(), 1);
    EXPECT_EQ(ReadAll(tmp.path() + "/out.txt"), "  ab  \n\ncaf\xc3\xa9\n\f\n x\n");
    EXPECT_EQ(dc.StartDoc("again"), 2);
}

TEST(PdfPrinterTest, LandscapeA4WithItsTextInOrder) {
    TempFolder tmp;
    std::string path = tmp.path() + "/out.pdf";
    std::string first;
    for (int run = 0; run < 2; ++run) {
        PdfPrinterDC dc(path);
        PlatTextMetrics tm{};
        ASSERT_GT(dc.StartDoc("report"), 0);
        ASSERT_NE(dc.GetTextMetrics(&tm), 0);
        EXPECT_GE(tm.tmHeight, 70);
        EXPECT_LE(tm.tmHeight, 90);
        EXPECT_EQ(dc.GetDeviceCaps(PLAT_PHYSICALWIDTH), 7016);
        EXPECT_EQ(dc.GetDeviceCaps(PLAT_PHYSICALHEIGHT), 4961);
        dc.StartPage();
        dc.TextOutA(200, 100 + tm.tmHeight, "FIRST LINE caf\xe9", 15);
        dc.TextOutA(200, 100 + 2 * tm.tmHeight, "SECOND LINE", 11);
        dc.EndPage();
        dc.StartPage();
        dc.TextOutA(200, 100 + tm.tmHeight, "PAGE TWO", 8);
        ASSERT_EQ(dc.EndDoc(), 1) << dc.Error();
        if (run == 0) first = ReadAll(path);
    }
    // The creation date is pinned: the same pages give the same file.
    EXPECT_EQ(ReadAll(path), first);
    std::string text = Command("pdftotext -layout '" + path + "' -");
    EXPECT_NE(text.find("FIRST LINE caf\xc3\xa9\nSECOND LINE\n\f"), std::string::npos) << text;
    EXPECT_NE(text.find("PAGE TWO"), std::string::npos);
    std::string info = Command("pdfinfo '" + path + "'");
    EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
    EXPECT_NE(info.find("842 x 595"), std::string::npos);

    // A file that cannot be written fails the job and says why.
    PdfPrinterDC bad(tmp.path() + "/missing/out.pdf");
    EXPECT_TRUE(bad.StartDoc("x") <= 0 || bad.EndDoc() == 0);
    EXPECT_FALSE(bad.Error().empty());
}

} // namespace
