// Time stamps of event lines: "YY/MM/DD hh:mm:ss[.fff[uuu]] " in section files and
// "hh:mm:ss[.fff[uuu]] DD/MM/YY " in events.txt.
#include "lfile_text.h"

#include <climits>
#include <cstdio>

namespace {
template <typename Ch>
bool isBlank(Ch c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A scanf-style reader of the four stamp patterns: "%2d" reads a sign and digits within two
// characters after blanks; "%d" reads any number of digits but fails past int32.
template <typename Ch>
struct Scanner {
    const Ch *p;
    bool overflow = false;
    bool number(int width, int *out) {
        while (isBlank(*p))
            ++p;
        int used = 0;
        bool negative = false;
        if ((*p == '-' || *p == '+') && (width == 0 || used < width)) {
            negative = *p == '-';
            ++p;
            ++used;
        }
        int64_t v = 0;
        int digits = 0;
        while (*p >= '0' && *p <= '9' && (width == 0 || used < width)) {
            v = v * 10 + (*p - '0');
            if (v > INT_MAX) {
                overflow = true;
                return false;
            }
            ++p;
            ++used;
            ++digits;
        }
        if (digits == 0) return false;
        *out = static_cast<int>(negative ? -v : v);
        return true;
    }
    bool literal(char c) {
        if (*p != static_cast<Ch>(c)) return false;
        ++p;
        return true;
    }
};

template <typename Ch>
const Ch *parseStamp(const Ch *line, PreciseTimeStamp *stamp, LfileStampForm *form) {
    if (line == nullptr) return nullptr;
    int f[7] = {};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, fraction = 0;
    bool withFraction = false, timeFirst = false, ok = false;
    for (int pattern = 0; pattern < 4 && !ok; ++pattern) {
        Scanner<Ch> s{line};
        withFraction = pattern < 2;
        timeFirst = pattern == 1 || pattern == 3;
        int *dst = f;
        if (!timeFirst) {
            ok = s.number(2, dst++) && s.literal('/') && s.number(2, dst++) && s.literal('/') &&
                 s.number(2, dst++);
            while (ok && isBlank(*s.p))
                ++s.p;
            ok = ok && s.number(2, dst++) && s.literal(':') && s.number(2, dst++) &&
                 s.literal(':') && s.number(2, dst++) &&
                 (!withFraction || (s.literal('.') && s.number(0, dst++)));
        } else {
            ok = s.number(2, dst++) && s.literal(':') && s.number(2, dst++) && s.literal(':') &&
                 s.number(2, dst++) && (!withFraction || (s.literal('.') && s.number(0, dst++)));
            while (ok && isBlank(*s.p))
                ++s.p;
            ok = ok && s.number(2, dst++) && s.literal('/') && s.number(2, dst++) &&
                 s.literal('/') && s.number(2, dst++);
        }
        // A number too large for its field makes the whole line unparsable.
        if (s.overflow) return nullptr;
    }
    if (!ok) return nullptr;
    if (!timeFirst) {
        year = f[0], month = f[1], day = f[2], hour = f[3], minute = f[4], second = f[5];
        fraction = withFraction ? f[6] : 0;
    } else {
        hour = f[0], minute = f[1], second = f[2];
        int k = 3;
        fraction = withFraction ? f[k++] : 0;
        day = f[k], month = f[k + 1], year = f[k + 2];
    }
    // The text follows the stamp's two blank-separated fields and the blanks after them.
    const Ch *t = line;
    for (int field = 0; field < 2; ++field) {
        while (isBlank(*t))
            ++t;
        while (*t != 0 && !isBlank(*t))
            ++t;
    }
    while (*t == ' ' || *t == '\t')
        ++t;
    int64_t at = t - line;
    int ms = 0, us = 0, digits = 0;
    if (at == 18) {
        digits = 0;
    } else if (at == 22) {
        ms = fraction, digits = 3;
    } else {
        ms = fraction / 1000, us = fraction % 1000, digits = withFraction ? 6 : 0;
    }
    struct tm tm {};
    tm.tm_year = year < 70 ? year + 100 : year;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    int64_t seconds = lfile_NormalizeTm(&tm);
    if (stamp) {
        stamp->seconds = lfile_StoreTime(seconds);
        stamp->milliseconds = static_cast<uint16_t>(ms);
        stamp->microseconds = static_cast<uint16_t>(us);
    }
    if (form) {
        form->timeFirst = timeFirst;
        form->digits = digits;
        form->year = year, form->month = month, form->day = day;
        form->hour = hour, form->minute = minute, form->second = second, form->fraction = fraction;
    }
    return t;
}
} // namespace

const char *lfile_ParseStampForm(const char *line, PreciseTimeStamp *stamp, LfileStampForm *form) {
    return parseStamp(line, stamp, form);
}
const char16_t *lfile_ParseStampFormW(const char16_t *line, PreciseTimeStamp *stamp,
                                      LfileStampForm *form) {
    return parseStamp(line, stamp, form);
}

const char *lfile_ParseStamp(const char *line, PreciseTimeStamp *stamp) {
    return parseStamp(line, stamp, static_cast<LfileStampForm *>(nullptr));
}
const char16_t *lfile_ParseStampW(const char16_t *line, PreciseTimeStamp *stamp) {
    return parseStamp(line, stamp, static_cast<LfileStampForm *>(nullptr));
}

const char *lfile_StampSeconds(const char *line, int32_t *seconds) {
    PreciseTimeStamp s{};
    const char *t = lfile_ParseStamp(line, &s);
    if (t && seconds) *seconds = s.seconds;
    return t;
}
const char16_t *lfile_StampSecondsW(const char16_t *line, int32_t *seconds) {
    PreciseTimeStamp s{};
    const char16_t *t = lfile_ParseStampW(line, &s);
    if (t && seconds) *seconds = s.seconds;
    return t;
}

std::string lfile_FormatStamp(const PreciseTimeStamp &stamp, bool timeFirst) {
    struct tm tm = ts_GmTime(static_cast<uint32_t>(stamp.seconds));
    char fraction[16] = "";
    if (stamp.microseconds != 0)
        snprintf(fraction, sizeof fraction, ".%03d%03d", stamp.milliseconds % 1000,
                 stamp.microseconds % 1000);
    else if (stamp.milliseconds != 0)
        snprintf(fraction, sizeof fraction, ".%03d", stamp.milliseconds % 1000);
    char text[64];
    if (timeFirst)
        snprintf(text, sizeof text, "%02d:%02d:%02d%s %02d/%02d/%02d ", tm.tm_hour, tm.tm_min,
                 tm.tm_sec, fraction, tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100);
    else
        snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d%s ", tm.tm_year % 100,
                 tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, fraction);
    return text;
}

int lfile_CompareStamps(const PreciseTimeStamp &a, const PreciseTimeStamp &b) {
    int64_t x = lfile_TimeOf(a.seconds), y = lfile_TimeOf(b.seconds);
    if (x != y) return x < y ? -1 : 1;
    if (a.milliseconds != b.milliseconds) return a.milliseconds < b.milliseconds ? -1 : 1;
    if (a.microseconds != b.microseconds) return a.microseconds < b.microseconds ? -1 : 1;
    return 0;
}
