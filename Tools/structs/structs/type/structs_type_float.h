// Floating-point types: "float" (args[0] 0, 4 bytes) and "double" (args[0] 1, 8 bytes). The
// text form is "%.16g" of the value widened to double, in the "C" locale.
#pragma once

#include "structs.h"

int structs_float_equal(const structs_type *type, const void *a, const void *b);
char *structs_float_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_float_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                         size_t emax);

extern const structs_type structs_type_float;
extern const structs_type structs_type_double;
