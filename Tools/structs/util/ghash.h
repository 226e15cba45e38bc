// Hash table of caller items. It starts with 31 buckets, doubles when the items exceed two per
// bucket and halves (never below 31) when they fall below one per two buckets. Entries are
// allocated under "<name>.gent" and iterators under "<name>.iter".
#pragma once

#include <cstdint>

struct ghash;
struct ghash_iter;

typedef uint32_t ghash_hash_t(struct ghash *g, const void *item);
typedef int ghash_equal_t(struct ghash *g, const void *item1, const void *item2);
typedef void ghash_add_t(struct ghash *g, void *item);
typedef void ghash_del_t(struct ghash *g, void *item);

// Null hash and equal use the item's address; null add/del do nothing.
struct ghash *ghash_create(void *arg, const char *mtype, ghash_hash_t *hash, ghash_equal_t *equal,
                           ghash_add_t *add, ghash_del_t *del);
// Tells the del callback about every item and sets *gp to null.
void ghash_destroy(struct ghash **gp);
void *ghash_arg(struct ghash *g);
void *ghash_get(struct ghash *g, const void *item);
// 0 inserted, 1 replaced an equal item; -1 with errno 22 (null item) or 12.
int ghash_put(struct ghash *g, const void *item);
// 1 removed, 0 absent.
int ghash_remove(struct ghash *g, const void *item);
unsigned ghash_size(struct ghash *g);
unsigned ghash_buckets(struct ghash *g);
// All items in a new array allocated under mtype; the count, or -1.
int ghash_dump(struct ghash *g, void ***listp, const char *mtype);

// Iterators see the items present when they were created; changes to the table afterwards do
// not disturb them.
struct ghash_iter *ghash_iter_create(struct ghash *g);
void ghash_iter_destroy(struct ghash_iter **iterp);
int ghash_iter_has_next(struct ghash_iter *iter);
void *ghash_iter_next(struct ghash_iter *iter);
