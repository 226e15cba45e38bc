// Logger data and text files.
#pragma once

#include <cstdint>
#include <ctime>

// Brings every field of tm into its range (carrying in both directions, February 29 by the
// Gregorian rule), counting tm_year from 1900 and ignoring the time zone, and returns the
// moment as seconds since 1970-01-01 00:00:00 (negative before it). tm_wday and tm_yday are
// set; tm_isdst becomes 0.
int64_t lfile_NormalizeTm(struct tm *tm);
