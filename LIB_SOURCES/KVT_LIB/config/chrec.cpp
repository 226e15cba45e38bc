#include "chrec.h"

#include "tag.h"

#include <cstring>

namespace {
// Each layout's fields in offset order with their widths; the checks below prove at compile
// time that no two overlap and that all lie inside the record.
struct Span {
    uint16_t offset;
    uint16_t width;
};

template <typename T>
constexpr Span span(ChannelField<T> f) {
    return Span{f.offset, static_cast<uint16_t>(sizeof(T))};
}
constexpr Span span(ChannelText t) {
    return Span{t.offset, t.width};
}

namespace A = ChannelAnalog;
namespace C = ChannelCommon;
namespace D = ChannelDigital;

constexpr Span k_analog[] = {
    span(C::TagPiece1),
    span(C::DescriptionPiece1),
    span(C::Type),
    Span{C::FlagBytes, 2},
    span(C::UnitsPiece1),
    span(A::Gain),
    span(A::Offset),
    span(A::HighEventLimit),
    span(A::LowEventLimit),
    span(A::HighAlarmLimit),
    span(A::HighAlarmDeadband),
    span(A::LowAlarmLimit),
    span(A::LowAlarmDeadband),
    span(A::SigChangeValue),
    span(A::HighAlarmPriority),
    span(A::LowAlarmPriority),
    span(A::HighAlarmText),
    span(A::LowAlarmText),
    span(C::TagPiece2),
    span(C::DescriptionPiece2),
    span(C::TagPiece3),
    span(C::UnitsPiece2),
    span(A::ErrorAlarmPriority),
    span(A::ErrorAlarmDelay),
    span(A::MaximumUnits),
    span(A::MinimumUnits),
    span(A::HighWarningLimit),
    span(A::LowWarningLimit),
    span(A::HighAlarmDelay),
    span(A::LowAlarmDelay),
    Span{A::DevicePart, A::DevicePartSize},
};

constexpr Span k_digital[] = {
    span(C::TagPiece1),         span(C::DescriptionPiece1), span(C::Type),
    Span{C::FlagBytes, 2},      span(D::HighStateText),     span(D::LowStateText),
    span(D::AlarmPriority),     span(D::AlarmText),         span(C::TagPiece2),
    span(C::DescriptionPiece2), span(C::TagPiece3),         span(D::ErrorAlarmPriority),
    span(D::ErrorAlarmDelay),   span(D::AlarmDelay),        Span{D::DevicePart, D::DevicePartSize},
};

template <size_t N>
constexpr bool ordered(const Span (&spans)[N]) {
    for (size_t i = 1; i < N; ++i)
        if (spans[i - 1].offset + spans[i - 1].width > spans[i].offset) return false;
    return spans[N - 1].offset + spans[N - 1].width <= CHANNEL_RECORD_SIZE;
}

static_assert(ordered(k_analog));
static_assert(ordered(k_digital));
static_assert(A::DevicePart + A::DevicePartSize == 204);
static_assert(D::DevicePart + D::DevicePartSize == CHANNEL_RECORD_SIZE);
static_assert(A::Gain.offset == 36 && A::LowAlarmDelay.offset == 186);
static_assert(D::AlarmText.offset == 97 && D::AlarmDelay.offset == 190);

const char *const k_kindNames[CHANNEL_KIND_COUNT] = {"ai", "di", "ao", "do", "ci", "dc", "dc"};
const char *const k_kindTitles[CHANNEL_KIND_COUNT] = {
    "ANALOG INPUTS",  "DIGITAL INPUTS", "ANALOG OUTPUTS", "DIGITAL OUTPUTS",
    "COUNTER INPUTS", "DIAGNOSTICS",    "DIAGNOSTICS"};
const char *const k_typeNames[] = {"AI", "DI", "AO", "DO", "CI"};
} // namespace

std::string chrec_GetText(const ChannelRecord &rec, ChannelText field) {
    const char *p = reinterpret_cast<const char *>(rec.bytes + field.offset);
    const void *nul = std::memchr(p, '\0', field.width);
    size_t n =
        nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - p) : field.width;
    return std::string(p, n);
}

void chrec_SetText(ChannelRecord *rec, ChannelText field, const char *text) {
    size_t n = text != nullptr ? strnlen(text, field.width) : 0;
    std::memset(rec->bytes + field.offset, 0, field.width);
    if (n > 0) std::memcpy(rec->bytes + field.offset, text, n);
}

uint8_t chrec_GetType(const ChannelRecord &rec) {
    return chrec_Get(rec, ChannelCommon::Type);
}

void chrec_SetType(ChannelRecord *rec, uint8_t type) {
    chrec_Set(rec, ChannelCommon::Type, type);
}

int chrec_IsDigital(const ChannelRecord &rec) {
    return chrec_GetType(rec) & 1;
}

int chrec_TestFlag(const ChannelRecord &rec, int bit) {
    if (bit < 0 || bit > 15) return 0;
    return util_TestBit(rec.bytes + ChannelCommon::FlagBytes, bit);
}

void chrec_SetFlag(ChannelRecord *rec, int bit, int on) {
    if (bit < 0 || bit > 15) return;
    if (on)
        util_SetBit(rec->bytes + ChannelCommon::FlagBytes, bit);
    else
        util_ClearBit(rec->bytes + ChannelCommon::FlagBytes, bit);
}

size_t chrec_DevicePartOffset(const ChannelRecord &rec) {
    return chrec_IsDigital(rec) ? ChannelDigital::DevicePart : ChannelAnalog::DevicePart;
}

size_t chrec_DevicePartSize(const ChannelRecord &rec) {
    return chrec_IsDigital(rec) ? ChannelDigital::DevicePartSize : ChannelAnalog::DevicePartSize;
}

uint8_t *chrec_DevicePart(ChannelRecord *rec) {
    return rec->bytes + chrec_DevicePartOffset(*rec);
}

const uint8_t *chrec_DevicePart(const ChannelRecord &rec) {
    return rec.bytes + chrec_DevicePartOffset(rec);
}

const char *chrec_KindName(int kind) {
    return kind >= 0 && kind < CHANNEL_KIND_COUNT ? k_kindNames[kind] : "";
}

const char *chrec_KindTitle(int kind) {
    return kind >= 0 && kind < CHANNEL_KIND_COUNT ? k_kindTitles[kind] : "";
}

const char *chrec_TypeName(int type) {
    return type >= 0 && type <= CHANNEL_TYPE_CI ? k_typeNames[type] : "";
}
