// The logger-status table written as a logger process publishes it.
#include "sim_runtime.h"

#include "chrec.h"
#include "shm.h"
#include "tag.h"
#include "ts.h"

#include <cstring>

// The table's segment, locked; null (after fail) when it cannot be.
SegmentHeader *SimRuntime::lockSegment(const std::string &name) {
    SegmentHeader *seg = shm_OpenSegment(name.c_str());
    if (seg == SHM_NO_SEGMENT) {
        fail("no segment " + name);
        return nullptr;
    }
    if (shm_Lock(seg) != 0) {
        fail("cannot lock " + name);
        return nullptr;
    }
    return seg;
}

int SimRuntime::putChannel(const std::string &id, int channel, int32_t flag, double value) {
    const SimTableDesc *t = table(id);
    if (t == nullptr) return fail("no table " + id);
    if (t->bytesPerChannel != 8) return fail("table " + id + " has no flag words and values");
    if (channel < 1 || channel > t->channels)
        return fail("table " + t->id + " has no channel " + std::to_string(channel));
    SegmentHeader *seg = lockSegment("dm_" + t->id);
    if (seg == nullptr) return -1;
    uint8_t *words = shm_Payload(seg) + DM_CHANNEL_VALUES_OFFSET;
    float f = static_cast<float>(value);
    memcpy(words + 4 * (channel - 1), &flag, 4);
    memcpy(words + 4 * t->channels + 4 * (channel - 1), &f, 4);
    shm_Unlock(seg);
    return 0;
}

int SimRuntime::stampTable(const std::string &id, int64_t seconds, int milliseconds) {
    const SimTableDesc *t = table(id);
    if (t == nullptr) return fail("no table " + id);
    TimeStamp stamp{};
    if (seconds < 0)
        ts_Now(&stamp);
    else
        stamp = {static_cast<int32_t>(static_cast<uint32_t>(seconds)),
                 static_cast<int16_t>(milliseconds), 0};
    SegmentHeader *seg = lockSegment("dm_" + t->id);
    if (seg == nullptr) return -1;
    memcpy(shm_Payload(seg) + offsetof(ChannelTableHeader, fileTime), &stamp, sizeof stamp);
    shm_Unlock(seg);
    return 0;
}

int SimRuntime::confChannel(const std::string &id, int channel, const std::string &tag) {
    const SimTableDesc *t = table(id);
    if (t == nullptr) return fail("no table " + id);
    if (channel < 1 || channel > t->channels)
        return fail("table " + t->id + " has no channel " + std::to_string(channel));
    SegmentHeader *seg = lockSegment("dm_" + t->id + "_conf");
    if (seg == nullptr) return -1;
    ChannelRecord rec;
    uint8_t *at = shm_Payload(seg) + static_cast<size_t>(CHANNEL_RECORD_SIZE) * (channel - 1);
    memcpy(&rec, at, sizeof rec);
    tag_SetTag(&rec, tag.c_str());
    chrec_SetFlag(&rec, ChannelAnalog::Enable, 1); // the same bit in both layouts
    chrec_SetType(&rec, (channel - 1) % 32 < 12 ? 3 : 2);
    memcpy(at, &rec, sizeof rec);
    shm_Unlock(seg);
    return 0;
}
