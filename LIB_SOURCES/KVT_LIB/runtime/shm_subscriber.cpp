#include "shm.h"

#include "msl.h"
#include "plat_error.h"
#include "plat_system.h"

#include <cerrno>
#include <cstring>

namespace {
template <typename T>
T load(const uint8_t *p) {
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void store(uint8_t *p, T v) {
    memcpy(p, &v, sizeof v);
}

// The entries of one slot: the short one (platform id 2) and the long one when the segment
// has it. Notification of one slot uses the long entry whenever it exists, so both are kept.
struct SlotEntries {
    uint8_t *shortEntry = nullptr;
    uint8_t *longEntry = nullptr;
};

SlotEntries entriesOf(SegmentHeader *segment, const ShmLayout &l, int slot) {
    SlotEntries s;
    uint8_t *base = reinterpret_cast<uint8_t *>(segment);
    if (l.platformId != 1 && slot <= l.shortSubscribers)
        s.shortEntry = base + l.subscriberOffset + 6 * (slot - 1);
    if (slot <= l.longSubscribers) s.longEntry = base + l.longSubscriberOffset + 8 * (slot - 1);
    return s;
}

uint32_t ownPid() {
    return plat_ProcessId();
}
uint16_t ownShortPid() {
    return static_cast<uint16_t>(ownPid() & 0xFFFF);
}

void claim(const SlotEntries &s) {
    if (s.shortEntry != nullptr) {
        store<uint16_t>(s.shortEntry, ownShortPid());
        store<uint16_t>(s.shortEntry + 2, 0);
        store<uint16_t>(s.shortEntry + 4, 0);
    }
    if (s.longEntry != nullptr) {
        store<int32_t>(s.longEntry, static_cast<int32_t>(ownPid()));
        store<int16_t>(s.longEntry + 4, 0);
        store<int16_t>(s.longEntry + 6, 0);
    }
}
} // namespace

int shm_RegisterSubscriber(SegmentHeader *segment, int slot) {
    if (slot < 0 || slot > SHM_SUBSCRIBERS) return plat_Fail(WERR_BAD_NET_NAME);
    if (shm_Lock(segment) != 0) return -1;
    ShmLayout l;
    shm_GetLayout(segment, &l);
    int result = 0;
    if (slot == 0) {
        uint8_t *base = reinterpret_cast<uint8_t *>(segment);
        for (int i = 0; i < l.shortSubscribers; ++i)
            memset(base + l.subscriberOffset + 6 * i, 0, 6);
        for (int i = 0; i < l.longSubscribers; ++i)
            memset(base + l.longSubscriberOffset + 8 * i, 0, 8);
        result = SHM_SUBSCRIBERS;
    } else {
        SlotEntries s = entriesOf(segment, l, slot);
        if (s.shortEntry != nullptr)
            result = load<uint16_t>(s.shortEntry);
        else if (s.longEntry != nullptr)
            result = load<int32_t>(s.longEntry);
        claim(s);
    }
    if (segment->updatesInProgress != 0) segment->updatesInProgress--;
    if (shm_Unlock(segment) != 0) return -1;
    errno = 0;
    return result;
}

int shm_WaitSubscriber(SegmentHeader *segment, int slot) {
    if (segment == nullptr || segment == SHM_NO_SEGMENT || slot < 1 || slot > SHM_SUBSCRIBERS)
        return plat_Fail(0);
    ShmLayout l;
    shm_GetLayout(segment, &l);
    SlotEntries s = entriesOf(segment, l, slot);
    // The entry that notification of this slot treats.
    uint8_t *active = s.longEntry != nullptr ? s.longEntry : s.shortEntry;
    if (active == nullptr) return plat_Fail(WERR_BAD_NET_NAME);
    bool free = s.longEntry != nullptr ? load<int32_t>(s.longEntry) == 0
                                       : load<uint16_t>(s.shortEntry) == 0;
    bool mine = s.longEntry != nullptr
                    ? static_cast<uint32_t>(load<int32_t>(s.longEntry)) == ownPid()
                    : load<uint16_t>(s.shortEntry) == ownShortPid();
    if (free)
        claim(s);
    else if (!mine)
        return plat_Fail(WERR_BAD_NET_NAME);

    bool isLong = active == s.longEntry;
    int pending = isLong ? load<int16_t>(active + 6) : load<uint16_t>(active + 4);
    if (pending != 0) {
        if (isLong)
            store<int16_t>(active + 6, static_cast<int16_t>(pending - 1));
        else
            store<uint16_t>(active + 4, static_cast<uint16_t>(pending - 1));
        errno = 0;
        return 0;
    }
    if (isLong)
        store<int16_t>(active + 4, 1);
    else
        store<uint16_t>(active + 2, 1);
    msl_Wait(0);
    if (isLong)
        store<int16_t>(active + 4, 0);
    else
        store<uint16_t>(active + 2, 0);
    errno = 0;
    return 0;
}

int shm_WaitUpdate(SegmentHeader *segment, int slot) {
    if (slot < 1 || slot > SHM_SUBSCRIBERS) return plat_Fail(WERR_BAD_NET_NAME);
    if (segment == nullptr || segment == SHM_NO_SEGMENT) return plat_Fail(0);
    if (segment->updatesInProgress == 0) {
        errno = 0;
        return 0;
    }
    return shm_WaitSubscriber(segment, slot);
}
