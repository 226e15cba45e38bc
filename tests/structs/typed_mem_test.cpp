// Typed memory in the plain mode.
#include "structs.h"
#include "typed_mem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

TEST(TypedMem, FreeOfNullAndFreeKeepErrno) {
    errno = 1234;
    typed_mem_free("TEST", nullptr);
    EXPECT_EQ(errno, 1234);
    char *s = typed_mem_strdup("TEST", "abc");
    ASSERT_NE(s, nullptr);
    errno = EDOM;
    typed_mem_free("TEST", s);
    EXPECT_EQ(errno, EDOM);
}

TEST(TypedMem, StrdupOfEmptyTextIsOneByte) {
    char *s = typed_mem_strdup("TEST", "");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s[0], '\0');
    typed_mem_free("TEST", s);
}

TEST(TypedMem, AsprintfLengthsAroundTheFirstBuffer) {
    for (int len : {0, 999, 1000, 1200, 15000, 40000}) {
        std::string want(static_cast<size_t>(len), 'x');
        char *out = reinterpret_cast<char *>(1);
        ASSERT_EQ(typed_mem_asprintf("TEST", &out, "%s", want.c_str()), len);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(want, out);
        typed_mem_free("TEST", out);
    }
    char *out;
    EXPECT_EQ(typed_mem_asprintf("TEST", &out, "%s.%d", "Tags", 3), 6);
    EXPECT_STREQ(out, "Tags.3");
    typed_mem_free("TEST", out);
}

TEST(TypedMem, ZeroedAllocationAndOverflow) {
    auto *p = static_cast<uint8_t *>(typed_mem_calloc("TEST", 10, 7));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 70; i++)
        EXPECT_EQ(p[i], 0);
    typed_mem_free("TEST", p);
    errno = 0;
    EXPECT_EQ(typed_mem_calloc("TEST", SIZE_MAX / 2, 3), nullptr);
    EXPECT_EQ(errno, ENOMEM);
}

TEST(TypedMem, ReallocKeepsContentsAndFailureKeepsOldBlock) {
    char *p = typed_mem_strdup("TEST", "hello");
    p = static_cast<char *>(typed_mem_realloc("TEST", p, 4000));
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "hello");
    errno = 0;
    EXPECT_EQ(typed_mem_realloc("TEST", p, SIZE_MAX - 8), nullptr);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_STREQ(p, "hello"); // untouched
    // The freeing variant releases the old block on failure (AddressSanitizer sees a leak
    // otherwise).
    EXPECT_EQ(typed_mem_reallocf("TEST", p, SIZE_MAX - 8), nullptr);
}

TEST(TypedMem, TrackingOperationsFailWithoutTheMode) {
    char type[TYPED_MEM_TYPELEN] = {};
    errno = 0;
    EXPECT_EQ(typed_mem_type(&type, type), nullptr);
    EXPECT_EQ(errno, ENXIO);
    structs_array stats{};
    EXPECT_EQ(typed_mem_usage(&stats), -1);
    EXPECT_EQ(errno, ENXIO);
    char buf[100] = {};
    FILE *fp = fmemopen(buf, sizeof buf, "w");
    typed_mem_dump(fp);
    fclose(fp);
    EXPECT_STREQ(buf, "Typed memory is not enabled.\n");
    // Typed memory has been used, so the mode can no longer be switched on.
    EXPECT_EQ(typed_mem_enable(), -1);
    EXPECT_EQ(errno, EBUSY);
}
