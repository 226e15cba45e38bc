#include "dmw_internal.h"

#include "alm.h"
#include "plat_error.h"

#include <atomic>

using namespace ChannelStatusBits;

namespace {
std::atomic<int> g_notifyOthers{0};

// A written channel of an evaluated table: the runtime's own evaluation of a digital value.
uint32_t evaluate(const DmWriteFrame &f, int channel, const ChannelRecord &rec, uint32_t old,
                  uint32_t state, int force) {
    using namespace ChannelDigital;
    const int enabled = chrec_TestFlag(rec, Enable);
    const float value = state ? 1.0f : 0.0f;
    uint32_t a = old & ~(CS_BAD | CS_ANALOG);
    if (!enabled) a |= CS_BAD;

    if (enabled && chrec_TestFlag(rec, AlarmEnable) &&
        state == static_cast<uint32_t>(chrec_TestFlag(rec, AlarmState))) {
        a = (a & ~(CS_ALARM_HIGH | CS_ALARM_ON)) | CS_ALARM | (state ? CS_ALARM_HIGH : 0) |
            (old & CS_ALARM_ON);
    } else {
        a &= ~CS_ALARM_MARKS;
    }
    const bool alarmChanged =
        ((a ^ old) & CS_ALARM) != 0 || ((a & old & CS_ALARM) && ((a ^ old) & CS_ALARM_HIGH));
    // A forced write repeats the alarm that holds, so that the alarm process sees it again.
    if (alarmChanged || (force && (a & CS_ALARM))) {
        if (a & CS_ALARM) {
            int delay = chrec_Get(rec, AlarmDelay);
            a = delay == 0 ? (a | CS_ALARM_ON) : (a & ~(CS_ALARM_ON | CS_ALARM_SHOWN));
            alm_SendErrorAlarm(channel, a, chrec_TestFlag(rec, AlarmDriveCommon),
                               chrec_Get(rec, AlarmPriority), delay, f.computer.c_str(),
                               f.user.c_str(), &value);
            if (delay == 0) a |= CS_ALARM_SHOWN;
        } else {
            alm_SendErrorAlarmEnd(channel, old, f.computer.c_str(), f.user.c_str(), &value);
        }
    }

    if (enabled && chrec_TestFlag(rec, EventEnable) &&
        state == static_cast<uint32_t>(chrec_TestFlag(rec, EventState)))
        a = (a & ~CS_EVENT_HIGH) | (state ? CS_EVENT_HIGH : 0) | CS_EVENT;
    else
        a &= ~CS_EVENT;
    if (((a ^ old) & CS_EVENT) || ((a & old & CS_EVENT) && ((a ^ old) & CS_EVENT_HIGH))) {
        if (old & CS_EVENT) alm_CountEventEnd(channel);
        if (a & CS_EVENT) alm_CountEventStart(channel);
    }
    return (a & ~CS_STATE) | state;
}
} // namespace

int dm_WriteDigitalValues(int force, int lock, const char *id, int first, int last,
                          const uint32_t *values, const char *computer, const char *user) {
    DmWriteFrame f;
    if (values == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    if (dmw_Begin(&f, id, lock, 0, first, last, computer, user) != 0) return -1;
    for (int i = first - 1; i <= last - 1; ++i) {
        const ChannelRecord &rec = f.records[i];
        if (chrec_GetType(rec) != CHANNEL_TYPE_DO) continue;
        const uint32_t state = values[i - first + 1] & 1u;
        const uint32_t old = dmw_LoadStatus(f, i);
        const int enabled = chrec_TestFlag(rec, ChannelDigital::Enable);
        if (!force && enabled && !(old & CS_BAD) && (old & CS_STATE) == state) continue;
        if (!f.evaluating || !(force || !(old & CS_BAD)))
            dmw_StoreStatus(f, i, (old & ~CS_STATE) | state);
        else
            dmw_StoreStatus(f, i, evaluate(f, i, rec, old, state, force));
    }
    dmw_End(&f, g_notifyOthers.load());
    return 0;
}

void dm_SetDigitalNotifyMode(int flag) {
    g_notifyOthers.store(flag == 1 ? 1 : 0);
}

int dm_WriteDigital(const char *id, int first, int last, const uint32_t *values) {
    return dm_WriteDigitalValues(0, 1, id, first, last, values, dmw_OwnComputer(), dmw_OwnUser());
}

int dm_WriteDigitalAs(const char *id, int first, int last, const uint32_t *values,
                      const char *computer, const char *user) {
    return dm_WriteDigitalValues(0, 1, id, first, last, values, computer, user);
}

int dm_ForceWriteDigital(const char *id, int first, int last, const uint32_t *values) {
    return dm_WriteDigitalValues(1, 1, id, first, last, values, dmw_OwnComputer(), dmw_OwnUser());
}

int dm_WriteDigitalNoLock(const char *id, int first, int last, const uint32_t *values) {
    return dm_WriteDigitalValues(0, 0, id, first, last, values, dmw_OwnComputer(), dmw_OwnUser());
}
