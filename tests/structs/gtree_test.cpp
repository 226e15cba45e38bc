// The red-black tree against std::map, with its rules checked after every change.
#include "gtree.h"
#include "typed_mem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

struct Item {
    int key;
    int value;
};

int by_key(gtree *, const void *a, const void *b) {
    int x = static_cast<const Item *>(a)->key, y = static_cast<const Item *>(b)->key;
    return x < y ? -1 : x > y ? 1 : 0;
}

struct Log {
    int added = 0;
    int deleted = 0;
};

void on_add(gtree *g, void *) {
    static_cast<Log *>(gtree_arg(g))->added++;
}
void on_del(gtree *g, void *) {
    static_cast<Log *>(gtree_arg(g))->deleted++;
}

} // namespace

TEST(GTree, RandomOperationsMatchAMap) {
    Log log;
    gtree *g = gtree_create(&log, "test_tree", by_key, on_add, on_del, nullptr);
    ASSERT_NE(g, nullptr);
    std::map<int, int> model;
    std::vector<Item *> items; // owned here; the tree only points at them
    std::mt19937 rng(12345);
    for (int step = 0; step < 4000; step++) {
        const int key = static_cast<int>(rng() % 300);
        if (rng() % 3 != 0) {
            auto *it = new Item{key, step};
            items.push_back(it);
            const bool existed = model.count(key) != 0;
            ASSERT_EQ(gtree_put(g, it), existed ? 1 : 0);
            model[key] = step;
        } else {
            Item probe{key, 0};
            ASSERT_EQ(gtree_remove(g, &probe), model.erase(key) ? 1 : 0);
        }
        ASSERT_EQ(gtree_validate(g), 0) << "after step " << step;
        ASSERT_EQ(gtree_size(g), model.size());
    }
    for (const auto &[key, value] : model) {
        Item probe{key, 0};
        auto *found = static_cast<Item *>(gtree_get(g, &probe));
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->value, value);
    }
    void **list;
    ASSERT_EQ(gtree_dump(g, &list, "test_list"), static_cast<int>(model.size()));
    auto m = model.begin();
    for (size_t i = 0; i < model.size(); i++, ++m)
        EXPECT_EQ(static_cast<Item *>(list[i])->key, m->first);
    typed_mem_free("test_list", list);

    // Walking both ways.
    auto *first = static_cast<Item *>(gtree_first(g));
    auto *last = static_cast<Item *>(gtree_last(g));
    EXPECT_EQ(first->key, model.begin()->first);
    EXPECT_EQ(last->key, model.rbegin()->first);
    int forward = 0;
    for (void *i = first; i; i = gtree_next(g, i))
        forward++;
    int backward = 0;
    for (void *i = last; i; i = gtree_prev(g, i))
        backward++;
    EXPECT_EQ(forward, static_cast<int>(model.size()));
    EXPECT_EQ(backward, forward);

    const int live = log.added - log.deleted;
    EXPECT_EQ(live, static_cast<int>(model.size()));
    gtree_destroy(&g);
    EXPECT_EQ(g, nullptr);
    EXPECT_EQ(log.added, log.deleted);
    for (Item *i : items)
        delete i;
}

TEST(GTree, NullItemAndPreallocatedNodes) {
    gtree *g = gtree_create(nullptr, "test_tree", by_key, nullptr, nullptr, nullptr);
    errno = 0;
    EXPECT_EQ(gtree_put(g, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    std::vector<Item> items(50);
    std::vector<std::vector<unsigned char>> nodes(50,
                                                  std::vector<unsigned char>(gtree_node_size()));
    for (int i = 0; i < 50; i++) {
        items[i] = {(i * 37) % 50, i};
        ASSERT_EQ(gtree_put_prealloc(g, &items[i], nodes[i].data()), 0);
    }
    ASSERT_EQ(gtree_validate(g), 0);
    for (int i = 0; i < 50; i += 2)
        ASSERT_EQ(gtree_remove(g, &items[i]), 1);
    ASSERT_EQ(gtree_validate(g), 0);
    EXPECT_EQ(gtree_size(g), 25u);
    gtree_destroy(&g); // leaves the caller's nodes alone
}

namespace {

struct Reentry {
    Item other{1000, 0};
    int put_result = 0;
    int put_errno = 0;
};

void put_from_callback(gtree *g, void *) {
    auto *r = static_cast<Reentry *>(gtree_arg(g));
    errno = 0;
    r->put_result = gtree_put(g, &r->other);
    r->put_errno = errno;
}

const char *print_item(gtree *, const void *item) {
    static thread_local char buf[16];
    snprintf(buf, sizeof buf, "%d", static_cast<const Item *>(item)->key);
    return buf;
}

} // namespace

TEST(GTree, ChangesFromCallbacksAreRefused) {
    Reentry r;
    gtree *g = gtree_create(&r, "test_tree", by_key, put_from_callback, nullptr, print_item);
    Item a{1, 1};
    EXPECT_EQ(gtree_put(g, &a), 0);
    EXPECT_EQ(r.put_result, -1);
    EXPECT_EQ(r.put_errno, EBUSY);
    EXPECT_EQ(gtree_size(g), 1u);

    char buf[200] = {};
    FILE *fp = fmemopen(buf, sizeof buf, "w");
    gtree_print(g, fp);
    fclose(fp);
    EXPECT_EQ(std::string(buf), "ROOT\n   B 1\n");
    gtree_destroy(&g);
}

namespace {
void destroy_from_callback(gtree *g, void *) {
    gtree *self = g;
    gtree_destroy(&self);
}
} // namespace

TEST(GTreeDeath, DestroyingALockedTreeStops) {
    gtree *g = gtree_create(nullptr, "test_tree", by_key, destroy_from_callback, nullptr, nullptr);
    Item a{1, 1};
    EXPECT_DEATH(gtree_put(g, &a), "!g->locked");
    gtree_destroy(&g);
}
