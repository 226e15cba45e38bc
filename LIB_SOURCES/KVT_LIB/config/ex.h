// Interface of a driver's configuration extension module ("<prefix>_ex.so"): the entry
// points the configuration library looks up and calls. Shared with the sample module in
// sim/extension, so both sides agree on every prototype.
//
// Results without a stated type are 0, or -1 with a message in err (err is a 256-byte
// buffer). Every entry point is optional; a caller skips the step of an absent one.
#pragma once

#include <cstdint>

struct structs_type;

// A block passed to the decorate and undecorate entry points. The caller sets owned 0; an
// entry point may replace data and size with a block of its own (malloc'ed) and set owned,
// and the caller then frees that block.
struct ExBuffer {
    int32_t size;
    void *data;
    int32_t owned;
};

// Size of the message buffers passed to the entry points.
constexpr int EX_MESSAGE_SIZE = 256;

extern "C" {
int Ex_DoXml(void);
const structs_type *Ex_Get_Config_Type(void *record, int size);
int Ex_Decorated_Config_Size(int size);
int Ex_Decorate_Config(ExBuffer *editable, void *record);
int Ex_Undecorate_Config(ExBuffer *record);
const structs_type *Ex_Get_Config_Extra_Type(void *record, int size, void *extra, int extraSize);
int Ex_Decorate_Config_Extra(void *record, int size, ExBuffer *extra);
int Ex_Undecorate_Config_Extra(void *record, int size, ExBuffer *extra);
int Ex_Get_Config_Extra_FileOffset(void *extra, int extraSize);
int Ex_Validate_Device(const char *fields, void *record, char *err, int errSize);
int Ex_Validate_Device_Extra(const char *fields, void *record, void *extra, int extraSize,
                             char *err, int errSize);
int Ex_Get_Config_Port(void *slot, int size, char *text);
const structs_type *Ex_Get_Channel_Hw_Type(int kind, int channel, void *record);
int Ex_Decorate_Channel_Hw(int kind, int channel, ExBuffer *record);
int Ex_Undecorate_Channel_Hw(int kind, int channel, ExBuffer *record);
const structs_type *Ex_Get_Channel_Extra_Type(int kind, int channel, void *record);
int Ex_Get_Channel_Extra_Size(int kind, int channel, void *record, void *extra);
void *Ex_Get_Channel_Extra_Struct(int kind);
int Ex_Decorate_Channel_Extra(int kind, int channel, void *record, ExBuffer *extra);
int Ex_Undecorate_Channel_Extra(int kind, int channel, void *record, ExBuffer *extra);
int Ex_Validate_Chan(const char *fields, void *record, char *err, int errSize);
int Ex_Validate_Chan_Extra(const char *fields, void *record, void *extra, int extraSize, char *err,
                           int errSize);
int Ex_Get_Mixed_Channel_Type(void);
int Ex_ValidateChanWithConfig(intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e,
                              intptr_t f, intptr_t g, char *err, int errSize);
}

// Pointer types of the entry points, for lookups by name.
using Ex_DoXml_fn = decltype(&Ex_DoXml);
using Ex_Get_Config_Type_fn = decltype(&Ex_Get_Config_Type);
using Ex_Decorated_Config_Size_fn = decltype(&Ex_Decorated_Config_Size);
using Ex_Decorate_Config_fn = decltype(&Ex_Decorate_Config);
using Ex_Undecorate_Config_fn = decltype(&Ex_Undecorate_Config);
using Ex_Get_Config_Extra_Type_fn = decltype(&Ex_Get_Config_Extra_Type);
using Ex_Decorate_Config_Extra_fn = decltype(&Ex_Decorate_Config_Extra);
using Ex_Undecorate_Config_Extra_fn = decltype(&Ex_Undecorate_Config_Extra);
using Ex_Get_Config_Extra_FileOffset_fn = decltype(&Ex_Get_Config_Extra_FileOffset);
using Ex_Validate_Device_fn = decltype(&Ex_Validate_Device);
using Ex_Validate_Device_Extra_fn = decltype(&Ex_Validate_Device_Extra);
using Ex_Get_Config_Port_fn = decltype(&Ex_Get_Config_Port);
using Ex_Get_Channel_Hw_Type_fn = decltype(&Ex_Get_Channel_Hw_Type);
using Ex_Decorate_Channel_Hw_fn = decltype(&Ex_Decorate_Channel_Hw);
using Ex_Undecorate_Channel_Hw_fn = decltype(&Ex_Undecorate_Channel_Hw);
using Ex_Get_Channel_Extra_Type_fn = decltype(&Ex_Get_Channel_Extra_Type);
using Ex_Get_Channel_Extra_Size_fn = decltype(&Ex_Get_Channel_Extra_Size);
using Ex_Get_Channel_Extra_Struct_fn = decltype(&Ex_Get_Channel_Extra_Struct);
using Ex_Decorate_Channel_Extra_fn = decltype(&Ex_Decorate_Channel_Extra);
using Ex_Undecorate_Channel_Extra_fn = decltype(&Ex_Undecorate_Channel_Extra);
using Ex_Validate_Chan_fn = decltype(&Ex_Validate_Chan);
using Ex_Validate_Chan_Extra_fn = decltype(&Ex_Validate_Chan_Extra);
using Ex_Get_Mixed_Channel_Type_fn = decltype(&Ex_Get_Mixed_Channel_Type);
using Ex_ValidateChanWithConfig_fn = decltype(&Ex_ValidateChanWithConfig);
