// "fixeddata": a block of the type's size written as lower-case hex digits, two per byte.
#pragma once

#include "structs.h"

char *structs_fixeddata_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_fixeddata_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                             size_t emax);
int structs_fixeddata_encode(const structs_type *type, const char *mtype, structs_data *code,
                             const void *data);
int structs_fixeddata_decode(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                             char *ebuf, size_t emax);

#define STRUCTS_FIXEDDATA_TYPE(size)                                                               \
    {                                                                                              \
        (size), "fixeddata", STRUCTS_TYPE_PRIMITIVE, structs_region_init, structs_region_copy,     \
            structs_region_equal, structs_fixeddata_ascify, structs_fixeddata_binify,              \
            structs_fixeddata_encode, structs_fixeddata_decode, structs_nothing_free, {            \
            {.i = 0}, {.i = 0}, {                                                                  \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }
