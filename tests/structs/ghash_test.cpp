// The hash table across growth and shrinking.
#include "ghash.h"
#include "typed_mem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <vector>

namespace {

uint32_t int_hash(ghash *, const void *item) {
    return static_cast<uint32_t>(*static_cast<const int *>(item)) * 7u;
}

int int_equal(ghash *, const void *a, const void *b) {
    return *static_cast<const int *>(a) == *static_cast<const int *>(b);
}

} // namespace

TEST(GHash, PutGetRemoveAndIterateAcrossResizes) {
    ghash *g = ghash_create(nullptr, "test_hash", int_hash, int_equal, nullptr, nullptr);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(ghash_buckets(g), 31u);
    std::vector<int> keys(1000), dup(1000);
    for (int i = 0; i < 1000; i++) {
        keys[i] = dup[i] = i;
        ASSERT_EQ(ghash_put(g, &keys[i]), 0);
    }
    EXPECT_EQ(ghash_size(g), 1000u);
    EXPECT_GE(ghash_buckets(g), 500u);
    EXPECT_EQ(ghash_put(g, &dup[5]), 1);
    EXPECT_EQ(ghash_get(g, &keys[5]), &dup[5]);
    EXPECT_EQ(ghash_put(g, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);

    ghash_iter *it = ghash_iter_create(g);
    std::set<int> seen;
    while (ghash_iter_has_next(it))
        seen.insert(*static_cast<int *>(ghash_iter_next(it)));
    ghash_iter_destroy(&it);
    EXPECT_EQ(seen.size(), 1000u);

    for (int i = 0; i < 990; i++)
        ASSERT_EQ(ghash_remove(g, &keys[i]), 1);
    EXPECT_EQ(ghash_remove(g, &keys[0]), 0);
    EXPECT_EQ(ghash_size(g), 10u);
    EXPECT_EQ(ghash_buckets(g), 31u);
    int probe = 995;
    EXPECT_EQ(ghash_get(g, &probe), &keys[995]);
    void **list;
    EXPECT_EQ(ghash_dump(g, &list, "TEST"), 10);
    typed_mem_free("TEST", list);
    ghash_destroy(&g);
    EXPECT_EQ(g, nullptr);
}
