// Array types.
//
// "array" (variable array): the value is a structs_array, the element count and a separately
// allocated element block. args[0] element type, args[1] typed-memory name of the element
// block, args[2] element name. Binary form: the length as 4 bytes in network order, then the
// presence-bitmap form over the elements.
//
// "fixedarray": args[2] elements in place. args[0] element type, args[1] element name. Binary
// form: the presence-bitmap form over the elements, no length word.
#pragma once

#include "structs.h"

int structs_array_copy(const structs_type *type, const void *from, void *to);
int structs_array_equal(const structs_type *type, const void *a, const void *b);
int structs_array_encode(const structs_type *type, const char *mtype, structs_data *code,
                         const void *data);
int structs_array_decode(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                         char *ebuf, size_t emax);
void structs_array_free(const structs_type *type, void *data);

int structs_fixedarray_init(const structs_type *type, void *data);
int structs_fixedarray_copy(const structs_type *type, const void *from, void *to);
int structs_fixedarray_equal(const structs_type *type, const void *a, const void *b);
int structs_fixedarray_encode(const structs_type *type, const char *mtype, structs_data *code,
                              const void *data);
int structs_fixedarray_decode(const structs_type *type, const uint8_t *code, size_t cmax,
                              void *data, char *ebuf, size_t emax);
void structs_fixedarray_free(const structs_type *type, void *data);

#define STRUCTS_ARRAY_TYPE(etype, mtype, ename)                                                    \
    {                                                                                              \
        sizeof(structs_array), "array", STRUCTS_TYPE_ARRAY, structs_region_init,                   \
            structs_array_copy, structs_array_equal, structs_notsupp_ascify,                       \
            structs_notsupp_binify, structs_array_encode, structs_array_decode,                    \
            structs_array_free, {                                                                  \
            {.v = (etype)}, {.s = (mtype)}, {                                                      \
                .s = (ename)                                                                       \
            }                                                                                      \
        }                                                                                          \
    }

// esize must be the element type's size.
#define STRUCTS_FIXEDARRAY_TYPE(etype, esize, count, ename)                                        \
    {                                                                                              \
        (esize) * (count), "fixedarray", STRUCTS_TYPE_FIXEDARRAY, structs_fixedarray_init,         \
            structs_fixedarray_copy, structs_fixedarray_equal, structs_notsupp_ascify,             \
            structs_notsupp_binify, structs_fixedarray_encode, structs_fixedarray_decode,          \
            structs_fixedarray_free, {                                                             \
            {.v = (etype)}, {.s = (ename)}, {                                                      \
                .i = (count)                                                                       \
            }                                                                                      \
        }                                                                                          \
    }
