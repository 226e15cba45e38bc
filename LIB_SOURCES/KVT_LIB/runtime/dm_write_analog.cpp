#include "dmw_internal.h"

#include "alm.h"
#include "plat_error.h"

#include <atomic>
#include <cmath>
#include <cstring>

using namespace ChannelStatusBits;

namespace {
std::atomic<int> g_notifyOthers{0};

float loadValue(const DmWriteFrame &f, int channel) {
    float v;
    memcpy(&v, f.payload + DM_CHANNEL_VALUES_OFFSET + 4 * f.count + 4 * channel, 4);
    return v;
}

void storeValue(const DmWriteFrame &f, int channel, float v) {
    memcpy(f.payload + DM_CHANNEL_VALUES_OFFSET + 4 * f.count + 4 * channel, &v, 4);
    if (!f.runtimeRecords || f.attribute == 0) return;
    uint8_t *record = f.payload + DM_CHANNEL_VALUES_OFFSET + int64_t{f.valueBytes} * f.count +
                      int64_t{DM_RUNTIME_RECORD_SIZE} * channel;
    uint16_t code = DM_RUNTIME_CODE_WRITTEN;
    memcpy(record + offsetof(ChannelRuntimeRecord, code), &code, 2);
    memcpy(record + offsetof(ChannelRuntimeRecord, value), &v, 4);
}

uint32_t warning(const ChannelRecord &rec, uint32_t a, uint32_t old, float v) {
    using namespace ChannelAnalog;
    auto flag = [&](int bit) { return chrec_TestFlag(rec, bit) != 0; };
    const float hal = chrec_Get(rec, HighAlarmLimit), had = chrec_Get(rec, HighAlarmDeadband);
    const float lal = chrec_Get(rec, LowAlarmLimit), lad = chrec_Get(rec, LowAlarmDeadband);
    const float hwl = chrec_Get(rec, HighWarningLimit), lwl = chrec_Get(rec, LowWarningLimit);
    if (flag(HighAlarmEnable) && flag(HighWarningEnable) &&
        (v >= hwl || (flag(HighAlarmDeadbandEnable) && (old & CS_WARNING) &&
                      (old & CS_WARNING_HIGH) && v >= hwl - (hal - had))))
        return a | CS_WARNING | CS_WARNING_HIGH;
    if (flag(LowAlarmEnable) && flag(LowWarningEnable) &&
        (v <= lwl || (flag(LowAlarmDeadbandEnable) && (old & CS_WARNING) &&
                      !(old & CS_WARNING_HIGH) && v <= lwl + (lad - lal))))
        return (a & ~CS_WARNING_HIGH) | CS_WARNING;
    return a & ~CS_WARNING;
}

uint32_t alarm(const ChannelRecord &rec, uint32_t a, uint32_t old, float v) {
    using namespace ChannelAnalog;
    auto flag = [&](int bit) { return chrec_TestFlag(rec, bit) != 0; };
    const uint32_t keepOn = old & CS_ALARM_ON;
    if (flag(HighAlarmEnable) &&
        (v >= chrec_Get(rec, HighAlarmLimit) ||
         (flag(HighAlarmDeadbandEnable) && (old & CS_ALARM) && (old & CS_ALARM_HIGH) &&
          v >= chrec_Get(rec, HighAlarmDeadband))))
        return (a & ~CS_ALARM_ON) | CS_ALARM | CS_ALARM_HIGH | keepOn;
    if (flag(LowAlarmEnable) && (v <= chrec_Get(rec, LowAlarmLimit) ||
                                 (flag(LowAlarmDeadbandEnable) && (old & CS_ALARM) &&
                                  !(old & CS_ALARM_HIGH) && v <= chrec_Get(rec, LowAlarmDeadband))))
        return (a & ~(CS_ALARM_HIGH | CS_ALARM_ON)) | CS_ALARM | keepOn;
    return a & ~CS_ALARM_MARKS;
}

// A written channel of an evaluated table: the runtime's own evaluation of an analogue value.
uint32_t evaluate(const DmWriteFrame &f, int channel, const ChannelRecord &rec, uint32_t old,
                  float before, float v, int force) {
    using namespace ChannelAnalog;
    auto flag = [&](int bit) { return chrec_TestFlag(rec, bit) != 0; };
    const char *computer = f.computer.c_str();
    const char *user = f.user.c_str();
    const bool enabled = flag(Enable);
    uint32_t a = old | CS_ANALOG;
    a = enabled ? (a & ~CS_BAD) : (a | CS_BAD);

    if (!enabled || (old & CS_BAD) || !flag(SigChangeEnable)) {
        a &= ~CS_STATE;
    } else if (std::fabs(before - v) >= std::fabs(chrec_Get(rec, SigChangeValue))) {
        a |= CS_STATE;
        alm_CountSignificantChange(channel);
    } else {
        a &= ~CS_STATE;
    }

    if (!enabled || (!flag(LowWarningEnable) && !flag(HighWarningEnable)))
        a &= ~CS_WARNING;
    else
        a = warning(rec, a, old, v);
    if ((a & CS_WARNING) && (!(old & CS_WARNING) || ((a ^ old) & CS_WARNING_HIGH))) {
        int priority = chrec_Get(rec, (a & CS_WARNING_HIGH) ? HighAlarmPriority : LowAlarmPriority);
        alm_SendLimitAlarm(channel, a, priority, computer, user, &v);
    } else if (!(a & CS_WARNING) && (old & CS_WARNING)) {
        alm_SendLimitAlarmEnd(channel, old, computer, user, &v);
    }

    if (enabled && (flag(HighAlarmEnable) || flag(LowAlarmEnable)))
        a = alarm(rec, a, old, v);
    else
        a &= ~CS_ALARM_MARKS;
    const bool started = (a & CS_ALARM) && (!(old & CS_ALARM) || ((a ^ old) & CS_ALARM_HIGH));
    // A forced write repeats the alarm that holds, so that the alarm process sees it again.
    if (started || (force && (a & CS_ALARM))) {
        const bool high = (a & CS_ALARM_HIGH) != 0;
        int delay = chrec_Get(rec, high ? HighAlarmDelay : LowAlarmDelay);
        a = delay == 0 ? (a | CS_ALARM_ON) : (a & ~(CS_ALARM_ON | CS_ALARM_SHOWN));
        alm_SendErrorAlarm(channel, a, flag(high ? HighAlarmDriveCommon : LowAlarmDriveCommon),
                           chrec_Get(rec, high ? HighAlarmPriority : LowAlarmPriority), delay,
                           computer, user, &v);
        if (delay == 0) a |= CS_ALARM_SHOWN;
    } else if (!(a & CS_ALARM) && (old & CS_ALARM)) {
        alm_SendErrorAlarmEnd(channel, old, computer, user, &v);
    }

    if (enabled && flag(EventEnable)) {
        if (v >= chrec_Get(rec, HighEventLimit))
            a |= CS_EVENT | CS_EVENT_HIGH;
        else if (v > chrec_Get(rec, LowEventLimit))
            a &= ~CS_EVENT;
        else
            a = (a & ~CS_EVENT_HIGH) | CS_EVENT;
    } else {
        a &= ~CS_EVENT;
    }
    if (((a ^ old) & CS_EVENT) || ((a & old & CS_EVENT) && ((a ^ old) & CS_EVENT_HIGH))) {
        if (old & CS_EVENT) alm_CountEventEnd(channel);
        if (a & CS_EVENT) alm_CountEventStart(channel);
    }
    return a;
}
} // namespace

int dm_WriteAnalogValues(int force, int lock, const char *id, int first, int last,
                         const float *values, const char *computer, const char *user) {
    if (values == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    DmWriteFrame f;
    if (dmw_Begin(&f, id, lock, 1, first, last, computer, user) != 0) return -1;
    for (int i = first - 1; i <= last - 1; ++i) {
        const ChannelRecord &rec = f.records[i];
        if (chrec_GetType(rec) != CHANNEL_TYPE_AO) continue;
        const float v = values[i - first + 1];
        const uint32_t old = dmw_LoadStatus(f, i);
        const float before = loadValue(f, i);
        const bool enabled = chrec_TestFlag(rec, ChannelAnalog::Enable) != 0;
        // NaN compares unequal, so it is always written.
        if (!force && enabled && !(old & CS_BAD) && before == v) continue;
        if (f.evaluating && (force || !(old & CS_BAD)))
            dmw_StoreStatus(f, i, evaluate(f, i, rec, old, before, v, force));
        storeValue(f, i, v);
    }
    dmw_End(&f, g_notifyOthers.load());
    return 0;
}

void dm_SetAnalogNotifyMode(int flag) {
    g_notifyOthers.store(flag == 1 ? 1 : 0);
}

int dm_WriteAnalog(const char *id, int first, int last, const float *values) {
    return dm_WriteAnalogValues(0, 1, id, first, last, values, dmw_OwnComputer(), dmw_OwnUser());
}

int dm_WriteAnalogAs(const char *id, int first, int last, const float *values, const char *computer,
                     const char *user) {
    return dm_WriteAnalogValues(0, 1, id, first, last, values, computer, user);
}

int dm_ForceWriteAnalog(const char *id, int first, int last, const float *values) {
    return dm_WriteAnalogValues(1, 1, id, first, last, values, dmw_OwnComputer(), dmw_OwnUser());
}

int dm_WriteAnalogNoLock(const char *id, int first, int last, const float *values) {
    return dm_WriteAnalogValues(0, 0, id, first, last, values, dmw_OwnComputer(), dmw_OwnUser());
}
