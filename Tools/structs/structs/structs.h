// Structs type system: a constant descriptor (structs_type) describes a plain in-memory record so
// that generic code can name any field by a dotted path ("Link.Port", "Tags.3", "Tags.length"),
// convert it to and from text, list its leaf fields, and initialise, copy, compare, encode,
// decode and release it.
//
// Every type, including those defined outside this library, takes part in every operation
// through its eight method slots alone; nothing here knows a type by its name.
//
// Failures return -1 (or null) with errno: 2 no such field, 22 invalid text or argument, 33 index
// or class out of range, 34 range, 40 (KVT_ENOTSUPP) not supported by the type, 12 no memory.
// Parse failures also write a message into the caller's bounded, always terminated buffer.
// Texts handed out (structs_get_string, structs_traverse) are freed with typed_mem_free under
// the type name the caller passed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plat_error.h"
#include "typed_mem.h"

struct structs_type;

// Binary form handed out by encode methods; also the value of the "data" type.
struct structs_data {
    uint32_t length;
    uint8_t *data;
};

// Value of a variable array: the element count and the separately allocated element block.
struct structs_array {
    uint32_t length;
    void *elems;
};

// Value of a union: the current field's name and its separately allocated value.
struct structs_union {
    const char *field_name;
    void *un;
};

// One per-type argument: a pointer, a text or an integer.
union structs_arg {
    const void *v;
    const char *s;
    intptr_t i;
};

typedef int structs_init_t(const structs_type *type, void *data);
typedef int structs_copy_t(const structs_type *type, const void *from, void *to);
// 1 equal, 0 different, -1 where the type cannot compare.
typedef int structs_equal_t(const structs_type *type, const void *a, const void *b);
typedef char *structs_ascify_t(const structs_type *type, const char *mtype, const void *data);
typedef int structs_binify_t(const structs_type *type, const char *ascii, void *data, char *ebuf,
                             size_t emax);
// The binary form in a new block allocated under mtype.
typedef int structs_encode_t(const structs_type *type, const char *mtype, structs_data *code,
                             const void *data);
// The number of bytes consumed, or -1.
typedef int structs_decode_t(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                             char *ebuf, size_t emax);
typedef void structs_uninit_t(const structs_type *type, void *data);

enum structs_class : int32_t {
    STRUCTS_TYPE_PRIMITIVE = 0,
    STRUCTS_TYPE_POINTER = 1,
    STRUCTS_TYPE_ARRAY = 2,
    STRUCTS_TYPE_FIXEDARRAY = 3,
    STRUCTS_TYPE_STRUCTURE = 4,
    STRUCTS_TYPE_UNION = 5,
};

// One descriptor per type, constant, in static storage.
struct structs_type {
    uint32_t size;    // bytes one value occupies in the record
    const char *name; // "structure", "uint", "fixedstring", or a custom name
    int32_t tclass;   // structs_class
    structs_init_t *init;
    structs_copy_t *copy;
    structs_equal_t *equal;
    structs_ascify_t *ascify;
    structs_binify_t *binify;
    structs_encode_t *encode;
    structs_decode_t *decode;
    structs_uninit_t *uninit;
    structs_arg args[3];
};

// Entry of a structure's field table (args[0] of a structure type); a null name ends it.
struct structs_field {
    const char *name;
    const structs_type *type;
    uint16_t size; // must equal type->size
    uint16_t offset;
};

// Entry of a union's field table (args[0] of a union type); a null name ends it.
struct structs_ufield {
    const char *name;
    const structs_type *type;
};

// ---- Operations by name. A null or empty name means the whole value. ----

// The type of the named field, with *datap moved to it (only when the whole path resolves).
// With set_union, naming another field of a union switches the union to a fresh value of it.
const structs_type *structs_find(const structs_type *type, const char *name, void **datap,
                                 int set_union);
// The field's text, allocated under mtype.
char *structs_get_string(const structs_type *type, const char *name, const void *data,
                         const char *mtype);
// A null text is taken as the empty text. Without an error buffer the message is lost but the
// result is still -1. When the type writes no words of its own, the buffer receives the
// standard text of the errno value.
int structs_set_string(const structs_type *type, const char *name, const char *ascii, void *data,
                       char *ebuf, size_t emax);
int structs_init(const structs_type *type, const char *name, void *data);
// errno is left as it was before the call.
int structs_free(const structs_type *type, const char *name, void *data);
// The names of all leaf fields, depth first in field and index order, in a list allocated
// under mtype with each name allocated under mtype; the count, or -1.
int structs_traverse(const structs_type *type, const void *data, char ***listp, const char *mtype);

int structs_equal(const structs_type *type, const char *name, const void *data1, const void *data2);
// Copies the named field of from into uninitialised storage at to.
int structs_get(const structs_type *type, const char *name, const void *from, void *to);
// Sets the named field of to from a value of the field's type at from.
int structs_set(const structs_type *type, const void *from, const char *name, void *to);
// Replaces the named field by its type's default.
int structs_reset(const structs_type *type, const char *name, void *data);
int structs_get_binary(const structs_type *type, const char *name, const void *data,
                       const char *mtype, structs_data *code);
// Decodes into the named field; the bytes consumed or -1.
int structs_set_binary(const structs_type *type, const char *name, const structs_data *code,
                       void *data, char *ebuf, size_t emax);

// Variable arrays by name.
int structs_array_length(const structs_type *type, const char *name, const void *data);
int structs_array_insert(const structs_type *type, const char *name, unsigned index, void *data);
int structs_array_delete(const structs_type *type, const char *name, unsigned index, void *data);
// New elements are zeroed and, with do_init, initialised.
int structs_array_setsize(const structs_type *type, const char *name, unsigned nitems, void *data,
                          int do_init);
// Frees every element, leaving the array empty.
int structs_array_reset(const structs_type *type, const char *name, void *data);
// Extends every variable array that the dotted name passes through so that the name resolves.
int structs_array_prep(const structs_type *type, const char *name, void *data);

// ---- Generic methods shared by the library's types and custom types. ----

int structs_region_init(const structs_type *type, void *data);
int structs_region_copy(const structs_type *type, const void *from, void *to);
int structs_region_equal(const structs_type *type, const void *a, const void *b);
int structs_region_encode(const structs_type *type, const char *mtype, structs_data *code,
                          const void *data);
int structs_region_decode(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                          char *ebuf, size_t emax);
// Network (big-endian) order of a little-endian value of at most 16 bytes.
int structs_region_encode_netorder(const structs_type *type, const char *mtype, structs_data *code,
                                   const void *data);
int structs_region_decode_netorder(const structs_type *type, const uint8_t *code, size_t cmax,
                                   void *data, char *ebuf, size_t emax);
void structs_nothing_free(const structs_type *type, void *data);
// Copy through the text form.
int structs_ascii_copy(const structs_type *type, const void *from, void *to);

int structs_notsupp_init(const structs_type *type, void *data);
int structs_notsupp_copy(const structs_type *type, const void *from, void *to);
int structs_notsupp_equal(const structs_type *type, const void *a, const void *b);
char *structs_notsupp_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_notsupp_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                           size_t emax);
int structs_notsupp_encode(const structs_type *type, const char *mtype, structs_data *code,
                           const void *data);
int structs_notsupp_decode(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                           char *ebuf, size_t emax);

// Writes a message into a caller's error buffer (bounded, always terminated; nothing when
// the buffer has no room at all).
void structs_set_error(char *ebuf, size_t emax, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
