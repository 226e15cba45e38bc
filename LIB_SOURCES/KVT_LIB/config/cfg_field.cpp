// Field conversions between record bytes and texts, bounded by the buffer that holds them.
#include "cfg_internal.h"
#include "xml.h"

#include "exdll.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr const char *k_mtype = "cfg_field";
} // namespace

int cfg_LeafFits(const StructsLeaf &leaf, int size) {
    return size >= 0 &&
           static_cast<uint64_t>(leaf.offset) + leaf.type->size <= static_cast<uint64_t>(size);
}

char *cfg_FieldText(const StructsLeaf &leaf, const void *buffer) {
    return leaf.type->ascify(leaf.type, k_mtype,
                             static_cast<const uint8_t *>(buffer) + leaf.offset);
}

char *cfg_SaveText(const StructsLeaf &leaf, const void *buffer, int size, char *ebuf, size_t emax) {
    return structs_LeafSaveText(leaf, buffer, static_cast<size_t>(size), k_mtype, ebuf, emax);
}

void cfg_FreeText(char *text) {
    typed_mem_free(k_mtype, text);
}

int cfg_SetField(const StructsLeaf &leaf, void *buffer, int size, const char *text,
                 const char *format) {
    char message[EX_MESSAGE_SIZE] = {};
    if (!cfg_LeafFits(leaf, size)) {
        snprintf(message, sizeof message, format, leaf.name.c_str(), CFG_OUTSIDE_RECORD);
        xml_SetError(XML_E_FAIL, message);
        return -1;
    }
    if (leaf.type->binify(leaf.type, text, static_cast<uint8_t *>(buffer) + leaf.offset, message,
                          sizeof message) == 0)
        return 0;
    char wrapped[EX_MESSAGE_SIZE];
    snprintf(wrapped, sizeof wrapped, format, leaf.name.c_str(), message);
    xml_SetError(XML_E_FAIL, wrapped);
    return -1;
}

void cfg_TakeBlock(ExBuffer *buffer, void *target, int size) {
    exdll_TakeBlock(buffer, target, size);
}
