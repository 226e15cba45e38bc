// Channel processing of one scan cycle: validity, scaling, reference, significant change,
// warnings, alarms with deadbands and delays, and events, per channel of one kind.
//
// It works on the two status words of a channel, the current one (A, what the scan handler
// read, or for outputs what other processes wrote into the data segment) and the previous one
// (B, as it stood after the last cycle), and on the analogue values. Alarm and warning
// messages and the loggers' counters go through the alarm pass that the caller holds open
// (alm_BeginDevice .. alm_EndDevice).
#pragma once

#include <cstdint>

struct ChannelRecord;

// One kind's arrays as the cycle hands them over. Analogue arrays are null for digital kinds;
// references are null for kinds without them.
struct ChpKind {
    int count;
    const ChannelRecord *records;
    bool output;                 // current arrays are the data segment's (B takes its kept bits)
    uint32_t *statuses;          // A
    uint32_t *previousStatuses;  // B
    float *values;               // V
    const float *previousValues; // PV
    float *baselines;            // significant-change baselines, bit pattern 0x7FFFFFFF: none
    const float *references;     // subtracted from analogue inputs
    int *saved;                  // set when a channel is evaluated with a good value
    const char *computer;
    const char *user;
};

// Status bits that belong to the runtime: taken from the data segment's word every cycle.
constexpr uint32_t CHP_SEGMENT_BITS = 0x0002 | 0x0040 | 0x0100 | 0x1000;

// Processes channel i (0-based). first: a first cycle after (re)initialisation, which
// evaluates every channel and reports every alarm that holds.
void chp_ProcessChannel(const ChpKind &kind, int i, int first);

// Every channel of the kind in order.
void chp_ProcessKind(const ChpKind &kind, int first);

// The analogue and digital paths after the common steps (for chp_ProcessChannel).
void chp_ProcessAnalog(const ChpKind &kind, int i, int first);
void chp_ProcessDigital(const ChpKind &kind, int i, int first);

// Alarm messages and event counting, the last steps of both paths. value: the analogue
// value, null on the digital path (whose messages carry none).
void chp_ReportTransitions(const ChpKind &kind, int i, int first, const float *value);
