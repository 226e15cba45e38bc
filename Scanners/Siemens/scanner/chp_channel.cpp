// The steps every channel takes before its analogue or digital path, and the messages and
// counters both paths end with.
#include "chp.h"

#include "alm.h"
#include "chrec.h"
#include "dmw.h"

namespace cs = ChannelStatusBits;

void chp_ProcessChannel(const ChpKind &kind, int i, int first) {
    uint32_t &a = kind.statuses[i];
    uint32_t &b = kind.previousStatuses[i];
    // The runtime owns these bits in the data segment; the scanner's own copy follows them.
    if (kind.output)
        b = (b & ~CHP_SEGMENT_BITS) | (a & CHP_SEGMENT_BITS);
    else
        a = (a & ~CHP_SEGMENT_BITS) | (b & CHP_SEGMENT_BITS);
    const ChannelRecord &rec = kind.records[i];
    if (!chrec_TestFlag(rec, ChannelAnalog::Enable)) { // bit 7 in both layouts
        a |= cs::CS_BAD;
        if (!first) return;
    }
    if ((chrec_GetType(rec) & 1) == 0) {
        a |= cs::CS_ANALOG;
    } else {
        a &= ~cs::CS_ANALOG;
    }
    // A table without a value area has only states to evaluate, whatever its records say.
    if ((a & cs::CS_ANALOG) != 0 && kind.values != nullptr)
        chp_ProcessAnalog(kind, i, first);
    else
        chp_ProcessDigital(kind, i, first);
}

void chp_ProcessKind(const ChpKind &kind, int first) {
    for (int i = 0; i < kind.count; ++i)
        chp_ProcessChannel(kind, i, first);
}

namespace {
struct AlarmChoice {
    int delay;
    int priority;
    int driveCommon;
};

AlarmChoice chooseAlarm(const ChannelRecord &rec, uint32_t a, bool digital) {
    bool bad = (a & cs::CS_BAD) != 0;
    if (digital) {
        namespace d = ChannelDigital;
        if (bad)
            return {chrec_Get(rec, d::ErrorAlarmDelay), chrec_Get(rec, d::ErrorAlarmPriority),
                    chrec_TestFlag(rec, d::ErrorAlarmDriveCommon)};
        return {chrec_Get(rec, d::AlarmDelay), chrec_Get(rec, d::AlarmPriority),
                chrec_TestFlag(rec, d::AlarmDriveCommon)};
    }
    namespace an = ChannelAnalog;
    if (bad)
        return {chrec_Get(rec, an::ErrorAlarmDelay), chrec_Get(rec, an::ErrorAlarmPriority),
                chrec_TestFlag(rec, an::ErrorAlarmDriveCommon)};
    if ((a & cs::CS_ALARM_HIGH) != 0)
        return {chrec_Get(rec, an::HighAlarmDelay), chrec_Get(rec, an::HighAlarmPriority),
                chrec_TestFlag(rec, an::HighAlarmDriveCommon)};
    return {chrec_Get(rec, an::LowAlarmDelay), chrec_Get(rec, an::LowAlarmPriority),
            chrec_TestFlag(rec, an::LowAlarmDriveCommon)};
}

// Set in one and not the other, or set in both with one of the given bits differing.
bool changed(uint32_t a, uint32_t b, uint32_t bit, uint32_t detail) {
    if (((a ^ b) & bit) != 0) return true;
    return (a & b & bit) != 0 && ((a ^ b) & detail) != 0;
}
} // namespace

void chp_ReportTransitions(const ChpKind &kind, int i, int first, const float *value) {
    bool digital = value == nullptr;
    uint32_t &a = kind.statuses[i];
    const uint32_t b = kind.previousStatuses[i];
    const ChannelRecord &rec = kind.records[i];
    if (changed(a, b, cs::CS_ALARM, cs::CS_ALARM_HIGH | cs::CS_BAD)) {
        const float *shown = digital ? nullptr : value;
        if ((b & cs::CS_ALARM) != 0) alm_SendErrorAlarmEnd(i, b, kind.computer, kind.user, shown);
        if ((a & cs::CS_ALARM) != 0) {
            AlarmChoice c = chooseAlarm(rec, a, digital);
            // With a delay the runtime decides when the alarm is in force and shown; what the
            // status had of an alarm that ended in this pass is not this one's.
            if (c.delay == 0)
                a |= cs::CS_ALARM_ON;
            else
                a &= ~(cs::CS_ALARM_ON | cs::CS_ALARM_SHOWN);
            alm_SendErrorAlarm(i, a, c.driveCommon, c.priority, c.delay, kind.computer, kind.user,
                               (a & cs::CS_BAD) != 0 ? nullptr : shown);
            if (c.delay == 0) a |= cs::CS_ALARM_SHOWN;
        }
    }
    int eventEnable = chrec_TestFlag(rec, digital ? static_cast<int>(ChannelDigital::EventEnable)
                                                  : static_cast<int>(ChannelAnalog::EventEnable));
    if ((first || eventEnable) && changed(a, b, cs::CS_EVENT, cs::CS_EVENT_HIGH)) {
        if ((b & cs::CS_EVENT) != 0) alm_CountEventEnd(i);
        if ((a & cs::CS_EVENT) != 0) alm_CountEventStart(i);
    }
}
