// Local wall-clock time, as the system's callers of GetLocalTime expect it.
//
// The system counts its time stamps in local wall-clock time, so the clock hands out the local
// broken-down time (the zone from TZ or the system's /etc/localtime). Tests replace the clock
// with a fake one: either a fixed broken-down time, or a fake instant that is still broken down
// in the local zone (so that daylight-saving changes can be crossed on purpose).
#pragma once

#include <cstdint>

// Broken-down local time; the fields follow the Windows SYSTEMTIME (month 1..12, day of week
// 0 = Sunday).
struct PlatLocalTime {
    int year;
    int month;
    int dayOfWeek;
    int day;
    int hour;
    int minute;
    int second;
    int milliseconds;
};

// The local time now, milliseconds truncated from the clock's nanoseconds.
PlatLocalTime plat_GetLocalTime();

// Breaks an instant (milliseconds since 1970-01-01 00:00:00 UTC) down in the local zone.
PlatLocalTime plat_LocalTimeFromUnixMs(int64_t unixMs);

// The wall-clock instant now in milliseconds since 1970 UTC (fake when a fake clock is set).
int64_t plat_UnixMs();

// Milliseconds of the monotonic clock, wrapping at 2^32 as GetTickCount does (fake when a fake
// tick is set). Only differences of two counts mean anything.
uint32_t plat_TickCount();

// Makes the process re-read its time zone (TZ or the system's zone).
void plat_SetTimeZone();

// Test hooks. A fake instant is broken down in the local zone; a fixed local time is returned
// as it is. Both stay until plat_ClearFakeClock. Safe to call while other threads read the clock.
void plat_SetFakeClock(int64_t unixMs);
void plat_AdvanceFakeClock(int64_t ms);
void plat_SetFixedLocalTime(const PlatLocalTime &local);
// A fake tick count stays until plat_ClearFakeClock, independent of the fake wall clock.
void plat_SetFakeTick(uint32_t ms);
void plat_AdvanceFakeTick(uint32_t ms);
void plat_ClearFakeClock();
