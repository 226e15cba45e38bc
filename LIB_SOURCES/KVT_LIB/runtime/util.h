// Small text helpers of the runtime library. Case changes and comparisons fold ASCII
// letters only (C locale); bytes of 0x80 and above stay and compare as they are.
#pragma once

#include <cstddef>

// Change the case of up to n characters in place (stopping at a NUL); return the text.
char *util_UpperN(char *text, size_t n);
char *util_LowerN(char *text, size_t n);

// Compare at most n characters ignoring ASCII case, stopping after a NUL in both (like
// strncasecmp in the C locale): <0, 0 or >0.
int util_StrNICmp(const char *a, const char *b, size_t n);
