#include "tag.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string bytes(const ChannelRecord &rec, size_t offset, size_t width) {
    return std::string(reinterpret_cast<const char *>(rec.bytes + offset), width);
}

TEST(TagPieces, TagSpreadsOverThreePiecesAndShorterTextClearsThem) {
    ChannelRecord rec{};
    tag_SetTag(&rec, "ABCDEFGHIJ");
    EXPECT_EQ(tag_GetTag(rec), "ABCDEFGHIJ");
    EXPECT_EQ(bytes(rec, 0, 8), "ABCDEFGH");
    EXPECT_EQ(bytes(rec, 138, 4), std::string("IJ\0\0", 4));
    EXPECT_EQ(bytes(rec, 158, 3), std::string(3, '\0'));

    tag_SetTag(&rec, "XYZ");
    EXPECT_EQ(tag_GetTag(rec), "XYZ");
    EXPECT_EQ(bytes(rec, 0, 8), std::string("XYZ\0\0\0\0\0", 8));
    EXPECT_EQ(bytes(rec, 138, 4), std::string(4, '\0'));

    // Exactly 8: only the first piece, no NUL in it, the others empty.
    std::memset(rec.bytes + 138, 'q', 4);
    tag_SetTag(&rec, "12345678");
    EXPECT_EQ(bytes(rec, 0, 8), "12345678");
    EXPECT_EQ(bytes(rec, 138, 4), std::string(4, '\0'));
    EXPECT_EQ(tag_GetTag(rec), "12345678");

    // 15 fills all three with no NUL; longer texts are cut.
    tag_SetTag(&rec, "ABCDEFGHIJKLMNOPQRS");
    EXPECT_EQ(bytes(rec, 0, 8), "ABCDEFGH");
    EXPECT_EQ(bytes(rec, 138, 4), "IJKL");
    EXPECT_EQ(bytes(rec, 158, 3), "MNO");
    EXPECT_EQ(tag_GetTag(rec), "ABCDEFGHIJKLMNO");

    tag_SetTag(&rec, nullptr);
    EXPECT_EQ(tag_GetTag(rec), "");
    EXPECT_EQ(bytes(rec, 158, 3), std::string(3, '\0'));
}

TEST(TagPieces, JoiningStopsAtTheFirstShortPiece) {
    ChannelRecord rec{};
    std::memcpy(rec.bytes, "AB\0\0\0\0\0\0", 8);
    std::memcpy(rec.bytes + 138, "ZZZZ", 4); // stale bytes behind a short first piece
    EXPECT_EQ(tag_GetTag(rec), "AB");
}

TEST(TagPieces, DescriptionAndUnits) {
    ChannelRecord rec{};
    const char *full = "0123456789abcdefGHIJKLMNOPQRSTUV";
    tag_SetDescription(&rec, full);
    EXPECT_EQ(bytes(rec, 8, 16), "0123456789abcdef");
    EXPECT_EQ(bytes(rec, 142, 16), "GHIJKLMNOPQRSTUV");
    EXPECT_EQ(tag_GetDescription(rec), full);
    // The description must not run on into the type byte or the third tag piece.
    EXPECT_EQ(rec.bytes[24], 0);
    EXPECT_EQ(rec.bytes[158], 0);

    tag_SetDescription(&rec, "short");
    EXPECT_EQ(tag_GetDescription(rec), "short");
    EXPECT_EQ(bytes(rec, 142, 16), std::string(16, '\0'));

    // Units live at 32 and 161 whatever the layout, and a digital record keeps its type.
    chrec_SetType(&rec, CHANNEL_TYPE_DI);
    tag_SetUnits(&rec, "m3/hour!x");
    EXPECT_EQ(bytes(rec, 32, 4), "m3/h");
    EXPECT_EQ(bytes(rec, 161, 4), "our!");
    EXPECT_EQ(tag_GetUnits(rec), "m3/hour!");
    EXPECT_EQ(rec.bytes[165], 0);
    EXPECT_EQ(chrec_GetType(rec), CHANNEL_TYPE_DI);
}

TEST(TagPieces, SizesAreTheMaxima) {
    EXPECT_EQ(tag_TagSize(), 15);
    EXPECT_EQ(tag_DescSize(), 32);
    EXPECT_EQ(tag_UnitsSize(), 8);
}

TEST(FlagBits, MostSignificantBitFirst) {
    uint8_t a[2] = {0, 0};
    util_SetBit(a, 9);
    EXPECT_EQ(a[0], 0);
    EXPECT_EQ(a[1], 0x40);
    EXPECT_EQ(util_TestBit(a, 9), 1);
    EXPECT_EQ(util_TestBit(a, 8), 0);
    util_SetBit(a, 0);
    util_SetBit(a, 7);
    EXPECT_EQ(a[0], 0x81);
    util_ClearBit(a, 0);
    util_ClearBit(a, 9);
    EXPECT_EQ(a[0], 0x01);
    EXPECT_EQ(a[1], 0);
}

TEST(ShortName, ShortNamesAndOtherLoggersStayAsTheyAre) {
    EXPECT_EQ(tag_ShortName("resub", "A_B_C_D_E"), "A_B_C_D_E");
    EXPECT_EQ(tag_ShortName("stand", "x_AB_CDEFGHIJKLMNOPQ_D_E"), "x_AB_CDEFGHIJKLMNOPQ_D_E");
    // Too few underscores.
    EXPECT_EQ(tag_ShortName("resub", "alpha_beta_gamma_delta"), "alpha_beta_gamma_delta");
    std::string longName(60, 'n');
    EXPECT_EQ(tag_ShortName("stand", longName.c_str()), std::string(47, 'n'));
    EXPECT_EQ(tag_ShortName(nullptr, nullptr), "");
}

TEST(ShortName, ResubNamesBecomeTagAndDescription) {
    EXPECT_EQ(tag_ShortName("resub", "x_AB_CDEFGHIJKLMNOPQ_D_E"), "AB_CDEFGHIJKLMN_D_E");
    EXPECT_EQ(tag_ShortName("ReSuBscriber", "x_AB_CDEFGHIJKLMNOPQ_D_E"), "AB_CDEFGHIJKLMN_D_E");
    // B cut to 2 and the tag part padded with blanks to 15.
    EXPECT_EQ(tag_ShortName("resub", "site_ABCD_tank_level_high"), "AB_tank        _level_high");
    // With a character after the fifth underscore, D and E take 14 each and that character.
    EXPECT_EQ(tag_ShortName("resub", "s_P1_T1_dddddddddddddddddd_eeeeeeeeeeeeeeeeee_Zrest"),
              "P1_T1          _dddddddddddddd_eeeeeeeeeeeeee_Z");
    // A fifth underscore with nothing after it keeps the two-piece form.
    EXPECT_EQ(tag_ShortName("resub", "s_P1_T1_dddddddddddddddddd_e_"),
              "P1_T1          _ddddddddddddddd_e");
    // Empty pieces print as one blank under the minimum widths.
    EXPECT_EQ(tag_ShortName("resub", "abcdefghij__c__e"), " _c            _ _e");
    EXPECT_EQ(tag_ShortName("resub", "longer_than15__x_y_"), "th_            _x_y");
}

TEST(ShortName, ExpNameFitsFortySevenCharacters) {
    EXPECT_EQ(tag_ExpName("stand", "PUMP1"), "EXP PUMP1");
    std::string longName(60, 'n');
    std::string exp = tag_ExpName("stand", longName.c_str());
    EXPECT_EQ(exp.size(), 47u);
    EXPECT_EQ(exp, "EXP " + std::string(43, 'n'));
}

} // namespace
