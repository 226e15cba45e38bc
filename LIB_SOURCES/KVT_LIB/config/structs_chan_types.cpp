// Field tables of the channel layouts and of the save settings. The table order is the
// element order of the channel XML, its schema and the change history.
#include "structs_chan.h"

#include "structs_type_boolean.h"
#include "structs_type_fixeddata.h"
#include "structs_type_float.h"
#include "structs_type_int.h"
#include "structs_type_struct.h"
#include "xml_dom.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#define BITFIELD_TYPE(bit, names)                                                                  \
    {                                                                                              \
        0, "bitfield", STRUCTS_TYPE_PRIMITIVE, structs_notsupp_init, structs_notsupp_copy,         \
            structs_notsupp_equal, structs_bitfield_ascify, structs_bitfield_binify,               \
            structs_notsupp_encode, structs_notsupp_decode, structs_nothing_free, {                \
            {.i = (bit)}, {.i = (bit)}, {                                                          \
                .v = (names)                                                                       \
            }                                                                                      \
        }                                                                                          \
    }

#define PIECES_TYPE(size, kind)                                                                    \
    {                                                                                              \
        (size), "chanconfignstring", STRUCTS_TYPE_PRIMITIVE, structs_notsupp_init,                 \
            structs_notsupp_copy, structs_notsupp_equal, structs_chanconfignstring_ascify,         \
            structs_chanconfignstring_binify, structs_notsupp_encode, structs_notsupp_decode,      \
            structs_nothing_free, {                                                                \
            {.i = (kind)}, {.i = 0}, {                                                             \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }

namespace {
const structs_type k_offOn[16] = {
    BITFIELD_TYPE(0, structs_bitfield_offon),  BITFIELD_TYPE(1, structs_bitfield_offon),
    BITFIELD_TYPE(2, structs_bitfield_offon),  BITFIELD_TYPE(3, structs_bitfield_offon),
    BITFIELD_TYPE(4, structs_bitfield_offon),  BITFIELD_TYPE(5, structs_bitfield_offon),
    BITFIELD_TYPE(6, structs_bitfield_offon),  BITFIELD_TYPE(7, structs_bitfield_offon),
    BITFIELD_TYPE(8, structs_bitfield_offon),  BITFIELD_TYPE(9, structs_bitfield_offon),
    BITFIELD_TYPE(10, structs_bitfield_offon), BITFIELD_TYPE(11, structs_bitfield_offon),
    BITFIELD_TYPE(12, structs_bitfield_offon), BITFIELD_TYPE(13, structs_bitfield_offon),
    BITFIELD_TYPE(14, structs_bitfield_offon), BITFIELD_TYPE(15, structs_bitfield_offon),
};
const structs_type k_alarmState = BITFIELD_TYPE(2, structs_bitfield_lowhigh);
const structs_type k_eventState = BITFIELD_TYPE(3, structs_bitfield_lowhigh);

const structs_type k_tag = PIECES_TYPE(15, 0);
const structs_type k_description = PIECES_TYPE(32, 8);
const structs_type k_units = PIECES_TYPE(8, 32);

const structs_id k_typeNames[] = {{"AI", 0, 0}, {"DI", 1, 0}, {"AO", 2, 0},
                                  {"DO", 3, 0}, {"CI", 4, 0}, {nullptr, 0, 0}};
const structs_type k_type = STRUCTS_ID_TYPE(k_typeNames, 1);

const structs_type k_analogPart = STRUCTS_FIXEDDATA_TYPE(16);
const structs_type k_digitalPart = STRUCTS_FIXEDDATA_TYPE(24);

const structs_type *const k_text = &structs_chan_fixedstring32;
const structs_type *const k_float = &structs_type_float;
const structs_type *const k_u8 = &structs_type_uint8;
const structs_type *const k_u16 = &structs_type_uint16;

constexpr uint16_t k_flags = ChannelCommon::FlagBytes;

constexpr structs_field flag(const char *name, int bit) {
    return {name, &k_offOn[bit], 0, static_cast<uint16_t>(k_flags + bit)};
}
constexpr structs_field state(const char *name, const structs_type *type) {
    return {name, type, 0, static_cast<uint16_t>(k_flags + type->args[1].i)};
}
constexpr structs_field at(const char *name, const structs_type *type, uint16_t offset) {
    return {name, type, static_cast<uint16_t>(type->size), offset};
}

namespace A = ChannelAnalog;
namespace D = ChannelDigital;

const structs_field k_analogFields[] = {
    flag("Enable", A::Enable),
    at("Tag", &k_tag, 0),
    at("Description", &k_description, 8),
    at("Type", &k_type, 24),
    flag("ErrorAlarmEnable", A::ErrorAlarmEnable),
    flag("ErrorAlarmDriveCommon", A::ErrorAlarmDriveCommon),
    at("ErrorAlarmPriority", k_u8, A::ErrorAlarmPriority.offset),
    at("ErrorAlarmDelay", k_u16, A::ErrorAlarmDelay.offset),
    flag("EventEnable", A::EventEnable),
    at("LowEventLimit", k_float, A::LowEventLimit.offset),
    at("HighEventLimit", k_float, A::HighEventLimit.offset),
    at("Units", &k_units, 32),
    at("MinimumUnits", k_float, A::MinimumUnits.offset),
    at("MaximumUnits", k_float, A::MaximumUnits.offset),
    flag("ReferenceEnable", A::ReferenceEnable),
    flag("SigChangeEnable", A::SigChangeEnable),
    at("SigChangeValue", k_float, A::SigChangeValue.offset),
    flag("ScalingEnable", A::ScalingEnable),
    at("Gain", k_float, A::Gain.offset),
    at("Offset", k_float, A::Offset.offset),
    flag("LowAlarmEnable", A::LowAlarmEnable),
    flag("LowAlarmDriveCommon", A::LowAlarmDriveCommon),
    at("LowAlarmLimit", k_float, A::LowAlarmLimit.offset),
    flag("LowWarningEnable", A::LowWarningEnable),
    at("LowWarningLimit", k_float, A::LowWarningLimit.offset),
    flag("LowAlarmDeadbandEnable", A::LowAlarmDeadbandEnable),
    at("LowAlarmDeadband", k_float, A::LowAlarmDeadband.offset),
    at("LowAlarmPriority", k_u8, A::LowAlarmPriority.offset),
    at("LowAlarmDelay", k_u16, A::LowAlarmDelay.offset),
    at("LowAlarmText", k_text, A::LowAlarmText.offset),
    flag("HighAlarmEnable", A::HighAlarmEnable),
    flag("HighAlarmDriveCommon", A::HighAlarmDriveCommon),
    at("HighAlarmLimit", k_float, A::HighAlarmLimit.offset),
    flag("HighWarningEnable", A::HighWarningEnable),
    at("HighWarningLimit", k_float, A::HighWarningLimit.offset),
    flag("HighAlarmDeadbandEnable", A::HighAlarmDeadbandEnable),
    at("HighAlarmDeadband", k_float, A::HighAlarmDeadband.offset),
    at("HighAlarmPriority", k_u8, A::HighAlarmPriority.offset),
    at("HighAlarmDelay", k_u16, A::HighAlarmDelay.offset),
    at("HighAlarmText", k_text, A::HighAlarmText.offset),
    at("Analogue", &k_analogPart, A::DevicePart),
    STRUCTS_STRUCT_FIELD_END,
};
static_assert(sizeof k_analogFields / sizeof k_analogFields[0] == STRUCTS_CHAN_ANALOG_FIELDS + 1);

const structs_field k_digitalFields[] = {
    flag("Enable", D::Enable),
    at("Tag", &k_tag, 0),
    at("Description", &k_description, 8),
    at("Type", &k_type, 24),
    flag("ErrorAlarmEnable", D::ErrorAlarmEnable),
    flag("ErrorAlarmDriveCommon", D::ErrorAlarmDriveCommon),
    at("ErrorAlarmPriority", k_u8, D::ErrorAlarmPriority.offset),
    at("ErrorAlarmDelay", k_u16, D::ErrorAlarmDelay.offset),
    flag("EventEnable", D::EventEnable),
    state("EventState", &k_eventState),
    at("LowStateText", k_text, D::LowStateText.offset),
    at("HighStateText", k_text, D::HighStateText.offset),
    flag("AlarmEnable", D::AlarmEnable),
    state("AlarmState", &k_alarmState),
    flag("AlarmDriveCommon", D::AlarmDriveCommon),
    at("AlarmPriority", k_u8, D::AlarmPriority.offset),
    at("AlarmDelay", k_u16, D::AlarmDelay.offset),
    at("AlarmText", k_text, D::AlarmText.offset),
    at("Digital", &k_digitalPart, D::DevicePart),
    STRUCTS_STRUCT_FIELD_END,
};
static_assert(sizeof k_digitalFields / sizeof k_digitalFields[0] ==
              STRUCTS_CHAN_DIGITAL_FIELDS + 1);

const structs_field k_saveFields[] = {
    {"AutoEnable", &structs_type_boolean_int_onoff, 4, 0},
    {"SaveOutputs", &structs_type_boolean_int_onoff, 4, 4},
    {"SaveByTag", &structs_type_boolean_int_onoff, 4, 8},
    {"SaveRate", &structs_type_uint32, 4, 12},
    STRUCTS_STRUCT_FIELD_END,
};

#define CHANNEL_STRUCT_TYPE(fields)                                                                \
    {                                                                                              \
        CHANNEL_RECORD_SIZE, "structure", STRUCTS_TYPE_STRUCTURE, structs_notsupp_init,            \
            structs_notsupp_copy, structs_notsupp_equal, structs_notsupp_ascify,                   \
            structs_notsupp_binify, structs_notsupp_encode, structs_notsupp_decode,                \
            structs_nothing_free, {                                                                \
            {.v = (fields)}, {.i = 0}, {                                                           \
                .i = 0                                                                             \
            }                                                                                      \
        }                                                                                          \
    }
} // namespace

const structs_type structs_chan_analog_type = CHANNEL_STRUCT_TYPE(k_analogFields);
const structs_type structs_chan_digital_type = CHANNEL_STRUCT_TYPE(k_digitalFields);
const structs_type structs_savesettings_type =
    STRUCTS_STRUCT_TYPE(DeviceSaveSettings, k_saveFields);

void chan_MakeLayout(ChanLayout *layout, int digital, const structs_type *deviceType) {
    const structs_type &base = digital ? structs_chan_digital_type : structs_chan_analog_type;
    const auto *fields = static_cast<const structs_field *>(base.args[0].v);
    layout->fields.clear();
    for (const structs_field *f = fields; f->name != nullptr; ++f)
        layout->fields.push_back(*f);
    if (deviceType != nullptr) {
        structs_field &part = layout->fields.back();
        part.type = deviceType;
        part.size = static_cast<uint16_t>(deviceType->size);
    }
    layout->fields.push_back(STRUCTS_STRUCT_FIELD_END);
    layout->type = base;
    layout->type.args[0].v = layout->fields.data();
}

namespace {
void walk(const structs_type *type, uint32_t offset, const std::string &prefix,
          std::vector<StructsLeaf> *out) {
    if (type->tclass == STRUCTS_TYPE_STRUCTURE) {
        for (auto *f = static_cast<const structs_field *>(type->args[0].v); f->name; ++f)
            walk(f->type, offset + f->offset, prefix.empty() ? f->name : prefix + "." + f->name,
                 out);
    } else if (type->tclass == STRUCTS_TYPE_FIXEDARRAY) {
        auto *etype = static_cast<const structs_type *>(type->args[0].v);
        for (intptr_t i = 0; i < type->args[2].i; ++i)
            walk(etype, offset + static_cast<uint32_t>(i) * etype->size,
                 prefix + "." + std::to_string(i), out);
    } else {
        out->push_back({prefix, type, offset});
    }
}
} // namespace

std::vector<StructsLeaf> structs_Leaves(const structs_type *type) {
    std::vector<StructsLeaf> leaves;
    if (type != nullptr) walk(type, 0, "", &leaves);
    return leaves;
}

namespace {
// A copy of the record to convert a text into (a bit field or a piece of a text shares bytes
// with its neighbours), on the stack when the record is small, as a channel record is.
class Scratch {
public:
    Scratch(const StructsLeaf &leaf, const void *record, size_t size) {
        const size_t need =
            std::max<size_t>(size, leaf.offset + leaf.type->size + sizeof(uint64_t));
        uint8_t *bytes = need <= sizeof local_ ? local_ : (heap_.resize(need), heap_.data());
        memset(bytes, 0, need);
        memcpy(bytes, record, size);
        at_ = bytes + leaf.offset;
    }
    uint8_t *at() { return at_; }

private:
    alignas(uint64_t) uint8_t local_[512];
    std::vector<uint8_t> heap_;
    uint8_t *at_ = nullptr;
};

// Whether text converts into a copy of the record and ascifies back to the same text; false
// with the conversion's message in ebuf when it does not convert, with ebuf empty when it
// converts to something else.
bool convertsBack(const StructsLeaf &leaf, const void *record, size_t size, const char *text,
                  const char *mtype, char *ebuf, size_t emax) {
    Scratch scratch(leaf, record, size);
    if (leaf.type->binify(leaf.type, text, scratch.at(), ebuf, emax) != 0) return false;
    if (ebuf != nullptr && emax > 0) ebuf[0] = '\0';
    char *again = leaf.type->ascify(leaf.type, mtype, scratch.at());
    bool same = again != nullptr && strcmp(again, text) == 0;
    typed_mem_free(mtype, again);
    return same;
}
} // namespace

char *structs_LeafSaveText(const StructsLeaf &leaf, const void *record, size_t size,
                           const char *mtype, char *ebuf, size_t emax) {
    if (ebuf != nullptr && emax > 0) ebuf[0] = '\0';
    char *text =
        leaf.type->ascify(leaf.type, mtype, static_cast<const uint8_t *>(record) + leaf.offset);
    if (text == nullptr) return nullptr;
    std::string scratch;
    const char *utf8 = xml_Utf8(text, scratch);
    if (!xml_IsXmlText(utf8, strlen(utf8))) {
        // The marker replaces the text; a field shorter than it would read it back cut, and a
        // bounded one would refuse the whole file.
        std::string marker = XML_ILLEGAL_TEXT;
        char ignored[256];
        while (!marker.empty() &&
               !convertsBack(leaf, record, size, marker.c_str(), mtype, ignored, sizeof ignored))
            marker.pop_back();
        typed_mem_free(mtype, text);
        return typed_mem_strdup(mtype, marker.c_str());
    }
    // A reader that stops early (a last time field of three digits) takes the text without
    // complaint, yet the next save would write another one.
    char message[256] = {};
    if (!convertsBack(leaf, record, size, text, mtype, message, sizeof message)) {
        if (ebuf != nullptr && emax > 0) {
            if (message[0] != '\0')
                snprintf(ebuf, emax, "%s", message);
            else
                snprintf(ebuf, emax, "value \"%s\" does not read back as written", text);
        }
        typed_mem_free(mtype, text);
        return nullptr;
    }
    return text;
}
