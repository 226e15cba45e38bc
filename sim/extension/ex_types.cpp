// Structs types of the S5 device configuration and channel device part, the extra blocks of
// the "extra" test option, and the option list itself.
#include "ex.h"
#include "ex_options.h"

#include "s5types.h"
#include "structs_chan.h"
#include "structs_type_boolean.h"
#include "structs_type_float.h"
#include "structs_type_int.h"
#include "structs_type_struct.h"

#include <cstdlib>
#include <iterator>
#include <cstring>
#include <string>

bool ex_Option(const char *name) {
    const char *list = getenv("KVT_EX_OPTIONS");
    if (list == nullptr) return false;
    std::string all = list;
    size_t start = 0;
    while (start <= all.size()) {
        size_t comma = all.find(',', start);
        if (comma == std::string::npos) comma = all.size();
        if (all.compare(start, comma - start, name) == 0) return true;
        start = comma + 1;
    }
    return false;
}

namespace {
// The DeviceConfig of the S5 driver: the scan interval, then the port settings.
struct DeviceConfigView {
    uint32_t scanInterval;
    S5PortSettings port;
    uint8_t rest[704 - 32];
};
static_assert(sizeof(DeviceConfigView) == 704);
static_assert(offsetof(DeviceConfigView, port) == 4);

const structs_type k_port = STRUCTS_CHAN_FIXEDSTRING_TYPE(8);
const structs_id k_parityNames[] = {{"NONE", 0, 0}, {"ODD", 1, 0},   {"EVEN", 2, 0},
                                    {"MARK", 3, 0}, {"SPACE", 4, 0}, {nullptr, 0, 0}};
const structs_type k_parity = STRUCTS_ID_TYPE(k_parityNames, 1);

#define PORT(field) (4 + offsetof(S5PortSettings, field))

constexpr structs_field field(const char *name, const structs_type *type, size_t offset) {
    return {name, type, static_cast<uint16_t>(type->size), static_cast<uint16_t>(offset)};
}

const structs_field k_configFields[] = {
    field("ScanInterval", &structs_type_uint32, 0),
    field("Port", &k_port, PORT(port_name)),
    field("BaudRate", &structs_type_uint32, PORT(baud_rate)),
    field("ReadOutputsFirstScan", &structs_type_boolean_char_onoff, PORT(read_outputs_first)),
    field("ReadBackIfNotWriting", &structs_type_boolean_char_onoff, PORT(read_back_outputs)),
    field("DataFormat", &structs_type_uint8, PORT(data_format)),
    field("Parity", &k_parity, PORT(parity)),
    field("ProtocolMode", &structs_type_uint8, PORT(protocol_mode)),
    field("CharacterDelay", &structs_type_uint16, PORT(char_delay_ms)),
    field("AckTimeout", &structs_type_uint16, PORT(ack_timeout_ms)),
    field("BlockWaitTime", &structs_type_uint16, PORT(block_wait_ms)),
    field("Priority", &structs_type_uint8, PORT(priority)),
    field("Retries", &structs_type_uint8, PORT(retries)),
    STRUCTS_STRUCT_FIELD_END,
};
const structs_type k_configType = STRUCTS_STRUCT_TYPE(DeviceConfigView, k_configFields);

// Test option "outside": a faulty module whose last field runs past the end of the record.
const structs_field k_configFieldsOutside[] = {
    field("ScanInterval", &structs_type_uint32, 0),
    field("Beyond", &structs_type_uint32, sizeof(DeviceConfigView) - 2),
    STRUCTS_STRUCT_FIELD_END,
};
const structs_type k_configTypeOutside =
    STRUCTS_STRUCT_TYPE(DeviceConfigView, k_configFieldsOutside);

// The block link at 8 is run-time data, not configuration.
const structs_field k_addressFields[] = {
    field("Station", &structs_type_uint8, offsetof(S5ChannelAddress, station)),
    field("TypeByte", &structs_type_uint8, offsetof(S5ChannelAddress, type)),
    field("Address", &structs_type_uint16, offsetof(S5ChannelAddress, address)),
    field("BitNumber", &structs_type_uint8, offsetof(S5ChannelAddress, bit_number)),
    field("ByteSelect", &structs_type_uint8, offsetof(S5ChannelAddress, byte_select)),
    STRUCTS_STRUCT_FIELD_END,
};
const structs_type k_addressType = STRUCTS_STRUCT_TYPE(S5ChannelAddress, k_addressFields);

// Test option "refill": one static type and its field table refilled in place before each use,
// odd channels without the type byte and the bit number.
const structs_field k_addressFieldsNoBit[] = {
    field("Station", &structs_type_uint8, offsetof(S5ChannelAddress, station)),
    field("Address", &structs_type_uint16, offsetof(S5ChannelAddress, address)),
    STRUCTS_STRUCT_FIELD_END,
};
structs_field g_refilledFields[std::size(k_addressFields)];
structs_type g_refilled = k_addressType;

// Test option "outside" for analogue channels: a field that runs past the 216-byte record.
const structs_field k_addressFieldsOutside[] = {
    field("Station", &structs_type_uint8, offsetof(S5ChannelAddress, station)),
    field("Beyond", &structs_type_uint32, 216 - 188 - 2),
    STRUCTS_STRUCT_FIELD_END,
};
const structs_type k_addressTypeOutside =
    STRUCTS_STRUCT_TYPE(S5ChannelAddress, k_addressFieldsOutside);

struct ConfigExtra {
    uint32_t extraA;
    uint32_t extraB;
};
const structs_field k_configExtraFields[] = {
    field("ExtraA", &structs_type_uint32, 0),
    field("ExtraB", &structs_type_uint32, 4),
    STRUCTS_STRUCT_FIELD_END,
};
const structs_type k_configExtraType = STRUCTS_STRUCT_TYPE(ConfigExtra, k_configExtraFields);

struct ChannelExtra {
    float scale;
    uint32_t code;
};
const structs_field k_channelExtraFields[] = {
    field("Scale", &structs_type_float, 0),
    field("Code", &structs_type_uint32, 4),
    STRUCTS_STRUCT_FIELD_END,
};
const structs_type k_channelExtraType = STRUCTS_STRUCT_TYPE(ChannelExtra, k_channelExtraFields);
} // namespace

extern "C" {

const structs_type *Ex_Get_Config_Type(void *, int) {
    return ex_Option("outside") ? &k_configTypeOutside : &k_configType;
}

const structs_type *Ex_Get_Channel_Hw_Type(int kind, int channel, void *) {
    if (ex_Option("refill")) {
        const structs_field *from = channel % 2 == 1 ? k_addressFieldsNoBit : k_addressFields;
        size_t n = 0;
        do
            g_refilledFields[n] = from[n];
        while (from[n++].name != nullptr);
        g_refilled = k_addressType;
        g_refilled.args[0].v = g_refilledFields;
        return &g_refilled;
    }
    if (ex_Option("outside") && kind == 0) return &k_addressTypeOutside;
    return ex_Option("nohw") ? nullptr : &k_addressType;
}

const structs_type *Ex_Get_Config_Extra_Type(void *, int, void *, int) {
    return ex_Option("extra") ? &k_configExtraType : nullptr;
}

int Ex_Get_Config_Extra_FileOffset(void *, int) {
    return 4;
}

int Ex_Get_Channel_Extra_Size(int, int, void *, void *) {
    return ex_Option("extra") ? static_cast<int>(sizeof(ChannelExtra)) : 0;
}

const structs_type *Ex_Get_Channel_Extra_Type(int, int, void *) {
    return ex_Option("extra") ? &k_channelExtraType : nullptr;
}
}
