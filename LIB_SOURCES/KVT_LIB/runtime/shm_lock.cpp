#include "shm.h"

#include "plat_error.h"
#include "plat_mutex.h"
#include "plat_system.h"

#include <cerrno>
#include <cstring>

namespace {
bool usable(SegmentHeader *segment) {
    return segment != nullptr && segment != SHM_NO_SEGMENT && segment->magic == SHM_MAGIC;
}

uint16_t ownShortPid() {
    return static_cast<uint16_t>(plat_ProcessId() & 0xFFFF);
}

PlatMutex *mutexOf(SegmentHeader *segment) {
    PlatMutex *m = shm_GetSegmentMutex(segment);
    if (m != nullptr) return m;
    std::string name = shm_RegisteredName(segment);
    if (name.empty()) name.assign(segment->name, strnlen(segment->name, SHM_NAME_SIZE - 1));
    m = plat_MutexOpen(shm_MutexName(name.c_str()).c_str());
    if (m == nullptr) return nullptr;
    shm_SetSegmentMutex(segment, m);
    // Another thread may have set one first; use whichever the list keeps.
    PlatMutex *kept = shm_GetSegmentMutex(segment);
    if (kept != nullptr && kept != m) {
        plat_MutexClose(m);
        return kept;
    }
    return m;
}

// Checks offset .. offset + length against what the payload and the mapping allow.
bool rangeFits(SegmentHeader *segment, int32_t offset, int32_t length) {
    ShmLayout layout;
    if (offset < 0 || length < 0 || shm_GetLayout(segment, &layout) != 0) return false;
    return static_cast<int64_t>(offset) + length <= layout.payloadLimit;
}
} // namespace

int shm_Lock(SegmentHeader *segment) {
    if (!usable(segment)) return plat_Fail(0);
    PlatMutex *m = mutexOf(segment);
    if (m == nullptr) return -1;
    int abandoned = 0;
    if (plat_MutexLock(m, &abandoned) != 0) return -1;
    if (abandoned) {
        // The holder died: its bookkeeping is stale.
        segment->lockOwner = 0;
        segment->lockRecursion = 0;
    }
    uint16_t me = ownShortPid();
    if (segment->lockOwner == me) {
        segment->lockRecursion++;
    } else {
        segment->lockOwner = me;
        segment->lockRecursion = 1;
    }
    errno = 0;
    return 0;
}

int shm_Unlock(SegmentHeader *segment) {
    if (!usable(segment)) return plat_Fail(0);
    if (segment->lockOwner == ownShortPid()) {
        if (--segment->lockRecursion <= 0) {
            segment->lockRecursion = 0;
            segment->lockOwner = 0;
        }
    }
    PlatMutex *m = mutexOf(segment);
    if (m == nullptr || plat_MutexUnlock(m) != 0) return -1;
    errno = 0;
    return 0;
}

int shm_Read(SegmentHeader *segment, void *destination, int32_t offset, int32_t length) {
    if (shm_Lock(segment) != 0) return -1;
    if (!rangeFits(segment, offset, length)) {
        shm_Unlock(segment);
        return plat_Fail(WERR_BAD_NET_NAME);
    }
    if (length > 0) memcpy(destination, shm_Payload(segment) + offset, static_cast<size_t>(length));
    return shm_Unlock(segment);
}

int shm_Write(SegmentHeader *segment, const void *source, int32_t offset, int32_t length) {
    if (shm_Lock(segment) != 0) return -1;
    if (!rangeFits(segment, offset, length)) {
        shm_Unlock(segment);
        return plat_Fail(WERR_BAD_NET_NAME);
    }
    if (length > 0) memcpy(shm_Payload(segment) + offset, source, static_cast<size_t>(length));
    return shm_Unlock(segment);
}

int shm_BeginUpdate(SegmentHeader *segment) {
    if (shm_Lock(segment) != 0) return -1;
    segment->updatesInProgress++;
    return shm_Unlock(segment);
}
