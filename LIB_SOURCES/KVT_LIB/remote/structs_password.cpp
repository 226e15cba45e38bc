// "password": the text form carries the password encrypted.
#include "structs_settings.h"

#include "pwenc.h"
#include "structs_settings_text.h"
#include "structs_type_string.h"

#include <strings.h>
#include <vector>

namespace {
// Stored passwords are padded to this length, so every cipher text has the same length.
constexpr size_t k_padded = 256;

// A plaintext that a right key gives: padding at its end and no control character in it.
bool looksPadded(const std::vector<uint8_t> &plain) {
    if (plain.empty() || plain.back() != ' ') return false;
    for (uint8_t b : plain)
        if (b < 0x20 || b == 0x7F) return false;
    return true;
}

// The password of the hex digits after "enc:"; false when they do not decode.
bool decodeStored(const char *hex, std::string *password) {
    // Files written with a 40-bit provider hold the other key form; the padding tells which.
    std::vector<uint8_t> plain;
    if (pwenc_DecryptStored(hex, PWENC_PASSWORD_PHRASE, looksPadded, &plain) != 0) return false;
    // No digits after "enc:" is the empty password.
    if (plain.empty()) {
        password->clear();
        return true;
    }
    size_t n = strnlen(reinterpret_cast<const char *>(plain.data()), plain.size());
    while (n > 1 && plain[n - 1] == ' ')
        --n;
    password->assign(reinterpret_cast<const char *>(plain.data()), n);
    return true;
}
} // namespace

char *structs_password_ascify(const structs_type *type, const char *mtype, const void *data) {
    std::string text = structs_settings_field(type, data);
    if (!text.empty()) {
        std::string padded = text;
        if (padded.size() < k_padded) padded.append(k_padded - padded.size(), ' ');
        std::vector<uint8_t> cipher(padded.size());
        int length = pwenc_Encrypt(padded.c_str(), cipher.data(), PWENC_PASSWORD_PHRASE);
        // Without encryption the password is kept readable rather than lost.
        if (length > 0) text = "enc:" + pwenc_ToHex(cipher.data(), static_cast<size_t>(length));
    }
    return structs_settings_text(mtype, text);
}

int structs_password_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                            size_t emax) {
    const char *text = ascii != nullptr ? ascii : "";
    std::string password;
    if (strncasecmp(text, "enc:", 4) != 0 || !decodeStored(text + 4, &password)) password = text;
    return structs_settings_store(type, password, data, ebuf, emax);
}

const structs_type structs_password_type = {
    STRUCTS_PASSWORD_SIZE,   "password",
    STRUCTS_TYPE_PRIMITIVE,  structs_region_init,
    structs_region_copy,     structs_boundedstring_equal,
    structs_password_ascify, structs_password_binify,
    structs_string_encode,   structs_string_decode,
    structs_nothing_free,    {{.i = 0}, {.i = 0}, {.i = 0}},
};
