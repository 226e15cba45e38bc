#include "structs_type_int.h"

#include "structs_locale.h"

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum { STYLE_UNSIGNED = 0, STYLE_SIGNED = 1, STYLE_HEX = 2 };

struct Kind {
    unsigned size;
    int64_t min;
    int64_t max; // the unsigned maximum for widths below 8 bytes
    const char *fmt[3];
};

const Kind k_kinds[8] = {
    {1, INT8_MIN, UINT8_MAX, {"%u", "%d", "0x%02x"}},
    {2, INT16_MIN, UINT16_MAX, {"%u", "%d", "0x%x"}},
    {4, INT32_MIN, UINT32_MAX, {"%u", "%d", "0x%x"}},
    {4, INT32_MIN, UINT32_MAX, {"%lu", "%ld", "0x%lx"}},
    {1, INT8_MIN, UINT8_MAX, {"%u", "%d", "0x%02x"}},
    {2, INT16_MIN, UINT16_MAX, {"%u", "%d", "0x%x"}},
    {4, INT32_MIN, UINT32_MAX, {"%u", "%d", "0x%x"}},
    {8, INT64_MIN, INT64_MAX, {"%" PRIu64, "%" PRId64, "0x%" PRIx64}},
};

} // namespace

char *structs_int_ascify(const structs_type *type, const char *mtype, const void *data) {
    const intptr_t kind = type->args[0].i, style = type->args[1].i;
    if (kind < 0 || kind > 7) {
        errno = EDOM;
        return nullptr;
    }
    const Kind &k = k_kinds[kind];
    const int s = style == STYLE_SIGNED ? 1 : style == STYLE_HEX ? 2 : 0;
    // The stored bytes as the value they hold: only those bytes, so kind 3 is a 32-bit value.
    uint64_t bits = 0;
    int64_t value = 0;
    switch (k.size) {
    case 1: {
        uint8_t v;
        memcpy(&v, data, 1);
        bits = v;
        value = static_cast<int8_t>(v);
        break;
    }
    case 2: {
        uint16_t v;
        memcpy(&v, data, 2);
        bits = v;
        value = static_cast<int16_t>(v);
        break;
    }
    case 4: {
        uint32_t v;
        memcpy(&v, data, 4);
        bits = v;
        value = static_cast<int32_t>(v);
        break;
    }
    default:
        memcpy(&bits, data, 8);
        value = static_cast<int64_t>(bits);
    }
    // The texts of k.fmt, made without printf.
    char buf[32];
    char *end = buf + sizeof buf - 1;
    char *at = buf;
    if (s == 1) {
        at = std::to_chars(at, end, value).ptr;
    } else if (s == 0) {
        at = std::to_chars(at, end, bits).ptr;
    } else {
        *at++ = '0';
        *at++ = 'x';
        if (k.size == 1 && bits < 0x10) *at++ = '0';
        at = std::to_chars(at, end, bits, 16).ptr;
    }
    *at = '\0';
    return typed_mem_strdup(mtype, buf);
}

int structs_int_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                       size_t emax) {
    const intptr_t kind = type->args[0].i, style = type->args[1].i;
    if (kind < 0 || kind > 7) {
        errno = EDOM;
        return -1;
    }
    const Kind &k = k_kinds[kind];
    char *end;
    errno = 0;
    long long v;
    {
        CLocale c;
        v = strtoll(ascii, &end, 0);
    }
    const bool overflow = errno == ERANGE && (v == LLONG_MIN || v == LLONG_MAX);
    if (end == ascii) {
        structs_set_error(ebuf, emax, "invalid integer value");
        errno = EINVAL;
        return -1;
    }
    while (*end == ' ' || (*end >= '\t' && *end <= '\r'))
        end++;
    if (*end != '\0') {
        errno = EINVAL;
        return -1;
    }
    if (overflow || (style == STYLE_UNSIGNED && v < 0) || v < k.min || v > k.max) {
        structs_set_error(ebuf, emax, "integer value is out of range");
        errno = EINVAL;
        return -1;
    }
    const uint64_t u = static_cast<uint64_t>(v);
    switch (k.size) {
    case 1: {
        uint8_t b = static_cast<uint8_t>(u);
        memcpy(data, &b, 1);
        break;
    }
    case 2: {
        uint16_t h = static_cast<uint16_t>(u);
        memcpy(data, &h, 2);
        break;
    }
    case 4: {
        uint32_t w = static_cast<uint32_t>(u);
        memcpy(data, &w, 4);
        break;
    }
    default:
        memcpy(data, &u, 8);
        break;
    }
    return 0;
}

#define INT_TYPE(size, name, kind, style)                                                          \
    {                                                                                              \
        size, name, STRUCTS_TYPE_PRIMITIVE, structs_region_init, structs_region_copy,              \
            structs_region_equal, structs_int_ascify, structs_int_binify,                          \
            structs_region_encode_netorder, structs_region_decode_netorder, structs_nothing_free,  \
        {                                                                                          \
            {.i = kind}, {.i = style}, {                                                           \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }

const structs_type structs_type_char = INT_TYPE(1, "int", 0, 1);
const structs_type structs_type_uchar = INT_TYPE(1, "uint", 0, 0);
const structs_type structs_type_hchar = INT_TYPE(1, "hint", 0, 2);
const structs_type structs_type_short = INT_TYPE(2, "int", 1, 1);
const structs_type structs_type_ushort = INT_TYPE(2, "uint", 1, 0);
const structs_type structs_type_hshort = INT_TYPE(2, "hint", 1, 2);
const structs_type structs_type_int = INT_TYPE(4, "int", 2, 1);
const structs_type structs_type_uint = INT_TYPE(4, "uint", 2, 0);
const structs_type structs_type_hint = INT_TYPE(4, "hint", 2, 2);
const structs_type structs_type_long = INT_TYPE(4, "int", 3, 1);
const structs_type structs_type_ulong = INT_TYPE(4, "uint", 3, 0);
const structs_type structs_type_hlong = INT_TYPE(4, "hint", 3, 2);
const structs_type structs_type_int8 = INT_TYPE(1, "int", 4, 1);
const structs_type structs_type_uint8 = INT_TYPE(1, "uint", 4, 0);
const structs_type structs_type_hint8 = INT_TYPE(1, "hint", 4, 2);
const structs_type structs_type_int16 = INT_TYPE(2, "int", 5, 1);
const structs_type structs_type_uint16 = INT_TYPE(2, "uint", 5, 0);
const structs_type structs_type_hint16 = INT_TYPE(2, "hint", 5, 2);
const structs_type structs_type_int32 = INT_TYPE(4, "int", 6, 1);
const structs_type structs_type_uint32 = INT_TYPE(4, "uint", 6, 0);
const structs_type structs_type_hint32 = INT_TYPE(4, "hint", 6, 2);
const structs_type structs_type_int64 = INT_TYPE(8, "int", 7, 1);
const structs_type structs_type_uint64 = INT_TYPE(8, "uint", 7, 0);
const structs_type structs_type_hint64 = INT_TYPE(8, "hint", 7, 2);
