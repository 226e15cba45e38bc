#include "shm.h"

#include "plat_error.h"
#include "plat_system.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace {
struct OpenSegment {
    char name[SHM_NAME_SIZE];
    SegmentHeader *base;
    PlatMutex *mutex;
    uint64_t mappedSize; // 0 when registered from outside without a known size
    // IPC prefix the name was opened under: a process (a test) that changes KVT_IPC_PREFIX
    // meets other objects of the same name and must not get the old mapping back.
    std::string prefix;
};

// Several threads of the configuration library open segments: one lock for the list.
std::recursive_mutex g_listLock;
// Never destroyed: mappings and mutex handles stay for the whole process, also while
// other static objects are torn down at exit.
std::vector<OpenSegment> &g_openSegments = *new std::vector<OpenSegment>;

constexpr size_t k_growBy = 20;

OpenSegment *findByName(const char *name) {
    std::string prefix = plat_IpcPrefix();
    for (OpenSegment &s : g_openSegments)
        if (strncmp(s.name, name, SHM_NAME_SIZE) == 0 && s.prefix == prefix) return &s;
    return nullptr;
}

OpenSegment *findByBase(SegmentHeader *base) {
    for (OpenSegment &s : g_openSegments)
        if (s.base == base) return &s;
    return nullptr;
}
} // namespace

void shm_LockList() {
    g_listLock.lock();
}

void shm_UnlockList() {
    g_listLock.unlock();
}

int shm_RegisterMapping(const char *name, SegmentHeader *base, uint64_t mappedSize) {
    if (name == nullptr || strlen(name) >= SHM_NAME_SIZE) return plat_Fail(0);
    std::lock_guard<std::recursive_mutex> guard(g_listLock);
    if (findByName(name) != nullptr) return 0;
    try {
        if (g_openSegments.size() == g_openSegments.capacity())
            g_openSegments.reserve(g_openSegments.size() + k_growBy);
        OpenSegment entry = {};
        strncpy(entry.name, name, SHM_NAME_SIZE - 1);
        entry.base = base;
        entry.mutex = nullptr;
        entry.mappedSize = mappedSize;
        entry.prefix = plat_IpcPrefix();
        g_openSegments.push_back(entry);
    } catch (const std::bad_alloc &) {
        g_openSegments.clear();
        return plat_Fail(WERR_NOT_ENOUGH_MEMORY);
    }
    return 0;
}

int shm_RegisterSegment(const char *name, SegmentHeader *base) {
    return shm_RegisterMapping(name, base, 0);
}

SegmentHeader *shm_LookupSegment(const char *name) {
    if (name == nullptr) return nullptr;
    std::lock_guard<std::recursive_mutex> guard(g_listLock);
    OpenSegment *s = findByName(name);
    return s != nullptr ? s->base : nullptr;
}

int shm_SetSegmentMutex(SegmentHeader *base, PlatMutex *mutex) {
    std::lock_guard<std::recursive_mutex> guard(g_listLock);
    OpenSegment *s = findByBase(base);
    if (s == nullptr) return plat_Fail(WERR_INVALID_HANDLE);
    if (s->mutex == nullptr) s->mutex = mutex;
    return 0;
}

PlatMutex *shm_GetSegmentMutex(SegmentHeader *base) {
    std::lock_guard<std::recursive_mutex> guard(g_listLock);
    OpenSegment *s = findByBase(base);
    return s != nullptr ? s->mutex : nullptr;
}

uint64_t shm_MappedSize(SegmentHeader *base) {
    {
        std::lock_guard<std::recursive_mutex> guard(g_listLock);
        OpenSegment *s = findByBase(base);
        if (s != nullptr && s->mappedSize != 0) return s->mappedSize;
    }
    int32_t capacity;
    memcpy(&capacity, reinterpret_cast<const uint8_t *>(base) + 4, sizeof capacity);
    return capacity > 0 ? static_cast<uint64_t>(capacity) + SHM_CAPACITY_OVERHEAD : 0;
}

std::string shm_RegisteredName(SegmentHeader *base) {
    std::lock_guard<std::recursive_mutex> guard(g_listLock);
    OpenSegment *s = findByBase(base);
    return s != nullptr ? std::string(s->name) : std::string();
}

const SharedSecurityAttributes *shm_NullDaclAttributes() {
    static const SharedSecurityAttributes attributes = {12, 0, 1};
    return &attributes;
}

std::string shm_MutexName(const char *segmentName) {
    return std::string(segmentName != nullptr ? segmentName : "") + ".mut";
}
