// Integer types of 1, 2, 4 and 8 bytes in three print styles: "uint" (unsigned), "int"
// (signed) and "hint" (hex). args[0] is the size kind (0-7), args[1] the style (0-2).
//
// Every style accepts the union of the signed and unsigned ranges of its width, so a 1-byte
// "int" takes 200 (and prints it back as -56) and a 1-byte "hint" takes -1.
#pragma once

#include "structs.h"

char *structs_int_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_int_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                       size_t emax);

// Kinds 0-3: the C widths char, short, int and long (read as 4 bytes).
extern const structs_type structs_type_char;
extern const structs_type structs_type_uchar;
extern const structs_type structs_type_hchar;
extern const structs_type structs_type_short;
extern const structs_type structs_type_ushort;
extern const structs_type structs_type_hshort;
extern const structs_type structs_type_int;
extern const structs_type structs_type_uint;
extern const structs_type structs_type_hint;
extern const structs_type structs_type_long;
extern const structs_type structs_type_ulong;
extern const structs_type structs_type_hlong;
// Kinds 4-7: the fixed widths.
extern const structs_type structs_type_int8;
extern const structs_type structs_type_uint8;
extern const structs_type structs_type_hint8;
extern const structs_type structs_type_int16;
extern const structs_type structs_type_uint16;
extern const structs_type structs_type_hint16;
extern const structs_type structs_type_int32;
extern const structs_type structs_type_uint32;
extern const structs_type structs_type_hint32;
extern const structs_type structs_type_int64;
extern const structs_type structs_type_uint64;
extern const structs_type structs_type_hint64;
