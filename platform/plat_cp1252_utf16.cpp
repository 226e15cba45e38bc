#include "plat_cp1252.h"

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
        out += static_cast<char>(plat_CodePointToCp1252(u));
    }
    return out;
}
