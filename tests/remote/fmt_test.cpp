#include "fmt.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

// "<kind>:<number>", or "-1" (with the outputs untouched).
std::string code(const char *text) {
    char kind[2] = {'?', '?'};
    int32_t number = -7;
    if (fmt_ParseChannelCode(text, kind, &number) != 0) {
        EXPECT_EQ('?', kind[0]);
        EXPECT_EQ(-7, number);
        return "-1";
    }
    return std::string(kind, kind[1] != '\0' ? 2 : 1) + (kind[1] == '\0' ? "\\0" : "") + ":" +
           std::to_string(number);
}

std::string number(const char *text) {
    int32_t n = -7;
    return fmt_ParseNumber(text, &n) == 0 ? std::to_string(n) : "-1";
}

TEST(FmtTest, ChannelCodes) {
    EXPECT_EQ("AI:1000", code("AI1K"));
    EXPECT_EQ("D\\0:99999", code("D99999"));
    EXPECT_EQ("DO:7", code(" D-O 0 7 "));
    EXPECT_EQ("-1", code("AI123456"));
    EXPECT_EQ("-1", code("123"));
    EXPECT_EQ("-1", code("AI"));
    EXPECT_EQ("-1", code("AIX1"));
    EXPECT_EQ("-1", code("AI2K"));
    EXPECT_EQ("-1", code("AI01K"));
    EXPECT_EQ("-1", code("AI1k"));
    EXPECT_EQ("-1", code("AI1K2"));
    EXPECT_EQ("-1", code("AI12B"));
}

TEST(FmtTest, PlainNumbers) {
    EXPECT_EQ("1000", number("1K"));
    EXPECT_EQ("12", number("AI12"));
    EXPECT_EQ("99999", number(" 9 9,999"));
    EXPECT_EQ("-1", number("123456"));
    EXPECT_EQ("-1", number("2K"));
    EXPECT_EQ("-1", number("12x"));
}

TEST(FmtTest, MillisecondSplitSaturatesMinutes) {
    MinutesSeconds s{};
    fmt_SplitMilliseconds(&s, 61234);
    EXPECT_EQ(1, s.minutes);
    EXPECT_EQ(1, s.seconds);
    EXPECT_EQ(234, s.milliseconds);
    // 256 minutes must not wrap to 0, or a report's cap at 99 never shows.
    fmt_SplitMilliseconds(&s, 256 * 60000 + 5);
    EXPECT_EQ(255, s.minutes);
    EXPECT_EQ(0, s.seconds);
    EXPECT_EQ(5, s.milliseconds);
    fmt_SplitMilliseconds(&s, -1500);
    EXPECT_EQ(0, s.minutes);
    EXPECT_EQ(0, s.seconds);
    EXPECT_EQ(0, s.milliseconds);
}

} // namespace
