#include "plat_cp1252.h"

namespace {
// Code points of the bytes 0x80-0x9F; the rest of the table is the identity.
constexpr uint16_t k_high[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

int byteOf(uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i)
        if (k_high[i] == cp) return 0x80 + i;
    return -1;
}

void appendUtf8(std::string &out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}
} // namespace

uint32_t plat_Cp1252ToCodePoint(uint8_t byte) {
    return byte >= 0x80 && byte < 0xA0 ? k_high[byte - 0x80] : byte;
}

uint8_t plat_CodePointToCp1252(uint32_t codePoint) {
    int byte = byteOf(codePoint);
    return static_cast<uint8_t>(byte >= 0 ? byte : '?');
}

namespace {
bool allAscii(const std::string &text) {
    for (char c : text)
        if (static_cast<uint8_t>(c) >= 0x80) return false;
    return true;
}
} // namespace

std::string plat_Cp1252ToUtf8(const std::string &text) {
    if (allAscii(text)) return text;
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        uint8_t b = static_cast<uint8_t>(c);
        if (b < 0x80)
            out += c;
        else
            appendUtf8(out, plat_Cp1252ToCodePoint(b));
    }
    return out;
}

std::string plat_Utf8ToCp1252(const std::string &text) {
    if (allAscii(text)) return text;
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        uint8_t b = static_cast<uint8_t>(text[i]);
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        int extra = b >= 0xF0 && b < 0xF8 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
        if (b >= 0xF8) extra = -1;
        uint32_t cp = extra == 3 ? (b & 0x07u) : extra == 2 ? (b & 0x0Fu) : (b & 0x1Fu);
        bool ok = extra > 0 && i + static_cast<size_t>(extra) < n + 1;
        for (int k = 1; ok && k <= extra; ++k) {
            if (i + static_cast<size_t>(k) >= n) {
                ok = false;
                break;
            }
            uint8_t c = static_cast<uint8_t>(text[i + static_cast<size_t>(k)]);
            if ((c & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3Fu);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        int byte = byteOf(cp);
        out += byte >= 0 ? static_cast<char>(byte) : '?';
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}
