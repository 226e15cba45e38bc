#include "s5area.h"

#include <cstdio>

namespace {
const char *const AREA_TEXTS[S5_AREA_COUNT] = {"DB", "DX", "I", "O",       "IO",     "EIO",
                                               "F",  "C",  "T", "SYSADDR", "ABSADDR"};
}

std::string s5_FormatAddress(uint16_t address, int area) {
    char text[32];
    if (area == S5_AREA_D || area == S5_AREA_X)
        std::snprintf(text, sizeof text, "DB%dDW%d", address >> 8, address & 0xFF);
    else if (area >= 0 && area < S5_AREA_COUNT)
        std::snprintf(text, sizeof text, "%s%d", AREA_TEXTS[area], address);
    else
        std::snprintf(text, sizeof text, "ERR%d", address);
    return text;
}
