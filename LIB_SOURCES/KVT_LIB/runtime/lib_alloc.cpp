#include "lib.h"

#include <cstdlib>

void *lib_Alloc(size_t size) {
    return calloc(1, size);
}

void lib_Free(void *block) {
    free(block);
}
