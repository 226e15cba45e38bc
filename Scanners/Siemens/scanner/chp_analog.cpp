// The analogue path of channel processing. All comparisons are in single precision, as the
// limits are stored.
#include "chp.h"

#include "alm.h"
#include "chrec.h"
#include "dmw.h"
#include "fp.h"

#include <cmath>
#include <cstring>

namespace cs = ChannelStatusBits;
namespace an = ChannelAnalog;

namespace {
constexpr uint32_t k_noBaseline = 0x7FFFFFFFu;

bool hasBaseline(const float &baseline) {
    uint32_t bits;
    memcpy(&bits, &baseline, sizeof bits);
    return bits != k_noBaseline;
}

bool flag(const ChannelRecord &rec, int bit) {
    return chrec_TestFlag(rec, bit) != 0;
}

uint32_t evaluateWarning(const ChannelRecord &rec, uint32_t a, uint32_t b, float v) {
    if ((a & cs::CS_BAD) != 0) return a & ~cs::CS_WARNING;
    if (flag(rec, an::HighAlarmEnable) && flag(rec, an::HighWarningEnable)) {
        float limit = chrec_Get(rec, an::HighWarningLimit);
        float distance = chrec_Get(rec, an::HighAlarmLimit) - chrec_Get(rec, an::HighAlarmDeadband);
        bool held = flag(rec, an::HighAlarmDeadbandEnable) && (b & cs::CS_WARNING) != 0 &&
                    (b & cs::CS_WARNING_HIGH) != 0 && v >= limit - distance;
        if (v >= limit || held) return a | cs::CS_WARNING | cs::CS_WARNING_HIGH;
    }
    if (flag(rec, an::LowAlarmEnable) && flag(rec, an::LowWarningEnable)) {
        float limit = chrec_Get(rec, an::LowWarningLimit);
        float distance = chrec_Get(rec, an::LowAlarmDeadband) - chrec_Get(rec, an::LowAlarmLimit);
        bool held = flag(rec, an::LowAlarmDeadbandEnable) && (b & cs::CS_WARNING) != 0 &&
                    (b & cs::CS_WARNING_HIGH) == 0 && v <= limit + distance;
        if (v <= limit || held) return (a & ~cs::CS_WARNING_HIGH) | cs::CS_WARNING;
    }
    return a & ~cs::CS_WARNING;
}

// The deadband fields hold the level at which an alarm ends, not a distance.
uint32_t evaluateAlarm(const ChannelRecord &rec, uint32_t a, uint32_t b, float v) {
    uint32_t on = b & cs::CS_ALARM_ON;
    if ((a & cs::CS_BAD) == 0) {
        if (flag(rec, an::HighAlarmEnable)) {
            bool held = flag(rec, an::HighAlarmDeadbandEnable) && (b & cs::CS_ALARM) != 0 &&
                        (b & cs::CS_ALARM_HIGH) != 0 && v >= chrec_Get(rec, an::HighAlarmDeadband);
            if (v >= chrec_Get(rec, an::HighAlarmLimit) || held)
                return (a & ~cs::CS_ALARM_ON) | cs::CS_ALARM | cs::CS_ALARM_HIGH | on;
        }
        if (flag(rec, an::LowAlarmEnable)) {
            bool held = flag(rec, an::LowAlarmDeadbandEnable) && (b & cs::CS_ALARM) != 0 &&
                        (b & cs::CS_ALARM_HIGH) == 0 && v <= chrec_Get(rec, an::LowAlarmDeadband);
            if (v <= chrec_Get(rec, an::LowAlarmLimit) || held)
                return (a & ~(cs::CS_ALARM_HIGH | cs::CS_ALARM_ON)) | cs::CS_ALARM | on;
        }
    } else if (flag(rec, an::Enable) && flag(rec, an::ErrorAlarmEnable)) {
        return (a & ~(cs::CS_ALARM_HIGH | cs::CS_ALARM_ON)) | cs::CS_ALARM | on;
    }
    return a & ~cs::CS_ALARM_MARKS;
}

uint32_t evaluateEvent(const ChannelRecord &rec, uint32_t a, float v) {
    if (!flag(rec, an::EventEnable) || (a & cs::CS_BAD) != 0) return a & ~cs::CS_EVENT;
    if (v >= chrec_Get(rec, an::HighEventLimit)) return a | cs::CS_EVENT | cs::CS_EVENT_HIGH;
    if (v > chrec_Get(rec, an::LowEventLimit)) return a & ~cs::CS_EVENT;
    return (a & ~cs::CS_EVENT_HIGH) | cs::CS_EVENT;
}

bool warningPairEnabled(const ChannelRecord &rec) {
    return (flag(rec, an::HighAlarmEnable) && flag(rec, an::HighWarningEnable)) ||
           (flag(rec, an::LowAlarmEnable) && flag(rec, an::LowWarningEnable));
}
} // namespace

void chp_ProcessAnalog(const ChpKind &kind, int i, int first) {
    uint32_t &a = kind.statuses[i];
    const uint32_t b = kind.previousStatuses[i];
    float &v = kind.values[i];
    const ChannelRecord &rec = kind.records[i];
    uint8_t type = chrec_GetType(rec);

    if ((a & cs::CS_BAD) == 0 && !std::isfinite(v)) a |= cs::CS_BAD;
    bool good = (a & cs::CS_BAD) == 0;
    if (good) {
        // Outputs hold what the operator asked for: neither scaled nor referenced.
        if (flag(rec, an::ScalingEnable) && type != CHANNEL_TYPE_AO) {
            float gain = chrec_Get(rec, an::Gain);
            float offset = chrec_Get(rec, an::Offset);
            float scaled = fp_Multiply(&v, &gain);
            v = fp_Add(&scaled, &offset);
        }
        if (type == CHANNEL_TYPE_AI && flag(rec, an::ReferenceEnable) && kind.references != nullptr)
            v = fp_Subtract(&v, &kind.references[i]);
    }

    float *baseline = kind.baselines != nullptr ? &kind.baselines[i] : nullptr;
    if (baseline != nullptr && flag(rec, an::SigChangeEnable) && good && hasBaseline(*baseline)) {
        float step = std::fabs(*baseline - v);
        if (step >= std::fabs(chrec_Get(rec, an::SigChangeValue))) {
            a |= cs::CS_STATE;
            alm_CountSignificantChange(i);
            *baseline = v;
        } else {
            a &= ~cs::CS_STATE;
        }
    } else {
        a &= ~cs::CS_STATE;
        if (baseline != nullptr && good && !hasBaseline(*baseline)) *baseline = v;
    }

    if (!first) {
        bool bothBad = (a & cs::CS_BAD) != 0 && (b & cs::CS_BAD) != 0;
        bool bothGood = (a & cs::CS_BAD) == 0 && (b & cs::CS_BAD) == 0;
        if (bothBad || (bothGood && v == kind.previousValues[i])) return;
    }
    if (good && kind.saved != nullptr) *kind.saved = 1;

    a = evaluateWarning(rec, a, b, v);
    bool warningChanged = ((a ^ b) & cs::CS_WARNING) != 0 ||
                          ((a & b & cs::CS_WARNING) != 0 && ((a ^ b) & cs::CS_WARNING_HIGH) != 0);
    if (first || (warningPairEnabled(rec) && warningChanged)) {
        if ((b & cs::CS_WARNING) != 0) alm_SendLimitAlarmEnd(i, b, kind.computer, kind.user, &v);
        if ((a & cs::CS_WARNING) != 0) {
            int priority = (a & cs::CS_WARNING_HIGH) != 0 ? chrec_Get(rec, an::HighAlarmPriority)
                                                          : chrec_Get(rec, an::LowAlarmPriority);
            alm_SendLimitAlarm(i, a, priority, kind.computer, kind.user, good ? &v : nullptr);
        }
    }

    a = evaluateAlarm(rec, a, b, v);
    a = evaluateEvent(rec, a, v);
    chp_ReportTransitions(kind, i, first, &v);
}
