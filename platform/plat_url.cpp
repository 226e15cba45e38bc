#include "plat_url.h"

#include "plat_error.h"

#include <cctype>
#include <cstring>
#include <string>
#include <strings.h>

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%41" becomes "A"; a '%' not followed by two hex digits stays as it is.
std::string percentDecode(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = hexValue(text[i + 1]);
            int lo = hexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// Copies a part into a wanted buffer; false when it does not fit with its NUL.
bool store(const std::string &part, char *buffer, uint32_t size) {
    if (buffer == nullptr) return true;
    if (part.size() + 1 > size) return false;
    memcpy(buffer, part.data(), part.size());
    buffer[part.size()] = '\0';
    return true;
}

bool validScheme(const std::string &scheme) {
    if (scheme.empty() || scheme.size() > static_cast<size_t>(PLAT_URL_MAX_SCHEME)) return false;
    if (!isalpha(static_cast<unsigned char>(scheme[0]))) return false;
    for (char c : scheme)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return false;
    return true;
}

uint16_t defaultPort(const std::string &scheme) {
    if (strcasecmp(scheme.c_str(), "http") == 0) return 80;
    if (strcasecmp(scheme.c_str(), "https") == 0) return 443;
    return 0;
}

int fail(uint32_t code) {
    plat_Fail(code);
    return 0;
}
} // namespace

int plat_CrackUrl(const char *url, int length, uint32_t flags, PlatUrlParts *parts) {
    if (url == nullptr || parts == nullptr || length < 0) return fail(WERR_INVALID_PARAMETER);
    std::string text = length == 0 ? std::string(url) : std::string(url, strnlen(url, length));

    size_t colon = text.find("://");
    if (colon == std::string::npos) return fail(WERR_INTERNET_INVALID_URL);
    std::string scheme = text.substr(0, colon);
    if (!validScheme(scheme)) return fail(WERR_INTERNET_INVALID_URL);

    std::string rest = text.substr(colon + 3);
    size_t authorityEnd = rest.find_first_of("/?#");
    std::string authority = rest.substr(0, authorityEnd);
    std::string tail = authorityEnd == std::string::npos ? "" : rest.substr(authorityEnd);

    std::string user, password;
    size_t at = authority.find('@');
    if (at != std::string::npos) {
        std::string userInfo = authority.substr(0, at);
        authority.erase(0, at + 1);
        size_t sep = userInfo.find(':');
        user = userInfo.substr(0, sep);
        if (sep != std::string::npos) password = userInfo.substr(sep + 1);
        if (flags & PLAT_URL_DECODE) {
            user = percentDecode(user);
            password = percentDecode(password);
        }
    }

    std::string host = authority;
    uint16_t port = defaultPort(scheme);
    size_t portSep = authority.rfind(':');
    // A bracketed IPv6 address keeps its own colons.
    if (portSep != std::string::npos && authority.find(']', portSep) == std::string::npos) {
        std::string digits = authority.substr(portSep + 1);
        host = authority.substr(0, portSep);
        if (!digits.empty()) {
            unsigned long value = 0;
            for (char c : digits) {
                if (!isdigit(static_cast<unsigned char>(c))) return fail(WERR_INTERNET_INVALID_URL);
                value = value * 10 + static_cast<unsigned long>(c - '0');
                if (value > 65535) return fail(WERR_INTERNET_INVALID_URL);
            }
            port = static_cast<uint16_t>(value);
        }
    }

    size_t extraStart = tail.find_first_of("?#");
    std::string path = tail.substr(0, extraStart);
    std::string extra = extraStart == std::string::npos ? "" : tail.substr(extraStart);

    if (!store(scheme, parts->scheme, parts->schemeSize) ||
        !store(user, parts->user, parts->userSize) ||
        !store(password, parts->password, parts->passwordSize) ||
        !store(host, parts->host, parts->hostSize) || !store(path, parts->path, parts->pathSize) ||
        !store(extra, parts->extra, parts->extraSize))
        return fail(WERR_INSUFFICIENT_BUFFER);
    parts->port = port;
    plat_SetLastError(0);
    return 1;
}
