// Structs types of the configuration records: the two layouts of the channel record and the
// device's save settings, so that every field has a text form for the XML files, the schemas
// and the change history.
//
// Three field types cover what the library's own types cannot:
// - "bitfield": one flag bit of the record's 16 flag bits (bytes 28-29, most significant bit
//   first), written with a value-name table ("Off"/"On", "Low"/"High"). It has no storage of
//   its own: its field offset is 28 + args[0], from which the flag bytes are found.
// - "chanconfignstring": the tag (args[0] 0), description (8) or units (32), stored in pieces;
//   the field offset is that of the first piece, which is also args[0].
// - "fixedstring": a character field of the type's full width, NUL-terminated only when
//   shorter; longer text is cut without an error.
// The first two can be converted to and from text only (no init, copy, compare or binary form).
#pragma once

#include "chrec.h"
#include "structs.h"
#include "structs_type_id.h"

#include <cstdint>
#include <string>
#include <vector>

// ---- "bitfield" ----
char *structs_bitfield_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_bitfield_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                            size_t emax);

// Value-name tables.
extern const structs_id structs_bitfield_offon[];
extern const structs_id structs_bitfield_lowhigh[];

// ---- "chanconfignstring" ----
char *structs_chanconfignstring_ascify(const structs_type *type, const char *mtype,
                                       const void *data);
int structs_chanconfignstring_binify(const structs_type *type, const char *ascii, void *data,
                                     char *ebuf, size_t emax);

// ---- "fixedstring" (the record's fixed text field) ----
int structs_fixedstring_equal(const structs_type *type, const void *a, const void *b);
char *structs_fixedstring_ascify(const structs_type *type, const char *mtype, const void *data);
int structs_fixedstring_binify(const structs_type *type, const char *ascii, void *data, char *ebuf,
                               size_t emax);
// Binary form: the text up to its first NUL or the full width, then a NUL.
int structs_fixedstring_encode(const structs_type *type, const char *mtype, structs_data *code,
                               const void *data);
int structs_fixedstring_decode(const structs_type *type, const uint8_t *code, size_t cmax,
                               void *data, char *ebuf, size_t emax);

#define STRUCTS_CHAN_FIXEDSTRING_TYPE(width)                                                       \
    {                                                                                              \
        (width), "fixedstring", STRUCTS_TYPE_PRIMITIVE, structs_region_init, structs_region_copy,  \
            structs_fixedstring_equal, structs_fixedstring_ascify, structs_fixedstring_binify,     \
            structs_fixedstring_encode, structs_fixedstring_decode, structs_nothing_free, {        \
            {.i = 0}, {.i = 0}, {                                                                  \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }

extern const structs_type structs_chan_fixedstring32;

// ---- Record types ----

// The channel layouts (216 bytes). The device part is "fixeddata" of 16 (analogue) or 24
// (digital) bytes; a driver's own type replaces it in a per-use copy (chan_Layout).
extern const structs_type structs_chan_analog_type;
extern const structs_type structs_chan_digital_type;
constexpr int STRUCTS_CHAN_ANALOG_FIELDS = 41;
constexpr int STRUCTS_CHAN_DIGITAL_FIELDS = 19;
// Fields both layouts begin with (Enable .. EventEnable).
constexpr int STRUCTS_CHAN_COMMON_FIELDS = 9;

// The device's save settings as the XML carries them.
struct DeviceSaveSettings {
    int32_t autoEnable;
    int32_t saveOutputs;
    int32_t saveByTag;
    uint32_t saveRate;
};
static_assert(sizeof(DeviceSaveSettings) == 16);
extern const structs_type structs_savesettings_type;

// A channel layout with the device part's type chosen for one operation. The descriptor lives
// as long as this object and must not outlive the module that supplied the device type.
struct ChanLayout {
    std::vector<structs_field> fields;
    structs_type type;
};
// digital selects the layout; deviceType null keeps the default hex type.
void chan_MakeLayout(ChanLayout *layout, int digital, const structs_type *deviceType);

// One leaf field of a type: its dotted name, type and byte offset in the value.
struct StructsLeaf {
    std::string name;
    const structs_type *type;
    uint32_t offset;
};
// The leaves of a type in field order (structures and fixed arrays are walked into).
std::vector<StructsLeaf> structs_Leaves(const structs_type *type);
// The text a leaf of a record of size bytes is saved as in XML (typed memory under mtype),
// checked to convert back, so that no file is written that its reader refuses. A text XML
// cannot carry becomes XML_ILLEGAL_TEXT, cut to what the field takes back whole. Null with
// the conversion's message in ebuf when the text does not convert back.
char *structs_LeafSaveText(const StructsLeaf &leaf, const void *record, size_t size,
                           const char *mtype, char *ebuf, size_t emax);
