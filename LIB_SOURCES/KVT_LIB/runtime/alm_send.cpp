// The senders of alarm and warning messages, and of the messages outside a pass.
#include "alm_state.h"

#include "dmw.h"
#include "plat_error.h"

#include <cstring>

using namespace ChannelStatusBits;

namespace {
bool channelInPass(int channel) {
    const AlmPass &p = alm_Pass();
    if (!p.active || channel < 0 || channel >= p.channelCount) {
        plat_Fail(WERR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

uint32_t analogBit(uint32_t status) {
    return (status & CS_ANALOG) != 0 ? ALM_BIT_ANALOG : 0;
}

AlarmMessage channelMessage(int channel, bool markBad, uint32_t status) {
    AlarmMessage m{};
    memcpy(m.tableId, alm_Pass().tableId, 2);
    uint16_t number = static_cast<uint16_t>(channel + 1);
    if (markBad && (status & CS_BAD) != 0) number = static_cast<uint16_t>(number + ALM_BAD_CHANNEL);
    m.channel = number;
    return m;
}

AlarmMessage idMessage(const char *id, uint16_t value) {
    AlarmMessage m{};
    m.tableId[0] = id != nullptr && id[0] != '\0' ? id[0] : ' ';
    m.tableId[1] = id != nullptr && id[0] != '\0' && id[1] != '\0' ? id[1] : ' ';
    m.channel = value;
    return m;
}
} // namespace

int alm_SendErrorAlarm(int channel, uint32_t status, int driveCommon, int priority, int delay,
                       const char *computer, const char *user, const float *value) {
    if (!channelInPass(channel)) return -1;
    alm_CountDerived(channel);
    AlarmMessage m = channelMessage(channel, true, status);
    m.delay = static_cast<uint16_t>(delay);
    uint32_t bits = ALM_ALARM_START |
                    ((static_cast<uint32_t>(priority) & 0xFF) << ALM_PRIORITY_SHIFT) |
                    (driveCommon != 0 ? ALM_BIT_DRIVE_COMMON : 0) |
                    ((status & CS_ALARM_HIGH) != 0 ? ALM_BIT_HIGH : 0) | analogBit(status);
    alm_FillMessage(&m, bits, value, computer, user);
    return alm_WriteAlarm(m, false);
}

int alm_SendErrorAlarmEnd(int channel, uint32_t status, const char *computer, const char *user,
                          const float *value) {
    if (!channelInPass(channel)) return -1;
    alm_CountDerived(channel);
    AlarmMessage m = channelMessage(channel, true, status);
    uint32_t bits =
        ALM_ALARM_END | ((status & CS_ALARM_HIGH) != 0 ? ALM_BIT_HIGH : 0) | analogBit(status);
    alm_FillMessage(&m, bits, value, computer, user);
    alm_WriteAlarm(m, false); // an end that was lost is not the caller's failure
    return 0;
}

int alm_SendLimitAlarm(int channel, uint32_t status, int priority, const char *computer,
                       const char *user, const float *value) {
    if (!channelInPass(channel)) return -1;
    AlarmMessage m = channelMessage(channel, false, status);
    uint32_t bits = ALM_WARNING_START |
                    ((static_cast<uint32_t>(priority) & 0xFF) << ALM_PRIORITY_SHIFT) |
                    ((status & CS_WARNING_HIGH) != 0 ? ALM_BIT_HIGH : 0) | analogBit(status);
    alm_FillMessage(&m, bits, value, computer, user);
    return alm_WriteAlarm(m, false);
}

int alm_SendLimitAlarmEnd(int channel, uint32_t status, const char *computer, const char *user,
                          const float *value) {
    if (!channelInPass(channel)) return -1;
    AlarmMessage m = channelMessage(channel, false, status);
    uint32_t bits =
        ALM_WARNING_END | ((status & CS_WARNING_HIGH) != 0 ? ALM_BIT_HIGH : 0) | analogBit(status);
    alm_FillMessage(&m, bits, value, computer, user);
    alm_WriteAlarm(m, false);
    return 0;
}

int alm_SendText(const char *id, uint16_t value, const char *computer, const char *user,
                 const char *text) {
    AlarmMessage m = idMessage(id, value);
    alm_FillMessage(&m, ALM_TEXT, nullptr, computer, user);
    if (text != nullptr) {
        size_t n = strnlen(text, ALM_TEXT_MAX);
        memcpy(m.text, text, n);
        m.text[n] = '\0';
    }
    return alm_WriteAlarm(m, true);
}

int alm_SendSystemMessage(const char *computer, const char *user) {
    AlarmMessage m = idMessage(nullptr, 0);
    alm_FillMessage(&m, ALM_SYSTEM, nullptr, computer, user);
    return alm_WriteAlarm(m, true);
}

int alm_SendKind6(const char *id, uint16_t value, const char *computer, const char *user) {
    AlarmMessage m = idMessage(id, value);
    alm_FillMessage(&m, ALM_KIND6, nullptr, computer, user);
    return alm_WriteAlarm(m, true);
}

int alm_SendKind7(const char *id, uint16_t value, const char *computer, const char *user) {
    AlarmMessage m = idMessage(id, value);
    alm_FillMessage(&m, ALM_KIND7, nullptr, computer, user);
    return alm_WriteAlarm(m, true);
}
