// Field conversions between record bytes and texts, bounded by the buffer that holds them.
#include "cfg_internal.h"
#include "xml.h"
#include "xml_dom.h"

#include "exdll.h"

#include "structs_type_boolean.h"
#include "structs_type_float.h"
#include "structs_type_int.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr const char *k_mtype = "cfg_field";

// Types whose value is their own bytes and nothing else (no flag bits elsewhere, no piece of a
// longer text), whose conversion writes those bytes only, and no more than 8 of them.
bool ownBytesOnly(const structs_type *type) {
    return type->size <= sizeof(uint64_t) &&
           (type->ascify == structs_int_ascify || type->ascify == structs_float_ascify ||
            type->ascify == structs_boolean_ascify);
}

void setFieldError(const StructsLeaf &leaf, const char *format, const char *message) {
    char wrapped[EX_MESSAGE_SIZE];
    snprintf(wrapped, sizeof wrapped, format, leaf.name.c_str(), message);
    xml_SetError(XML_E_FAIL, wrapped);
}

int notReadBack(const StructsLeaf &leaf, const char *format, const std::string &text) {
    char message[EX_MESSAGE_SIZE];
    snprintf(message, sizeof message, "value \"%s\" does not read back as written", text.c_str());
    setFieldError(leaf, format, message);
    return -1;
}

// Whether the type's text of the bytes at `at` is text.
bool readsAs(const structs_type *type, const void *at, const std::string &text) {
    char *again = type->ascify(type, k_mtype, at);
    bool same = again != nullptr && text == again;
    typed_mem_free(k_mtype, again);
    return same;
}

// The two steps one after the other, for any type.
int saveThenRead(const StructsLeaf &leaf, const void *buffer, int size, void *target,
                 int targetSize, const char *format, std::string *text) {
    char message[EX_MESSAGE_SIZE] = {};
    char *saved = cfg_SaveText(leaf, buffer, size, message, sizeof message);
    if (saved == nullptr && message[0] != '\0') {
        setFieldError(leaf, format, message);
        return -1;
    }
    text->assign(saved != nullptr ? saved : "");
    cfg_FreeText(saved);
    return cfg_SetField(leaf, target, targetSize, text->c_str(), format);
}

// A type whose value may lie in bytes of the record outside its own (a flag bit, the pieces of
// a text): its text is converted once, straight into the reader's record, and taken from there
// again, which is what the reader would find. A text that is no XML text goes the long way,
// where the marker replaces it.
int saveAndReadOther(const StructsLeaf &leaf, const void *buffer, int size, void *target,
                     int targetSize, const char *format, std::string *text) {
    if (!cfg_LeafFits(leaf, targetSize))
        return saveThenRead(leaf, buffer, size, target, targetSize, format, text);
    char *saved = cfg_FieldText(leaf, buffer);
    if (saved == nullptr) return saveThenRead(leaf, buffer, size, target, targetSize, format, text);
    std::string scratch;
    const char *utf8 = xml_Utf8(saved, scratch);
    const bool plain = xml_IsXmlText(utf8, strlen(utf8)) != 0;
    if (plain) text->assign(saved);
    cfg_FreeText(saved);
    if (!plain) return saveThenRead(leaf, buffer, size, target, targetSize, format, text);
    uint8_t *at = static_cast<uint8_t *>(target) + leaf.offset;
    char message[EX_MESSAGE_SIZE] = {};
    if (leaf.type->binify(leaf.type, text->c_str(), at, message, sizeof message) != 0) {
        if (message[0] == '\0') return notReadBack(leaf, format, *text);
        setFieldError(leaf, format, message);
        return -1;
    }
    return readsAs(leaf.type, at, *text) ? 0 : notReadBack(leaf, format, *text);
}
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
    if (!cfg_LeafFits(leaf, size)) {
        setFieldError(leaf, format, CFG_OUTSIDE_RECORD);
        return -1;
    }
    char message[EX_MESSAGE_SIZE] = {};
    if (leaf.type->binify(leaf.type, text, static_cast<uint8_t *>(buffer) + leaf.offset, message,
                          sizeof message) == 0)
        return 0;
    setFieldError(leaf, format, message);
    return -1;
}

int cfg_SaveAndReadField(const StructsLeaf &leaf, const void *buffer, int size, void *target,
                         int targetSize, const char *format, std::string *text) {
    if (!cfg_LeafFits(leaf, size)) {
        setFieldError(leaf, format, CFG_OUTSIDE_RECORD);
        return -1;
    }
    if (!ownBytesOnly(leaf.type))
        return saveAndReadOther(leaf, buffer, size, target, targetSize, format, text);
    const uint8_t *own = static_cast<const uint8_t *>(buffer) + leaf.offset;
    char message[EX_MESSAGE_SIZE] = {};
    // A number's text is plain ASCII, so the save text is the type's own; it is converted once,
    // and when that gives the very bytes it came from, it reads back as written without a
    // second text.
    char *saved = leaf.type->ascify(leaf.type, k_mtype, own);
    if (saved == nullptr) {
        text->clear();
        return cfg_SetField(leaf, target, targetSize, "", format);
    }
    text->assign(saved);
    cfg_FreeText(saved);
    uint64_t back[2] = {};
    if (leaf.type->binify(leaf.type, text->c_str(), back, message, sizeof message) != 0) {
        setFieldError(leaf, format, message);
        return -1;
    }
    if (memcmp(back, own, leaf.type->size) != 0 && !readsAs(leaf.type, back, *text))
        return notReadBack(leaf, format, *text);
    if (!cfg_LeafFits(leaf, targetSize)) {
        setFieldError(leaf, format, CFG_OUTSIDE_RECORD);
        return -1;
    }
    memcpy(static_cast<uint8_t *>(target) + leaf.offset, back, leaf.type->size);
    return 0;
}

void cfg_TakeBlock(ExBuffer *buffer, void *target, int size) {
    exdll_TakeBlock(buffer, target, size);
}
