#include "dmw_internal.h"

#include "alm.h"
#include "msl.h"
#include "plat_error.h"
#include "plat_system.h"

#include <cerrno>
#include <cstring>

namespace {
constexpr size_t COMPUTER_MAX = 15;
constexpr size_t USER_MAX = 32;

std::string bounded(const char *text, size_t limit) {
    if (text == nullptr) return "";
    return std::string(text, strnlen(text, limit));
}

int32_t payloadLimit(SegmentHeader *segment) {
    ShmLayout layout;
    if (shm_GetLayout(segment, &layout) != 0) return 0;
    return layout.payloadLimit;
}

int fail(DmWriteFrame *f, uint32_t error) {
    if (f->locked) shm_Unlock(f->data);
    f->locked = 0;
    return plat_Fail(error);
}
} // namespace

int dmw_Begin(DmWriteFrame *f, const char *id, int lock, int analog, int first, int last,
              const char *computer, const char *user) {
    f->computer = bounded(computer, COMPUTER_MAX);
    f->user = bounded(user, USER_MAX);
    f->data = dm_GetDataSegment(id);
    f->idKind = dm_GetIdKind(id);
    f->owner = dm_GetOwnerPid(id);
    f->attribute = analog ? dm_GetIdAttribute(id) : 0;
    SegmentHeader *conf = dm_GetConfSegment(id);
    if (f->data == nullptr || f->idKind == -1 || f->attribute == -1 || conf == nullptr)
        return plat_Fail(WERR_FILE_NOT_FOUND);

    if (lock) {
        if (shm_Lock(f->data) != 0) return -1;
        f->locked = 1;
    }
    f->payload = shm_Payload(f->data);
    f->payloadLimit = payloadLimit(f->data);
    if (f->payloadLimit < DM_CHANNEL_VALUES_OFFSET) return fail(f, WERR_INVALID_PARAMETER);
    f->header = reinterpret_cast<ChannelTableHeader *>(f->payload);
    f->count = f->header->channelCount;
    f->valueBytes = f->header->tableType;
    // An empty range (first above last) is a write of nothing: the pass still runs, so the
    // owner and the subscribers are told as for any other write.
    if (first < 1 || first > f->count || last < 1 || last > f->count)
        return fail(f, WERR_INVALID_PARAMETER);
    if (analog && f->valueBytes != DM_ANALOG_VALUE_BYTES) return fail(f, WERR_INVALID_PARAMETER);
    // Shapes the writer relies on, so that a small or damaged segment is refused rather than
    // written past its end.
    int64_t values = DM_CHANNEL_VALUES_OFFSET + int64_t{f->valueBytes} * f->count;
    if (f->valueBytes < 4 || f->payloadLimit < values) return fail(f, WERR_INVALID_PARAMETER);
    if (payloadLimit(conf) < int64_t{last} * int64_t{CHANNEL_RECORD_SIZE})
        return fail(f, WERR_INVALID_PARAMETER);
    f->records = reinterpret_cast<const ChannelRecord *>(shm_Payload(conf));
    f->runtimeRecords =
        f->payloadLimit >= values + int64_t{DM_RUNTIME_RECORD_SIZE} * f->count ? 1 : 0;

    f->evaluating = f->idKind == 1;
    if (f->evaluating) {
        shm_BeginUpdate(f->data);
        // Without an event segment the pass goes on; its sends and counts are dropped.
        alm_BeginDevice(f->header);
    }
    return 0;
}

void dmw_End(DmWriteFrame *f, int notifyOthers) {
    if (f->evaluating) {
        alm_EndDevice();
        if (notifyOthers)
            shm_NotifyOthers(f->data, 0);
        else
            shm_Notify(f->data, 0);
    } else if (f->owner > 0) {
        // Pid 0 is a table nobody owns: there is no one to tell.
        msl_PostCode(static_cast<uint32_t>(f->owner), NC_VALUES_WRITTEN);
    }
    if (f->locked) shm_Unlock(f->data);
    f->locked = 0;
}

uint32_t dmw_LoadStatus(const DmWriteFrame &f, int channel) {
    uint32_t status;
    memcpy(&status, f.payload + DM_CHANNEL_VALUES_OFFSET + 4 * channel, 4);
    return status;
}

void dmw_StoreStatus(const DmWriteFrame &f, int channel, uint32_t status) {
    memcpy(f.payload + DM_CHANNEL_VALUES_OFFSET + 4 * channel, &status, 4);
}

const char *dmw_OwnComputer() {
    static const std::string name = bounded(plat_ComputerName().c_str(), COMPUTER_MAX);
    return name.c_str();
}

const char *dmw_OwnUser() {
    static const std::string name = bounded(plat_UserName().c_str(), USER_MAX);
    return name.c_str();
}
