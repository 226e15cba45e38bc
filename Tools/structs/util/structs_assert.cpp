#include "structs_assert.h"

#include <cstdio>
#include <cstdlib>

void structs_assert_fail(const char *file, int line, const char *cond) {
    fprintf(stderr, "%s:%d: %s\n", file, line, cond);
    fflush(stderr);
    abort();
}
