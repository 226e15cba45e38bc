// Presence-bitmap binary form shared by structures and arrays: a bitmap of (n + 7) / 8 bytes,
// bit j being bit (j mod 8) of byte (j div 8), set when member j differs from its type's
// default; then the encodings of the present members, back to back.
#pragma once

#include "structs.h"

#include <functional>
#include <vector>

struct structs_member {
    const structs_type *type;
    void *data;
};

// Encodes the members after prefix (prefixlen bytes, the array length word or nothing) into one
// block allocated under mtype. Every temporary is freed on failure.
int structs_composite_encode(const char *mtype, structs_data *code, const uint8_t *prefix,
                             size_t prefixlen, const std::vector<structs_member> &members);

// Decodes a bitmap and the present members from code into uninitialised member storage; absent
// members are initialised. On failure the members done are uninitialised in reverse order and
// truncated names the message for a short bitmap. The bytes used, or -1.
// Member j comes from member(j), so that no table of count members is built before the bytes
// say whether they hold them.
int structs_composite_decode(const uint8_t *code, size_t cmax, size_t count,
                             const std::function<structs_member(size_t)> &member,
                             const char *truncated, char *ebuf, size_t emax);

// Uninitialises members [0, count) in reverse order, keeping errno.
void structs_composite_undo(const std::vector<structs_member> &members, size_t count);
