// "eol" and "sep": the line end and the field separator of a text file, by name.
#include "structs_settings.h"

#include "structs_settings_text.h"
#include "structs_type_string.h"

#include <strings.h>

namespace {
struct Name {
    const char *value;
    const char *name;
};
constexpr Name k_eol[] = {{"\r\n", "CR/LF"}, {"\r", "CR"}, {"\n", "LF"}};
constexpr Name k_sep[] = {{",", "COMMA"}, {"\t", "TAB"}, {" ", "SPACE"}};

// An empty value is shown as the first value's name: that is what its text reads back as, and
// an empty text would read back as that value, so that the next save wrote another text.
template <size_t N>
std::string nameOf(const Name (&table)[N], const std::string &value) {
    if (value.empty()) return table[0].name;
    for (const Name &n : table)
        if (value == n.value) return n.name;
    return value;
}

// An empty text means the table's first value; anything unknown passes unchanged.
template <size_t N>
std::string valueOf(const Name (&table)[N], const char *text) {
    if (text == nullptr || text[0] == '\0') return table[0].value;
    for (const Name &n : table)
        if (strcasecmp(text, n.name) == 0) return n.value;
    return text;
}
} // namespace

char *structs_eol_ascify(const structs_type *type, const char *mtype, const void *data) {
    return structs_settings_text(mtype, nameOf(k_eol, structs_settings_field(type, data)));
}

int structs_eol_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                       size_t emax) {
    return structs_settings_store(type, valueOf(k_eol, ascii), data, ebuf, emax);
}

char *structs_sep_ascify(const structs_type *type, const char *mtype, const void *data) {
    return structs_settings_text(mtype, nameOf(k_sep, structs_settings_field(type, data)));
}

int structs_sep_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                       size_t emax) {
    return structs_settings_store(type, valueOf(k_sep, ascii), data, ebuf, emax);
}

const structs_type structs_eol_type = {
    STRUCTS_EOLSEP_SIZE,    "eol",
    STRUCTS_TYPE_PRIMITIVE, structs_region_init,
    structs_region_copy,    structs_boundedstring_equal,
    structs_eol_ascify,     structs_eol_binify,
    structs_string_encode,  structs_string_decode,
    structs_nothing_free,   {{.i = 0}, {.i = 0}, {.i = 0}},
};

const structs_type structs_sep_type = {
    STRUCTS_EOLSEP_SIZE,    "sep",
    STRUCTS_TYPE_PRIMITIVE, structs_region_init,
    structs_region_copy,    structs_boundedstring_equal,
    structs_sep_ascify,     structs_sep_binify,
    structs_string_encode,  structs_string_decode,
    structs_nothing_free,   {{.i = 0}, {.i = 0}, {.i = 0}},
};
