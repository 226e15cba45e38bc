#include "dm_state.h"

#include "util.h"

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <new>

namespace {
SegmentHeader *openOrNone(const std::string &name) {
    SegmentHeader *seg = shm_OpenSegment(name.c_str());
    return seg == SHM_NO_SEGMENT ? nullptr : seg;
}

bool idEquals(const std::string &id, const char raw[2]) {
    char other[3] = {raw[0], raw[0] != '\0' ? raw[1] : '\0', '\0'};
    return util_StrNICmp(id.c_str(), other, 2) == 0;
}

// Sized once, at first use: one entry per data process and six per device.
void sizeCache(DmState &s) {
    if (s.cacheSized) return;
    s.cacheSized = true;
    dm_MapDataProcessTable();
    dm_MapDeviceTable();
    s.cacheProcesses = dm_DataProcessCount();
    s.cacheDevices = dm_DeviceCount();
    size_t entries =
        static_cast<size_t>(s.cacheProcesses) + 6 * static_cast<size_t>(s.cacheDevices);
    try {
        s.cache.assign(entries, DmCacheEntry{nullptr, nullptr, nullptr});
    } catch (const std::bad_alloc &) {
        s.cache.clear();
    }
}

int searchIndex(DmState &s, const std::string &id) {
    int processes = std::min(s.cacheProcesses, dm_DataProcessCount());
    for (int i = 0; i < processes; ++i)
        if (idEquals(id, dm_GetDataProcess(i)->tableId)) return i;
    int devices = std::min(s.cacheDevices, dm_DeviceCount());
    for (int d = 0; d < devices; ++d) {
        DeviceSlot *slot = dm_GetDeviceSlot(d);
        for (int k = 0; k < DM_KIND_IDS; ++k)
            if (idEquals(id, slot->kindIds[k])) return s.cacheProcesses + 6 * d + k;
        char own[3];
        if (dm_GetOwnTableId(slot, own) == 0 && idEquals(id, own))
            return s.cacheProcesses + 6 * d + 5;
    }
    return -1;
}

// Which record owns a cache index.
DataProcessEntry *processAt(const DmState &s, int index) {
    return index < s.cacheProcesses ? dm_GetDataProcess(index) : nullptr;
}

DeviceSlot *deviceAt(const DmState &s, int index) {
    return index >= s.cacheProcesses ? dm_GetDeviceSlot((index - s.cacheProcesses) / 6) : nullptr;
}

enum class Part { Data, Conf, Event };

SegmentHeader *segmentOf(const char *rawId, Part part) {
    std::lock_guard<std::recursive_mutex> guard(dm_Lock());
    std::string id = dm_NormaliseId(rawId);
    std::string name = "dm_" + id;
    if (part == Part::Conf)
        name += "_conf";
    else if (part == Part::Event)
        name += "_event";
    int index = dm_FindSegmentIndex(id.c_str());
    if (index < 0) return openOrNone(name);
    DmCacheEntry &e = dm_State().cache[static_cast<size_t>(index)];
    SegmentHeader *&slot = part == Part::Data ? e.data : part == Part::Conf ? e.conf : e.event;
    if (slot == nullptr) slot = openOrNone(name);
    return slot;
}
} // namespace

int dm_FindSegmentIndex(const char *rawId) {
    std::lock_guard<std::recursive_mutex> guard(dm_Lock());
    DmState &s = dm_State();
    std::string id = dm_NormaliseId(rawId);
    sizeCache(s);
    if (id.empty() || s.cache.empty()) return -1;
    int index = searchIndex(s, id);
    if (index < 0 || static_cast<size_t>(index) >= s.cache.size()) return -1;
    DmCacheEntry &e = s.cache[static_cast<size_t>(index)];
    if (e.data == nullptr) {
        e.data = openOrNone("dm_" + id);
        if (e.data == nullptr) return -1;
    }
    return index;
}

SegmentHeader *dm_GetDataSegment(const char *id) {
    return segmentOf(id, Part::Data);
}
SegmentHeader *dm_GetConfSegment(const char *id) {
    return segmentOf(id, Part::Conf);
}
SegmentHeader *dm_GetEventSegment(const char *id) {
    return segmentOf(id, Part::Event);
}

uint8_t *dm_GetData(const char *id) {
    SegmentHeader *seg = dm_GetDataSegment(id);
    return seg != nullptr ? shm_Payload(seg) : nullptr;
}

uint8_t *dm_GetConfData(const char *id) {
    SegmentHeader *seg = dm_GetConfSegment(id);
    return seg != nullptr ? shm_Payload(seg) : nullptr;
}

uint8_t *dm_GetChannelValues(const char *id) {
    uint8_t *data = dm_GetData(id);
    return data != nullptr ? data + DM_CHANNEL_VALUES_OFFSET : nullptr;
}

int32_t dm_GetOwnerPid(const char *id) {
    std::lock_guard<std::recursive_mutex> guard(dm_Lock());
    if (dm_GetDataSegment(id) == nullptr) return -1;
    int index = dm_FindSegmentIndex(id);
    if (index < 0) return 0;
    const DmState &s = dm_State();
    if (DataProcessEntry *p = processAt(s, index)) return p->pid;
    DeviceSlot *d = deviceAt(s, index);
    return d != nullptr ? d->pid : 0;
}

std::optional<std::string> dm_GetOwnerName(const char *id) {
    std::lock_guard<std::recursive_mutex> guard(dm_Lock());
    if (dm_GetDataSegment(id) == nullptr) return std::nullopt;
    int index = dm_FindSegmentIndex(id);
    if (index < 0) return std::string();
    const DmState &s = dm_State();
    if (DataProcessEntry *p = processAt(s, index))
        return std::string(p->displayName, strnlen(p->displayName, sizeof p->displayName));
    if (DeviceSlot *d = deviceAt(s, index))
        return std::string(d->deviceName, strnlen(d->deviceName, sizeof d->deviceName));
    return std::string();
}

int dm_GetIdKind(const char *id) {
    std::lock_guard<std::recursive_mutex> guard(dm_Lock());
    if (dm_GetDataSegment(id) == nullptr) return -1;
    int index = dm_FindSegmentIndex(id);
    if (index < 0) return 1;
    const DmState &s = dm_State();
    if (DataProcessEntry *p = processAt(s, index))
        return util_StrNICmp(p->name, "modb", 4) == 0 ? 1 : p->kindFlag + 1;
    return (index - s.cacheProcesses) % 6 == 5 ? 1 : 0;
}

int dm_GetIdAttribute(const char *id) {
    std::lock_guard<std::recursive_mutex> guard(dm_Lock());
    if (dm_GetDataSegment(id) == nullptr) return -1;
    int index = dm_FindSegmentIndex(id);
    if (index < 0) return 0;
    DataProcessEntry *p = processAt(dm_State(), index);
    return p != nullptr ? p->attribute : 0;
}

int dm_MoveDataProcessToEnd(const char *name) {
    std::lock_guard<std::recursive_mutex> guard(dm_Lock());
    DataProcessEntry *e = dm_FindDataProcess(name);
    if (e == nullptr) {
        errno = 0;
        return 0;
    }
    DmState &s = dm_State();
    sizeCache(s);
    int count = dm_DataProcessCount();
    int from = static_cast<int>(e - dm_GetDataProcess(0));
    SegmentHeader *seg = s.dataProcesses;
    if (shm_Lock(seg) != 0) return -1;
    DataProcessEntry moved;
    memcpy(&moved, e, sizeof moved);
    for (int i = from; i + 1 < count; ++i)
        memcpy(dm_GetDataProcess(i), dm_GetDataProcess(i + 1), sizeof moved);
    memcpy(dm_GetDataProcess(count - 1), &moved, sizeof moved);
    shm_Unlock(seg);
    // The cache entry of each data process goes with it.
    int cached = std::min(count, s.cacheProcesses);
    if (from < cached) {
        DmCacheEntry keep = s.cache[static_cast<size_t>(from)];
        for (int i = from; i + 1 < cached; ++i)
            s.cache[static_cast<size_t>(i)] = s.cache[static_cast<size_t>(i + 1)];
        s.cache[static_cast<size_t>(cached - 1)] = keep;
    }
    errno = 0;
    return 0;
}
