#include "structs_type_string.h"

#include <cerrno>
#include <cstring>

namespace {

const char *stored(const void *data) {
    const char *s;
    memcpy(&s, data, sizeof s);
    return s;
}

void store(void *data, char *s) {
    memcpy(data, &s, sizeof s);
}

bool as_null(const structs_type *type) {
    return type->args[1].i != 0;
}

} // namespace

int structs_string_init(const structs_type *type, void *data) {
    if (as_null(type)) {
        store(data, nullptr);
        return 0;
    }
    char *s = typed_mem_strdup(type->args[0].s, "");
    if (s == nullptr) return -1;
    store(data, s);
    return 0;
}

int structs_string_equal(const structs_type *type, const void *a, const void *b) {
    const char *s1 = stored(a), *s2 = stored(b);
    if (as_null(type)) {
        s1 = s1 ? s1 : "";
        s2 = s2 ? s2 : "";
    } else if (s1 == nullptr || s2 == nullptr) {
        return s1 == s2;
    }
    return strcmp(s1, s2) == 0;
}

char *structs_string_ascify(const structs_type *, const char *mtype, const void *data) {
    const char *s = stored(data);
    return typed_mem_strdup(mtype, s ? s : "");
}

int structs_string_binify(const structs_type *type, const char *ascii, void *data, char *, size_t) {
    char *copy = nullptr;
    if (!(as_null(type) && *ascii == '\0')) {
        copy = typed_mem_strdup(type->args[0].s, ascii);
        if (copy == nullptr) return -1;
    }
    // binify replaces an initialised value
    typed_mem_free(type->args[0].s, const_cast<char *>(stored(data)));
    store(data, copy);
    return 0;
}

int structs_string_encode(const structs_type *type, const char *mtype, structs_data *code,
                          const void *data) {
    char *text = type->ascify(type, "TEMPORARY", data);
    if (text == nullptr) return -1;
    const size_t len = strlen(text) + 1;
    auto *bytes = static_cast<uint8_t *>(typed_mem_realloc(mtype, nullptr, len));
    if (bytes == nullptr) {
        typed_mem_free("TEMPORARY", text);
        return -1;
    }
    memcpy(bytes, text, len);
    typed_mem_free("TEMPORARY", text);
    code->data = bytes;
    code->length = static_cast<uint32_t>(len);
    return 0;
}

int structs_string_decode(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                          char *ebuf, size_t emax) {
    const void *nul = memchr(code, '\0', cmax);
    if (nul == nullptr) {
        structs_set_error(ebuf, emax, "encoded string is truncated");
        errno = EINVAL;
        return -1;
    }
    // Decoding fills uninitialised storage; the text types' binify expects a value to replace.
    if (type->init(type, data) == -1) return -1;
    if (type->binify(type, reinterpret_cast<const char *>(code), data, ebuf, emax) == -1) {
        type->uninit(type, data);
        return -1;
    }
    return static_cast<int>(static_cast<const uint8_t *>(nul) - code + 1);
}

void structs_string_free(const structs_type *type, void *data) {
    typed_mem_free(type->args[0].s, const_cast<char *>(stored(data)));
    store(data, nullptr);
}

int structs_boundedstring_equal(const structs_type *type, const void *a, const void *b) {
    return strncmp(static_cast<const char *>(a), static_cast<const char *>(b), type->size) == 0;
}

char *structs_boundedstring_ascify(const structs_type *type, const char *mtype, const void *data) {
    const auto *s = static_cast<const char *>(data);
    const size_t len = strnlen(s, type->size);
    auto *copy = static_cast<char *>(typed_mem_realloc(mtype, nullptr, len + 1));
    if (copy == nullptr) return nullptr;
    memcpy(copy, s, len);
    copy[len] = '\0';
    return copy;
}

int structs_boundedstring_binify(const structs_type *type, const char *ascii, void *data,
                                 char *ebuf, size_t emax) {
    const size_t len = strlen(ascii);
    if (len + 1 > type->size) {
        structs_set_error(ebuf, emax, "string is too long for bounded length buffer");
        return -1;
    }
    memcpy(data, ascii, len + 1);
    return 0;
}

const structs_type structs_type_string = STRUCTS_STRING_TYPE("structs_type_string", 0);
const structs_type structs_type_string_null = STRUCTS_STRING_TYPE("structs_type_string", 1);
