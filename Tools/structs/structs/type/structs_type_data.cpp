#include "structs_type_data.h"

#include "base64.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace {

const char *const k_mtype = "structs_data";

structs_data *value(void *data) {
    return static_cast<structs_data *>(data);
}
const structs_data *value(const void *data) {
    return static_cast<const structs_data *>(data);
}

bool is_hex(const structs_type *type) {
    return type->args[0].s && *type->args[0].s == '\0';
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Replaces the value by a copy of the bytes.
int store(void *data, const void *bytes, size_t len) {
    auto *block = static_cast<uint8_t *>(typed_mem_realloc(k_mtype, nullptr, len ? len : 1));
    if (block == nullptr) return -1;
    if (len) memcpy(block, bytes, len);
    typed_mem_free(k_mtype, value(data)->data);
    value(data)->data = block;
    value(data)->length = static_cast<uint32_t>(len);
    return 0;
}

int fail(char *ebuf, size_t emax, const char *msg) {
    structs_set_error(ebuf, emax, "%s", msg);
    errno = EINVAL;
    return -1;
}

} // namespace

int structs_data_copy(const structs_type *, const void *from, void *to) {
    value(to)->data = nullptr;
    value(to)->length = 0;
    return store(to, value(from)->data, value(from)->length);
}

int structs_data_equal(const structs_type *, const void *a, const void *b) {
    const structs_data *x = value(a), *y = value(b);
    return x->length == y->length && (x->length == 0 || memcmp(x->data, y->data, x->length) == 0);
}

char *structs_data_ascify(const structs_type *type, const char *mtype, const void *data) {
    const structs_data *d = value(data);
    if (is_hex(type)) {
        static const char digits[] = "0123456789abcdef";
        auto *text =
            static_cast<char *>(typed_mem_realloc(mtype, nullptr, size_t{d->length} * 2 + 1));
        if (text == nullptr) return nullptr;
        for (uint32_t i = 0; i < d->length; i++) {
            text[2 * i] = digits[d->data[i] >> 4];
            text[2 * i + 1] = digits[d->data[i] & 0x0f];
        }
        text[size_t{d->length} * 2] = '\0';
        return text;
    }
    filter *f = b64_encoder_create(type->args[0].s);
    if (f == nullptr) return nullptr;
    char *text = nullptr;
    int len;
    int r = filter_convert(f, d->data, static_cast<int>(d->length), mtype, &text, &len);
    f->destroy(&f);
    return r == -1 ? nullptr : text;
}

int structs_data_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                        size_t emax) {
    if (is_hex(type)) {
        std::string bytes;
        int high = -1;
        for (const char *p = ascii; *p; p++) {
            if (*p == ' ' || (*p >= '\t' && *p <= '\r')) continue;
            const int v = hex_digit(*p);
            if (v < 0) return fail(ebuf, emax, "non-hex character seen");
            if (high < 0) {
                high = v;
            } else {
                bytes.push_back(static_cast<char>(high << 4 | v));
                high = -1;
            }
        }
        if (high >= 0) return fail(ebuf, emax, "odd length hex sequence");
        return store(data, bytes.data(), bytes.size());
    }
    filter *f = b64_decoder_create(type->args[0].s);
    if (f == nullptr) return -1;
    char *bytes = nullptr;
    int len;
    int r = filter_convert(f, ascii, static_cast<int>(strlen(ascii)), "TEMPORARY", &bytes, &len);
    f->destroy(&f);
    if (r == -1) return fail(ebuf, emax, "invalid encoded binary data");
    r = store(data, bytes, static_cast<size_t>(len));
    typed_mem_free("TEMPORARY", bytes);
    return r;
}

int structs_data_encode(const structs_type *, const char *mtype, structs_data *code,
                        const void *data) {
    const structs_data *d = value(data);
    auto *out = static_cast<uint8_t *>(typed_mem_realloc(mtype, nullptr, size_t{d->length} + 4));
    if (out == nullptr) return -1;
    out[0] = static_cast<uint8_t>(d->length >> 24);
    out[1] = static_cast<uint8_t>(d->length >> 16);
    out[2] = static_cast<uint8_t>(d->length >> 8);
    out[3] = static_cast<uint8_t>(d->length);
    if (d->length) memcpy(out + 4, d->data, d->length);
    code->data = out;
    code->length = d->length + 4;
    return 0;
}

int structs_data_decode(const structs_type *, const uint8_t *code, size_t cmax, void *data,
                        char *ebuf, size_t emax) {
    if (cmax < 4) return fail(ebuf, emax, "encoded data is corrupted");
    const uint64_t len = (uint64_t{code[0]} << 24) | (uint64_t{code[1]} << 16) |
                         (uint64_t{code[2]} << 8) | uint64_t{code[3]};
    if (len > cmax - 4) return fail(ebuf, emax, "encoded data is corrupted");
    value(data)->data = nullptr;
    value(data)->length = 0;
    if (store(data, code + 4, static_cast<size_t>(len)) == -1) return -1;
    return static_cast<int>(len + 4);
}

void structs_data_free(const structs_type *, void *data) {
    typed_mem_free(k_mtype, value(data)->data);
    value(data)->data = nullptr;
    value(data)->length = 0;
}

const structs_type structs_type_data = STRUCTS_DATA_TYPE(nullptr);
const structs_type structs_type_hexdata = STRUCTS_DATA_TYPE("");
