#include "plat_error.h"
#include "plat_profile.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace {

std::string readAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string get(const char *section, const char *key, const std::string &path,
                const char *def = "dflt") {
    char buf[64];
    uint32_t n = plat_GetPrivateProfileString(section, key, def, buf, sizeof buf, path.c_str());
    EXPECT_EQ(n, strlen(buf));
    return buf;
}

TEST(PlatProfile, ReadsSectionsKeysCaseBlanksAndQuotes) {
    TempFolder dir;
    std::string ini = dir / "information.ini";
    EXPECT_EQ(get("HEADER", "Name", ini, "none  "), "none"); // missing file: default, blanks cut
    writeAll(ini, "; comment\r\n"
                  "[Header]\r\n"
                  "  Name  =  Well 7  \r\n"
                  "Quoted=\"  spaced \"\r\n"
                  "Single='x'\r\n"
                  "Mixed=\"x'\r\n"
                  "Bare\r\n"
                  "[ Position ]\n"
                  "LATITUDE=12.5\n"
                  "[header]\r\n"
                  "Name=second section of the same name\r\n");
    EXPECT_EQ(get("header", "NAME", ini), "Well 7");
    EXPECT_EQ(get("HEADER", " quoted ", ini), "  spaced ");
    EXPECT_EQ(get("HEADER", "single", ini), "x");
    EXPECT_EQ(get("HEADER", "mixed", ini), "\"x'");
    EXPECT_EQ(get("HEADER", "bare", ini), "dflt"); // a line without '=' holds no value
    EXPECT_EQ(get("POSITION", "latitude", ini), "12.5");
    EXPECT_EQ(get("POSITION", "longitude", ini), "dflt");
    EXPECT_EQ(get("NOSUCH", "Name", ini), "dflt");

    char small[5];
    EXPECT_EQ(plat_GetPrivateProfileString("HEADER", "Name", "", small, sizeof small, ini.c_str()),
              4u);
    EXPECT_STREQ(small, "Well");

    char list[64];
    uint32_t n = plat_GetPrivateProfileSection("position", list, sizeof list, ini.c_str());
    EXPECT_EQ(std::string(list, n + 1), std::string("LATITUDE=12.5\0", 15));
    EXPECT_EQ(plat_GetPrivateProfileSection("header", list, 20, ini.c_str()), 18u);
    EXPECT_EQ(std::string(list, 17), std::string("Name  =  Well 7\0\0", 17));
}

TEST(PlatProfile, WritesKeepEveryOtherLineAndEndInCrLf) {
    TempFolder dir;
    std::string path = dir / "information.ini";
    ASSERT_EQ(plat_WritePrivateProfileString("POSITION", "LATITUDE", "1.500000", path.c_str()), 1);
    EXPECT_EQ(readAll(path), "[POSITION]\r\nLATITUDE=1.500000\r\n");

    writeAll(path, "; keep me\n[Header]\r\nname = old\r\nOther=1\r\n\r\n[Position]\r\nLAT=2");
    ASSERT_EQ(plat_WritePrivateProfileString("HEADER", "NAME", "new", path.c_str()), 1);
    ASSERT_EQ(plat_WritePrivateProfileString("header", "Added", "\"q\"", path.c_str()), 1);
    ASSERT_EQ(plat_WritePrivateProfileString("POSITION", "LONGITUDE", "3", path.c_str()), 1);
    ASSERT_EQ(plat_WritePrivateProfileString("NEW", "k", "v", path.c_str()), 1);
    EXPECT_EQ(readAll(path), "; keep me\n[Header]\r\nname=new\r\nOther=1\r\nAdded=\"q\"\r\n\r\n"
                             "[Position]\r\nLAT=2\r\nLONGITUDE=3\r\n[NEW]\r\nk=v\r\n");
    EXPECT_EQ(get("Header", "added", path), "q");

    ASSERT_EQ(plat_WritePrivateProfileString("header", "other", nullptr, path.c_str()), 1);
    ASSERT_EQ(plat_WritePrivateProfileString("position", nullptr, nullptr, path.c_str()), 1);
    EXPECT_EQ(readAll(path),
              "; keep me\n[Header]\r\nname=new\r\nAdded=\"q\"\r\n\r\n[NEW]\r\nk=v\r\n");

    // Texts that would break the file's lines are refused and change nothing.
    EXPECT_EQ(plat_WritePrivateProfileString("NEW", "k", "a\r\nb=c", path.c_str()), 0);
    EXPECT_EQ(plat_GetLastError(), WERR_INVALID_PARAMETER);
    EXPECT_EQ(plat_WritePrivateProfileString("NEW", "a=b", "c", path.c_str()), 0);
    EXPECT_EQ(plat_WritePrivateProfileString(nullptr, "k", "v", path.c_str()), 0);
    EXPECT_EQ(get("NEW", "k", path), "v");

    // A missing folder fails and leaves nothing behind.
    std::string lost = dir / "missing/information.ini";
    EXPECT_EQ(plat_WritePrivateProfileString("A", "b", "c", lost.c_str()), 0);
    EXPECT_EQ(plat_GetLastError(), WERR_PATH_NOT_FOUND);

    // A file marked read-only keeps its lines and its mark, even for root.
    std::string before = readAll(path);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(plat_WritePrivateProfileString("NEW", "k", "w", path.c_str()), 0);
    EXPECT_EQ(plat_GetLastError(), WERR_ACCESS_DENIED);
    EXPECT_EQ(readAll(path), before);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
}

} // namespace
