// Senders that carry this process's own computer and user names.
#include "alm.h"

#include "plat_system.h"

#include <string>

namespace {
const std::string &ownComputer() {
    static const std::string name = plat_ComputerName().substr(0, ALM_COMPUTER_MAX);
    return name;
}
const std::string &ownUser() {
    static const std::string name = plat_UserName().substr(0, ALM_USER_MAX);
    return name;
}
} // namespace

const char *alm_OwnComputer() {
    return ownComputer().c_str();
}

const char *alm_OwnUser() {
    return ownUser().c_str();
}

int alm_SendOwnErrorAlarm(int channel, uint32_t status, int driveCommon, int priority, int delay) {
    return alm_SendErrorAlarm(channel, status, driveCommon, priority, delay, alm_OwnComputer(),
                              alm_OwnUser(), nullptr);
}

int alm_SendOwnErrorAlarmEnd(int channel, uint32_t status) {
    return alm_SendErrorAlarmEnd(channel, status, alm_OwnComputer(), alm_OwnUser(), nullptr);
}

int alm_SendOwnLimitAlarm(int channel, uint32_t status, int priority) {
    return alm_SendLimitAlarm(channel, status, priority, alm_OwnComputer(), alm_OwnUser(), nullptr);
}

int alm_SendOwnLimitAlarmEnd(int channel, uint32_t status) {
    return alm_SendLimitAlarmEnd(channel, status, alm_OwnComputer(), alm_OwnUser(), nullptr);
}

int alm_SendOwnText(const char *id, uint16_t value, const char *text) {
    return alm_SendText(id, value, alm_OwnComputer(), alm_OwnUser(), text);
}

int alm_SendOwnSystemMessage() {
    return alm_SendSystemMessage(alm_OwnComputer(), alm_OwnUser());
}

int alm_SendOwnKind6(const char *id, uint16_t value) {
    return alm_SendKind6(id, value, alm_OwnComputer(), alm_OwnUser());
}

int alm_SendOwnKind7(const char *id, uint16_t value) {
    return alm_SendKind7(id, value, alm_OwnComputer(), alm_OwnUser());
}
