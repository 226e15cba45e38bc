#include "structs_type_array.h"

#include "structs_composite.h"

#include <cerrno>
#include <cstring>

namespace {

const structs_type *element_type(const structs_type *type) {
    return static_cast<const structs_type *>(type->args[0].v);
}

std::vector<structs_member> elements(const structs_type *etype, const void *block, uint64_t n) {
    std::vector<structs_member> members;
    members.reserve(n);
    auto *p = const_cast<char *>(static_cast<const char *>(block));
    for (uint64_t i = 0; i < n; i++)
        members.push_back({etype, p + i * etype->size});
    return members;
}

uint64_t fixed_count(const structs_type *type) {
    return static_cast<uint64_t>(type->args[2].i);
}

int fail_einval() {
    errno = EINVAL;
    return -1;
}

// Copies element by element; on a failure the copied elements are uninitialised again.
int copy_elements(const structs_type *etype, const void *from, void *to, uint64_t n) {
    std::vector<structs_member> dst = elements(etype, to, n);
    for (uint64_t i = 0; i < n; i++) {
        const void *src = static_cast<const char *>(from) + i * etype->size;
        if (etype->copy(etype, src, dst[i].data) == -1) {
            structs_composite_undo(dst, i);
            return -1;
        }
    }
    return 0;
}

int equal_elements(const structs_type *etype, const void *a, const void *b, uint64_t n) {
    for (uint64_t i = 0; i < n; i++)
        if (etype->equal(etype, static_cast<const char *>(a) + i * etype->size,
                         static_cast<const char *>(b) + i * etype->size) == 0)
            return 0;
    return 1;
}

} // namespace

int structs_array_copy(const structs_type *type, const void *from, void *to) {
    if (type->tclass != STRUCTS_TYPE_ARRAY) return fail_einval();
    const auto *src = static_cast<const structs_array *>(from);
    auto *dst = static_cast<structs_array *>(to);
    const structs_type *etype = element_type(type);
    void *block = typed_mem_calloc(type->args[1].s, src->length ? src->length : 1, etype->size);
    if (block == nullptr) {
        dst->length = 0;
        dst->elems = nullptr;
        return -1;
    }
    if (copy_elements(etype, src->elems, block, src->length) == -1) {
        typed_mem_free(type->args[1].s, block);
        dst->length = 0;
        dst->elems = nullptr;
        return -1;
    }
    dst->length = src->length;
    dst->elems = block;
    return 0;
}

int structs_array_equal(const structs_type *type, const void *a, const void *b) {
    if (type->tclass != STRUCTS_TYPE_ARRAY) return 0;
    const auto *x = static_cast<const structs_array *>(a);
    const auto *y = static_cast<const structs_array *>(b);
    if (x->length != y->length) return 0;
    return equal_elements(element_type(type), x->elems, y->elems, x->length);
}

int structs_array_encode(const structs_type *type, const char *mtype, structs_data *code,
                         const void *data) {
    if (type->tclass != STRUCTS_TYPE_ARRAY) return fail_einval();
    const auto *ary = static_cast<const structs_array *>(data);
    const uint32_t n = ary->length;
    const uint8_t length[4] = {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                               static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    return structs_composite_encode(mtype, code, length, sizeof length,
                                    elements(element_type(type), ary->elems, n));
}

int structs_array_decode(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                         char *ebuf, size_t emax) {
    if (type->tclass != STRUCTS_TYPE_ARRAY) return fail_einval();
    auto *ary = static_cast<structs_array *>(data);
    const structs_type *etype = element_type(type);
    // Sizes in 64 bits, so that a length near 2^32 cannot wrap to a short bitmap.
    uint64_t n = 0, bitmaplen = 0;
    if (cmax > 3) {
        n = (uint64_t{code[0]} << 24) | (uint64_t{code[1]} << 16) | (uint64_t{code[2]} << 8) |
            uint64_t{code[3]};
        bitmaplen = (n + 7) / 8;
    }
    if (cmax <= 3 || cmax < 4 + bitmaplen) {
        structs_set_error(ebuf, emax, "encoded array is truncated");
        errno = EINVAL;
        return -1;
    }
    void *block = typed_mem_calloc(type->args[1].s, n ? n : 1, etype->size);
    if (block == nullptr) return -1;
    // The bitmap bounds the count (an element takes at least its bit); the elements are walked
    // in the block itself, so nothing is reserved per declared element beyond the value's own
    // storage.
    auto *base = static_cast<char *>(block);
    int used = structs_composite_decode(
        code + 4, cmax - 4, n,
        [etype, base](size_t j) {
            return structs_member{etype, base + j * etype->size};
        },
        "encoded array is truncated", ebuf, emax);
    if (used == -1) {
        typed_mem_free(type->args[1].s, block);
        return -1;
    }
    ary->length = static_cast<uint32_t>(n);
    ary->elems = block;
    return used + 4;
}

void structs_array_free(const structs_type *type, void *data) {
    if (type->tclass != STRUCTS_TYPE_ARRAY) return;
    auto *ary = static_cast<structs_array *>(data);
    const structs_type *etype = element_type(type);
    for (uint32_t i = 0; i < ary->length; i++)
        etype->uninit(etype, static_cast<char *>(ary->elems) + size_t{i} * etype->size);
    typed_mem_free(type->args[1].s, ary->elems);
    ary->length = 0;
    ary->elems = nullptr;
}

int structs_fixedarray_init(const structs_type *type, void *data) {
    const structs_type *etype = element_type(type);
    const uint64_t n = fixed_count(type);
    std::vector<structs_member> members = elements(etype, data, n);
    for (uint64_t i = 0; i < n; i++) {
        if (etype->init(etype, members[i].data) == -1) {
            structs_composite_undo(members, i);
            return -1;
        }
    }
    return 0;
}

int structs_fixedarray_copy(const structs_type *type, const void *from, void *to) {
    if (type->tclass != STRUCTS_TYPE_FIXEDARRAY) return fail_einval();
    return copy_elements(element_type(type), from, to, fixed_count(type));
}

int structs_fixedarray_equal(const structs_type *type, const void *a, const void *b) {
    if (type->tclass != STRUCTS_TYPE_FIXEDARRAY) return 0;
    return equal_elements(element_type(type), a, b, fixed_count(type));
}

int structs_fixedarray_encode(const structs_type *type, const char *mtype, structs_data *code,
                              const void *data) {
    if (type->tclass != STRUCTS_TYPE_FIXEDARRAY) return fail_einval();
    return structs_composite_encode(mtype, code, nullptr, 0,
                                    elements(element_type(type), data, fixed_count(type)));
}

int structs_fixedarray_decode(const structs_type *type, const uint8_t *code, size_t cmax,
                              void *data, char *ebuf, size_t emax) {
    if (type->tclass != STRUCTS_TYPE_FIXEDARRAY) return fail_einval();
    const structs_type *etype = element_type(type);
    auto *base = static_cast<char *>(data);
    return structs_composite_decode(
        code, cmax, fixed_count(type),
        [etype, base](size_t j) {
            return structs_member{etype, base + j * etype->size};
        },
        "encoded array is truncated", ebuf, emax);
}

void structs_fixedarray_free(const structs_type *type, void *data) {
    if (type->tclass != STRUCTS_TYPE_FIXEDARRAY) return;
    const structs_type *etype = element_type(type);
    const uint64_t n = fixed_count(type);
    for (uint64_t i = 0; i < n; i++)
        etype->uninit(etype, static_cast<char *>(data) + i * etype->size);
}
