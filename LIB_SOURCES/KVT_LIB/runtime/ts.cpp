#include "ts.h"

#include <limits>

namespace {
constexpr int64_t SECONDS_PER_DAY = 86400;

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Floor modulo: a stamp before 1970 still has its midnight before it.
int64_t floorMod(int64_t a, int64_t b) {
    int64_t m = a % b;
    return m < 0 ? m + b : m;
}

int32_t saturate32(int64_t v) {
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

int64_t stampMs(const TimeStamp &t) {
    return static_cast<int64_t>(t.seconds) * 1000 + t.milliseconds;
}

// Seconds wrap at 32 bits like the stored field (the stamp ends in 2038).
TimeStamp stampFromMs(int64_t ms) {
    TimeStamp t{};
    int64_t ms1000 = floorMod(ms, 1000);
    t.seconds = static_cast<int32_t>(static_cast<uint32_t>((ms - ms1000) / 1000));
    t.milliseconds = static_cast<int16_t>(ms1000);
    return t;
}
} // namespace

int ts_DaysInMonth(int year, int month) {
    static const int k_days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    if (month == 2 && isLeapYear(year)) return 29;
    return k_days[month - 1];
}

TimeStamp ts_FromSystemTime(const SystemTime &st, TimeStamp *out) {
    int64_t days = 0;
    for (int y = 1970; y < st.year; ++y)
        days += isLeapYear(y) ? 366 : 365;
    for (int m = 1; m < st.month && m <= 12; ++m)
        days += ts_DaysInMonth(st.year, m);
    int64_t seconds =
        (days + st.day - 1) * SECONDS_PER_DAY + st.hour * 3600 + st.minute * 60 + st.second;
    TimeStamp t{};
    t.seconds = static_cast<int32_t>(static_cast<uint32_t>(seconds));
    t.milliseconds = static_cast<int16_t>(st.milliseconds);
    if (out != nullptr) *out = t;
    return t;
}

TimeStamp ts_Now(TimeStamp *out) {
    return ts_FromSystemTime(plat_GetLocalTime(), out);
}

int32_t ts_DiffMs(const TimeStamp &a, const TimeStamp &b) {
    return saturate32(stampMs(a) - stampMs(b));
}

int64_t ts_DiffUs(const PreciseTimeStamp &a, const PreciseTimeStamp &b) {
    int64_t ms = (static_cast<int64_t>(a.seconds) - b.seconds) * 1000 +
                 (static_cast<int64_t>(a.milliseconds) - b.milliseconds);
    return ms * 1000 + (static_cast<int64_t>(a.microseconds) - b.microseconds);
}

int32_t ts_CompareStamps(const TimeStamp &a, const TimeStamp &b) {
    if (a.seconds != b.seconds) return saturate32(static_cast<int64_t>(a.seconds) - b.seconds);
    return a.milliseconds - b.milliseconds;
}

PreciseTimeStamp ts_SplitMicroseconds(const SecondsMicros &in, PreciseTimeStamp *out) {
    int64_t us = floorMod(in.microseconds, 1000000);
    int64_t carry = (in.microseconds - us) / 1000000;
    PreciseTimeStamp p{};
    p.seconds = static_cast<int32_t>(static_cast<uint32_t>(in.seconds + carry));
    p.milliseconds = static_cast<uint16_t>(us / 1000);
    p.microseconds = static_cast<uint16_t>(us % 1000);
    if (out != nullptr) *out = p;
    return p;
}

void ts_AddMs(TimeStamp *stamp, int64_t ms) {
    uint16_t padding = stamp->padding;
    *stamp = stampFromMs(stampMs(*stamp) + ms);
    stamp->padding = padding;
}

TimeStamp ts_NextBoundary(const TimeStamp &stamp, int32_t intervalMs) {
    if (intervalMs <= 0) return stamp;
    int64_t secondOfDay = floorMod(stamp.seconds, SECONDS_PER_DAY);
    int64_t midnight = static_cast<int64_t>(stamp.seconds) - secondOfDay;
    int64_t m = secondOfDay * 1000 + stamp.milliseconds + intervalMs;
    int64_t step = intervalMs < 60000 ? intervalMs : 60000;
    m -= m % step;
    return stampFromMs(midnight * 1000 + m);
}

TimeStamp ts_AlignToInterval(const TimeStamp &t, const TimeStamp &start, int32_t intervalMs) {
    if (intervalMs <= 0) return t;
    int64_t since = stampMs(t) - stampMs(start);
    if (since < 0) return stampFromMs(stampMs(t) + intervalMs);
    int64_t e = since % intervalMs;
    return stampFromMs(stampMs(t) + (intervalMs - e));
}

void ts_SetTimeZone() {
    plat_SetTimeZone();
}

struct tm ts_GmTime(uint32_t seconds) {
    struct tm fields {};
    time_t t = static_cast<time_t>(seconds);
    gmtime_r(&t, &fields);
    return fields;
}
