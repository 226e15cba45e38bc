#include "structs_type_id.h"

#include "structs_assert.h"

#include <cerrno>
#include <cstring>
#include <strings.h>

namespace {

const structs_id *table(const structs_type *type) {
    STRUCTS_ASSERT(type->size == 1 || type->size == 2 || type->size == 4);
    return static_cast<const structs_id *>(type->args[0].v);
}

void store(const structs_type *type, void *data, int32_t value) {
    switch (type->size) {
    case 1:
        *static_cast<uint8_t *>(data) = static_cast<uint8_t>(value);
        break;
    case 2: {
        uint16_t h = static_cast<uint16_t>(value);
        memcpy(data, &h, sizeof h);
        break;
    }
    default:
        memcpy(data, &value, sizeof value);
        break;
    }
}

} // namespace

int structs_id_init(const structs_type *type, void *data) {
    const structs_id *ids = table(type);
    store(type, data, ids->id ? ids->value : 0);
    return 0;
}

char *structs_id_ascify(const structs_type *type, const char *mtype, const void *data) {
    const structs_id *ids = table(type);
    int32_t value;
    switch (type->size) {
    case 1:
        value = *static_cast<const uint8_t *>(data);
        break;
    case 2: {
        uint16_t h;
        memcpy(&h, data, sizeof h);
        value = h;
        break;
    }
    default:
        memcpy(&value, data, sizeof value);
        break;
    }
    for (; ids->id; ids++)
        if (ids->value == value) return typed_mem_strdup(mtype, ids->id);
    return typed_mem_strdup(mtype, "INVALID");
}

int structs_id_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                      size_t emax) {
    for (const structs_id *ids = table(type); ids->id; ids++) {
        if (ids->imatch ? strcasecmp(ascii, ids->id) == 0 : strcmp(ascii, ids->id) == 0) {
            store(type, data, ids->value);
            return 0;
        }
    }
    structs_set_error(ebuf, emax, "invalid value \"%s\"", ascii);
    errno = EINVAL;
    return -1;
}
