// "data": variable-length bytes. The value is a structs_data whose block is allocated under
// "structs_data". Text form: base64 (args[0] null: the standard alphabet; otherwise args[0] is
// the alphabet) or lower-case hex (args[0] the empty text). Binary form: the length as 4 bytes
// in network order, then the bytes.
#pragma once

#include "structs.h"

int structs_data_copy(const structs_type *type, const void *from, void *to);
int structs_data_equal(const structs_type *type, const void *a, const void *b);
char *structs_data_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_data_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                        size_t emax);
int structs_data_encode(const structs_type *type, const char *mtype, structs_data *code,
                        const void *data);
int structs_data_decode(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                        char *ebuf, size_t emax);
void structs_data_free(const structs_type *type, void *data);

extern const structs_type structs_type_data;    // base64
extern const structs_type structs_type_hexdata; // hex

#define STRUCTS_DATA_TYPE(charset)                                                                 \
    {                                                                                              \
        sizeof(structs_data), "data", STRUCTS_TYPE_PRIMITIVE, structs_region_init,                 \
            structs_data_copy, structs_data_equal, structs_data_ascify, structs_data_binify,       \
            structs_data_encode, structs_data_decode, structs_data_free, {                         \
            {.s = (charset)}, {.i = 0}, {                                                          \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }
