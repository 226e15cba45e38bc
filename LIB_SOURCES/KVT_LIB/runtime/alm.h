// Alarm and event messages, and the per-pass counting of events for the loggers.
//
// Whoever evaluates channels reports alarm and warning transitions to the alarm process as
// fixed 296-byte AlarmMessage records (mailslot "xalarms"), counts per logger how many events
// started or ended and how many significant changes happened on the channels that logger
// logs, and tells the derived-value process (mailslot "derived") which table changed. A pass
// over one table (alm_BeginDevice .. alm_EndDevice) holds the table's event segment locked
// and gives every logger at most one code.
//
// All state is per process and used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

struct ChannelTableHeader;

// Status bits named here are those of ChannelStatusBits (dmw.h).

// Message kinds (bits 0-2 of AlarmMessage::bits).
constexpr uint32_t ALM_ALARM_START = 0;
constexpr uint32_t ALM_ALARM_END = 1;
constexpr uint32_t ALM_TEXT = 2;
constexpr uint32_t ALM_SYSTEM = 3;
constexpr uint32_t ALM_WARNING_START = 4;
constexpr uint32_t ALM_WARNING_END = 5;
constexpr uint32_t ALM_KIND6 = 6;
constexpr uint32_t ALM_KIND7 = 7;

// Further bits of AlarmMessage::bits.
constexpr uint32_t ALM_BIT_ANALOG = 1u << 3;
constexpr uint32_t ALM_BIT_HIGH = 1u << 4;
constexpr uint32_t ALM_BIT_DRIVE_COMMON = 1u << 5;
constexpr uint32_t ALM_PRIORITY_SHIFT = 7; // bits 7-14

constexpr uint32_t ALM_NO_VALUE = 0x7FFFFFFFu;       // bit pattern of "no value" at 12
constexpr uint16_t ALM_BAD_CHANNEL = 0x8000;         // added to the channel number
constexpr size_t ALM_COMPUTER_MAX = 15;              // characters, NUL follows
constexpr size_t ALM_USER_MAX = 32;                  // characters, NUL follows
constexpr size_t ALM_TEXT_MAX = 226;                 // characters, NUL follows
constexpr uint32_t ALM_LOGGER_CHANGES = 0x80030D40u; // code base with significant changes
constexpr uint32_t ALM_LOGGER_EVENTS = 200000u;      // code base with events only
constexpr int ALM_MAX_LOGGERS = 2000;                // loggers counted per pass

// The message as the alarm process reads it: 296 bytes, little-endian, unlisted bytes zero.
struct AlarmMessage {
    char tableId[2];  // "  " for a system message
    uint16_t channel; // index + 1 (+ 0x8000 for a bad channel in kinds 0 and 1)
    uint16_t delay;   // kind 0: the alarm delay
    uint8_t zero6[2];
    uint32_t bits;     // kind, analogue, high, drive-common, priority
    float value;       // bit pattern ALM_NO_VALUE when there is none
    char computer[16]; // at most 15 characters
    char user[33];     // at most 32 characters
    char text[227];    // kind 2: at most 226 characters
    uint32_t flags;    // bit 0 clear
};
static_assert(sizeof(AlarmMessage) == 296);
static_assert(offsetof(AlarmMessage, channel) == 2);
static_assert(offsetof(AlarmMessage, delay) == 4);
static_assert(offsetof(AlarmMessage, bits) == 8);
static_assert(offsetof(AlarmMessage, value) == 12);
static_assert(offsetof(AlarmMessage, computer) == 16);
static_assert(offsetof(AlarmMessage, user) == 32);
static_assert(offsetof(AlarmMessage, text) == 65);
static_assert(offsetof(AlarmMessage, flags) == 292);

// Fills a zeroed message with the fields every kind shares; texts are cut to their fields
// and a null text counts as empty; a null value writes the "no value" pattern.
void alm_FillMessage(AlarmMessage *message, uint32_t bits, const float *value, const char *computer,
                     const char *user);

// Pass over one table: opens and locks its event segment (-1 when missing) and maps the
// logger table. A pass that is still open is ended first.
int alm_BeginDevice(ChannelTableHeader *header);
// Posts the loggers' codes, unlocks the event segment, tells the derived-value process the
// table id when a derived channel changed, and ends the pass; -1 without a pass.
int alm_EndDevice();

// Counting (channel 0-based): -1 without a pass or for a channel not below the count.
int alm_CountEventStart(int channel);
int alm_CountEventEnd(int channel);
int alm_CountSignificantChange(int channel);
// 1 when the channel feeds derived values (and the pass counted it), 0 when not, -1 as above.
int alm_CountDerived(int channel);

// Channel messages of the current pass (channel 0-based, value null for none). They return
// 0 also when no alarm process is there to receive them.
int alm_SendErrorAlarm(int channel, uint32_t status, int driveCommon, int priority, int delay,
                       const char *computer, const char *user, const float *value);
int alm_SendErrorAlarmEnd(int channel, uint32_t status, const char *computer, const char *user,
                          const float *value);
int alm_SendLimitAlarm(int channel, uint32_t status, int priority, const char *computer,
                       const char *user, const float *value);
int alm_SendLimitAlarmEnd(int channel, uint32_t status, const char *computer, const char *user,
                          const float *value);

// Messages outside a pass; each closes the alarm endpoint after writing. id: 2 characters.
int alm_SendText(const char *id, uint16_t value, const char *computer, const char *user,
                 const char *text);
int alm_SendSystemMessage(const char *computer, const char *user);
int alm_SendKind6(const char *id, uint16_t value, const char *computer, const char *user);
int alm_SendKind7(const char *id, uint16_t value, const char *computer, const char *user);

// The same with this process's computer and user names and no value.
int alm_SendOwnErrorAlarm(int channel, uint32_t status, int driveCommon, int priority, int delay);
int alm_SendOwnErrorAlarmEnd(int channel, uint32_t status);
int alm_SendOwnLimitAlarm(int channel, uint32_t status, int priority);
int alm_SendOwnLimitAlarmEnd(int channel, uint32_t status);
int alm_SendOwnText(const char *id, uint16_t value, const char *text);
int alm_SendOwnSystemMessage();
int alm_SendOwnKind6(const char *id, uint16_t value);
int alm_SendOwnKind7(const char *id, uint16_t value);

// This process's names as the messages carry them (computer at most 15 characters, user at
// most 32), read once.
const char *alm_OwnComputer();
const char *alm_OwnUser();

// Closes both endpoints and ends any pass (tests, shutdown).
void alm_Reset();
