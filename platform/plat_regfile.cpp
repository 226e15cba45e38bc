#include "plat_regfile.h"

#include "plat_registry.h"

#include <cstdio>
#include <cstdlib>

namespace {

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string escape(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '=':
            out += "\\=";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Reads an escaped text up to an unescaped stop character (or the end); returns the index
// after the text.
size_t unescape(const std::string &line, size_t pos, char stop, std::string *out) {
    out->clear();
    while (pos < line.size() && line[pos] != stop) {
        char c = line[pos++];
        if (c == '\\' && pos < line.size()) {
            char e = line[pos++];
            c = e == 'r' ? '\r' : e == 'n' ? '\n' : e;
        }
        *out += c;
    }
    return pos;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = foldAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool parseHex(const std::string &text, std::string *bytes) {
    bytes->clear();
    if (text.size() % 2 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = hexDigit(text[i]);
        int lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        *bytes += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

bool parseLine(const std::string &line, PlatRegValue *v) {
    size_t pos = unescape(line, 0, '=', &v->name);
    if (pos >= line.size()) return false;
    size_t colon = line.find(':', pos + 1);
    if (colon == std::string::npos) return false;
    std::string tag = line.substr(pos + 1, colon - pos - 1);
    std::string payload = line.substr(colon + 1);
    if (tag == "sz") {
        v->type = PLAT_REG_SZ;
        unescape(payload, 0, '\0', &v->data);
        return true;
    }
    if (tag == "dword") {
        char *end = nullptr;
        unsigned long long n = strtoull(payload.c_str(), &end, 10);
        if (payload.empty() || *end != '\0' || n > 0xFFFFFFFFull) return false;
        uint32_t d = static_cast<uint32_t>(n);
        v->type = PLAT_REG_DWORD;
        v->data.assign(reinterpret_cast<const char *>(&d), 4);
        return true;
    }
    if (tag == "hex") {
        v->type = PLAT_REG_BINARY;
        return parseHex(payload, &v->data);
    }
    if (tag.size() > 5 && tag.compare(0, 4, "hex(") == 0 && tag.back() == ')') {
        char *end = nullptr;
        unsigned long n = strtoul(tag.c_str() + 4, &end, 10);
        if (*end != ')') return false;
        v->type = static_cast<uint32_t>(n);
        return parseHex(payload, &v->data);
    }
    return false;
}

std::string hexOf(const std::string &bytes) {
    std::string out;
    char two[3];
    for (char c : bytes) {
        snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(c));
        out += two;
    }
    return out;
}

} // namespace

void plat_RegFileParse(const std::string &text, std::vector<PlatRegValue> *values) {
    values->clear();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        PlatRegValue v;
        if (!line.empty() && parseLine(line, &v) && plat_RegFileFind(*values, v.name) == nullptr)
            values->push_back(std::move(v));
        pos = end + 1;
    }
}

std::string plat_RegFileFormat(const std::vector<PlatRegValue> &values) {
    std::string out;
    for (const PlatRegValue &v : values) {
        out += escape(v.name);
        out += '=';
        if (v.type == PLAT_REG_SZ) {
            out += "sz:" + escape(v.data);
        } else if (v.type == PLAT_REG_DWORD && v.data.size() == 4) {
            uint32_t d = 0;
            for (int i = 3; i >= 0; --i)
                d = (d << 8) | static_cast<unsigned char>(v.data[static_cast<size_t>(i)]);
            out += "dword:" + std::to_string(d);
        } else if (v.type == PLAT_REG_BINARY) {
            out += "hex:" + hexOf(v.data);
        } else {
            out += "hex(" + std::to_string(v.type) + "):" + hexOf(v.data);
        }
        out += '\n';
    }
    return out;
}

PlatRegValue *plat_RegFileFind(std::vector<PlatRegValue> &values, const std::string &name) {
    for (PlatRegValue &v : values)
        if (plat_EqualNoCase(v.name, name)) return &v;
    return nullptr;
}

bool plat_EqualNoCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    return true;
}
