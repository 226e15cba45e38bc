// Calendar arithmetic of the log files, in 64 bits so that no field value overflows.
#include "lfile.h"
#include "lgr.h"

#include "ts.h"

#include <cstdint>

namespace {
int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// Days from 1970-01-01 to the first of the month (month 1..12).
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    int64_t era = floorDiv(year, 400);
    int64_t yoe = year - era * 400;
    int64_t mp = (month + 9) % 12;
    int64_t doy = (153 * mp + 2) / 5 + day - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int64_t *year, int64_t *month, int64_t *day) {
    z += 719468;
    int64_t era = floorDiv(z, 146097);
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp < 10 ? mp + 3 : mp - 9;
    *year = yoe + era * 400 + (*month <= 2 ? 1 : 0);
}

bool isLeap(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}
} // namespace

int lgr_DaysInMonth(const struct tm *tm) {
    int64_t month = tm->tm_mon;
    int64_t year = static_cast<int64_t>(tm->tm_year) + 1900 + floorDiv(month, 12);
    month -= floorDiv(month, 12) * 12;
    // Years outside int still have a Gregorian answer.
    if (year < INT32_MIN + 1 || year > INT32_MAX) {
        static const int k_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        return month == 1 && isLeap(year) ? 29 : k_days[month];
    }
    return ts_DaysInMonth(static_cast<int>(year), static_cast<int>(month) + 1);
}

int64_t lfile_NormalizeTm(struct tm *tm) {
    int64_t seconds = tm->tm_sec;
    int64_t minutes = tm->tm_min + floorDiv(seconds, 60);
    seconds -= floorDiv(seconds, 60) * 60;
    int64_t hours = tm->tm_hour + floorDiv(minutes, 60);
    minutes -= floorDiv(minutes, 60) * 60;
    int64_t days = tm->tm_mday + floorDiv(hours, 24);
    hours -= floorDiv(hours, 24) * 24;
    int64_t month = tm->tm_mon;
    int64_t year = static_cast<int64_t>(tm->tm_year) + 1900 + floorDiv(month, 12);
    month -= floorDiv(month, 12) * 12;
    // Day 1 of the month plus (days - 1): the day count carries through month lengths and
    // February 29 by itself.
    int64_t z = daysFromCivil(year, month + 1, 1) + days - 1;
    int64_t y, m, d;
    civilFromDays(z, &y, &m, &d);
    tm->tm_sec = static_cast<int>(seconds);
    tm->tm_min = static_cast<int>(minutes);
    tm->tm_hour = static_cast<int>(hours);
    tm->tm_mday = static_cast<int>(d);
    tm->tm_mon = static_cast<int>(m - 1);
    tm->tm_year = static_cast<int>(y - 1900);
    tm->tm_wday = static_cast<int>(z - floorDiv(z + 4, 7) * 7 + 4);
    tm->tm_yday = static_cast<int>(z - daysFromCivil(y, 1, 1));
    tm->tm_isdst = 0;
    return z * 86400 + hours * 3600 + minutes * 60 + seconds;
}

TimeStamp lgr_SubtractPeriod(const TimeStamp &stamp, const uint8_t period[6]) {
    // Times are seconds since 1970 read as uint32, so stamps after 2038 still break down.
    struct tm t = ts_GmTime(static_cast<uint32_t>(stamp.seconds));
    t.tm_sec -= period[5];
    t.tm_min -= period[4];
    t.tm_hour -= period[3];
    t.tm_mday -= period[2];
    t.tm_mon -= period[1];
    t.tm_year -= period[0];
    int64_t result = lfile_NormalizeTm(&t);
    if (result < 0) result = 0;
    if (result > static_cast<int64_t>(UINT32_MAX)) result = UINT32_MAX;
    TimeStamp out = stamp;
    out.seconds = static_cast<int32_t>(static_cast<uint32_t>(result));
    return out;
}
