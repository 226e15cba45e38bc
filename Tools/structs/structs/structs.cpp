// Operations by name: path lookup, text access, traversal, and the by-name wrappers.
#include "structs.h"

#include "structs_assert.h"
#include "structs_type_int.h"
#include "structs_type_string.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace {

// The length word of a variable array as a read-only 4-byte unsigned integer.
const structs_type k_array_length_type = {sizeof(uint32_t),
                                          "uint",
                                          STRUCTS_TYPE_PRIMITIVE,
                                          structs_region_init,
                                          structs_region_copy,
                                          structs_region_equal,
                                          structs_int_ascify,
                                          structs_notsupp_binify,
                                          structs_region_encode_netorder,
                                          structs_notsupp_decode,
                                          structs_nothing_free,
                                          {{.i = 2}, {.i = 0}, {.i = 0}}};

// The current field name of a union, readable as a text.
const structs_type k_union_field_name_type = {
    sizeof(char *),         "string",
    STRUCTS_TYPE_PRIMITIVE, structs_notsupp_init,
    structs_notsupp_copy,   structs_string_equal,
    structs_string_ascify,  structs_notsupp_binify,
    structs_notsupp_encode, structs_notsupp_decode,
    structs_nothing_free,   {{.s = "union field_name"}, {.i = 0}, {.i = 0}}};

// "length" of a fixed array reads as 0; the word is written by whoever uses the length type
// (its init, a reset by name), so it is per thread and reset at each lookup.
thread_local uint32_t t_fixed_length;

const structs_type *field_type(const structs_field *f) {
    return f->type;
}

const structs_ufield *find_ufield(const structs_type *type, const char *name, size_t len) {
    for (auto *f = static_cast<const structs_ufield *>(type->args[0].v); f->name; f++)
        if (strncmp(f->name, name, len) == 0 && f->name[len] == '\0') return f;
    return nullptr;
}

// Index component: decimal digits only, up to the '.' or the end.
bool parse_index(const char *comp, size_t len, uint64_t *index) {
    if (len == 0) return false;
    uint64_t v = 0;
    for (size_t i = 0; i < len; i++) {
        if (comp[i] < '0' || comp[i] > '9') return false;
        if (v < UINT64_MAX / 10)
            v = v * 10 + static_cast<uint64_t>(comp[i] - '0');
        else
            v = UINT64_MAX; // far beyond any length; reported as out of range
    }
    *index = v;
    return true;
}

// Pointer values are followed as often as they nest; a null pointer cannot be followed.
const structs_type *follow_pointers(const structs_type *type, void **data) {
    while (type->tclass == STRUCTS_TYPE_POINTER) {
        void *target = *static_cast<void **>(*data);
        if (target == nullptr) {
            errno = EINVAL;
            return nullptr;
        }
        type = static_cast<const structs_type *>(type->args[0].v);
        *data = target;
    }
    return type;
}

const structs_type *find_union(const structs_type *type, const char *comp, size_t len,
                               const char *rest, void **datap, int set_union);

const structs_type *find(const structs_type *type, const char *name, void **datap, int set_union) {
    if (name == nullptr || *name == '\0') return type;
    if (type->tclass == STRUCTS_TYPE_PRIMITIVE) {
        errno = ENOENT;
        return nullptr;
    }
    void *data = *datap;
    type = follow_pointers(type, &data);
    if (type == nullptr) return nullptr;
    if (type->tclass == STRUCTS_TYPE_PRIMITIVE) {
        errno = ENOENT;
        return nullptr;
    }
    const char *dot = strchr(name, '.');
    const size_t len = dot ? static_cast<size_t>(dot - name) : strlen(name);
    const char *rest = dot ? dot + 1 : "";

    const structs_type *sub = nullptr;
    void *subdata = nullptr;
    switch (type->tclass) {
    case STRUCTS_TYPE_ARRAY:
    case STRUCTS_TYPE_FIXEDARRAY: {
        const bool variable = type->tclass == STRUCTS_TYPE_ARRAY;
        if (strcmp(name, "length") == 0) {
            if (variable) {
                *datap = &static_cast<structs_array *>(data)->length;
            } else {
                t_fixed_length = 0;
                *datap = &t_fixed_length;
            }
            return &k_array_length_type;
        }
        uint64_t index;
        if (!parse_index(name, len, &index)) {
            errno = ENOENT;
            return nullptr;
        }
        sub = static_cast<const structs_type *>(type->args[0].v);
        if (variable) {
            auto *ary = static_cast<structs_array *>(data);
            if (index >= ary->length) {
                errno = EDOM;
                return nullptr;
            }
            subdata = static_cast<char *>(ary->elems) + index * sub->size;
        } else {
            if (index >= static_cast<uint64_t>(type->args[2].i)) {
                errno = EDOM;
                return nullptr;
            }
            subdata = static_cast<char *>(data) + index * sub->size;
        }
        break;
    }
    case STRUCTS_TYPE_STRUCTURE: {
        const structs_field *f = static_cast<const structs_field *>(type->args[0].v);
        for (; f->name; f++)
            if (strncmp(f->name, name, len) == 0 && f->name[len] == '\0') break;
        if (f->name == nullptr) {
            errno = ENOENT;
            return nullptr;
        }
        sub = field_type(f);
        subdata = static_cast<char *>(data) + f->offset;
        break;
    }
    case STRUCTS_TYPE_UNION: {
        void *udata = data;
        const structs_type *t = find_union(type, name, len, rest, &udata, set_union);
        if (t) *datap = udata;
        return t;
    }
    default:
        STRUCTS_ASSERT(0 && "unknown structs type class");
    }
    sub = find(sub, rest, &subdata, set_union);
    if (sub) *datap = subdata;
    return sub;
}

const structs_type *find_union(const structs_type *type, const char *comp, size_t len,
                               const char *rest, void **datap, int set_union) {
    auto *un = static_cast<structs_union *>(*datap);
    if (len == strlen("field_name") && strncmp(comp, "field_name", len) == 0) {
        void *sub = &un->field_name;
        const structs_type *t = find(&k_union_field_name_type, rest, &sub, set_union);
        if (t) *datap = sub;
        return t;
    }
    const structs_ufield *current = find_ufield(type, un->field_name, strlen(un->field_name));
    STRUCTS_ASSERT(current != nullptr);
    if (strncmp(current->name, comp, len) == 0 && current->name[len] == '\0') {
        void *sub = un->un;
        const structs_type *t = find(current->type, rest, &sub, set_union);
        if (t) *datap = sub;
        return t;
    }
    const structs_ufield *wanted = find_ufield(type, comp, len);
    if (wanted == nullptr || !set_union) {
        errno = ENOENT;
        return nullptr;
    }
    const char *mtype = type->args[1].s;
    void *value = typed_mem_calloc(mtype, 1, wanted->type->size ? wanted->type->size : 1);
    if (value == nullptr) return nullptr;
    if (wanted->type->init(wanted->type, value) == -1) {
        typed_mem_free(mtype, value);
        return nullptr;
    }
    void *sub = value;
    const structs_type *t = find(wanted->type, rest, &sub, set_union);
    if (t == nullptr) {
        int saved = errno;
        wanted->type->uninit(wanted->type, value);
        typed_mem_free(mtype, value);
        errno = saved;
        return nullptr;
    }
    current->type->uninit(current->type, un->un);
    typed_mem_free(mtype, un->un);
    un->field_name = wanted->name;
    un->un = value;
    *datap = sub;
    return t;
}

struct NameList {
    char **names = nullptr;
    unsigned count = 0;
    unsigned cap = 0;
    const char *mtype;
};

int append(NameList *list, const char *name) {
    if (list->count == list->cap) {
        unsigned cap = list->cap * 2 + 64;
        auto **grown =
            static_cast<char **>(typed_mem_realloc(list->mtype, list->names, cap * sizeof(char *)));
        if (grown == nullptr) return -1;
        list->names = grown;
        list->cap = cap;
    }
    char *copy = typed_mem_strdup(list->mtype, name);
    if (copy == nullptr) return -1;
    list->names[list->count++] = copy;
    return 0;
}

int traverse(const structs_type *type, const void *data, const char *prefix, NameList *list);

// Visits one member under the joined name, which lives only while its subtree is visited.
int visit(const structs_type *type, const void *data, NameList *list, const char *fmt,
          const char *prefix, const char *sep, const char *member, int index) {
    char *name;
    int r = member ? typed_mem_asprintf(list->mtype, &name, fmt, prefix, sep, member)
                   : typed_mem_asprintf(list->mtype, &name, fmt, prefix, sep, index);
    if (r == -1) return -1;
    r = traverse(type, data, name, list);
    typed_mem_free(list->mtype, name);
    return r;
}

int traverse(const structs_type *type, const void *data, const char *prefix, NameList *list) {
    void *p = const_cast<void *>(data);
    type = follow_pointers(type, &p);
    if (type == nullptr) return -1;
    const char *sep = *prefix ? "." : "";
    switch (type->tclass) {
    case STRUCTS_TYPE_PRIMITIVE:
        return append(list, prefix);
    case STRUCTS_TYPE_STRUCTURE:
        for (auto *f = static_cast<const structs_field *>(type->args[0].v); f->name; f++)
            if (visit(f->type, static_cast<const char *>(p) + f->offset, list, "%s%s%s", prefix,
                      sep, f->name, 0) == -1)
                return -1;
        return 0;
    case STRUCTS_TYPE_ARRAY:
    case STRUCTS_TYPE_FIXEDARRAY: {
        auto *etype = static_cast<const structs_type *>(type->args[0].v);
        const char *elems;
        uint64_t n;
        if (type->tclass == STRUCTS_TYPE_ARRAY) {
            auto *ary = static_cast<const structs_array *>(p);
            elems = static_cast<const char *>(ary->elems);
            n = ary->length;
        } else {
            elems = static_cast<const char *>(p);
            n = static_cast<uint64_t>(type->args[2].i);
        }
        for (uint64_t i = 0; i < n; i++)
            if (visit(etype, elems + i * etype->size, list, "%s%s%d", prefix, sep, nullptr,
                      static_cast<int>(i)) == -1)
                return -1;
        return 0;
    }
    case STRUCTS_TYPE_UNION: {
        auto *un = static_cast<const structs_union *>(p);
        const structs_ufield *f = find_ufield(type, un->field_name, strlen(un->field_name));
        STRUCTS_ASSERT(f != nullptr);
        return visit(f->type, un->un, list, "%s%s%s", prefix, sep, f->name, 0);
    }
    default:
        STRUCTS_ASSERT(0 && "unknown structs type class");
    }
}

// A value built in a temporary block replaces the old value only once it is complete.
int replace(const structs_type *ftype, void *field, void *fresh) {
    ftype->uninit(ftype, field);
    memcpy(field, fresh, ftype->size);
    typed_mem_free("TEMPORARY", fresh);
    return 0;
}

const structs_type *find_array(const structs_type *type, const char *name, void **datap) {
    const structs_type *t = find(type, name, datap, 0);
    if (t && t->tclass != STRUCTS_TYPE_ARRAY) {
        errno = EINVAL;
        return nullptr;
    }
    return t;
}

} // namespace

const structs_type *structs_find(const structs_type *type, const char *name, void **datap,
                                 int set_union) {
    return find(type, name, datap, set_union);
}

char *structs_get_string(const structs_type *type, const char *name, const void *data,
                         const char *mtype) {
    void *p = const_cast<void *>(data);
    type = find(type, name, &p, 0);
    return type ? type->ascify(type, mtype, p) : nullptr;
}

int structs_set_string(const structs_type *type, const char *name, const char *ascii, void *data,
                       char *ebuf, size_t emax) {
    char local[1];
    if (ebuf == nullptr) {
        ebuf = local;
        emax = sizeof local;
    }
    if (emax > 0) ebuf[0] = '\0';
    if (ascii == nullptr) ascii = "";
    void *p = data;
    type = find(type, name, &p, 1);
    if (type && type->binify(type, ascii, p, ebuf, emax) == 0) return 0;
    if (emax > 0 && ebuf[0] == '\0') structs_set_error(ebuf, emax, "%s", plat_ErrnoText(errno));
    return -1;
}

int structs_init(const structs_type *type, const char *name, void *data) {
    type = find(type, name, &data, 0);
    return type ? type->init(type, data) : -1;
}

int structs_free(const structs_type *type, const char *name, void *data) {
    const int saved = errno;
    type = find(type, name, &data, 0);
    if (type) type->uninit(type, data);
    errno = saved;
    return type ? 0 : -1;
}

int structs_traverse(const structs_type *type, const void *data, char ***listp, const char *mtype) {
    NameList list;
    list.mtype = mtype;
    if (traverse(type, data, "", &list) == -1) {
        const int saved = errno;
        for (unsigned i = 0; i < list.count; i++)
            typed_mem_free(mtype, list.names[i]);
        typed_mem_free(mtype, list.names);
        errno = saved;
        return -1;
    }
    *listp = list.names;
    return static_cast<int>(list.count);
}

int structs_equal(const structs_type *type, const char *name, const void *data1,
                  const void *data2) {
    void *p1 = const_cast<void *>(data1), *p2 = const_cast<void *>(data2);
    const structs_type *t1 = find(type, name, &p1, 0);
    if (t1 == nullptr || find(type, name, &p2, 0) == nullptr) return -1;
    return t1->equal(t1, p1, p2);
}

int structs_get(const structs_type *type, const char *name, const void *from, void *to) {
    void *p = const_cast<void *>(from);
    type = find(type, name, &p, 0);
    return type ? type->copy(type, p, to) : -1;
}

int structs_set(const structs_type *type, const void *from, const char *name, void *to) {
    type = find(type, name, &to, 1);
    if (type == nullptr) return -1;
    void *fresh = typed_mem_realloc("TEMPORARY", nullptr, type->size);
    if (fresh == nullptr) return -1;
    if (type->copy(type, from, fresh) == -1) {
        typed_mem_free("TEMPORARY", fresh);
        return -1;
    }
    return replace(type, to, fresh);
}

int structs_reset(const structs_type *type, const char *name, void *data) {
    type = find(type, name, &data, 1);
    if (type == nullptr) return -1;
    void *fresh = typed_mem_realloc("TEMPORARY", nullptr, type->size);
    if (fresh == nullptr) return -1;
    if (type->init(type, fresh) == -1) {
        typed_mem_free("TEMPORARY", fresh);
        return -1;
    }
    return replace(type, data, fresh);
}

int structs_get_binary(const structs_type *type, const char *name, const void *data,
                       const char *mtype, structs_data *code) {
    void *p = const_cast<void *>(data);
    type = find(type, name, &p, 0);
    return type ? type->encode(type, mtype, code, p) : -1;
}

int structs_set_binary(const structs_type *type, const char *name, const structs_data *code,
                       void *data, char *ebuf, size_t emax) {
    if (emax > 0 && ebuf) ebuf[0] = '\0';
    type = find(type, name, &data, 1);
    if (type == nullptr) {
        structs_set_error(ebuf, emax, "%s", plat_ErrnoText(errno));
        return -1;
    }
    void *fresh = typed_mem_realloc("TEMPORARY", nullptr, type->size);
    if (fresh == nullptr) return -1;
    int used = type->decode(type, code->data, code->length, fresh, ebuf, emax);
    if (used == -1) {
        typed_mem_free("TEMPORARY", fresh);
        return -1;
    }
    replace(type, data, fresh);
    return used;
}

int structs_array_length(const structs_type *type, const char *name, const void *data) {
    void *p = const_cast<void *>(data);
    if (find_array(type, name, &p) == nullptr) return -1;
    return static_cast<int>(static_cast<structs_array *>(p)->length);
}

int structs_array_insert(const structs_type *type, const char *name, unsigned index, void *data) {
    type = find_array(type, name, &data);
    if (type == nullptr) return -1;
    auto *ary = static_cast<structs_array *>(data);
    auto *etype = static_cast<const structs_type *>(type->args[0].v);
    if (index > ary->length) {
        errno = EDOM;
        return -1;
    }
    const size_t esize = etype->size;
    auto *elems = static_cast<char *>(
        typed_mem_realloc(type->args[1].s, ary->elems, (size_t{ary->length} + 1) * esize));
    if (elems == nullptr) return -1;
    ary->elems = elems;
    memmove(elems + (index + 1) * esize, elems + index * esize, (ary->length - index) * esize);
    if (etype->init(etype, elems + index * esize) == -1) {
        memmove(elems + index * esize, elems + (index + 1) * esize, (ary->length - index) * esize);
        return -1;
    }
    ary->length++;
    return 0;
}

int structs_array_delete(const structs_type *type, const char *name, unsigned index, void *data) {
    type = find_array(type, name, &data);
    if (type == nullptr) return -1;
    auto *ary = static_cast<structs_array *>(data);
    auto *etype = static_cast<const structs_type *>(type->args[0].v);
    if (index >= ary->length) {
        errno = EDOM;
        return -1;
    }
    const size_t esize = etype->size;
    auto *elems = static_cast<char *>(ary->elems);
    etype->uninit(etype, elems + index * esize);
    memmove(elems + index * esize, elems + (index + 1) * esize, (ary->length - index - 1) * esize);
    ary->length--;
    return 0;
}

int structs_array_setsize(const structs_type *type, const char *name, unsigned nitems, void *data,
                          int do_init) {
    type = find_array(type, name, &data);
    if (type == nullptr) return -1;
    auto *ary = static_cast<structs_array *>(data);
    auto *etype = static_cast<const structs_type *>(type->args[0].v);
    const size_t esize = etype->size;
    auto *elems = static_cast<char *>(ary->elems);
    while (ary->length > nitems) {
        ary->length--;
        etype->uninit(etype, elems + ary->length * esize);
    }
    if (nitems == ary->length) return 0;
    elems = static_cast<char *>(typed_mem_realloc(type->args[1].s, elems, nitems * esize));
    if (elems == nullptr) return -1;
    ary->elems = elems;
    memset(elems + ary->length * esize, 0, (nitems - ary->length) * esize);
    for (; ary->length < nitems; ary->length++)
        if (do_init && etype->init(etype, elems + ary->length * esize) == -1)
            return -1; // the elements initialised so far stay, the array stays consistent
    return 0;
}

int structs_array_reset(const structs_type *type, const char *name, void *data) {
    type = find_array(type, name, &data);
    if (type == nullptr) return -1;
    type->uninit(type, data);
    return 0;
}

int structs_array_prep(const structs_type *type, const char *name, void *data) {
    std::string path = name ? name : "";
    size_t pos = 0;
    while (pos < path.size()) {
        size_t dot = path.find('.', pos);
        std::string comp =
            path.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
        type = follow_pointers(type, &data);
        if (type == nullptr) return -1;
        uint64_t index;
        if (type->tclass == STRUCTS_TYPE_ARRAY && parse_index(comp.c_str(), comp.size(), &index)) {
            auto *ary = static_cast<structs_array *>(data);
            if (index >= UINT32_MAX) {
                errno = EDOM;
                return -1;
            }
            if (index >= ary->length &&
                structs_array_setsize(type, nullptr, static_cast<unsigned>(index + 1), data, 1) ==
                    -1)
                return -1;
        }
        type = find(type, comp.c_str(), &data, 1);
        if (type == nullptr) return -1;
        if (dot == std::string::npos) break;
        pos = dot + 1;
    }
    return 0;
}
