#include "structs_type_boolean.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <strings.h>

namespace {

// False word first; ends with a pair of nulls.
const char *const k_words[][2] = {
    {"False", "True"},       {"No", "Yes"}, {"Off", "On"},
    {"Disabled", "Enabled"}, {"0", "1"},    {nullptr, nullptr},
};

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

} // namespace

char *structs_boolean_ascify(const structs_type *type, const char *mtype, const void *data) {
    bool value;
    if (type->args[0].i) {
        int32_t v;
        memcpy(&v, data, sizeof v);
        value = v != 0;
    } else {
        value = *static_cast<const uint8_t *>(data) != 0;
    }
    intptr_t style = type->args[1].i;
    if (style < 0 || style > 4) style = 0;
    return typed_mem_strdup(mtype, k_words[style][value ? 1 : 0]);
}

int structs_boolean_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                           size_t emax) {
    while (is_space(*ascii))
        ascii++;
    char word[64];
    snprintf(word, sizeof word, "%s", ascii);
    size_t len = strlen(word);
    while (len > 0 && is_space(word[len - 1]))
        word[--len] = '\0';
    for (int style = 0; k_words[style][0]; style++) {
        for (int value = 0; value < 2; value++) {
            if (strcasecmp(word, k_words[style][value]) != 0) continue;
            if (type->args[0].i) {
                int32_t v = value;
                memcpy(data, &v, sizeof v);
            } else {
                *static_cast<uint8_t *>(data) = static_cast<uint8_t>(value);
            }
            return 0;
        }
    }
    structs_set_error(ebuf, emax, "invalid Boolean value");
    errno = EINVAL;
    return -1;
}

#define BOOLEAN_TYPE(size, storage, style)                                                         \
    {                                                                                              \
        size, "boolean", STRUCTS_TYPE_PRIMITIVE, structs_region_init, structs_region_copy,         \
            structs_region_equal, structs_boolean_ascify, structs_boolean_binify,                  \
            structs_region_encode_netorder, structs_region_decode_netorder, structs_nothing_free,  \
        {                                                                                          \
            {.i = storage}, {.i = style}, {                                                        \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }

const structs_type structs_type_boolean_char = BOOLEAN_TYPE(1, 0, 0);
const structs_type structs_type_boolean_int = BOOLEAN_TYPE(4, 1, 0);
const structs_type structs_type_boolean_char_01 = BOOLEAN_TYPE(1, 0, 4);
const structs_type structs_type_boolean_int_01 = BOOLEAN_TYPE(4, 1, 4);
const structs_type structs_type_boolean_char_onoff = BOOLEAN_TYPE(1, 0, 2);
const structs_type structs_type_boolean_int_onoff = BOOLEAN_TYPE(4, 1, 2);
