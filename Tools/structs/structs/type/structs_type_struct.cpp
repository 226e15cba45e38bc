#include "structs_type_struct.h"

#include "structs_assert.h"
#include "structs_composite.h"

#include <cerrno>
#include <cstring>

namespace {

const structs_field *fields_of(const structs_type *type) {
    return static_cast<const structs_field *>(type->args[0].v);
}

std::vector<structs_member> members_of(const structs_type *type, const void *data) {
    std::vector<structs_member> members;
    for (const structs_field *f = fields_of(type); f->name; f++)
        members.push_back(
            {f->type, const_cast<char *>(static_cast<const char *>(data)) + f->offset});
    return members;
}

bool is_structure(const structs_type *type) {
    return type->tclass == STRUCTS_TYPE_STRUCTURE;
}

} // namespace

int structs_struct_init(const structs_type *type, void *data) {
    if (!is_structure(type)) {
        errno = EINVAL;
        return -1;
    }
    memset(data, 0, type->size);
    std::vector<structs_member> members = members_of(type, data);
    const structs_field *f = fields_of(type);
    for (size_t j = 0; j < members.size(); j++, f++) {
        STRUCTS_ASSERT(f->size == f->type->size);
        if (f->type->init(f->type, members[j].data) == -1) {
            structs_composite_undo(members, j);
            memset(data, 0, type->size);
            return -1;
        }
    }
    return 0;
}

int structs_struct_copy(const structs_type *type, const void *from, void *to) {
    if (!is_structure(type)) {
        errno = EINVAL;
        return -1;
    }
    memset(to, 0, type->size);
    std::vector<structs_member> dst = members_of(type, to);
    std::vector<structs_member> src = members_of(type, from);
    for (size_t j = 0; j < dst.size(); j++) {
        if (dst[j].type->copy(dst[j].type, src[j].data, dst[j].data) == -1) {
            structs_composite_undo(dst, j);
            memset(to, 0, type->size);
            return -1;
        }
    }
    return 0;
}

int structs_struct_equal(const structs_type *type, const void *a, const void *b) {
    if (!is_structure(type)) return 0;
    for (const structs_field *f = fields_of(type); f->name; f++)
        if (f->type->equal(f->type, static_cast<const char *>(a) + f->offset,
                           static_cast<const char *>(b) + f->offset) == 0)
            return 0;
    return 1;
}

int structs_struct_encode(const structs_type *type, const char *mtype, structs_data *code,
                          const void *data) {
    if (!is_structure(type)) {
        errno = EINVAL;
        return -1;
    }
    return structs_composite_encode(mtype, code, nullptr, 0, members_of(type, data));
}

int structs_struct_decode(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                          char *ebuf, size_t emax) {
    if (!is_structure(type)) {
        errno = EINVAL;
        return -1;
    }
    const std::vector<structs_member> members = members_of(type, data);
    return structs_composite_decode(
        code, cmax, members.size(), [&members](size_t j) { return members[j]; },
        "encoded structure is truncated", ebuf, emax);
}

void structs_struct_free(const structs_type *type, void *data) {
    if (!is_structure(type)) return;
    for (const structs_field *f = fields_of(type); f->name; f++)
        f->type->uninit(f->type, static_cast<char *>(data) + f->offset);
    memset(data, 0, type->size);
}
