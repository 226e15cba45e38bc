#include "tr.h"

#include "plat_cp1252.h"

#include <cstdint>

namespace {
constexpr size_t k_wideChars = (TR_TAG_SIZE - 2) / 2;

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
} // namespace

void tr_SetTagText(char tag[TR_TAG_SIZE], const char16_t *text) {
    if (text == nullptr) text = u"";
    size_t length = 0;
    bool narrow = true;
    while (length < TR_TAG_SIZE && text[length] != 0) {
        if (text[length] >= 0x100) narrow = false;
        ++length;
    }
    if (narrow) {
        for (size_t i = 0; i < length; ++i)
            tag[i] = static_cast<char>(plat_CodePointToCp1252(text[i]));
        if (length < TR_TAG_SIZE) tag[length] = '\0';
        return;
    }
    tag[0] = '\0';
    tag[1] = static_cast<char>(0xFF);
    size_t count = length < k_wideChars ? length : k_wideChars;
    // Half a pair at the cut would be no character at all.
    if (count == k_wideChars && count < length && isHighSurrogate(text[count - 1])) --count;
    size_t at = 2;
    for (size_t i = 0; i < count; ++i) {
        tag[at++] = static_cast<char>(text[i] & 0xFF);
        tag[at++] = static_cast<char>(text[i] >> 8);
    }
    if (at + 1 < TR_TAG_SIZE) {
        tag[at] = '\0';
        tag[at + 1] = '\0';
    }
}
