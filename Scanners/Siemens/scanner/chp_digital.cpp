// The digital path of channel processing.
#include "chp.h"

#include "chrec.h"
#include "dmw.h"

namespace cs = ChannelStatusBits;
namespace dg = ChannelDigital;

void chp_ProcessDigital(const ChpKind &kind, int i, int first) {
    uint32_t &a = kind.statuses[i];
    const uint32_t b = kind.previousStatuses[i];
    const ChannelRecord &rec = kind.records[i];
    bool aBad = (a & cs::CS_BAD) != 0;
    bool bBad = (b & cs::CS_BAD) != 0;
    bool sameState = ((a ^ b) & cs::CS_STATE) == 0;
    // Nothing to tell: the whole previous word stands (for an output, a state written into a
    // channel that stays bad goes back to what it was).
    if ((aBad && bBad) || (!first && !aBad && !bBad && sameState)) {
        a = b;
        return;
    }
    if (!aBad && kind.saved != nullptr) *kind.saved = 1;

    uint32_t state = a & cs::CS_STATE;
    uint32_t on = b & cs::CS_ALARM_ON;
    if (chrec_TestFlag(rec, dg::AlarmEnable) && !aBad &&
        state == static_cast<uint32_t>(chrec_TestFlag(rec, dg::AlarmState))) {
        a = (a & ~(cs::CS_ALARM_HIGH | cs::CS_ALARM_ON)) | cs::CS_ALARM |
            (state != 0 ? cs::CS_ALARM_HIGH : 0) | on;
    } else if (aBad && chrec_TestFlag(rec, dg::Enable) &&
               chrec_TestFlag(rec, dg::ErrorAlarmEnable)) {
        a = (a & ~(cs::CS_ALARM_HIGH | cs::CS_ALARM_ON)) | cs::CS_ALARM | on;
    } else {
        a &= ~cs::CS_ALARM_MARKS;
    }

    if (chrec_TestFlag(rec, dg::EventEnable) && !aBad &&
        state == static_cast<uint32_t>(chrec_TestFlag(rec, dg::EventState))) {
        a = (a & ~cs::CS_EVENT_HIGH) | (state != 0 ? cs::CS_EVENT_HIGH : 0) | cs::CS_EVENT;
    } else {
        a &= ~cs::CS_EVENT;
    }
    chp_ReportTransitions(kind, i, first, nullptr);
}
