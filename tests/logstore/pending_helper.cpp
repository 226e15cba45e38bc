// A weak stand-in for the calendar carry that logger/ is gaining; the library's own definition
// replaces it as soon as it exists. Remove this file then.
#include "lfile.h"

#include <ctime>

__attribute__((weak)) int64_t lfile_NormalizeTm(struct tm *tm) {
    // Seconds of the fields as UTC with every field carried (days from the civil calendar).
    int64_t y = int64_t{tm->tm_year} + 1900, m = tm->tm_mon;
    y += m / 12;
    m %= 12;
    if (m < 0) {
        m += 12;
        --y;
    }
    int64_t yy = m < 2 ? y - 1 : y;
    int64_t era = (yy >= 0 ? yy : yy - 399) / 400;
    int64_t yoe = yy - era * 400;
    int64_t mp = (m + 10) % 12;
    int64_t doy = (153 * mp + 2) / 5;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = era * 146097 + doe - 719468 + tm->tm_mday - 1;
    int64_t s = days * 86400 + int64_t{tm->tm_hour} * 3600 + int64_t{tm->tm_min} * 60 + tm->tm_sec;
    time_t t = static_cast<time_t>(s);
    gmtime_r(&t, tm);
    return s;
}
