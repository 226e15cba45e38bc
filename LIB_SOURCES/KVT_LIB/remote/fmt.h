// Small text and number helpers of the configuration module: channel codes, plain numbers and
// the minute/second split of a millisecond rate. Numbers are read and written in the C locale.
#pragma once

#include <cstdint>

// A channel code: one or two letters (the kind id) and one to five digits; "1K" means 1000.
// Characters other than letters and digits are skipped; a letter after the digits is allowed
// only as an upper-case "K" after exactly the digit "1". kind receives the letters (a second
// byte of 0 for one letter). 0, or -1 for more than two letters, more than five digits, no
// letter, no digit or a misplaced letter (outputs then unchanged).
int fmt_ParseChannelCode(const char *text, char kind[2], int32_t *number);

// fmt_ParseChannelCode's number without the kind id: letters before the first digit are
// skipped like any other character.
int fmt_ParseNumber(const char *text, int32_t *number);

struct MinutesSeconds {
    uint8_t minutes;
    uint8_t seconds;
    uint16_t milliseconds;
};
static_assert(sizeof(MinutesSeconds) == 4);

// minutes = value / 60000 (at most 255, so that a printed cap at 99 still holds), seconds =
// (value mod 60000) / 1000, milliseconds = value mod 1000; a negative value splits as 0.
void fmt_SplitMilliseconds(MinutesSeconds *out, int32_t milliseconds);
