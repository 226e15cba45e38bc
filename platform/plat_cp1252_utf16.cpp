#include "plat_cp1252.h"

namespace {
// The byte of a code point, found through the one table; -1 when Windows-1252 has none.
int narrow(uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (int b = 0x80; b < 0xA0; ++b)
        if (plat_Cp1252ToCodePoint(static_cast<uint8_t>(b)) == cp) return b;
    return -1;
}
} // namespace

std::u16string plat_Cp1252ToUtf16(const std::string &text) {
    std::u16string out;
    out.reserve(text.size());
    for (char c : text)
        out += static_cast<char16_t>(plat_Cp1252ToCodePoint(static_cast<uint8_t>(c)));
    return out;
}

std::string plat_Utf16ToCp1252(const std::u16string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;
            out += '?';
            continue;
        }
        int b = narrow(u);
        out += b >= 0 ? static_cast<char>(b) : '?';
    }
    return out;
}
