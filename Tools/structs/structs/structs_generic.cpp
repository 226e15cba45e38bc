// Methods shared by every type that has nothing of its own for a slot.
#include "structs.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

void structs_set_error(char *ebuf, size_t emax, const char *fmt, ...) {
    if (ebuf == nullptr || emax == 0) return;
    va_list args;
    va_start(args, fmt);
    vsnprintf(ebuf, emax, fmt, args);
    va_end(args);
}

int structs_region_init(const structs_type *type, void *data) {
    memset(data, 0, type->size);
    return 0;
}

int structs_region_copy(const structs_type *type, const void *from, void *to) {
    memmove(to, from, type->size);
    return 0;
}

int structs_region_equal(const structs_type *type, const void *a, const void *b) {
    return memcmp(a, b, type->size) == 0;
}

int structs_region_encode(const structs_type *type, const char *mtype, structs_data *code,
                          const void *data) {
    auto *bytes = static_cast<uint8_t *>(typed_mem_realloc(mtype, nullptr, type->size));
    if (bytes == nullptr) return -1;
    memcpy(bytes, data, type->size);
    code->data = bytes;
    code->length = type->size;
    return 0;
}

int structs_region_decode(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                          char *ebuf, size_t emax) {
    if (cmax < type->size) {
        structs_set_error(ebuf, emax, "encoded data is truncated");
        errno = EINVAL;
        return -1;
    }
    memcpy(data, code, type->size);
    return static_cast<int>(type->size);
}

// The host is little-endian: byte k of a value has significance k. The network form puts the
// most significant byte first.
int structs_region_encode_netorder(const structs_type *type, const char *mtype, structs_data *code,
                                   const void *data) {
    const uint32_t n = type->size;
    auto *bytes = static_cast<uint8_t *>(typed_mem_realloc(mtype, nullptr, n));
    if (bytes == nullptr) return -1;
    const auto *value = static_cast<const uint8_t *>(data);
    for (uint32_t pos = 0; pos < n; pos++)
        bytes[pos] = value[n - 1 - pos]; // significance n-1-pos at network position pos
    code->data = bytes;
    code->length = n;
    return 0;
}

int structs_region_decode_netorder(const structs_type *type, const uint8_t *code, size_t cmax,
                                   void *data, char *ebuf, size_t emax) {
    const uint32_t n = type->size;
    if (n > 16) {
        errno = ERANGE;
        return -1;
    }
    if (cmax < n) {
        structs_set_error(ebuf, emax, "encoded data is truncated");
        errno = EINVAL;
        return -1;
    }
    uint8_t value[16];
    for (uint32_t pos = 0; pos < n; pos++)
        value[n - 1 - pos] = code[pos];
    memcpy(data, value, n);
    return static_cast<int>(n);
}

void structs_nothing_free(const structs_type *, void *) {}

int structs_ascii_copy(const structs_type *type, const void *from, void *to) {
    char *text = type->ascify(type, "TEMPORARY", from);
    if (text == nullptr) return -1;
    // The destination is uninitialised, but binify replaces a value (an allocated text frees
    // its old block): zero bytes read as an empty value to every type.
    memset(to, 0, type->size);
    int r = type->binify(type, text, to, nullptr, 0);
    typed_mem_free("TEMPORARY", text);
    return r;
}

int structs_notsupp_init(const structs_type *, void *) {
    errno = KVT_ENOTSUPP;
    return -1;
}

int structs_notsupp_copy(const structs_type *, const void *, void *) {
    errno = KVT_ENOTSUPP;
    return -1;
}

int structs_notsupp_equal(const structs_type *, const void *, const void *) {
    errno = KVT_ENOTSUPP;
    return -1;
}

char *structs_notsupp_ascify(const structs_type *, const char *, const void *) {
    errno = KVT_ENOTSUPP;
    return nullptr;
}

int structs_notsupp_binify(const structs_type *, const char *, void *, char *ebuf, size_t emax) {
    structs_set_error(ebuf, emax, "parsing from ASCII is not supported by this structs type");
    errno = KVT_ENOTSUPP;
    return -1;
}

int structs_notsupp_encode(const structs_type *, const char *, structs_data *, const void *) {
    errno = KVT_ENOTSUPP;
    return -1;
}

int structs_notsupp_decode(const structs_type *, const uint8_t *, size_t, void *, char *ebuf,
                           size_t emax) {
    structs_set_error(ebuf, emax, "binary decoding is not supported by this structs type");
    errno = KVT_ENOTSUPP;
    return -1;
}
