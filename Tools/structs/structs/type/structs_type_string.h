// Text types.
//
// "string": the value is a pointer to a text allocated under the type name args[0]; with
// args[1] set, an empty text is stored as null (and a null pointer reads as the empty text).
//
// "fixedstring" (bounded string): a NUL-terminated text in a buffer of the type's size. Text
// that does not fit with its NUL is refused; the buffer always holds a NUL within its size.
#pragma once

#include "structs.h"

int structs_string_init(const structs_type *type, void *data);
int structs_string_equal(const structs_type *type, const void *a, const void *b);
char *structs_string_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_string_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                          size_t emax);
// Binary form of both text types: the text with its NUL.
int structs_string_encode(const structs_type *type, const char *mtype, structs_data *code,
                          const void *data);
int structs_string_decode(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                          char *ebuf, size_t emax);
void structs_string_free(const structs_type *type, void *data);

int structs_boundedstring_equal(const structs_type *type, const void *a, const void *b);
char *structs_boundedstring_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_boundedstring_binify(const structs_type *type, const char *ascii, void *data,
                                 char *ebuf, size_t emax);

extern const structs_type structs_type_string;      // empty text stored as ""
extern const structs_type structs_type_string_null; // empty text stored as null

#define STRUCTS_STRING_TYPE(mtype, asnull)                                                         \
    {                                                                                              \
        sizeof(char *), "string", STRUCTS_TYPE_PRIMITIVE, structs_string_init, structs_ascii_copy, \
            structs_string_equal, structs_string_ascify, structs_string_binify,                    \
            structs_string_encode, structs_string_decode, structs_string_free, {                   \
            {.s = (mtype)}, {.i = (asnull)}, {                                                     \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }

// A bounded string of bufsize bytes (text of at most bufsize - 1 characters).
#define STRUCTS_BOUNDEDSTRING_TYPE(bufsize)                                                        \
    {                                                                                              \
        (bufsize), "fixedstring", STRUCTS_TYPE_PRIMITIVE, structs_region_init,                     \
            structs_region_copy, structs_boundedstring_equal, structs_boundedstring_ascify,        \
            structs_boundedstring_binify, structs_string_encode, structs_string_decode,            \
            structs_nothing_free, {                                                                \
            {.i = 0}, {.i = 0}, {                                                                  \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }
