// Encryption of the passwords and server passwords that settings records store in their text
// (XML) form, and the built-in logger accounts.
//
// The cipher is RC4 with a 16-byte key made from the MD5 of a built-in pass phrase, one fresh
// key schedule per value, no IV and no salt: the same text always gives the same cipher text.
// Two key forms exist in stored files. The full form (the whole digest) is what is written;
// the base form (the digest's first 5 bytes followed by 11 zero bytes, as a 40-bit provider
// salts its keys) is still read. The bytes are the record's Windows-1252 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Pass phrases: 12 characters, hashed without a terminator.
#define PWENC_PASSWORD_PHRASE "Tq8%wodn3lyP"
#define PWENC_SERVER_PHRASE "Tq8%wodn3lyS"

// Most bytes one call encrypts or decrypts.
constexpr int PWENC_MAX_BYTES = 1000;

enum PwencKeyForm : int {
    PWENC_KEY_FULL = 0, // MD5 of the phrase: written and read
    PWENC_KEY_BASE = 1, // MD5's first 5 bytes and 11 zero bytes: read only
};

// 1: nothing has to be prepared before the first call.
int pwenc_EnsureKeys();

// The 16-byte RC4 key of a phrase in one form. 0, or -1 when MD5 is not available.
int pwenc_MakeKey(const char *phrase, int form, uint8_t key[16]);

// Encrypts the text (without its terminator) with the full key into out, which must hold as
// many bytes as the text. The cipher length, or 0 when the text is longer than
// PWENC_MAX_BYTES or the key cannot be made.
int pwenc_Encrypt(const char *text, uint8_t *out, const char *phrase);

// Decrypts length bytes with the full key into out as a text (out holds length + 1 bytes).
// Nonzero on success; 0 for a length outside 0..PWENC_MAX_BYTES or a key that cannot be
// made, with out unchanged.
int pwenc_Decrypt(const uint8_t *bytes, int length, char *out, const char *phrase);

// pwenc_Decrypt with the key form chosen; out receives length bytes (no terminator).
int pwenc_DecryptWith(const uint8_t *bytes, int length, uint8_t *out, const char *phrase, int form);

// Two lower-case hex digits per byte.
std::string pwenc_ToHex(const void *bytes, size_t length);
// Pairs of hex digits in either case; 0, or -1 for an odd length or any other character.
int pwenc_FromHex(const char *hex, std::string *bytes);

// The plaintext of a stored value's hex digits under the phrase: the full key's, or the base
// key's when only that one gives a plaintext that `plausible` accepts (a wrong key gives
// garbage, not an error). No digits give an empty plaintext. 0, or -1 when the digits do not
// decode or the full key cannot decrypt them.
int pwenc_DecryptStored(const char *hex, const char *phrase,
                        bool (*plausible)(const std::vector<uint8_t> &plain),
                        std::vector<uint8_t> *plain);

// ---- Built-in logger accounts ----
//
// A server URL whose user name ends in the running edition's logger account name, with that
// account's built-in default password, is stored with the user name + "2" and the
// replacement password.
struct PwencLoggerAccount {
    const char *user;
    const char *password; // built-in default
};
constexpr int PWENC_EDITION_LUMBREL = 0;
constexpr int PWENC_EDITION_OTHER = 1;
constexpr PwencLoggerAccount PWENC_LOGGER_ACCOUNTS[2] = {
    {"LumbrelLogger", "lumbrel"}, // the Lumbrel edition
    {"WYCLogger", "wyclogger"},   // every other edition
};
#define PWENC_LOGGER_PASSWORD2 "Q4MZ7RWT"

// The running edition's account (reg_IsLumbrelEdition).
const PwencLoggerAccount &pwenc_LoggerAccount();
