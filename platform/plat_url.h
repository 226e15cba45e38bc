// Splitting a URL into its parts, with the rules of the Windows URL cracker the system was
// written against: "scheme://[user[:password]@]host[:port][/path][?extra|#extra]", the first
// '@' of the authority ends the user part, the port defaults by scheme (80 http, 443 https,
// 0 others), and every part goes into a buffer of the caller's size.
#pragma once

#include <cstdint>

// Longest scheme accepted, without its NUL.
constexpr int PLAT_URL_MAX_SCHEME = 31;

// Flags of plat_CrackUrl.
enum : uint32_t {
    PLAT_URL_DECODE = 0x10000000u, // percent-decode user and password
};

// One buffer per part; a null buffer means the part is not wanted. Each size counts the NUL.
// On success every wanted buffer holds its part ("" when the URL has none).
struct PlatUrlParts {
    char *scheme;
    uint32_t schemeSize;
    char *user;
    uint32_t userSize;
    char *password;
    uint32_t passwordSize;
    char *host;
    uint32_t hostSize;
    uint16_t port; // out: the given port, else the scheme's default
    char *path;
    uint32_t pathSize;
    char *extra; // "?..." or "#..." and everything after it
    uint32_t extraSize;
};

// Cracks the first length characters of url (length 0: up to its NUL). 1, or 0 with the last
// error and errno: 12005 (not a URL) for a missing "scheme://", an over-long or empty scheme
// or a bad port; 122 when a wanted part does not fit its buffer.
int plat_CrackUrl(const char *url, int length, uint32_t flags, PlatUrlParts *parts);
