#include "typed_mem.h"

#include "gtree.h"
#include "structs.h"
#include "structs_assert.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// Set by every call, so that the tracking mode can only start on a clean heap.
std::atomic<bool> g_used{false};
std::atomic<bool> g_tracking{false};

// Marks the heap used; a store only the first time, since a store on every call makes every
// thread's allocation contend for the flag's cache line.
void markUsed() {
    if (!g_used.load(std::memory_order_relaxed)) g_used = true;
}
std::recursive_mutex g_lock;

constexpr uint32_t GUARD_WORD = 0x9f718e34;
constexpr size_t HEAD_SIZE = 16; // keeps the user area at malloc's 16-byte alignment
constexpr size_t GUARD_SIZE = 8;

struct BlockInfo {
    void *user;
    size_t size;
    char type[TYPED_MEM_TYPELEN];
    // followed by the tree node (gtree_node_size bytes)
};

struct TypeInfo {
    char type[TYPED_MEM_TYPELEN];
    uint32_t count;
    uint64_t total;
};

gtree *g_blocks; // live blocks by user address
gtree *g_types;  // TypeInfo by name

int block_cmp(gtree *, const void *a, const void *b) {
    auto x = reinterpret_cast<uintptr_t>(static_cast<const BlockInfo *>(a)->user);
    auto y = reinterpret_cast<uintptr_t>(static_cast<const BlockInfo *>(b)->user);
    return x < y ? -1 : x > y ? 1 : 0;
}

int type_cmp(gtree *, const void *a, const void *b) {
    return strncmp(static_cast<const TypeInfo *>(a)->type, static_cast<const TypeInfo *>(b)->type,
                   TYPED_MEM_TYPELEN - 1);
}

void cut_name(char *dst, const char *mtype) {
    snprintf(dst, TYPED_MEM_TYPELEN, "%s", mtype ? mtype : "");
}

void fill_guard(uint8_t *p) {
    uint32_t w[2] = {GUARD_WORD, GUARD_WORD};
    memcpy(p, w, sizeof w);
}

bool guard_ok(const uint8_t *p) {
    uint32_t w[2];
    memcpy(w, p, sizeof w);
    return w[0] == GUARD_WORD && w[1] == GUARD_WORD;
}

BlockInfo *lookup(const void *user) {
    BlockInfo key{};
    key.user = const_cast<void *>(user);
    return static_cast<BlockInfo *>(gtree_get(g_blocks, &key));
}

// Misuse of a tracked block is a program fault: report it in the fixed words and stop.
void check_block(const char *func, const char *mtype, const void *user, BlockInfo *info) {
    if (info == nullptr) {
        fprintf(stderr, "%s() of unallocated block: ptr=%p type=\"%s\"\n", func, user,
                mtype ? mtype : "");
        STRUCTS_ASSERT(info != nullptr);
    }
    char name[TYPED_MEM_TYPELEN];
    cut_name(name, mtype);
    if (strcmp(name, info->type) != 0) {
        fprintf(stderr, "%s() with wrong type: ptr=%p \"%s\" != \"%s\"\n", func, user, name,
                info->type);
        STRUCTS_ASSERT(strcmp(name, info->type) == 0);
    }
    const uint8_t *head = static_cast<const uint8_t *>(user) - GUARD_SIZE;
    const uint8_t *tail = static_cast<const uint8_t *>(user) + info->size;
    for (int which = 0; which < 2; which++) {
        if (!guard_ok(which == 0 ? head : tail)) {
            fprintf(stderr, "%s(): %s guard violated ptr=%p type=\"%s\"\n", func,
                    which == 0 ? "head" : "tail", user, info->type);
            STRUCTS_ASSERT(guard_ok(which == 0 ? head : tail));
        }
    }
}

void count_type(const char *name, int64_t blocks, int64_t bytes) {
    TypeInfo key{};
    memcpy(key.type, name, TYPED_MEM_TYPELEN);
    auto *t = static_cast<TypeInfo *>(gtree_get(g_types, &key));
    if (t == nullptr) {
        t = static_cast<TypeInfo *>(calloc(1, sizeof(TypeInfo)));
        STRUCTS_ASSERT(t != nullptr);
        memcpy(t->type, name, TYPED_MEM_TYPELEN);
        STRUCTS_ASSERT(gtree_put(g_types, t) == 0);
    }
    t->count = static_cast<uint32_t>(t->count + blocks);
    t->total = static_cast<uint64_t>(static_cast<int64_t>(t->total) + bytes);
    if (t->count == 0) {
        gtree_remove(g_types, t);
        free(t);
    }
}

void *tracked_realloc(const char *func, const char *mtype, void *mem, size_t size,
                      bool freeOnFail) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    BlockInfo *old = nullptr;
    if (mem) {
        old = lookup(mem);
        check_block(func, mtype, mem, old);
    }
    if (size > PTRDIFF_MAX - HEAD_SIZE - GUARD_SIZE) {
        if (freeOnFail && mem) typed_mem_free(mtype, mem);
        errno = ENOMEM;
        return nullptr;
    }
    auto *base = static_cast<uint8_t *>(malloc(HEAD_SIZE + size + GUARD_SIZE));
    auto *info = static_cast<BlockInfo *>(calloc(1, sizeof(BlockInfo) + gtree_node_size()));
    if (base == nullptr || info == nullptr) {
        free(base);
        free(info);
        if (freeOnFail && mem) typed_mem_free(mtype, mem);
        errno = ENOMEM;
        return nullptr;
    }
    memset(base, 0, HEAD_SIZE - GUARD_SIZE);
    fill_guard(base + HEAD_SIZE - GUARD_SIZE);
    uint8_t *user = base + HEAD_SIZE;
    fill_guard(user + size);
    info->user = user;
    info->size = size;
    cut_name(info->type, mtype);
    if (old) {
        memcpy(user, old->user, old->size < size ? old->size : size);
        typed_mem_free(mtype, mem);
    }
    STRUCTS_ASSERT(gtree_put_prealloc(g_blocks, info, info + 1) == 0);
    count_type(info->type, 1, static_cast<int64_t>(size));
    return user;
}

void tracked_free(const char *mtype, void *mem) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    BlockInfo *info = lookup(mem);
    check_block("typed_mem_free", mtype, mem, info);
    gtree_remove(g_blocks, info);
    count_type(info->type, -1, -static_cast<int64_t>(info->size));
    free(static_cast<uint8_t *>(mem) - HEAD_SIZE);
    free(info);
}

} // namespace

void *typed_mem_realloc(const char *mtype, void *mem, size_t size) {
    markUsed();
    if (g_tracking) return tracked_realloc("typed_mem_realloc", mtype, mem, size, false);
    // No heap serves more than PTRDIFF_MAX bytes; refusing here keeps sanitizer builds, which
    // abort on such requests, reporting it the same way as the plain heap.
    if (size > PTRDIFF_MAX) {
        errno = ENOMEM;
        return nullptr;
    }
    // realloc of 0 bytes would free the block and return null, which reads as a failure.
    void *p = realloc(mem, size ? size : 1);
    if (p == nullptr) errno = ENOMEM;
    return p;
}

void *typed_mem_reallocf(const char *mtype, void *mem, size_t size) {
    markUsed();
    if (g_tracking) return tracked_realloc("typed_mem_reallocf", mtype, mem, size, true);
    void *p = typed_mem_realloc(mtype, mem, size);
    if (p == nullptr && mem != nullptr) typed_mem_free(mtype, mem);
    return p;
}

void *typed_mem_calloc(const char *mtype, size_t num, size_t size) {
    size_t total;
    if (__builtin_mul_overflow(num, size, &total)) {
        markUsed();
        errno = ENOMEM;
        return nullptr;
    }
    void *p = typed_mem_realloc(mtype, nullptr, total);
    if (p) memset(p, 0, total);
    return p;
}

char *typed_mem_strdup(const char *mtype, const char *s) {
    size_t len = strlen(s);
    auto *p = static_cast<char *>(typed_mem_realloc(mtype, nullptr, len + 1));
    if (p) memcpy(p, s, len + 1);
    return p;
}

void typed_mem_free(const char *mtype, void *mem) {
    markUsed();
    if (mem == nullptr) return;
    int saved = errno;
    if (g_tracking)
        tracked_free(mtype, mem);
    else
        free(mem);
    errno = saved;
}

int typed_mem_vasprintf(const char *mtype, char **ret, const char *fmt, va_list args) {
    size_t cap = 1000;
    char *buf = static_cast<char *>(typed_mem_realloc(mtype, nullptr, cap));
    for (int attempt = 0; buf != nullptr; attempt++) {
        va_list copy;
        va_copy(copy, args);
        int len = vsnprintf(buf, cap, fmt, copy);
        va_end(copy);
        if (len < 0) {
            typed_mem_free(mtype, buf);
            *ret = nullptr;
            errno = EINVAL;
            return -1;
        }
        if (static_cast<size_t>(len) < cap) {
            *ret = buf;
            return len;
        }
        // The first attempt tells the exact length; a second overflow cannot happen.
        STRUCTS_ASSERT(attempt == 0);
        cap = static_cast<size_t>(len) + 1;
        buf = static_cast<char *>(typed_mem_reallocf(mtype, buf, cap));
    }
    *ret = nullptr;
    errno = ENOMEM;
    return -1;
}

int typed_mem_asprintf(const char *mtype, char **ret, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int r = typed_mem_vasprintf(mtype, ret, fmt, args);
    va_end(args);
    return r;
}

int typed_mem_enable(void) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    if (g_tracking) return 0;
    if (g_used) {
        errno = EBUSY;
        return -1;
    }
    g_blocks = gtree_create(nullptr, nullptr, block_cmp, nullptr, nullptr, nullptr);
    g_types = gtree_create(nullptr, nullptr, type_cmp, nullptr, nullptr, nullptr);
    if (g_blocks == nullptr || g_types == nullptr) {
        gtree_destroy(&g_blocks);
        gtree_destroy(&g_types);
        errno = ENOMEM;
        return -1;
    }
    g_tracking = true;
    return 0;
}

char *typed_mem_type(const void *mem, char *typebuf) {
    markUsed();
    if (!g_tracking) {
        errno = ENXIO;
        return nullptr;
    }
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    BlockInfo *info = lookup(mem);
    if (info == nullptr) {
        errno = ENOENT;
        return nullptr;
    }
    memcpy(typebuf, info->type, TYPED_MEM_TYPELEN);
    return typebuf;
}

namespace {

// Copies the type records out first: filling the list allocates, which changes the type tree.
std::vector<TypeInfo> snapshot() {
    std::vector<TypeInfo> out;
    for (void *t = gtree_first(g_types); t; t = gtree_next(g_types, t))
        out.push_back(*static_cast<TypeInfo *>(t));
    return out;
}

} // namespace

int typed_mem_usage(struct structs_array *stats) {
    markUsed();
    if (!g_tracking) {
        errno = ENXIO;
        return -1;
    }
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    std::vector<TypeInfo> types = snapshot();
    auto *elems = static_cast<typed_mem_typestats *>(
        typed_mem_calloc(typed_mem_stats_type.args[1].s, types.empty() ? 1 : types.size(),
                         sizeof(typed_mem_typestats)));
    if (elems == nullptr) return -1;
    for (size_t i = 0; i < types.size(); i++) {
        memcpy(elems[i].type, types[i].type, TYPED_MEM_TYPELEN);
        elems[i].count = types[i].count;
        elems[i].total = types[i].total;
    }
    stats->length = static_cast<uint32_t>(types.size());
    stats->elems = elems;
    return 0;
}

void typed_mem_dump(FILE *fp) {
    if (!g_tracking) {
        fprintf(fp, "Typed memory is not enabled.\n");
        return;
    }
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    std::vector<TypeInfo> types = snapshot();
    uint64_t blocks = 0, bytes = 0;
    fprintf(fp, "   %-28s %10s %10s\n", "Type", "Count", "Total");
    fprintf(fp, "   %-28s %10s %10s\n", "----", "-----", "-----");
    for (const TypeInfo &t : types) {
        fprintf(fp, "   %-28s %10u %10llu\n", t.type, t.count,
                static_cast<unsigned long long>(t.total));
        blocks += t.count;
        bytes += t.total;
    }
    fprintf(fp, "   %-28s %10llu %10llu\n", "Totals", static_cast<unsigned long long>(blocks),
            static_cast<unsigned long long>(bytes));
}
