// "server": the password of an http or https URL is encrypted in the text form and
// percent-encoded in the record.
#include "structs_settings.h"

#include "pwenc.h"
#include "srv.h"
#include "structs_settings_text.h"
#include "structs_type_string.h"

#include <cstdio>
#include <strings.h>
#include <vector>

namespace {
#define CANNOT_DECODE "cannot decode sever password"

// The parts of a URL whose password the type rewrites.
struct Credentials {
    char scheme[32];
    char user[128];
    char password[128];
    char host[256];
    uint16_t port;
};

// True for a kind-4 spec with a user name and a password (both percent-decoded).
bool crack(const std::string &spec, Credentials *c) {
    if (srv_ServerKind(spec.c_str()) != SRV_KIND_SOAP) return false;
    PlatUrlParts parts{};
    parts.scheme = c->scheme;
    parts.schemeSize = sizeof c->scheme;
    parts.user = c->user;
    parts.userSize = sizeof c->user;
    parts.password = c->password;
    parts.passwordSize = sizeof c->password;
    parts.host = c->host;
    parts.hostSize = sizeof c->host;
    if (srv_CrackServerUrl(spec.c_str(), 0, PLAT_URL_DECODE, &parts) == 0) return false;
    c->port = parts.port;
    return c->user[0] != '\0' && c->password[0] != '\0';
}

// "<scheme>://<user>:<password>@<host>[:<port>]/"; the port only when not the scheme's own.
std::string rebuild(const Credentials &c, const std::string &user, const std::string &password) {
    const bool https = strcasecmp(c.scheme, "https") == 0;
    std::string url = https ? "https" : "http";
    url += "://";
    url += user;
    url += ':';
    url += password;
    url += '@';
    url += c.host;
    if (c.port != (https ? 443 : 80)) {
        char port[16];
        snprintf(port, sizeof port, ":%d", static_cast<int>(c.port));
        url += port;
    }
    url += '/';
    return url;
}

bool printable(const std::vector<uint8_t> &plain) {
    for (uint8_t b : plain)
        if (b < 0x20 || b > 0x7E) return false;
    return true;
}

// The password of the hex digits after "enc"; false when they do not decode.
bool decodeStored(const char *hex, std::string *password) {
    // No padding here: a wrong key shows in bytes outside printable ASCII.
    std::vector<uint8_t> plain;
    if (pwenc_DecryptStored(hex, PWENC_SERVER_PHRASE, printable, &plain) != 0) return false;
    password->assign(plain.begin(), plain.end());
    return true;
}

bool endsWith(const std::string &text, const char *tail) {
    size_t n = strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}
} // namespace

char *structs_server_ascify(const structs_type *type, const char *mtype, const void *data) {
    std::string spec = structs_settings_field(type, data);
    Credentials c{};
    if (crack(spec, &c)) {
        std::vector<uint8_t> cipher(strlen(c.password));
        int length = pwenc_Encrypt(c.password, cipher.data(), PWENC_SERVER_PHRASE);
        if (length > 0)
            spec =
                rebuild(c, c.user, "enc" + pwenc_ToHex(cipher.data(), static_cast<size_t>(length)));
    }
    return structs_settings_text(mtype, spec);
}

int structs_server_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                          size_t emax) {
    std::string spec = ascii != nullptr ? ascii : "";
    Credentials c{};
    if (!crack(spec, &c)) return structs_settings_store(type, spec, data, ebuf, emax);

    std::string password = c.password;
    if (strncasecmp(c.password, "enc", 3) == 0 && !decodeStored(c.password + 3, &password))
        return structs_settings_fail(ebuf, emax, CANNOT_DECODE);

    const PwencLoggerAccount &account = pwenc_LoggerAccount();
    std::string user = c.user;
    if (endsWith(user, account.user) && password == account.password) {
        user += '2';
        password = PWENC_LOGGER_PASSWORD2;
    }

    std::string encoded;
    for (char ch : password) {
        char hex[4];
        snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned>(static_cast<uint8_t>(ch)));
        encoded += hex;
    }
    return structs_settings_store(type, rebuild(c, user, encoded), data, ebuf, emax);
}

const structs_type structs_server_type = {
    STRUCTS_SERVER_SIZE,    "server",
    STRUCTS_TYPE_PRIMITIVE, structs_region_init,
    structs_region_copy,    structs_boundedstring_equal,
    structs_server_ascify,  structs_server_binify,
    structs_string_encode,  structs_string_decode,
    structs_nothing_free,   {{.i = 0}, {.i = 0}, {.i = 0}},
};
