// The init and scan handler of every channel kind, as the scanner frame finds them in the
// driver entry table. Request failures never fail a handler: they show in the block
// statuses, the channels' bad bits and the station texts.
#include "s5.h"

#include "chrec.h"
#include "plat_error.h"

namespace {

ChannelRecord *Records(void *records) {
    return static_cast<ChannelRecord *>(records);
}

int PlanKind(int kind, int count, void *records) {
    s5_PlanBlocks(count, Records(records), &s5_KindBlocks(kind));
    return 0;
}

int PollKind(int kind, int count, void *records, uint32_t *statuses, void *values) {
    S5BlockList &list = s5_KindBlocks(kind);
    s5_PollBlocks(list);
    s5_BlockToChannels(list, count, Records(records), statuses, static_cast<float *>(values));
    return 0;
}

} // namespace

int s5_InitAI(void *, int count, void *records) {
    return PlanKind(S5_KIND_AI, count, records);
}

int s5_InitDI(void *, int count, void *records) {
    return PlanKind(S5_KIND_DI, count, records);
}

int s5_InitAO(void *deviceConfig, int count, void *records) {
    PlanKind(S5_KIND_AO, count, records);
    s5_SetOutputModes(deviceConfig);
    return 0;
}

int s5_InitDO(void *deviceConfig, int count, void *records) {
    PlanKind(S5_KIND_DO, count, records);
    s5_SetOutputModes(deviceConfig);
    return 0;
}

// Counter inputs are not served: a device with them never finishes initialising.
int s5_InitCI(void *, int, void *) {
    return plat_Fail(WERR_NOT_SUPPORTED);
}

int s5_ScanAI(void *, int count, void *records, uint32_t *statuses, void *values) {
    return PollKind(S5_KIND_AI, count, records, statuses, values);
}

int s5_ScanDI(void *, int count, void *records, uint32_t *statuses, void *values) {
    return PollKind(S5_KIND_DI, count, records, statuses, values);
}

int s5_ScanAO(void *, int count, void *records, uint32_t *statuses, void *values) {
    return s5_ScanOutputs(s5_KindBlocks(S5_KIND_AO), 0, count, Records(records), statuses,
                          static_cast<float *>(values));
}

int s5_ScanDO(void *, int count, void *records, uint32_t *statuses, void *values) {
    return s5_ScanOutputs(s5_KindBlocks(S5_KIND_DO), 1, count, Records(records), statuses,
                          static_cast<float *>(values));
}

int s5_ScanCI(void *, int, void *, uint32_t *, void *) {
    return 0;
}

const DriverEntryTable s5_DriverEntryTable = {
    {s5_InitAI, s5_InitDI, s5_InitAO, s5_InitDO, s5_InitCI},
    {s5_ScanAI, s5_ScanDI, s5_ScanAO, s5_ScanDO, s5_ScanCI},
    "CAN'T READ CONFIGURATION -%04d",
};
