#include "base64.h"

#include "typed_mem.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

const char b64_rfc4648_charset[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

namespace {

const char *const k_mtype = "b64_filter";

struct Codec : filter {
    char alphabet[65];
    int8_t value[256]; // -1 outside the alphabet
    std::string out;   // converted bytes not yet read
    uint32_t group;    // bits gathered so far
    int bits;          // count of 6-bit (decoder) or 8-bit (encoder) units in group
    bool padded;
};

int codec_read(filter *f, void *buf, int count) {
    auto *c = static_cast<Codec *>(f);
    const int n = static_cast<int>(c->out.size()) < count ? static_cast<int>(c->out.size()) : count;
    memcpy(buf, c->out.data(), static_cast<size_t>(n));
    c->out.erase(0, static_cast<size_t>(n));
    return n;
}

void codec_destroy(filter **fp) {
    auto *c = static_cast<Codec *>(*fp);
    if (c == nullptr) return;
    c->~Codec();
    typed_mem_free(k_mtype, c);
    *fp = nullptr;
}

int encoder_write(filter *f, const void *data, int len) {
    auto *c = static_cast<Codec *>(f);
    const auto *p = static_cast<const uint8_t *>(data);
    for (int i = 0; i < len; i++) {
        c->group = (c->group << 8) | p[i];
        if (++c->bits == 3) {
            for (int shift = 18; shift >= 0; shift -= 6)
                c->out.push_back(c->alphabet[(c->group >> shift) & 0x3f]);
            c->group = 0;
            c->bits = 0;
        }
    }
    return len;
}

int encoder_end(filter *f) {
    auto *c = static_cast<Codec *>(f);
    if (c->bits == 0) return 0;
    const uint32_t g = c->group << (8 * (3 - c->bits));
    const int chars = c->bits + 1;
    for (int i = 0; i < 4; i++)
        c->out.push_back(i < chars ? c->alphabet[(g >> (18 - 6 * i)) & 0x3f] : c->alphabet[64]);
    c->group = 0;
    c->bits = 0;
    return 0;
}

int decoder_write(filter *f, const void *data, int len) {
    auto *c = static_cast<Codec *>(f);
    const auto *p = static_cast<const uint8_t *>(data);
    for (int i = 0; i < len && !c->padded; i++) {
        const uint8_t ch = p[i];
        if (ch == static_cast<uint8_t>(c->alphabet[64])) {
            c->padded = true;
            break;
        }
        if (ch == ' ' || (ch >= '\t' && ch <= '\r')) continue;
        if (c->value[ch] < 0) {
            errno = EINVAL;
            return -1;
        }
        c->group = (c->group << 6) | static_cast<uint32_t>(c->value[ch]);
        if (++c->bits == 4) {
            c->out.push_back(static_cast<char>(c->group >> 16));
            c->out.push_back(static_cast<char>(c->group >> 8));
            c->out.push_back(static_cast<char>(c->group));
            c->group = 0;
            c->bits = 0;
        }
    }
    return len;
}

int decoder_end(filter *f) {
    auto *c = static_cast<Codec *>(f);
    // Two characters carry one byte, three carry two; a single one carries nothing whole.
    if (c->bits >= 2) {
        const uint32_t g = c->group << (6 * (4 - c->bits));
        c->out.push_back(static_cast<char>(g >> 16));
        if (c->bits == 3) c->out.push_back(static_cast<char>(g >> 8));
    }
    c->group = 0;
    c->bits = 0;
    return 0;
}

filter *create(const char *charset, bool encoder) {
    if (charset == nullptr) charset = b64_rfc4648_charset;
    if (strlen(charset) != 65) {
        errno = EINVAL;
        return nullptr;
    }
    void *mem = typed_mem_calloc(k_mtype, 1, sizeof(Codec));
    if (mem == nullptr) return nullptr;
    auto *c = new (mem) Codec();
    memcpy(c->alphabet, charset, 65);
    memset(c->value, -1, sizeof c->value);
    for (int i = 0; i < 64; i++) {
        const auto ch = static_cast<uint8_t>(charset[i]);
        if (c->value[ch] >= 0 || ch == static_cast<uint8_t>(charset[64])) {
            filter *f = c;
            codec_destroy(&f);
            errno = EINVAL;
            return nullptr;
        }
        c->value[ch] = static_cast<int8_t>(i);
    }
    c->write = encoder ? encoder_write : decoder_write;
    c->read = codec_read;
    c->end = encoder ? encoder_end : decoder_end;
    c->destroy = codec_destroy;
    return c;
}

} // namespace

struct filter *b64_encoder_create(const char *charset) {
    return create(charset, true);
}

struct filter *b64_decoder_create(const char *charset) {
    return create(charset, false);
}
