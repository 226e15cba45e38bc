#include "structs_type_float.h"

#include "structs_assert.h"
#include "structs_locale.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum { KIND_FLOAT = 0, KIND_DOUBLE = 1 };

intptr_t kind_of(const structs_type *type) {
    const intptr_t kind = type->args[0].i;
    STRUCTS_ASSERT(kind == KIND_FLOAT || kind == KIND_DOUBLE);
    return kind;
}

int fail(char *ebuf, size_t emax, const char *msg) {
    structs_set_error(ebuf, emax, "%s", msg);
    errno = EINVAL;
    return -1;
}

} // namespace

int structs_float_equal(const structs_type *type, const void *a, const void *b) {
    if (kind_of(type) == KIND_FLOAT) {
        float x, y;
        memcpy(&x, a, sizeof x);
        memcpy(&y, b, sizeof y);
        return x == y;
    }
    double x, y;
    memcpy(&x, a, sizeof x);
    memcpy(&y, b, sizeof y);
    return x == y;
}

char *structs_float_ascify(const structs_type *type, const char *mtype, const void *data) {
    double value;
    if (kind_of(type) == KIND_FLOAT) {
        float f;
        memcpy(&f, data, sizeof f);
        value = f;
    } else {
        memcpy(&value, data, sizeof value);
    }
    // A NaN is spelled as XML Schema's xs:float spells it, which the schemas beside the files
    // ask for and strtod reads as well as printf's "nan" and "-nan"; a NaN has no sign there.
    if (std::isnan(value)) return typed_mem_strdup(mtype, "NaN");
    // The text printf's "%.16g" gives in the C locale, made without the locale or printf.
    char buf[32];
    auto made = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::general, 16);
    *made.ptr = '\0';
    // Sixteen digits give back every float, but not every double: those take seventeen.
    if (kind_of(type) == KIND_DOUBLE && !std::isinf(value)) {
        double back = 0;
        std::from_chars(buf, made.ptr, back);
        if (back != value) {
            made = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::general, 17);
            *made.ptr = '\0';
        }
    }
    return typed_mem_strdup(mtype, buf);
}

int structs_float_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                         size_t emax) {
    const intptr_t kind = kind_of(type);
    char *end;
    double value;
    int err;
    {
        CLocale c;
        errno = 0;
        value = strtod(ascii, &end);
        err = errno;
    }
    if (end == ascii) return fail(ebuf, emax, "invalid floating point value");
    while (*end == ' ' || (*end >= '\t' && *end <= '\r'))
        end++;
    if (*end != '\0') return fail(ebuf, emax, "invalid floating point value");
    // Whatever rounds to a finite value is taken, the largest and the subnormal ones included;
    // a range error with a nonzero result is such a subnormal value.
    if (err == ERANGE && value == 0) return fail(ebuf, emax, "floating point value underflow");
    if (std::isinf(value)) return fail(ebuf, emax, "floating point value overflow");
    if (kind == KIND_DOUBLE) {
        memcpy(data, &value, sizeof value);
        return 0;
    }
    const float f = static_cast<float>(value);
    if (std::isinf(f)) return fail(ebuf, emax, "floating point value overflow");
    if (f == 0 && value != 0) return fail(ebuf, emax, "floating point value underflow");
    memcpy(data, &f, sizeof f);
    return 0;
}

#define FLOAT_TYPE(size, name, kind)                                                               \
    {                                                                                              \
        size, name, STRUCTS_TYPE_PRIMITIVE, structs_region_init, structs_region_copy,              \
            structs_float_equal, structs_float_ascify, structs_float_binify,                       \
            structs_region_encode_netorder, structs_region_decode_netorder, structs_nothing_free,  \
        {                                                                                          \
            {.i = kind}, {.i = 0}, {                                                               \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }

const structs_type structs_type_float = FLOAT_TYPE(sizeof(float), "float", KIND_FLOAT);
const structs_type structs_type_double = FLOAT_TYPE(sizeof(double), "double", KIND_DOUBLE);
