// Structs types of the settings records: "password", "server", "time", "eol" and "sep".
//
// - "password" (257 bytes, a text of up to 256 characters): written as "enc:" and 512 hex
//   digits of the text padded with blanks to 256 characters and encrypted; an empty password
//   stays empty. Read back: an "enc:" text (any case) that decodes loses its trailing blanks
//   (one character stays); a text that does not decode, or any other text, is kept as it is.
// - "server" (1284 bytes, a server spec): an http or https URL (kind 4) with a user name and
//   a password keeps its password as "enc" and hex of the encrypted bytes in the text form, and
//   as "%XX" of every byte in the record; path and query are dropped and the URL ends in "/".
//   Every other spec is kept unchanged.
// - "time" (6 bytes): year - 1900, month, day, hour, minute, and a byte always written 0.
//   args[0] nonzero: the text has the year ("2024-05-17T08:30"), else it starts with the
//   month ("05-17T08:30") and byte 0 is written 0. args[1] nonzero: a field may be the
//   wildcard 255, written "****" (year) or "**".
// - "eol" and "sep" (3 bytes, a text of up to 2 characters): the line end ("CR/LF", "CR",
//   "LF") and the field separator ("COMMA", "TAB", "SPACE") of a text file, by name.
//
// Parse failures write their message into the caller's buffer and return -1 with errno 22.
#pragma once

#include "structs.h"

#include <cstdint>

constexpr uint32_t STRUCTS_PASSWORD_SIZE = 257;
constexpr uint32_t STRUCTS_SERVER_SIZE = 1284;
constexpr uint32_t STRUCTS_TIME_SIZE = 6;
constexpr uint32_t STRUCTS_EOLSEP_SIZE = 3;
constexpr uint8_t STRUCTS_TIME_ANY = 255;

// ---- "password" ----
char *structs_password_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_password_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                            size_t emax);
extern const structs_type structs_password_type;

// ---- "server" ----
char *structs_server_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_server_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                          size_t emax);
extern const structs_type structs_server_type;

// ---- "time" ----
char *structs_time_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_time_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                        size_t emax);

#define STRUCTS_TIME_TYPE(withYear, wildcards)                                                     \
    {                                                                                              \
        STRUCTS_TIME_SIZE, "time", STRUCTS_TYPE_PRIMITIVE, structs_region_init,                    \
            structs_region_copy, structs_region_equal, structs_time_ascify, structs_time_binify,   \
            structs_region_encode, structs_region_decode, structs_nothing_free, {                  \
            {.i = (withYear)}, {.i = (wildcards)}, {                                               \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }

extern const structs_type structs_time_date_type;       // date and time
extern const structs_type structs_time_date_any_type;   // date and time, wildcards allowed
extern const structs_type structs_time_period_type;     // no year
extern const structs_type structs_time_period_any_type; // no year, wildcards allowed

// ---- "eol" and "sep" ----
char *structs_eol_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_eol_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                       size_t emax);
extern const structs_type structs_eol_type;

char *structs_sep_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_sep_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                       size_t emax);
extern const structs_type structs_sep_type;
