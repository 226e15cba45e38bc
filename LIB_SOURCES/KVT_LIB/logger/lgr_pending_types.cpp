// INTERIM: stand-ins of the settings types until remote/ provides them.
#include "lgr_pending_types.h"

#include "structs_type_string.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
char *timeAscify(const structs_type *type, const char *mtype, const void *data) {
    const auto *b = static_cast<const uint8_t *>(data);
    char text[40];
    auto f = [](uint8_t v) {
        return v == 255 ? std::string("**") : std::to_string(v / 10) + std::to_string(v % 10);
    };
    std::string s;
    if (type->args[0].i) s = b[0] == 255 ? "****" : std::to_string(1900 + b[0]);
    if (!s.empty()) s += "-";
    s += f(b[1]) + "-" + f(b[2]) + "T" + f(b[3]) + ":" + f(b[4]);
    snprintf(text, sizeof text, "%s", s.c_str());
    return typed_mem_strdup(mtype, text);
}

int timeBinify(const structs_type *type, const char *ascii, void *data, char *ebuf, size_t emax) {
    auto *b = static_cast<uint8_t *>(data);
    int v[5] = {0, 0, 0, 0, 0};
    const char *p = ascii;
    for (int i = type->args[0].i ? 0 : 1; i < 5; ++i) {
        while (*p == ' ' || *p == '-' || *p == 'T' || *p == ':')
            ++p;
        if (*p == '*') {
            while (*p == '*')
                ++p;
            v[i] = -1;
            continue;
        }
        char *end;
        long n = strtol(p, &end, 10);
        if (end == p) {
            structs_set_error(ebuf, emax, "invalid time value");
            errno = 22;
            return -1;
        }
        v[i] = static_cast<int>(n);
        p = end;
    }
    b[0] = type->args[0].i ? (v[0] < 0 ? 255 : static_cast<uint8_t>(v[0] - 1900)) : 0;
    for (int i = 1; i < 5; ++i)
        b[i] = v[i] < 0 ? 255 : static_cast<uint8_t>(v[i]);
    b[5] = 0;
    return 0;
}

#define PENDING_TIME(year, any)                                                                    \
    {                                                                                              \
        6, "time", STRUCTS_TYPE_PRIMITIVE, structs_region_init, structs_region_copy,               \
            structs_region_equal, timeAscify, timeBinify, structs_region_encode,                   \
            structs_region_decode, structs_nothing_free, {                                         \
            {.i = (year)}, {.i = (any)}, {                                                         \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }

#define PENDING_TEXT(size, name)                                                                   \
    {                                                                                              \
        (size), (name), STRUCTS_TYPE_PRIMITIVE, structs_region_init, structs_region_copy,          \
            structs_boundedstring_equal, structs_boundedstring_ascify,                             \
            structs_boundedstring_binify, structs_string_encode, structs_string_decode,            \
            structs_nothing_free, {                                                                \
            {.i = 0}, {.i = 0}, {                                                                  \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }
} // namespace

const structs_type structs_password_type = PENDING_TEXT(257, "password");
const structs_type structs_server_type = PENDING_TEXT(1284, "server");
const structs_type structs_time_date_any_type = PENDING_TIME(1, 1);
const structs_type structs_time_period_type = PENDING_TIME(0, 0);
const structs_type structs_eol_type = PENDING_TEXT(3, "eol");
const structs_type structs_sep_type = PENDING_TEXT(3, "sep");
