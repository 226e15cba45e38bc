#include "dm_state.h"

#include "plat_error.h"
#include "plat_system.h"
#include "util.h"

#include <cerrno>
#include <cstring>

namespace {
std::recursive_mutex g_lock;
DmState g_state;

int32_t countAt(SegmentHeader *segment) {
    int32_t count;
    memcpy(&count, shm_Payload(segment), sizeof count);
    return count;
}

// A count from the segment, clamped to the entries of entrySize that the payload holds.
int clampedCount(SegmentHeader *segment, int32_t entrySize) {
    if (segment == nullptr) return 0;
    int32_t limit = dm_PayloadLimit(segment);
    if (limit < 4) return 0;
    int32_t count = countAt(segment);
    int32_t room = (limit - 4) / entrySize;
    return count < 0 ? 0 : (count > room ? room : count);
}

int mapOnce(SegmentHeader *DmState::*member, const char *name) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    DmState &s = dm_State();
    if (s.*member != nullptr) return 0;
    SegmentHeader *seg = shm_OpenSegment(name);
    if (seg == SHM_NO_SEGMENT) return -1;
    s.*member = seg;
    return 0;
}

template <typename T>
T *entryAt(SegmentHeader *segment, int32_t offset) {
    return reinterpret_cast<T *>(shm_Payload(segment) + offset);
}

// The "dm_errors" layout: short-only when the payload length is exactly count x 57.
struct ErrorLayout {
    int count = 0;
    bool shortOnly = false;
    int32_t longStart = 0;
};

ErrorLayout errorLayout(SegmentHeader *segment) {
    ErrorLayout e;
    if (segment == nullptr) return e;
    int32_t limit = dm_PayloadLimit(segment);
    int64_t declared = limit >= 4 ? countAt(segment) : 0;
    e.shortOnly = static_cast<int64_t>(segment->payloadLength) == declared * 57;
    int32_t room = limit >= 4 ? (limit - 4) / (e.shortOnly ? 57 : 443) : 0;
    e.count = declared < 0 ? 0 : static_cast<int>(declared > room ? room : declared);
    if (!e.shortOnly) {
        int32_t entries = segment->payloadLength >= 4 ? (segment->payloadLength - 4) / 443 : 0;
        e.longStart = 4 + 57 * entries;
        // The long table must lie inside what is mapped, whatever the header says.
        int64_t end = e.longStart + static_cast<int64_t>(386) * e.count;
        if (end > limit) e.count = 0;
    }
    return e;
}
} // namespace

std::recursive_mutex &dm_Lock() {
    return g_lock;
}

DmState &dm_State() {
    std::string prefix = plat_IpcPrefix();
    if (g_state.prefix != prefix) {
        g_state = DmState();
        g_state.prefix = prefix;
    }
    return g_state;
}

void dm_ResetForTests() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    g_state = DmState();
    g_state.prefix = plat_IpcPrefix();
}

int32_t dm_PayloadLimit(SegmentHeader *segment) {
    ShmLayout l;
    if (shm_GetLayout(segment, &l) != 0) return 0;
    return l.payloadLimit;
}

std::string dm_NormaliseId(const char *id) {
    char copy[3] = {};
    if (id != nullptr) {
        copy[0] = id[0];
        if (copy[0] != '\0') copy[1] = id[1];
    }
    util_UpperN(copy, 2);
    return std::string(copy);
}

const char *dm_ChannelTypeName(int kind) {
    static const char *const names[] = {"ai", "di", "ao", "do", "ci", "dc", "dc"};
    return (kind >= 0 && kind < 7) ? names[kind] : "";
}

int dm_MapDeviceTable() {
    return mapOnce(&DmState::devices, "dm_device");
}
int dm_MapDataProcessTable() {
    return mapOnce(&DmState::dataProcesses, "dm_datproc");
}
int dm_MapLoggerTable() {
    return mapOnce(&DmState::loggers, "dm_loggers");
}
int dm_MapErrorTable() {
    return mapOnce(&DmState::errors, "dm_errors");
}

SegmentHeader *dm_GetDeviceSegment() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    return dm_State().devices;
}

int dm_DeviceCount() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    return clampedCount(dm_State().devices, DM_DEVICE_SLOT_SIZE);
}

DeviceSlot *dm_GetDeviceSlot(int index) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    SegmentHeader *seg = dm_State().devices;
    if (index < 0 || index >= clampedCount(seg, DM_DEVICE_SLOT_SIZE)) return nullptr;
    return entryAt<DeviceSlot>(seg, 4 + DM_DEVICE_SLOT_SIZE * index);
}

int dm_DataProcessCount() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    return clampedCount(dm_State().dataProcesses, DM_DATA_PROCESS_SIZE);
}

DataProcessEntry *dm_GetDataProcess(int index) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    SegmentHeader *seg = dm_State().dataProcesses;
    if (index < 0 || index >= clampedCount(seg, DM_DATA_PROCESS_SIZE)) return nullptr;
    return entryAt<DataProcessEntry>(seg, 4 + DM_DATA_PROCESS_SIZE * index);
}

int dm_LoggerCount() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    return clampedCount(dm_State().loggers, DM_LOGGER_SIZE);
}

LoggerEntry *dm_GetLogger(int index) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    SegmentHeader *seg = dm_State().loggers;
    if (index < 0 || index >= clampedCount(seg, DM_LOGGER_SIZE)) return nullptr;
    return entryAt<LoggerEntry>(seg, 4 + DM_LOGGER_SIZE * index);
}

LoggerSecondEntry *dm_GetLoggerSecond(int index) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    SegmentHeader *seg = dm_State().loggers;
    int count = clampedCount(seg, DM_LOGGER_SIZE);
    if (index < 0 || index >= count) return nullptr;
    int64_t whole = 4 + static_cast<int64_t>(DM_LOGGER_SIZE + DM_LOGGER_SECOND_SIZE) * count;
    if (dm_PayloadLimit(seg) < whole) return nullptr;
    return entryAt<LoggerSecondEntry>(seg,
                                      4 + DM_LOGGER_SIZE * count + DM_LOGGER_SECOND_SIZE * index);
}

SegmentHeader *dm_GetErrorSegment() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    return dm_State().errors;
}

int dm_ErrorCount() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    return errorLayout(dm_State().errors).count;
}

bool dm_ErrorsShortOnly() {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    return errorLayout(dm_State().errors).shortOnly;
}

SystemErrorEntryShort *dm_GetErrorShort(int index) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    SegmentHeader *seg = dm_State().errors;
    ErrorLayout e = errorLayout(seg);
    if (index < 0 || index >= e.count) return nullptr;
    return entryAt<SystemErrorEntryShort>(seg, 4 + 57 * index);
}

SystemErrorEntry *dm_GetErrorLong(int index) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    SegmentHeader *seg = dm_State().errors;
    ErrorLayout e = errorLayout(seg);
    if (e.shortOnly || index < 0 || index >= e.count) return nullptr;
    return entryAt<SystemErrorEntry>(seg, e.longStart + 386 * index);
}

int dm_GetOwnTableId(const DeviceSlot *slot, char id[3]) {
    std::lock_guard<std::recursive_mutex> guard(g_lock);
    SegmentHeader *seg = dm_State().devices;
    id[0] = id[1] = id[2] = '\0';
    if (seg == nullptr || slot == nullptr) return -1;
    int count = clampedCount(seg, DM_DEVICE_SLOT_SIZE);
    if (dm_PayloadLimit(seg) < 4 || countAt(seg) != count)
        return -1; // a count the payload does not hold places no list
    const uint8_t *first = shm_Payload(seg) + 4;
    const uint8_t *at = reinterpret_cast<const uint8_t *>(slot);
    if (at < first || (at - first) % DM_DEVICE_SLOT_SIZE != 0) return -1;
    int64_t index = (at - first) / DM_DEVICE_SLOT_SIZE;
    int64_t length = seg->payloadLength;
    int64_t offset = 4 + int64_t{DM_DEVICE_SLOT_SIZE} * count + 2 * index;
    if (index >= count || length < int64_t{790} * count || offset + 2 > dm_PayloadLimit(seg))
        return -1;
    memcpy(id, shm_Payload(seg) + offset, 2);
    return id[0] == '\0' ? -1 : 0;
}
