// Structure types: a record described by its field table (args[0], structs_field entries).
// No text form of its own; the binary form is the presence-bitmap form over the fields.
#pragma once

#include "structs.h"

#include <cstddef>

int structs_struct_init(const structs_type *type, void *data);
int structs_struct_copy(const structs_type *type, const void *from, void *to);
int structs_struct_equal(const structs_type *type, const void *a, const void *b);
int structs_struct_encode(const structs_type *type, const char *mtype, structs_data *code,
                          const void *data);
int structs_struct_decode(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                          char *ebuf, size_t emax);
void structs_struct_free(const structs_type *type, void *data);

#define STRUCTS_STRUCT_TYPE(stype, fields)                                                         \
    {                                                                                              \
        sizeof(stype), "structure", STRUCTS_TYPE_STRUCTURE, structs_struct_init,                   \
            structs_struct_copy, structs_struct_equal, structs_notsupp_ascify,                     \
            structs_notsupp_binify, structs_struct_encode, structs_struct_decode,                  \
            structs_struct_free, {                                                                 \
            {.v = (fields)}, {.i = 0}, {                                                           \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }

// Field table entry for member field of record type stype, named as the member.
#define STRUCTS_STRUCT_FIELD(stype, field, ftype)                                                  \
    { #field, (ftype), sizeof(((stype *)0)->field), offsetof(stype, field) }
// The same under another name.
#define STRUCTS_STRUCT_FIELD2(stype, field, name, ftype)                                           \
    { (name), (ftype), sizeof(((stype *)0)->field), offsetof(stype, field) }
#define STRUCTS_STRUCT_FIELD_END                                                                   \
    { nullptr, nullptr, 0, 0 }
