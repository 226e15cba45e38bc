// Identifier types: a 1-, 2- or 4-byte value written as a name from a table (args[0]).
#pragma once

#include "structs.h"

// Table entry; a null name ends the table.
struct structs_id {
    const char *id;
    int32_t value;
    int32_t imatch; // nonzero: the name matches without regard to case
};

int structs_id_init(const structs_type *type, void *data);
char *structs_id_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_id_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                      size_t emax);

// An "id" type over a table; size must be 1, 2 or 4.
#define STRUCTS_ID_TYPE(table, size)                                                               \
    {                                                                                              \
        (size), "id", STRUCTS_TYPE_PRIMITIVE, structs_id_init, structs_region_copy,                \
            structs_region_equal, structs_id_ascify, structs_id_binify,                            \
            structs_region_encode_netorder, structs_region_decode_netorder, structs_nothing_free,  \
        {                                                                                          \
            {.v = (table)}, {.i = 0}, {                                                            \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }
