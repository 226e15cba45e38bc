#include "structs_composite.h"

#include <cerrno>
#include <cstring>

namespace {

// A default value of one type in a "TEMPORARY" block, made once for a run of members of that
// type (the elements of an array).
class DefaultValue {
public:
    ~DefaultValue() { release(); }

    const void *get(const structs_type *type) {
        if (type == m_type) return m_value;
        release();
        m_value = typed_mem_realloc("TEMPORARY", nullptr, type->size);
        if (m_value == nullptr) return nullptr;
        if (type->init(type, m_value) == -1) {
            typed_mem_free("TEMPORARY", m_value);
            m_value = nullptr;
            return nullptr;
        }
        m_type = type;
        return m_value;
    }

private:
    void release() {
        if (m_type) {
            const int saved = errno;
            m_type->uninit(m_type, m_value);
            typed_mem_free("TEMPORARY", m_value);
            errno = saved;
        }
        m_type = nullptr;
        m_value = nullptr;
    }

    const structs_type *m_type = nullptr;
    void *m_value = nullptr;
};

} // namespace

int structs_composite_encode(const char *mtype, structs_data *code, const uint8_t *prefix,
                             size_t prefixlen, const std::vector<structs_member> &members) {
    const size_t bitmaplen = (members.size() + 7) / 8;
    std::vector<uint8_t> bitmap(bitmaplen, 0);
    std::vector<structs_data> parts;
    auto free_parts = [&parts] {
        for (structs_data &p : parts)
            typed_mem_free("TEMPORARY", p.data);
    };
    size_t total = prefixlen + bitmaplen;
    {
        DefaultValue def;
        for (size_t j = 0; j < members.size(); j++) {
            const structs_member &m = members[j];
            const void *dflt = def.get(m.type);
            if (dflt == nullptr) {
                free_parts();
                return -1;
            }
            if (m.type->equal(m.type, m.data, dflt) == 1) continue;
            structs_data part{0, nullptr};
            if (m.type->encode(m.type, "TEMPORARY", &part, m.data) == -1) {
                free_parts();
                return -1;
            }
            parts.push_back(part);
            bitmap[j / 8] |= static_cast<uint8_t>(1u << (j % 8));
            total += part.length;
        }
    }
    if (total > UINT32_MAX) {
        free_parts();
        errno = ERANGE;
        return -1;
    }
    auto *out = static_cast<uint8_t *>(typed_mem_realloc(mtype, nullptr, total));
    if (out == nullptr) {
        free_parts();
        return -1;
    }
    size_t pos = 0;
    if (prefixlen) memcpy(out, prefix, prefixlen);
    pos += prefixlen;
    if (bitmaplen) memcpy(out + pos, bitmap.data(), bitmaplen);
    pos += bitmaplen;
    for (const structs_data &p : parts) {
        if (p.length) memcpy(out + pos, p.data, p.length);
        pos += p.length;
    }
    free_parts();
    code->data = out;
    code->length = static_cast<uint32_t>(total);
    return 0;
}

void structs_composite_undo(const std::vector<structs_member> &members, size_t count) {
    const int saved = errno;
    while (count > 0) {
        count--;
        members[count].type->uninit(members[count].type, members[count].data);
    }
    errno = saved;
}

int structs_composite_decode(const uint8_t *code, size_t cmax, size_t count,
                             const std::function<structs_member(size_t)> &member,
                             const char *truncated, char *ebuf, size_t emax) {
    const size_t bitmaplen = (count + 7) / 8;
    if (cmax < bitmaplen) {
        structs_set_error(ebuf, emax, "%s", truncated);
        errno = EINVAL;
        return -1;
    }
    size_t pos = bitmaplen;
    for (size_t j = 0; j < count; j++) {
        const structs_member m = member(j);
        int r;
        if (code[j / 8] & (1u << (j % 8))) {
            r = m.type->decode(m.type, code + pos, cmax - pos, m.data, ebuf, emax);
            if (r >= 0) pos += static_cast<size_t>(r);
        } else {
            r = m.type->init(m.type, m.data);
        }
        if (r == -1) {
            const int saved = errno;
            while (j > 0) {
                const structs_member done = member(--j);
                done.type->uninit(done.type, done.data);
            }
            errno = saved;
            return -1;
        }
    }
    return static_cast<int>(pos);
}
