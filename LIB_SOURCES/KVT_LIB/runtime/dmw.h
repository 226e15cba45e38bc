// Channel value writers: processes other than a table's owner change channel values here.
//
// A data segment "dm_XX" holds after its 20-byte ChannelTableHeader N status words (state in
// bit 0 for digital channels), then for analogue tables (V = 8 at header offset 2) N float
// values, and, when the payload is large enough, N runtime records of 264 bytes. Tables the
// runtime evaluates itself (data-process tables such as the system status table, and a
// device's own status table) are evaluated here as the scanner would (alarms, warnings,
// events, significant changes) and their subscribers notified; for a device's channel-kind
// tables the value is only stored and the owner told with code 305, so that it writes the
// output to its device in its next cycle.
//
// Channels are 1-based, first..last inclusive; only records of the writer's type (3 for
// digital, 2 for analogue) in the range are written. Each returns 0, or -1 with errno (2 for
// a missing table, 87 for a range outside the table or a table of the wrong shape) and
// nothing changed.
#pragma once

#include <cstddef>
#include <cstdint>

// Channel status word bits, as the scanner and the runtime read them.
namespace ChannelStatusBits {
inline constexpr uint32_t CS_STATE = 0x0001;
inline constexpr uint32_t CS_ALARM_ON = 0x0002;
inline constexpr uint32_t CS_ALARM_HIGH = 0x0004;
inline constexpr uint32_t CS_EVENT = 0x0008;
inline constexpr uint32_t CS_EVENT_HIGH = 0x0010;
inline constexpr uint32_t CS_BAD = 0x0020;
inline constexpr uint32_t CS_ALARM_SHOWN = 0x0040;
inline constexpr uint32_t CS_ANALOG = 0x0080;
inline constexpr uint32_t CS_WARNING_HIGH = 0x0200;
inline constexpr uint32_t CS_WARNING = 0x0400;
inline constexpr uint32_t CS_ALARM = 0x0800;
// Everything a status says about an alarm. Once the alarm process is told an alarm ended, the
// status keeps none of it, and an alarm that starts with a delay is neither in force nor shown
// until the runtime makes it so: the status always tells what the messages told.
inline constexpr uint32_t CS_ALARM_MARKS = CS_ALARM | CS_ALARM_HIGH | CS_ALARM_ON | CS_ALARM_SHOWN;
} // namespace ChannelStatusBits

// The per-channel runtime record behind the values.
constexpr int32_t DM_RUNTIME_RECORD_SIZE = 264;
constexpr uint16_t DM_RUNTIME_CODE_WRITTEN = 4; // value at offset 8 set by a writer
constexpr uint16_t DM_RUNTIME_CODE_BAD = 13;    // marked bad by the owner at (re)initialisation
struct ChannelRuntimeRecord {
    uint16_t code;
    uint8_t reserved2[6];
    uint8_t value[4]; // 32-bit value, read and written with memcpy
    uint8_t reserved12[252];
};
static_assert(sizeof(ChannelRuntimeRecord) == 264);
static_assert(offsetof(ChannelRuntimeRecord, value) == 8);

// Bytes per channel of the value area (header offset 2).
constexpr uint16_t DM_DIGITAL_VALUE_BYTES = 4;
constexpr uint16_t DM_ANALOG_VALUE_BYTES = 8;

int dm_WriteDigitalValues(int force, int lock, const char *id, int first, int last,
                          const uint32_t *values, const char *computer, const char *user);
int dm_WriteAnalogValues(int force, int lock, const char *id, int first, int last,
                         const float *values, const char *computer, const char *user);

// With this process's computer name (at most 15 characters) and user name (at most 32).
int dm_WriteDigital(const char *id, int first, int last, const uint32_t *values);
int dm_WriteAnalog(const char *id, int first, int last, const float *values);
// With the caller's names (cut to the same lengths).
int dm_WriteDigitalAs(const char *id, int first, int last, const uint32_t *values,
                      const char *computer, const char *user);
int dm_WriteAnalogAs(const char *id, int first, int last, const float *values, const char *computer,
                     const char *user);
// Every channel written and evaluated, changed or not.
int dm_ForceWriteDigital(const char *id, int first, int last, const uint32_t *values);
int dm_ForceWriteAnalog(const char *id, int first, int last, const float *values);
// For callers that already hold the data segment's lock.
int dm_WriteDigitalNoLock(const char *id, int first, int last, const uint32_t *values);
int dm_WriteAnalogNoLock(const char *id, int first, int last, const float *values);

// 1: notify the subscribers of an evaluated table except this process; 0 (initially): all.
void dm_SetDigitalNotifyMode(int flag);
void dm_SetAnalogNotifyMode(int flag);
