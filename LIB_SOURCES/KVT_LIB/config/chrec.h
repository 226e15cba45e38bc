// The 216-byte channel configuration record.
//
// The same bytes carry two layouts, chosen by bit 0 of the type byte: even types (AI, AO, CI,
// and any even value above) are analogue, odd ones digital. The record is kept as raw bytes so
// that bytes no field names survive a load and save untouched, and every field is read and
// written little-endian through memcpy whatever its alignment. Offsets are file format.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

constexpr size_t CHANNEL_RECORD_SIZE = 216;

struct ChannelRecord {
    uint8_t bytes[CHANNEL_RECORD_SIZE];
};
static_assert(sizeof(ChannelRecord) == CHANNEL_RECORD_SIZE);
// Fields are stored little-endian, the order of every target we build for.
static_assert(std::endian::native == std::endian::little);

// A field of a given type at a byte offset.
template <typename T>
struct ChannelField {
    uint16_t offset;
};

// A fixed character field: NUL-terminated only when shorter than its width.
struct ChannelText {
    uint16_t offset;
    uint16_t width;
};

// Channel types as stored in the type byte.
enum : uint8_t {
    CHANNEL_TYPE_AI = 0,
    CHANNEL_TYPE_DI = 1,
    CHANNEL_TYPE_AO = 2,
    CHANNEL_TYPE_DO = 3,
    CHANNEL_TYPE_CI = 4,
};

// Channel kinds: the index of a channel table and channel file.
enum : int {
    CHANNEL_KIND_AI = 0,
    CHANNEL_KIND_DI = 1,
    CHANNEL_KIND_AO = 2,
    CHANNEL_KIND_DO = 3,
    CHANNEL_KIND_CI = 4,
    CHANNEL_KIND_DC = 5,
    CHANNEL_KIND_DC2 = 6, // a second index for the same "dc" table
    CHANNEL_KIND_COUNT = 7,
};

// Fields of both layouts. The tag, description and units pieces are joined and split by the
// tag_ functions.
namespace ChannelCommon {
inline constexpr ChannelText TagPiece1{0, 8};
inline constexpr ChannelText DescriptionPiece1{8, 16};
inline constexpr ChannelField<uint8_t> Type{24};
inline constexpr uint16_t FlagBytes = 28; // 16 flag bits, most significant bit first
inline constexpr ChannelText TagPiece2{138, 4};
inline constexpr ChannelText DescriptionPiece2{142, 16};
inline constexpr ChannelText TagPiece3{158, 3};
inline constexpr ChannelText UnitsPiece1{32, 4};  // analogue bytes, used whatever the layout
inline constexpr ChannelText UnitsPiece2{161, 4}; // analogue bytes, used whatever the layout
} // namespace ChannelCommon

namespace ChannelAnalog {
inline constexpr ChannelField<float> Gain{36};
inline constexpr ChannelField<float> Offset{40};
inline constexpr ChannelField<float> HighEventLimit{44};
inline constexpr ChannelField<float> LowEventLimit{48};
inline constexpr ChannelField<float> HighAlarmLimit{52};
inline constexpr ChannelField<float> HighAlarmDeadband{56};
inline constexpr ChannelField<float> LowAlarmLimit{60};
inline constexpr ChannelField<float> LowAlarmDeadband{64};
inline constexpr ChannelField<float> SigChangeValue{68};
inline constexpr ChannelField<uint8_t> HighAlarmPriority{72};
inline constexpr ChannelField<uint8_t> LowAlarmPriority{73};
inline constexpr ChannelText HighAlarmText{74, 32};
inline constexpr ChannelText LowAlarmText{106, 32};
inline constexpr ChannelField<uint8_t> ErrorAlarmPriority{165};
inline constexpr ChannelField<uint16_t> ErrorAlarmDelay{166};
inline constexpr ChannelField<float> MaximumUnits{168};
inline constexpr ChannelField<float> MinimumUnits{172};
inline constexpr ChannelField<float> HighWarningLimit{176};
inline constexpr ChannelField<float> LowWarningLimit{180};
inline constexpr ChannelField<uint16_t> HighAlarmDelay{184};
inline constexpr ChannelField<uint16_t> LowAlarmDelay{186};
inline constexpr uint16_t DevicePart = 188;
inline constexpr uint16_t DevicePartSize = 16;

// Flag bit numbers.
enum : int {
    LowAlarmDriveCommon = 0,
    LowAlarmDeadbandEnable = 1,
    LowAlarmEnable = 2,
    HighAlarmDriveCommon = 3,
    HighAlarmDeadbandEnable = 4,
    HighAlarmEnable = 5,
    EventEnable = 6,
    Enable = 7,
    ErrorAlarmDriveCommon = 9,
    ErrorAlarmEnable = 10,
    LowWarningEnable = 11,
    HighWarningEnable = 12,
    ScalingEnable = 13,
    ReferenceEnable = 14,
    SigChangeEnable = 15,
};
} // namespace ChannelAnalog

namespace ChannelDigital {
inline constexpr ChannelText HighStateText{32, 32};
inline constexpr ChannelText LowStateText{64, 32};
inline constexpr ChannelField<uint8_t> AlarmPriority{96};
inline constexpr ChannelText AlarmText{97, 32};
inline constexpr ChannelField<uint8_t> ErrorAlarmPriority{186};
inline constexpr ChannelField<uint16_t> ErrorAlarmDelay{188};
inline constexpr ChannelField<uint16_t> AlarmDelay{190};
inline constexpr uint16_t DevicePart = 192;
inline constexpr uint16_t DevicePartSize = 24;

// Flag bit numbers. AlarmState and EventState read "Low" when clear, "High" when set.
enum : int {
    ErrorAlarmDriveCommon = 0,
    ErrorAlarmEnable = 1,
    AlarmState = 2,
    EventState = 3,
    AlarmEnable = 4,
    EventEnable = 5,
    AlarmDriveCommon = 6,
    Enable = 7,
};
} // namespace ChannelDigital

// Typed access. The caller picks the layout's field; nothing checks the record's type byte.
template <typename T>
T chrec_Get(const ChannelRecord &rec, ChannelField<T> field) {
    T value;
    std::memcpy(&value, rec.bytes + field.offset, sizeof value);
    return value;
}
template <typename T>
void chrec_Set(ChannelRecord *rec, ChannelField<T> field, T value) {
    std::memcpy(rec->bytes + field.offset, &value, sizeof value);
}

// A fixed text up to its first NUL (or its whole width).
std::string chrec_GetText(const ChannelRecord &rec, ChannelText field);
// Copies at most the width, NUL-pads the rest; a null text counts as empty.
void chrec_SetText(ChannelRecord *rec, ChannelText field, const char *text);

uint8_t chrec_GetType(const ChannelRecord &rec);
void chrec_SetType(ChannelRecord *rec, uint8_t type);
// 1 when the record uses the digital layout (odd type).
int chrec_IsDigital(const ChannelRecord &rec);

// Flag bits 0..15 (bit i is 128 >> (i & 7) of byte 28 + (i >> 3)); 0 or 1.
int chrec_TestFlag(const ChannelRecord &rec, int bit);
void chrec_SetFlag(ChannelRecord *rec, int bit, int on);

// The device part of the record's layout: 16 bytes at 188 (analogue) or 24 at 192 (digital).
size_t chrec_DevicePartOffset(const ChannelRecord &rec);
size_t chrec_DevicePartSize(const ChannelRecord &rec);
uint8_t *chrec_DevicePart(ChannelRecord *rec);
const uint8_t *chrec_DevicePart(const ChannelRecord &rec);

// Names: the table and file name of a kind ("ai" .. "dc"), its title in messages and reports,
// and the text of a channel type ("AI" .. "CI"); "" outside their range.
const char *chrec_KindName(int kind);
const char *chrec_KindTitle(int kind);
const char *chrec_TypeName(int type);
