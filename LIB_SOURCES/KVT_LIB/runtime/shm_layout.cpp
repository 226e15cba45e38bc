#include "shm.h"

#include "env.h"
#include "plat_error.h"

#include <algorithm>

namespace {
// Entries of a table that lie wholly inside the mapping and behind the header.
int usableEntries(int64_t offset, int64_t entrySize, int64_t wanted, uint64_t mapped) {
    if (offset < SHM_HEADER_SIZE || wanted <= 0) return 0;
    int64_t room = static_cast<int64_t>(mapped) - offset;
    if (room <= 0) return 0;
    return static_cast<int>(std::min(wanted, room / entrySize));
}
} // namespace

int shm_GetLayout(SegmentHeader *segment, ShmLayout *layout) {
    if (segment == nullptr || segment == SHM_NO_SEGMENT || layout == nullptr) return plat_Fail(0);
    ShmLayout l = {};
    l.platformId = env_GetOsPlatformId();
    l.mappedSize = shm_MappedSize(segment);
    l.payloadLength = segment->payloadLength;
    l.subscriberOffset = segment->subscriberOffset;
    l.notifyOffset = segment->notifyOffset;
    // The payload ends where the segment's own tables begin, so that a length that claims
    // more never lets a writer reach the subscriber or notify entries of the same segment.
    int64_t end = static_cast<int64_t>(l.mappedSize);
    for (int64_t table : {int64_t{l.subscriberOffset}, int64_t{l.notifyOffset}})
        if (table >= SHM_HEADER_SIZE && table < end) end = table;
    l.payloadLimit = static_cast<int32_t>(
        std::max<int64_t>(0, std::min<int64_t>(l.payloadLength, end - SHM_HEADER_SIZE)));

    int64_t sub = l.subscriberOffset;
    int64_t notify = l.notifyOffset;
    if (l.platformId == 1) {
        l.longSubscriberOffset = l.subscriberOffset;
        l.longSubscribers = usableEntries(sub, 8, SHM_SUBSCRIBERS, l.mappedSize);
        l.longNotifyOffset = l.notifyOffset;
        l.longNotifies = usableEntries(notify, 8, SHM_NOTIFIES, l.mappedSize);
    } else {
        int64_t length = l.payloadLength;
        int64_t longSubs = std::clamp<int64_t>((notify - sub - 60) / 8, 0, SHM_SUBSCRIBERS);
        int64_t longNotifies = std::clamp<int64_t>(
            (static_cast<int64_t>(segment->capacity) - 8 * longSubs - (length & 1) - length - 208) /
                8,
            0, SHM_NOTIFIES);
        l.shortSubscribers = usableEntries(sub, 6, SHM_SUBSCRIBERS, l.mappedSize);
        l.longSubscriberOffset = static_cast<int32_t>(sub + 60);
        l.longSubscribers = usableEntries(sub + 60, 8, longSubs, l.mappedSize);
        l.shortNotifies = usableEntries(notify, 4, SHM_NOTIFIES, l.mappedSize);
        l.longNotifyOffset = static_cast<int32_t>(notify + 128);
        l.longNotifies = usableEntries(notify + 128, 8, longNotifies, l.mappedSize);
    }
    *layout = l;
    return 0;
}

int32_t shm_PayloadLimit(SegmentHeader *segment) {
    ShmLayout layout;
    return shm_GetLayout(segment, &layout) == 0 ? layout.payloadLimit : 0;
}
