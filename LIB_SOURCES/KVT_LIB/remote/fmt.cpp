#include "fmt.h"

#include <cctype>

namespace {
constexpr int k_mostLetters = 2;
constexpr int k_mostDigits = 5;

bool isLetter(char c) {
    return isalpha(static_cast<unsigned char>(c)) != 0;
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The common walk; kind null skips the letters before the digits instead of keeping them.
int parse(const char *text, char *kind, int32_t *number) {
    if (text == nullptr) return -1;
    char letters[k_mostLetters] = {};
    int nLetters = 0;
    int nDigits = 0;
    int32_t value = 0;
    bool thousand = false;
    for (const char *p = text; *p != '\0'; ++p) {
        const char c = *p;
        if (isDigit(c)) {
            if (thousand || ++nDigits > k_mostDigits) return -1;
            value = value * 10 + (c - '0');
        } else if (isLetter(c)) {
            if (nDigits == 0) {
                if (kind == nullptr) continue;
                if (nLetters == k_mostLetters) return -1;
                letters[nLetters++] = c;
            } else {
                // "1K" is the only letter the number itself may hold.
                if (c != 'K' || thousand || nDigits != 1 || value != 1) return -1;
                thousand = true;
                value = 1000;
            }
        }
    }
    if (nDigits == 0 || (kind != nullptr && nLetters == 0)) return -1;
    if (kind != nullptr) {
        kind[0] = letters[0];
        kind[1] = letters[1];
    }
    *number = value;
    return 0;
}
} // namespace

int fmt_ParseChannelCode(const char *text, char kind[2], int32_t *number) {
    if (kind == nullptr || number == nullptr) return -1;
    return parse(text, kind, number);
}

int fmt_ParseNumber(const char *text, int32_t *number) {
    if (number == nullptr) return -1;
    return parse(text, nullptr, number);
}

void fmt_SplitMilliseconds(MinutesSeconds *out, int32_t milliseconds) {
    const int32_t v = milliseconds > 0 ? milliseconds : 0;
    const int32_t minutes = v / 60000;
    out->minutes = static_cast<uint8_t>(minutes > 255 ? 255 : minutes);
    out->seconds = static_cast<uint8_t>(v % 60000 / 1000);
    out->milliseconds = static_cast<uint16_t>(v % 1000);
}
