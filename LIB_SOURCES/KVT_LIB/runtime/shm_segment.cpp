#include "shm.h"

#include "env.h"
#include "plat_error.h"
#include "plat_mutex.h"
#include "plat_shm.h"

#include <cerrno>
#include <cstring>

namespace {
// The smallest capacity a real segment can have: the tables of the older layout need more,
// and anything less cannot even hold the control fields behind the name.
constexpr int32_t k_minCapacity = 20;

bool nameFits(const char *name) {
    return name != nullptr && strlen(name) < SHM_NAME_SIZE;
}

SegmentHeader *failSegment(uint32_t code) {
    plat_Fail(code);
    return SHM_NO_SEGMENT;
}

// Table space behind the payload.
enum class Layout { Current, Old };

int32_t tableSpace(int32_t payloadLength, Layout layout, int platformId) {
    if (platformId == 1) return ((payloadLength + 3) & ~3) - payloadLength + 356;
    int32_t pad = payloadLength & 1;
    return pad + (layout == Layout::Old ? 208 : 544);
}

SegmentHeader *openOrCreate(const char *name, int32_t payloadLength, Layout layout) {
    if (!nameFits(name)) return failSegment(0);
    if (payloadLength < 0 || payloadLength > INT32_MAX - 1024)
        return failSegment(WERR_INVALID_PARAMETER);
    SegmentHeader *existing = shm_OpenSegment(name);
    if (existing != SHM_NO_SEGMENT) return existing;

    // The mutex first: a process that finds the segment must find its mutex too.
    PlatMutex *mutex = plat_MutexCreate(shm_MutexName(name).c_str());
    if (mutex == nullptr) return SHM_NO_SEGMENT;
    int platformId = env_GetOsPlatformId();
    SegmentHeader *seg =
        shm_CreateSegment(name, payloadLength + tableSpace(payloadLength, layout, platformId));
    if (seg == SHM_NO_SEGMENT) return SHM_NO_SEGMENT;
    int32_t rounded =
        platformId == 1 ? (payloadLength + 3) & ~3 : payloadLength + (payloadLength & 1);
    seg->payloadLength = payloadLength;
    seg->subscriberOffset = SHM_HEADER_SIZE + rounded;
    if (platformId == 1)
        seg->notifyOffset = seg->subscriberOffset + 80;
    else
        seg->notifyOffset = seg->subscriberOffset + (layout == Layout::Old ? 60 : 140);
    shm_SetSegmentMutex(seg, mutex);
    errno = 0;
    return seg;
}
} // namespace

SegmentHeader *shm_OpenSegment(const char *name) {
    if (!nameFits(name)) return failSegment(0);
    shm_LockList(); // so that two threads opening one name map it once
    SegmentHeader *known = shm_LookupSegment(name);
    if (known != nullptr) {
        shm_UnlockList();
        errno = 0;
        return known;
    }
    SegmentHeader *result = SHM_NO_SEGMENT;
    uint32_t error = 0;
    PlatShmObject obj;
    if (plat_ShmOpen(name, &obj) != 0) {
        error = errno == WERR_FILE_NOT_FOUND ? 0 : static_cast<uint32_t>(errno);
    } else {
        // The header is trusted only as far as the object really reaches.
        int32_t capacity = 0;
        if (plat_ShmReadAt(&obj, &capacity, 4, sizeof capacity) == 0 && capacity >= k_minCapacity &&
            static_cast<uint64_t>(capacity) + SHM_CAPACITY_OVERHEAD <= obj.size) {
            uint64_t length = static_cast<uint64_t>(capacity) + SHM_CAPACITY_OVERHEAD;
            void *base = plat_ShmMap(&obj, length);
            if (base == nullptr) {
                error = static_cast<uint32_t>(errno);
            } else {
                result = static_cast<SegmentHeader *>(base);
                shm_RegisterMapping(name, result, length);
            }
        }
        plat_ShmClose(&obj);
    }
    shm_UnlockList();
    if (result == SHM_NO_SEGMENT) return failSegment(error);
    errno = 0;
    return result;
}

SegmentHeader *shm_CreateSegment(const char *name, int32_t size) {
    if (!nameFits(name)) return failSegment(0);
    if (size < k_minCapacity || size > INT32_MAX - SHM_CAPACITY_OVERHEAD)
        return failSegment(WERR_INVALID_PARAMETER);
    uint64_t length = static_cast<uint64_t>(size) + SHM_CAPACITY_OVERHEAD;
    auto *seg = static_cast<SegmentHeader *>(plat_ShmCreate(name, length));
    if (seg == nullptr) return SHM_NO_SEGMENT;
    seg->magic = SHM_MAGIC;
    seg->capacity = size;
    seg->nameOffset = SHM_NAME_OFFSET;
    seg->controlOffset = SHM_CONTROL_OFFSET;
    strncpy(seg->name, name, SHM_NAME_SIZE - 1);
    shm_RegisterMapping(name, seg, length);
    errno = 0;
    return seg;
}

SegmentHeader *shm_OpenOrCreateSegment(const char *name, int32_t payloadLength) {
    return openOrCreate(name, payloadLength, Layout::Current);
}

SegmentHeader *shm_OpenOrCreateOldSegment(const char *name, int32_t payloadLength) {
    return openOrCreate(name, payloadLength, Layout::Old);
}
