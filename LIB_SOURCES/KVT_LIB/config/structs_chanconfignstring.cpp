// "chanconfignstring": the tag, description or units of a channel record, kept in pieces.
#include "structs_chan.h"

#include "tag.h"

#include <cerrno>
#include <string>

namespace {
enum : intptr_t { k_tag = 0, k_description = 8, k_units = 32 };

ChannelRecord *recordOf(const structs_type *type, const void *data) {
    return reinterpret_cast<ChannelRecord *>(
        const_cast<uint8_t *>(static_cast<const uint8_t *>(data)) - type->args[0].i);
}
} // namespace

char *structs_chanconfignstring_ascify(const structs_type *type, const char *mtype,
                                       const void *data) {
    const ChannelRecord &rec = *recordOf(type, data);
    std::string text;
    switch (type->args[0].i) {
    case k_tag:
        text = tag_GetTag(rec);
        break;
    case k_description:
        text = tag_GetDescription(rec);
        break;
    case k_units:
        text = tag_GetUnits(rec);
        break;
    default:
        return typed_mem_strdup(mtype, "INVALID");
    }
    if (text.size() > type->size) text.resize(type->size);
    return typed_mem_strdup(mtype, text.c_str());
}

int structs_chanconfignstring_binify(const structs_type *type, const char *ascii, void *data,
                                     char *ebuf, size_t emax) {
    const char *text = ascii != nullptr ? ascii : "";
    ChannelRecord *rec = recordOf(type, data);
    switch (type->args[0].i) {
    case k_tag:
        tag_SetTag(rec, text);
        return 0;
    case k_description:
        tag_SetDescription(rec, text);
        return 0;
    case k_units:
        tag_SetUnits(rec, text);
        return 0;
    default:
        structs_set_error(ebuf, emax, "invalid value \"%s\"", text);
        errno = EINVAL;
        return -1;
    }
}
