// "bitfield": one flag bit of the channel record under a value-name table.
#include "structs_chan.h"

#include "tag.h"

#include <cerrno>
#include <cstring>

const structs_id structs_bitfield_offon[] = {{"Off", 0, 0}, {"On", 1, 0}, {nullptr, 0, 0}};
const structs_id structs_bitfield_lowhigh[] = {{"Low", 0, 0}, {"High", 1, 0}, {nullptr, 0, 0}};

namespace {
uint8_t *flagBytes(const structs_type *type, const void *data) {
    return const_cast<uint8_t *>(static_cast<const uint8_t *>(data)) - type->args[0].i;
}

const structs_id *table(const structs_type *type) {
    return static_cast<const structs_id *>(type->args[2].v);
}

bool sameName(const structs_id *entry, const char *text) {
    return entry->imatch != 0 ? strcasecmp(entry->id, text) == 0 : strcmp(entry->id, text) == 0;
}
} // namespace

char *structs_bitfield_ascify(const structs_type *type, const char *mtype, const void *data) {
    int bit = util_TestBit(flagBytes(type, data), static_cast<int>(type->args[1].i)) ? 1 : 0;
    for (const structs_id *e = table(type); e != nullptr && e->id != nullptr; ++e)
        if (e->value == bit) return typed_mem_strdup(mtype, e->id);
    return typed_mem_strdup(mtype, "INVALID");
}

int structs_bitfield_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                            size_t emax) {
    const char *text = ascii != nullptr ? ascii : "";
    for (const structs_id *e = table(type); e != nullptr && e->id != nullptr; ++e) {
        if (!sameName(e, text)) continue;
        uint8_t *flags = flagBytes(type, data);
        int bit = static_cast<int>(type->args[1].i);
        if (e->value != 0)
            util_SetBit(flags, bit);
        else
            util_ClearBit(flags, bit);
        return 0;
    }
    structs_set_error(ebuf, emax, "invalid value \"%s\"", text);
    errno = EINVAL;
    return -1;
}
