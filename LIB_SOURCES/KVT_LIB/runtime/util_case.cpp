#include "util.h"

namespace {
char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

char *util_UpperN(char *text, size_t n) {
    for (size_t i = 0; text != nullptr && i < n && text[i] != '\0'; ++i)
        text[i] = upper(text[i]);
    return text;
}

char *util_LowerN(char *text, size_t n) {
    for (size_t i = 0; text != nullptr && i < n && text[i] != '\0'; ++i)
        text[i] = lower(text[i]);
    return text;
}

int util_StrNICmp(const char *a, const char *b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(lower(a[i]));
        unsigned char cb = static_cast<unsigned char>(lower(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == '\0') return 0;
    }
    return 0;
}
