// The settings types through their text form and through an XML file.
#include "structs_settings.h"

#include "temp_registry.h"

#include "xml.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string ascify(const structs_type *type, const void *data) {
    char *text = type->ascify(type, "test", data);
    std::string s = text != nullptr ? text : "<null>";
    typed_mem_free("test", text);
    return s;
}

// The bytes stored, or "!" and the message.
std::string binify(const structs_type *type, const char *text, void *data) {
    char ebuf[128] = {};
    errno = 0;
    if (type->binify(type, text, data, ebuf, sizeof ebuf) != 0) {
        EXPECT_EQ(EINVAL, errno) << text;
        return std::string("!") + ebuf;
    }
    return std::string(static_cast<const char *>(data), type->size);
}

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

TEST(TimeTypeTest, DatesPeriodsAndWildcards) {
    uint8_t t[6];
    const structs_type *date = &structs_time_date_type;
    const structs_type *dateAny = &structs_time_date_any_type;
    const structs_type *period = &structs_time_period_type;
    const structs_type *periodAny = &structs_time_period_any_type;

    memset(t, 7, sizeof t);
    EXPECT_EQ(bytes({124, 5, 17, 8, 30, 0}), binify(date, "2024-05-17T08:30", t));
    EXPECT_EQ("2024-05-17T08:30", ascify(date, t));
    // Blanks before the text and each number; anything after the minute is ignored.
    EXPECT_EQ(bytes({124, 5, 17, 8, 30, 0}), binify(date, "  2024- 5-17T 8: 30:59 x", t));
    EXPECT_EQ(bytes({254, 59, 59, 59, 59, 0}), binify(date, "2154-59-59T59:59", t));
    EXPECT_EQ("2154-59-59T59:59", ascify(date, t));

    EXPECT_EQ("!invalid year value", binify(date, "2155-05-17T08:30", t));
    EXPECT_EQ("!invalid year value", binify(date, "1899-05-17T08:30", t));
    EXPECT_EQ("!invalid year value", binify(date, "2024/05-17T08:30", t));
    EXPECT_EQ("!invalid year value", binify(date, "****-**-**T**:**", t));
    EXPECT_EQ("!invalid time value", binify(date, "2024-05-17T08:60", t));
    EXPECT_EQ("!invalid time value", binify(date, "2024-05-17T08-30", t));
    EXPECT_EQ("!invalid time value", binify(date, "2024-05-17T08:**", t));
    // A failed parse leaves the value alone.
    EXPECT_EQ("2154-59-59T59:59", ascify(date, t));

    EXPECT_EQ(bytes({255, 255, 255, 255, 255, 0}), binify(dateAny, "****-**-**T**:**", t));
    EXPECT_EQ(bytes({255, 255, 17, 255, 30, 0}), binify(dateAny, "*-*-17T*:30", t));
    EXPECT_EQ("****-**-17T**:30", ascify(dateAny, t));
    EXPECT_EQ("!invalid year value", binify(dateAny, "*****-**-**T**:**", t));
    EXPECT_EQ("!invalid time value", binify(dateAny, "****-***-**T**:**", t));

    EXPECT_EQ(bytes({0, 0, 1, 2, 30, 0}), binify(period, "00-01T02:30", t));
    EXPECT_EQ("00-01T02:30", ascify(period, t));
    EXPECT_EQ("!invalid time value", binify(period, "**-01T02:30", t));
    EXPECT_EQ(bytes({0, 255, 1, 255, 30, 0}), binify(periodAny, "**-01T**:30", t));
    EXPECT_EQ("**-01T**:30", ascify(periodAny, t));
    // The sixth byte and a period's year byte are written 0 whatever they held.
    uint8_t held[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(bytes({0, 1, 2, 3, 4, 0}), binify(period, "01-02T03:04", held));
}

TEST(EolSepTypeTest, NamesMapBothWays) {
    char f[3];
    const structs_type *eol = &structs_eol_type;
    const structs_type *sep = &structs_sep_type;

    struct Case {
        const structs_type *type;
        const char *text;
        const char *value;
        const char *written;
    };
    const Case cases[] = {
        {eol, "CR/LF", "\r\n", "CR/LF"}, {eol, "cr/lf", "\r\n", "CR/LF"},
        {eol, "", "\r\n", "CR/LF"},      {eol, "CR", "\r", "CR"},
        {eol, "lf", "\n", "LF"},         {eol, ";", ";", ";"},
        {eol, "ab", "ab", "ab"},         {sep, "COMMA", ",", "COMMA"},
        {sep, "", ",", "COMMA"},         {sep, "Tab", "\t", "TAB"},
        {sep, "space", " ", "SPACE"},    {sep, "|", "|", "|"},
    };
    for (const Case &c : cases) {
        memset(f, 'x', sizeof f);
        char ebuf[64] = {};
        ASSERT_EQ(0, c.type->binify(c.type, c.text, f, ebuf, sizeof ebuf)) << c.text;
        EXPECT_STREQ(c.value, f) << c.text;
        EXPECT_EQ(c.written, ascify(c.type, f)) << c.text;
    }
    // An empty value is written as the value an empty text reads as.
    memset(f, 0, sizeof f);
    EXPECT_EQ("CR/LF", ascify(eol, f));
    EXPECT_EQ("COMMA", ascify(sep, f));
    EXPECT_EQ("!string is too long for bounded length buffer", binify(eol, "CRLF", f));
    EXPECT_EQ("!string is too long for bounded length buffer", binify(sep, "TABS", f));
}

// Each type's text goes into an element of a saved file and comes back to the same bytes.
TEST(SettingsXmlTest, EveryTypeRoundTripsThroughAnXmlFile) {
    TempFolder folder;
    struct Field {
        const char *element;
        const structs_type *type;
        const char *text;
    };
    const Field fields[] = {
        {"Password", &structs_password_type, "P\xe4sswort <&>"},
        {"Empty", &structs_password_type, ""},
        {"Server", &structs_server_type, "https://user:p@ss@h.example:8443/app"},
        {"Local", &structs_server_type, "\\\\SRV"},
        {"Start", &structs_time_date_type, "2024-05-17T08:30"},
        {"Any", &structs_time_date_any_type, "****-05-**T08:**"},
        {"Every", &structs_time_period_type, "00-01T02:30"},
        {"Eol", &structs_eol_type, "LF"},
        {"Sep", &structs_sep_type, "TAB"},
    };
    std::vector<std::vector<char>> values;
    XmlDocument *doc = xml_CreateDocument();
    ASSERT_NE(nullptr, doc);
    XmlNode *root = xml_AddChildElement(doc, "Settings", xml_DocumentNode(doc));
    for (const Field &f : fields) {
        values.emplace_back(f.type->size, '\0');
        char ebuf[128] = {};
        ASSERT_EQ(
            0, structs_set_string(f.type, nullptr, f.text, values.back().data(), ebuf, sizeof ebuf))
            << f.element << ": " << ebuf;
        char *text = structs_get_string(f.type, nullptr, values.back().data(), "test");
        ASSERT_NE(nullptr, text);
        XmlNode *element = xml_AddChildElement(doc, f.element, root);
        xml_CreateAndAddTextNode(doc, text, element);
        typed_mem_free("test", text);
    }
    const std::string path = folder / "settings.xml";
    ASSERT_EQ(0, xml_SaveFile(doc, path.c_str()));
    xml_ReleaseDocument(doc);
    ASSERT_GE(xml_GetError(), 0) << xml_GetErrorText();

    doc = xml_CreateDocument();
    ASSERT_EQ(0, xml_LoadFile(doc, path.c_str()));
    root = xml_GetRootElement(doc);
    for (size_t i = 0; i < std::size(fields); ++i) {
        const Field &f = fields[i];
        XmlNode *element = xml_FindByName(root, f.element);
        ASSERT_NE(nullptr, element) << f.element;
        char *text = xml_getText(element);
        std::vector<char> back(f.type->size, 'z');
        char ebuf[128] = {};
        EXPECT_EQ(0, structs_set_string(f.type, nullptr, text, back.data(), ebuf, sizeof ebuf))
            << f.element << ": " << ebuf;
        free(text);
        EXPECT_EQ(1, f.type->equal(f.type, values[i].data(), back.data())) << f.element;
    }
    xml_ReleaseDocument(doc);
}

} // namespace
