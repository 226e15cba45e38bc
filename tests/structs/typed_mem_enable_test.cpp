// The tracking mode can only be switched on before typed memory is first used.
#include "typed_mem.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(TypedMemEnable, RefusedOnceTypedMemoryWasUsed) {
    typed_mem_free("TEST", nullptr);
    errno = 0;
    EXPECT_EQ(typed_mem_enable(), -1);
    EXPECT_EQ(errno, EBUSY);
    char type[TYPED_MEM_TYPELEN] = {};
    EXPECT_EQ(typed_mem_type(type, type), nullptr);
    EXPECT_EQ(errno, ENXIO);
}
