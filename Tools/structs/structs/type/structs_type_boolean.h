// Boolean types: one byte (args[0] 0) or a 4-byte int (args[0] 1), printed in a word style
// (args[1]): 0 False/True, 1 No/Yes, 2 Off/On, 3 Disabled/Enabled, 4 0/1. Every style's
// words are accepted, case-insensitively, whatever the descriptor's own style.
#pragma once

#include "structs.h"

char *structs_boolean_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_boolean_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                           size_t emax);

extern const structs_type structs_type_boolean_char;       // False/True, 1 byte
extern const structs_type structs_type_boolean_int;        // False/True, 4 bytes
extern const structs_type structs_type_boolean_char_01;    // 0/1, 1 byte
extern const structs_type structs_type_boolean_int_01;     // 0/1, 4 bytes
extern const structs_type structs_type_boolean_char_onoff; // Off/On, 1 byte
extern const structs_type structs_type_boolean_int_onoff;  // Off/On, 4 bytes
