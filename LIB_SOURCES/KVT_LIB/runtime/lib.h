// Memory of the library's own records.
#pragma once

#include <cstddef>

// Zero-filled memory, released with lib_Free; null when none is left.
void *lib_Alloc(size_t size);
void lib_Free(void *block);
