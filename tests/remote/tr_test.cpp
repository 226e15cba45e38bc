#include "tr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string field(const char16_t *text) {
    char tag[TR_TAG_SIZE];
    memset(tag, 'x', sizeof tag);
    tr_SetTagText(tag, text);
    return std::string(tag, sizeof tag);
}

TEST(TagTextTest, NarrowTextsAsWindows1252AndOthersAsUtf16) {
    // U+0080-U+009F go through the table, which has a byte for U+0081 but none for U+0080.
    EXPECT_EQ(std::string("Pumpe \xe4?\x81", 9) + '\0' + std::string(22, 'x'),
              field(u"Pumpe \u00e4\u0080\u0081"));
    EXPECT_EQ(std::string(1, '\0') + std::string(31, 'x'), field(u""));
    EXPECT_EQ(std::string(1, '\0') + std::string(31, 'x'), field(nullptr));
    // 32 characters fill the field without a terminator; more are cut.
    std::u16string full(40, u'a');
    EXPECT_EQ(std::string(32, 'a'), field(full.c_str()));

    // One character from U+0100 on: marker, then little-endian UTF-16.
    EXPECT_EQ(std::string("\x00\xff"
                          "A\x00\x2d\x4e\x01\x01\x00\x00",
                          10) +
                  std::string(22, 'x'),
              field(u"A\u4e2d\u0101"));
    // Fifteen characters at most.
    std::u16string longText(20, u'\u4e2d');
    std::string expected("\x00\xff", 2);
    for (int i = 0; i < 15; ++i)
        expected += "\x2d\x4e";
    EXPECT_EQ(expected, field(longText.c_str()));
    // A pair at the cut is left out whole.
    std::u16string pair = std::u16string(14, u'b') + u"\U0001F600";
    expected = std::string("\x00\xff", 2);
    for (int i = 0; i < 14; ++i)
        expected += std::string("b\x00", 2);
    expected += std::string(2, '\0');
    EXPECT_EQ(expected, field(pair.c_str()));
}

} // namespace
