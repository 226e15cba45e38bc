#include "shm.h"

#include "msl.h"
#include "plat_error.h"
#include "plat_system.h"

#include <cerrno>
#include <cstring>

namespace {
constexpr int32_t k_dataChanged = 32; // code sent to a waiting subscriber

uint8_t *at(SegmentHeader *segment, int64_t offset) {
    return reinterpret_cast<uint8_t *>(segment) + offset;
}

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

uint32_t ownPid() {
    return plat_ProcessId();
}
uint16_t ownShortPid() {
    return static_cast<uint16_t>(ownPid() & 0xFFFF);
}

// A short entry holds only the low 16 bits; when they are ours the code goes to us.
uint32_t targetOfShort(uint16_t pid) {
    return pid == ownShortPid() ? ownPid() : pid;
}

// Subscriber entries: waiting -> code 32 to its process, else one more pending change.
void treatShortSubscriber(uint8_t *e, bool skipOwnAndEmpty) {
    uint16_t pid = load<uint16_t>(e);
    if (skipOwnAndEmpty && (pid == 0 || pid == ownShortPid())) return;
    if (load<uint16_t>(e + 2) != 0 && pid != 0)
        msl_PostCode(targetOfShort(pid), k_dataChanged);
    else
        store<uint16_t>(e + 4, static_cast<uint16_t>(load<uint16_t>(e + 4) + 1));
}

void treatLongSubscriber(uint8_t *e, bool skipOwnAndEmpty) {
    int32_t pid = load<int32_t>(e);
    if (skipOwnAndEmpty && (pid == 0 || static_cast<uint32_t>(pid) == ownPid())) return;
    if (load<int16_t>(e + 4) != 0 && pid != 0)
        msl_PostCode(static_cast<uint32_t>(pid), k_dataChanged);
    else
        store<int16_t>(e + 6, static_cast<int16_t>(load<int16_t>(e + 6) + 1));
}

// One-shot entries: send the stored code once and free the entry.
void sendShortNotify(uint8_t *e, bool keepOwn) {
    uint16_t pid = load<uint16_t>(e);
    if (pid == 0 || (keepOwn && pid == ownShortPid())) return;
    int16_t code = load<int16_t>(e + 2);
    store<uint16_t>(e, 0);
    msl_PostCode(targetOfShort(pid), code);
}

void sendLongNotify(uint8_t *e, bool keepOwn) {
    int32_t pid = load<int32_t>(e);
    if (pid == 0 || (keepOwn && static_cast<uint32_t>(pid) == ownPid())) return;
    int16_t code = load<int16_t>(e + 4);
    store<int32_t>(e, 0);
    msl_PostCode(static_cast<uint32_t>(pid), code);
}

// As the header declares it, whether or not the entries fit the mapping.
bool hasLongSubscribers(const ShmLayout &l) {
    return (static_cast<int64_t>(l.notifyOffset) - l.subscriberOffset - 60) / 8 > 0;
}

int notify(SegmentHeader *segment, int slot, bool others) {
    if (slot < 0 || slot > SHM_SUBSCRIBERS) return plat_Fail(WERR_BAD_NET_NAME);
    if (shm_Lock(segment) != 0) return -1;
    ShmLayout l;
    shm_GetLayout(segment, &l);
    if (l.platformId == 1) {
        if (slot > 0) {
            if (slot <= l.longSubscribers)
                treatLongSubscriber(at(segment, l.longSubscriberOffset + 8 * (slot - 1)), others);
        } else {
            for (int i = 0; i < l.longSubscribers; ++i)
                treatLongSubscriber(at(segment, l.longSubscriberOffset + 8 * i), others);
            for (int i = 0; i < l.longNotifies; ++i)
                sendLongNotify(at(segment, l.longNotifyOffset + 8 * i), others);
        }
    } else if (slot > 0) {
        if (!hasLongSubscribers(l)) {
            if (slot <= l.shortSubscribers)
                treatShortSubscriber(at(segment, l.subscriberOffset + 6 * (slot - 1)), others);
        } else if (slot <= l.longSubscribers) {
            treatLongSubscriber(at(segment, l.longSubscriberOffset + 8 * (slot - 1)), others);
        }
    } else {
        if (!hasLongSubscribers(l))
            for (int i = 0; i < l.shortSubscribers; ++i)
                treatShortSubscriber(at(segment, l.subscriberOffset + 6 * i), others);
        for (int i = 0; i < l.longSubscribers; ++i)
            treatLongSubscriber(at(segment, l.longSubscriberOffset + 8 * i), others);
        if (l.longNotifies == 0)
            for (int i = 0; i < l.shortNotifies; ++i)
                sendShortNotify(at(segment, l.notifyOffset + 4 * i), others);
        for (int i = 0; i < l.longNotifies; ++i)
            sendLongNotify(at(segment, l.longNotifyOffset + 8 * i), others);
    }
    if (segment->updatesInProgress != 0) segment->updatesInProgress--;
    return shm_Unlock(segment);
}
} // namespace

int shm_Notify(SegmentHeader *segment, int slot) {
    return notify(segment, slot, false);
}

int shm_NotifyOthers(SegmentHeader *segment, int slot) {
    return notify(segment, slot, true);
}

int shm_RequestNotify(SegmentHeader *segment, int code) {
    if (shm_Lock(segment) != 0) return -1;
    ShmLayout l;
    shm_GetLayout(segment, &l);
    bool placed = false;
    if (l.platformId != 1) {
        uint8_t *freeShort = nullptr;
        uint8_t *mineShort = nullptr;
        for (int i = 0; i < l.shortNotifies && mineShort == nullptr; ++i) {
            uint8_t *e = at(segment, l.notifyOffset + 4 * i);
            uint16_t pid = load<uint16_t>(e);
            if (pid == ownShortPid())
                mineShort = e;
            else if (pid == 0 && freeShort == nullptr)
                freeShort = e;
        }
        if (mineShort != nullptr) {
            store<int16_t>(mineShort + 2, static_cast<int16_t>(code));
            placed = true;
        } else if (freeShort != nullptr) {
            store<uint16_t>(freeShort, ownShortPid());
            store<int16_t>(freeShort + 2, static_cast<int16_t>(code));
            placed = true;
        }
        if (l.longNotifies > 0) placed = false; // the long table decides
    }
    if (l.longNotifies > 0) {
        uint8_t *freeLong = nullptr;
        uint8_t *mineLong = nullptr;
        for (int i = 0; i < l.longNotifies && mineLong == nullptr; ++i) {
            uint8_t *e = at(segment, l.longNotifyOffset + 8 * i);
            int32_t pid = load<int32_t>(e);
            if (static_cast<uint32_t>(pid) == ownPid())
                mineLong = e;
            else if (pid == 0 && freeLong == nullptr)
                freeLong = e;
        }
        uint8_t *e = mineLong != nullptr ? mineLong : freeLong;
        if (e != nullptr) {
            store<int32_t>(e, static_cast<int32_t>(ownPid()));
            store<int16_t>(e + 4, static_cast<int16_t>(code));
            placed = true;
        }
    }
    if (shm_Unlock(segment) != 0) return -1;
    return placed ? 0 : plat_Fail(0);
}

int shm_CancelNotify(SegmentHeader *segment) {
    if (shm_Lock(segment) != 0) return -1;
    ShmLayout l;
    shm_GetLayout(segment, &l);
    bool found = false;
    for (int i = 0; i < l.shortNotifies; ++i) {
        uint8_t *e = at(segment, l.notifyOffset + 4 * i);
        if (load<uint16_t>(e) == ownShortPid()) {
            store<uint16_t>(e, 0);
            found = true;
            break;
        }
    }
    for (int i = 0; i < l.longNotifies; ++i) {
        uint8_t *e = at(segment, l.longNotifyOffset + 8 * i);
        if (static_cast<uint32_t>(load<int32_t>(e)) == ownPid()) {
            store<int32_t>(e, 0);
            found = true;
            break;
        }
    }
    if (shm_Unlock(segment) != 0) return -1;
    return found ? 0 : plat_Fail(0);
}
