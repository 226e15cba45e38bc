// Time stamps shared with the runtime: scan schedules, channel table and channel file stamps,
// saved and logged data.
//
// A stamp counts the local wall-clock date and time as if it were UTC: no zone shift, so a
// stamp broken down with gmtime shows the local time. It follows the wall clock, so a
// difference taken across a clock change jumps with it.
#pragma once

#include "plat_clock.h"

#include <cstddef>
#include <cstdint>
#include <ctime>

// Stored in shared memory and in file headers: 8 bytes, little-endian.
struct TimeStamp {
    int32_t seconds;      // since 1970-01-01 00:00:00 local
    int16_t milliseconds; // 0..999
    uint16_t padding;     // written as 0
};
static_assert(sizeof(TimeStamp) == 8);
static_assert(offsetof(TimeStamp, seconds) == 0);
static_assert(offsetof(TimeStamp, milliseconds) == 4);

struct PreciseTimeStamp {
    int32_t seconds;
    uint16_t milliseconds;
    uint16_t microseconds; // 0..999
};
static_assert(sizeof(PreciseTimeStamp) == 8);
static_assert(offsetof(PreciseTimeStamp, milliseconds) == 4);
static_assert(offsetof(PreciseTimeStamp, microseconds) == 6);

// Seconds and microseconds as a pair (the C library's timeval shape with 32-bit fields).
struct SecondsMicros {
    int32_t seconds;
    int32_t microseconds;
};

using SystemTime = PlatLocalTime;

// Days in the month (1..12) of the year; 0 for a month outside 1..12.
int ts_DaysInMonth(int year, int month);

// The stamp of a broken-down local time; years before 1970 add no days.
TimeStamp ts_FromSystemTime(const SystemTime &st, TimeStamp *out = nullptr);

// The local time now; also stored in *out when given.
TimeStamp ts_Now(TimeStamp *out = nullptr);

// a - b in milliseconds, saturated to the int32 range.
int32_t ts_DiffMs(const TimeStamp &a, const TimeStamp &b);

// a - b in microseconds.
int64_t ts_DiffUs(const PreciseTimeStamp &a, const PreciseTimeStamp &b);

// The difference of the seconds when they differ, else of the milliseconds (sign as a - b).
int32_t ts_CompareStamps(const TimeStamp &a, const TimeStamp &b);

// Seconds and microseconds as a precise stamp (a microsecond count outside 0..999999 carries
// into the seconds).
PreciseTimeStamp ts_SplitMicroseconds(const SecondsMicros &in, PreciseTimeStamp *out = nullptr);

// Adds ms (of either sign) in place; the milliseconds stay 0..999.
void ts_AddMs(TimeStamp *stamp, int64_t ms);

// The next scheduling boundary after the stamp: an interval up to 60 s lands on a multiple of
// the interval since the stamp's midnight, a longer one on a whole minute. Interval 0 (or
// below) gives the stamp itself.
TimeStamp ts_NextBoundary(const TimeStamp &stamp, int32_t intervalMs);

// The first point of the grid start + k * interval after t (a t on the grid moves a whole
// interval on); t before start gives t + interval. Interval 0 (or below) gives t.
TimeStamp ts_AlignToInterval(const TimeStamp &t, const TimeStamp &start, int32_t intervalMs);

// Makes the process's local-time conversions follow the system's time zone.
void ts_SetTimeZone();

// The calendar fields (UTC) of seconds since 1970. Stored 32-bit times are read as unsigned,
// so times after 2038 break down and none is negative; the fields come back by value, so
// threads never share a result.
struct tm ts_GmTime(uint32_t seconds);
