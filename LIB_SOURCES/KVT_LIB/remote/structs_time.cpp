// "time": a date and time, or a period without the year, with optional wildcard fields.
#include "structs_settings.h"

#include "structs_settings_text.h"

#include <cctype>
#include <cstdio>

namespace {
#define INVALID_YEAR "invalid year value"
#define INVALID_TIME "invalid time value"

// Years stored as year - 1900 in a byte, 255 being the wildcard.
constexpr int k_firstYear = 1900;
constexpr int k_lastYear = 2154;
constexpr int k_largestField = 59;

bool withYear(const structs_type *type) {
    return type->args[0].i != 0;
}
bool wildcards(const structs_type *type) {
    return type->args[1].i != 0;
}

void skipBlanks(const char **p) {
    while (isspace(static_cast<unsigned char>(**p)))
        ++*p;
}

// A "%<width>d" conversion: blanks, an optional sign and at least one digit, the sign counting
// toward the width.
bool scanNumber(const char **p, int width, int *value) {
    skipBlanks(p);
    const char *s = *p;
    bool negative = false;
    int used = 0;
    if (*s == '+' || *s == '-') {
        negative = *s == '-';
        ++s;
        ++used;
    }
    int digits = 0;
    int v = 0;
    while (used < width && isdigit(static_cast<unsigned char>(*s))) {
        v = v * 10 + (*s - '0');
        ++s;
        ++used;
        ++digits;
    }
    if (digits == 0) return false;
    *value = negative ? -v : v;
    *p = s;
    return true;
}

// Up to `most` '*' as a wildcard; false when there is none.
bool scanWildcard(const char **p, int most) {
    skipBlanks(p);
    int n = 0;
    while (n < most && (*p)[n] == '*')
        ++n;
    *p += n;
    return n > 0;
}

// One field of 0..59 (or a wildcard) and the separator after it (0 for none).
bool scanField(const structs_type *type, const char **p, char separator, uint8_t *out) {
    skipBlanks(p);
    if (**p == '*') {
        if (!wildcards(type)) return false;
        scanWildcard(p, 2);
        *out = STRUCTS_TIME_ANY;
    } else {
        int value = 0;
        if (!scanNumber(p, 2, &value) || value < 0 || value > k_largestField) return false;
        *out = static_cast<uint8_t>(value);
    }
    if (separator == '\0') return true;
    if (**p != separator) return false;
    ++*p;
    return true;
}

void appendField(std::string *text, const structs_type *type, uint8_t value, const char *after) {
    char field[8];
    if (value == STRUCTS_TIME_ANY && wildcards(type))
        snprintf(field, sizeof field, "**%s", after);
    else
        snprintf(field, sizeof field, "%02d%s", value, after);
    *text += field;
}
} // namespace

char *structs_time_ascify(const structs_type *type, const char *mtype, const void *data) {
    const auto *b = static_cast<const uint8_t *>(data);
    std::string text;
    if (withYear(type)) {
        char year[8];
        if (b[0] == STRUCTS_TIME_ANY && wildcards(type))
            snprintf(year, sizeof year, "****-");
        else
            snprintf(year, sizeof year, "%04d-", b[0] + k_firstYear);
        text += year;
    }
    appendField(&text, type, b[1], "-");
    appendField(&text, type, b[2], "T");
    appendField(&text, type, b[3], ":");
    appendField(&text, type, b[4], "");
    return structs_settings_text(mtype, text);
}

int structs_time_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                        size_t emax) {
    const char *p = ascii != nullptr ? ascii : "";
    uint8_t fields[STRUCTS_TIME_SIZE] = {};
    if (withYear(type)) {
        skipBlanks(&p);
        if (*p == '*') {
            if (!wildcards(type)) return structs_settings_fail(ebuf, emax, INVALID_YEAR);
            scanWildcard(&p, 4);
            fields[0] = STRUCTS_TIME_ANY;
        } else {
            int year = 0;
            // Below 1900 the byte would wrap, 1899 even into the wildcard.
            if (!scanNumber(&p, 4, &year) || year < k_firstYear || year > k_lastYear)
                return structs_settings_fail(ebuf, emax, INVALID_YEAR);
            fields[0] = static_cast<uint8_t>(year - k_firstYear);
        }
        if (*p != '-') return structs_settings_fail(ebuf, emax, INVALID_YEAR);
        ++p;
    }
    if (!scanField(type, &p, '-', &fields[1]) || !scanField(type, &p, 'T', &fields[2]) ||
        !scanField(type, &p, ':', &fields[3]) || !scanField(type, &p, '\0', &fields[4]))
        return structs_settings_fail(ebuf, emax, INVALID_TIME);
    memcpy(data, fields, sizeof fields);
    return 0;
}

const structs_type structs_time_date_type = STRUCTS_TIME_TYPE(1, 0);
const structs_type structs_time_date_any_type = STRUCTS_TIME_TYPE(1, 1);
const structs_type structs_time_period_type = STRUCTS_TIME_TYPE(0, 0);
const structs_type structs_time_period_any_type = STRUCTS_TIME_TYPE(0, 1);
