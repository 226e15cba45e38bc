#include "ghash.h"

#include "typed_mem.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned MIN_BUCKETS = 31;

struct gent {
    const void *item;
    uint32_t hash;
    gent *next;
};

uint32_t address_hash(ghash *, const void *item) {
    auto v = reinterpret_cast<uintptr_t>(item);
    return static_cast<uint32_t>(v ^ (v >> 32)) * 2654435761u;
}

int address_equal(ghash *, const void *a, const void *b) {
    return a == b;
}

void nothing(ghash *, void *) {}

} // namespace

struct ghash {
    void *arg;
    char mtype[TYPED_MEM_TYPELEN];
    char gent_mtype[TYPED_MEM_TYPELEN + 8];
    char iter_mtype[TYPED_MEM_TYPELEN + 8];
    ghash_hash_t *hash;
    ghash_equal_t *equal;
    ghash_add_t *add;
    ghash_del_t *del;
    gent **buckets;
    unsigned nbuckets;
    unsigned size;
};

struct ghash_iter {
    ghash *g;
    void **items;
    unsigned count;
    unsigned next;
};

namespace {

// Moves every entry into a bucket array of the new size; on allocation failure the table
// simply keeps its present size.
void resize(ghash *g, unsigned nbuckets) {
    auto **buckets = static_cast<gent **>(typed_mem_calloc(g->mtype, nbuckets, sizeof(gent *)));
    if (buckets == nullptr) return;
    for (unsigned i = 0; i < g->nbuckets; i++) {
        for (gent *e = g->buckets[i], *next; e; e = next) {
            next = e->next;
            gent **slot = &buckets[e->hash % nbuckets];
            e->next = *slot;
            *slot = e;
        }
    }
    typed_mem_free(g->mtype, g->buckets);
    g->buckets = buckets;
    g->nbuckets = nbuckets;
}

gent **find_slot(ghash *g, const void *item, uint32_t hash) {
    for (gent **slot = &g->buckets[hash % g->nbuckets]; *slot; slot = &(*slot)->next)
        if ((*slot)->hash == hash && g->equal(g, (*slot)->item, item)) return slot;
    return nullptr;
}

} // namespace

struct ghash *ghash_create(void *arg, const char *mtype, ghash_hash_t *hash, ghash_equal_t *equal,
                           ghash_add_t *add, ghash_del_t *del) {
    auto *g = static_cast<ghash *>(typed_mem_calloc(mtype, 1, sizeof(ghash)));
    if (g == nullptr) return nullptr;
    snprintf(g->mtype, sizeof g->mtype, "%s", mtype);
    snprintf(g->gent_mtype, sizeof g->gent_mtype, "%s.gent", mtype);
    snprintf(g->iter_mtype, sizeof g->iter_mtype, "%s.iter", mtype);
    g->arg = arg;
    g->hash = hash ? hash : address_hash;
    g->equal = equal ? equal : address_equal;
    g->add = add ? add : nothing;
    g->del = del ? del : nothing;
    g->buckets = static_cast<gent **>(typed_mem_calloc(mtype, MIN_BUCKETS, sizeof(gent *)));
    if (g->buckets == nullptr) {
        typed_mem_free(mtype, g);
        return nullptr;
    }
    g->nbuckets = MIN_BUCKETS;
    return g;
}

void ghash_destroy(struct ghash **gp) {
    ghash *g = *gp;
    if (g == nullptr) return;
    for (unsigned i = 0; i < g->nbuckets; i++) {
        for (gent *e = g->buckets[i], *next; e; e = next) {
            next = e->next;
            g->del(g, const_cast<void *>(e->item));
            typed_mem_free(g->gent_mtype, e);
        }
    }
    typed_mem_free(g->mtype, g->buckets);
    char mtype[TYPED_MEM_TYPELEN];
    memcpy(mtype, g->mtype, sizeof mtype);
    typed_mem_free(mtype, g);
    *gp = nullptr;
}

void *ghash_arg(struct ghash *g) {
    return g->arg;
}

void *ghash_get(struct ghash *g, const void *item) {
    gent **slot = find_slot(g, item, g->hash(g, item));
    return slot ? const_cast<void *>((*slot)->item) : nullptr;
}

int ghash_put(struct ghash *g, const void *item) {
    if (item == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const uint32_t hash = g->hash(g, item);
    if (gent **slot = find_slot(g, item, hash)) {
        void *old = const_cast<void *>((*slot)->item);
        (*slot)->item = item;
        g->del(g, old);
        g->add(g, const_cast<void *>(item));
        return 1;
    }
    auto *e = static_cast<gent *>(typed_mem_calloc(g->gent_mtype, 1, sizeof(gent)));
    if (e == nullptr) return -1;
    e->item = item;
    e->hash = hash;
    e->next = g->buckets[hash % g->nbuckets];
    g->buckets[hash % g->nbuckets] = e;
    g->size++;
    g->add(g, const_cast<void *>(item));
    if (g->size > 2 * g->nbuckets) resize(g, g->nbuckets * 2);
    return 0;
}

int ghash_remove(struct ghash *g, const void *item) {
    gent **slot = find_slot(g, item, g->hash(g, item));
    if (slot == nullptr) return 0;
    gent *e = *slot;
    *slot = e->next;
    g->size--;
    void *old = const_cast<void *>(e->item);
    typed_mem_free(g->gent_mtype, e);
    g->del(g, old);
    if (g->nbuckets > MIN_BUCKETS && g->size * 2 < g->nbuckets) {
        const unsigned half = g->nbuckets / 2;
        resize(g, half < MIN_BUCKETS ? MIN_BUCKETS : half);
    }
    return 1;
}

unsigned ghash_size(struct ghash *g) {
    return g->size;
}

unsigned ghash_buckets(struct ghash *g) {
    return g->nbuckets;
}

int ghash_dump(struct ghash *g, void ***listp, const char *mtype) {
    auto **list =
        static_cast<void **>(typed_mem_calloc(mtype, g->size ? g->size : 1, sizeof(void *)));
    if (list == nullptr) return -1;
    unsigned n = 0;
    for (unsigned i = 0; i < g->nbuckets; i++)
        for (gent *e = g->buckets[i]; e; e = e->next)
            list[n++] = const_cast<void *>(e->item);
    *listp = list;
    return static_cast<int>(n);
}

struct ghash_iter *ghash_iter_create(struct ghash *g) {
    auto *it = static_cast<ghash_iter *>(typed_mem_calloc(g->iter_mtype, 1, sizeof(ghash_iter)));
    if (it == nullptr) return nullptr;
    it->g = g;
    int n = ghash_dump(g, &it->items, g->iter_mtype);
    if (n == -1) {
        typed_mem_free(g->iter_mtype, it);
        return nullptr;
    }
    it->count = static_cast<unsigned>(n);
    return it;
}

void ghash_iter_destroy(struct ghash_iter **iterp) {
    ghash_iter *it = *iterp;
    if (it == nullptr) return;
    typed_mem_free(it->g->iter_mtype, it->items);
    typed_mem_free(it->g->iter_mtype, it);
    *iterp = nullptr;
}

int ghash_iter_has_next(struct ghash_iter *iter) {
    return iter->next < iter->count;
}

void *ghash_iter_next(struct ghash_iter *iter) {
    if (iter->next >= iter->count) {
        errno = ENOENT;
        return nullptr;
    }
    return iter->items[iter->next++];
}
