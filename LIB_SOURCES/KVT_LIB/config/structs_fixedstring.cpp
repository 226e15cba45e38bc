// "fixedstring" of the configuration records: the whole width holds text.
#include "structs_chan.h"

#include <cerrno>
#include <cstring>

const structs_type structs_chan_fixedstring32 = STRUCTS_CHAN_FIXEDSTRING_TYPE(32);

int structs_fixedstring_equal(const structs_type *type, const void *a, const void *b) {
    return strncmp(static_cast<const char *>(a), static_cast<const char *>(b), type->size) == 0 ? 1
                                                                                                : 0;
}

char *structs_fixedstring_ascify(const structs_type *type, const char *mtype, const void *data) {
    const char *field = static_cast<const char *>(data);
    size_t length = strnlen(field, type->size);
    char *text = static_cast<char *>(typed_mem_realloc(mtype, nullptr, length + 1));
    if (text == nullptr) return nullptr;
    memcpy(text, field, length);
    text[length] = '\0';
    return text;
}

int structs_fixedstring_binify(const structs_type *type, const char *ascii, void *data, char *,
                               size_t) {
    const char *text = ascii != nullptr ? ascii : "";
    char *field = static_cast<char *>(data);
    size_t length = strlen(text);
    if (length >= type->size) {
        memcpy(field, text, type->size);
    } else {
        // The NUL ends a shorter text; bytes behind it stay as they were.
        memcpy(field, text, length + 1);
    }
    return 0;
}

int structs_fixedstring_encode(const structs_type *type, const char *mtype, structs_data *code,
                               const void *data) {
    const char *field = static_cast<const char *>(data);
    size_t length = strnlen(field, type->size);
    auto *bytes = static_cast<uint8_t *>(typed_mem_realloc(mtype, nullptr, length + 1));
    if (bytes == nullptr) return -1;
    memcpy(bytes, field, length);
    bytes[length] = 0;
    code->data = bytes;
    code->length = static_cast<uint32_t>(length + 1);
    return 0;
}

int structs_fixedstring_decode(const structs_type *type, const uint8_t *code, size_t cmax,
                               void *data, char *ebuf, size_t emax) {
    const void *nul = memchr(code, 0, cmax);
    if (nul == nullptr) {
        structs_set_error(ebuf, emax, "encoded string is truncated");
        errno = EINVAL;
        return -1;
    }
    size_t length = static_cast<size_t>(static_cast<const uint8_t *>(nul) - code);
    memset(data, 0, type->size);
    structs_fixedstring_binify(type, reinterpret_cast<const char *>(code), data, ebuf, emax);
    return static_cast<int>(length + 1);
}
