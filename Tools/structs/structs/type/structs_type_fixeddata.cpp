#include "structs_type_fixeddata.h"

#include <cerrno>
#include <cstring>

namespace {

const char k_hex[] = "0123456789abcdef";

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

char *structs_fixeddata_ascify(const structs_type *type, const char *mtype, const void *data) {
    const auto *bytes = static_cast<const uint8_t *>(data);
    auto *text = static_cast<char *>(typed_mem_realloc(mtype, nullptr, size_t{type->size} * 2 + 1));
    if (text == nullptr) return nullptr;
    for (uint32_t i = 0; i < type->size; i++) {
        text[2 * i] = k_hex[bytes[i] >> 4];
        text[2 * i + 1] = k_hex[bytes[i] & 0x0f];
    }
    text[size_t{type->size} * 2] = '\0';
    return text;
}

int structs_fixeddata_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                             size_t emax) {
    auto *bytes = static_cast<uint8_t *>(data);
    for (uint32_t i = 0; i < type->size; i++) {
        bytes[i] = 0;
        for (int digit = 0; digit < 2; digit++) {
            while (is_space(*ascii))
                ascii++;
            const int v = hex_value(*ascii);
            if (v < 0) {
                structs_set_error(ebuf, emax, "%s",
                                  *ascii == '\0' ? "hex string is too short"
                                                 : "non-hex character seen");
                errno = EINVAL;
                return -1;
            }
            bytes[i] = static_cast<uint8_t>((bytes[i] << 4) | v);
            ascii++;
        }
    }
    while (is_space(*ascii))
        ascii++;
    if (*ascii != '\0') {
        structs_set_error(ebuf, emax, "hex string is too long");
        errno = EINVAL;
        return -1;
    }
    return 0;
}

int structs_fixeddata_encode(const structs_type *type, const char *mtype, structs_data *code,
                             const void *data) {
    return structs_region_encode(type, mtype, code, data);
}

int structs_fixeddata_decode(const structs_type *type, const uint8_t *code, size_t cmax, void *data,
                             char *ebuf, size_t emax) {
    return structs_region_decode(type, code, cmax, data, ebuf, emax);
}
