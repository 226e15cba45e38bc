// The tracking mode of typed memory. Every test switches the mode on before any other
// typed-memory call (each test runs in its own process under ctest; when run together the
// mode simply stays on).
#include "structs.h"
#include "structs_type_array.h"
#include "typed_mem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

class Tracking : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(typed_mem_enable(), 0); }
};

const typed_mem_typestats *find_stats(const structs_array &list, const char *name) {
    auto *e = static_cast<const typed_mem_typestats *>(list.elems);
    for (uint32_t i = 0; i < list.length; i++)
        if (strcmp(e[i].type, name) == 0) return &e[i];
    return nullptr;
}

} // namespace

TEST_F(Tracking, TypeOfBlockAndStatistics) {
    char *a = typed_mem_strdup("alpha", "12345");
    void *b = typed_mem_calloc("alpha", 1, 100);
    void *c = typed_mem_realloc("beta_type_with_a_long_name_cut", nullptr, 7);
    char type[TYPED_MEM_TYPELEN];
    ASSERT_NE(typed_mem_type(a, type), nullptr);
    EXPECT_STREQ(type, "alpha");
    ASSERT_NE(typed_mem_type(c, type), nullptr);
    EXPECT_STREQ(type, "beta_type_with_a_long_n"); // 23 characters

    structs_array stats{};
    ASSERT_EQ(typed_mem_usage(&stats), 0);
    const typed_mem_typestats *alpha = find_stats(stats, "alpha");
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(alpha->count, 2u);
    EXPECT_EQ(alpha->total, 106u);
    const typed_mem_typestats *beta = find_stats(stats, "beta_type_with_a_long_n");
    ASSERT_NE(beta, nullptr);
    EXPECT_EQ(beta->count, 1u);
    // The list itself is a described value: its fields read by name.
    char *text = structs_get_string(&typed_mem_stats_type, "0.type", &stats, "TEST");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "alpha");
    typed_mem_free("TEST", text);
    structs_free(&typed_mem_stats_type, nullptr, &stats);

    char buf[2000] = {};
    FILE *fp = fmemopen(buf, sizeof buf, "w");
    typed_mem_dump(fp);
    fclose(fp);
    std::string table(buf);
    EXPECT_NE(table.find("   Type                              Count      Total\n"),
              std::string::npos);
    EXPECT_NE(table.find("   alpha                                 2        106\n"),
              std::string::npos);
    EXPECT_NE(table.find("Totals"), std::string::npos);

    typed_mem_free("alpha", a);
    typed_mem_free("alpha", b);
    typed_mem_free("beta_type_with_a_long_name_cut", c);
    ASSERT_EQ(typed_mem_usage(&stats), 0);
    EXPECT_EQ(find_stats(stats, "alpha"), nullptr);
    structs_free(&typed_mem_stats_type, nullptr, &stats);
}

TEST_F(Tracking, ReallocMovesTheBlockUnderItsType) {
    char *p = typed_mem_strdup("gamma", "keep");
    p = static_cast<char *>(typed_mem_realloc("gamma", p, 5000));
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p, "keep");
    memset(p, 'x', 5000); // the whole user area is usable
    typed_mem_free("gamma", p);
}

using TrackingDeath = Tracking;

TEST_F(TrackingDeath, WrongTypeIsReported) {
    char *p = typed_mem_strdup("right", "x");
    EXPECT_DEATH(typed_mem_free("wrong", p),
                 "typed_mem_free\\(\\) with wrong type: ptr=0x[0-9a-f]+ \"wrong\" != \"right\"");
    typed_mem_free("right", p);
}

TEST_F(TrackingDeath, UnallocatedBlockIsReported) {
    static char not_ours[32];
    EXPECT_DEATH(typed_mem_realloc("some", not_ours + 16, 10),
                 "typed_mem_realloc\\(\\) of unallocated block: ptr=0x[0-9a-f]+ type=\"some\"");
}

TEST_F(TrackingDeath, GuardViolationsAreReported) {
    char *p = static_cast<char *>(typed_mem_realloc("guarded", nullptr, 10));
    EXPECT_DEATH(
        {
            p[10] = 0;
            typed_mem_free("guarded", p);
        },
        "typed_mem_free\\(\\): tail guard violated ptr=0x[0-9a-f]+ type=\"guarded\"");
    EXPECT_DEATH(
        {
            p[-1] = 0;
            typed_mem_free("guarded", p);
        },
        "typed_mem_free\\(\\): head guard violated");
    typed_mem_free("guarded", p);
}
