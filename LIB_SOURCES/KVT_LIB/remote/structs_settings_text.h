// Helpers shared by the settings types' sources.
#pragma once

#include "structs.h"

#include <cerrno>
#include <cstring>
#include <string>

// The text in a new block allocated under mtype (null when there is no memory).
inline char *structs_settings_text(const char *mtype, const std::string &text) {
    auto *copy = static_cast<char *>(typed_mem_realloc(mtype, nullptr, text.size() + 1));
    if (copy == nullptr) return nullptr;
    memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// A parse failure: the message in the caller's buffer, errno 22, -1.
inline int structs_settings_fail(char *ebuf, size_t emax, const char *message) {
    structs_set_error(ebuf, emax, "%s", message);
    errno = EINVAL;
    return -1;
}

#define STRUCTS_SETTINGS_TOO_LONG "string is too long for bounded length buffer"

// Stores the text with its NUL when it fits the field, else fails with STRUCTS_SETTINGS_TOO_LONG.
inline int structs_settings_store(const structs_type *type, const std::string &text, void *data,
                                  char *ebuf, size_t emax) {
    if (text.size() + 1 > type->size)
        return structs_settings_fail(ebuf, emax, STRUCTS_SETTINGS_TOO_LONG);
    memcpy(data, text.c_str(), text.size() + 1);
    return 0;
}

// The field's text: up to its NUL, at most the field's size.
inline std::string structs_settings_field(const structs_type *type, const void *data) {
    const auto *field = static_cast<const char *>(data);
    return std::string(field, strnlen(field, type->size));
}
