// Shared-memory segments of the runtime.
//
// Every table the runtime shares between processes is a named segment: a 128-byte
// SegmentHeader, the payload, a subscriber table and a notify table, guarded by a named
// mutex called after the segment with ".mut" appended. Other processes read these bytes,
// so every offset here is format. The runtime server creates the segments; drivers open,
// lock, read and write them and wake the processes that wait for changes.
//
// All operations return 0 (or the value named) or -1 with errno (Windows numbers). A
// segment is passed as the address of its header; a failed open returns SHM_NO_SEGMENT.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct PlatMutex;

constexpr int16_t SHM_MAGIC = 0x4AFC;
constexpr int32_t SHM_HEADER_SIZE = 128;
constexpr int32_t SHM_NAME_OFFSET = 76;
constexpr int32_t SHM_CONTROL_OFFSET = 108;
constexpr size_t SHM_NAME_SIZE = 32; // names have at most 31 characters
constexpr int SHM_SUBSCRIBERS = 10;
constexpr int SHM_NOTIFIES = 32;

// Mapping overhead on top of the capacity stored in the header.
constexpr int32_t SHM_CAPACITY_OVERHEAD = 108;

struct SegmentHeader {
    int16_t magic; // SHM_MAGIC
    uint8_t zero2[2];
    int32_t capacity;   // mapping size - 108
    int32_t nameOffset; // 76
    uint8_t zero12[20];
    int32_t controlOffset; // 108
    uint8_t zero36[40];
    char name[SHM_NAME_SIZE]; // NUL-terminated
    int16_t updatesInProgress;
    uint16_t lockOwner; // low 16 bits of the holder's pid, 0 when free
    int32_t payloadLength;
    int32_t lockRecursion;
    int32_t subscriberOffset; // from the start of the segment
    int32_t notifyOffset;     // from the start of the segment
};
static_assert(sizeof(SegmentHeader) == 128);
static_assert(offsetof(SegmentHeader, magic) == 0);
static_assert(offsetof(SegmentHeader, capacity) == 4);
static_assert(offsetof(SegmentHeader, nameOffset) == 8);
static_assert(offsetof(SegmentHeader, controlOffset) == 32);
static_assert(offsetof(SegmentHeader, name) == 76);
static_assert(offsetof(SegmentHeader, updatesInProgress) == 108);
static_assert(offsetof(SegmentHeader, lockOwner) == 110);
static_assert(offsetof(SegmentHeader, payloadLength) == 112);
static_assert(offsetof(SegmentHeader, lockRecursion) == 116);
static_assert(offsetof(SegmentHeader, subscriberOffset) == 120);
static_assert(offsetof(SegmentHeader, notifyOffset) == 124);

// Table entries. Long entries may lie at 2-aligned offsets: they are read and written with
// memcpy, never through a pointer of the record type.
struct ShortSubscriberEntry {
    uint16_t pid; // low 16 bits
    uint16_t waiting;
    uint16_t pending;
};
struct LongSubscriberEntry {
    int32_t pid;
    int16_t waiting;
    int16_t pending;
};
struct ShortNotifyEntry {
    uint16_t pid; // low 16 bits
    int16_t code;
};
struct LongNotifyEntry {
    int32_t pid;
    int16_t code;
    uint8_t zero[2];
};
static_assert(sizeof(ShortSubscriberEntry) == 6);
static_assert(sizeof(LongSubscriberEntry) == 8);
static_assert(offsetof(LongSubscriberEntry, waiting) == 4);
static_assert(offsetof(LongSubscriberEntry, pending) == 6);
static_assert(sizeof(ShortNotifyEntry) == 4);
static_assert(sizeof(LongNotifyEntry) == 8);
static_assert(offsetof(LongNotifyEntry, code) == 4);

// The failure address of the open and create operations (all ones), which callers compare with.
inline SegmentHeader *const SHM_NO_SEGMENT = reinterpret_cast<SegmentHeader *>(~uintptr_t{0});

inline uint8_t *shm_Payload(SegmentHeader *segment) {
    return reinterpret_cast<uint8_t *>(segment) + SHM_HEADER_SIZE;
}

// Where the tables of a segment lie, as its header and this process's platform id give them.
// Offsets are from the start of the segment; entries that would lie even partly outside the
// mapping are not counted (the counts below are of usable entries).
struct ShmLayout {
    int platformId;
    uint64_t mappedSize;
    int32_t payloadLength;
    // min(payload length, table offsets - 128 for the tables inside the mapping, mapping - 128):
    // the payload bytes anyone may touch
    int32_t payloadLimit;
    int32_t subscriberOffset;
    int32_t notifyOffset;
    // Platform id 2: 6-byte short and 8-byte long subscriber entries, 4-byte short and 8-byte
    // long notify entries. Platform id 1: only the "long" (8-byte) entries are used.
    int shortSubscribers;
    int longSubscribers;
    int32_t longSubscriberOffset;
    int shortNotifies;
    int longNotifies;
    int32_t longNotifyOffset;
};
int shm_GetLayout(SegmentHeader *segment, ShmLayout *layout);
// The layout's payloadLimit alone; 0 for no segment.
int32_t shm_PayloadLimit(SegmentHeader *segment);

// Opens an existing segment, mapped once per process and never unmapped. SHM_NO_SEGMENT with
// errno 0 when it is missing, malformed (capacity below 20 or beyond the object), or the name
// has 32 characters or more; a failed map sets the Windows error.
SegmentHeader *shm_OpenSegment(const char *name);

// Creates a segment of size + 108 bytes with a header (capacity = size) and no tables set up.
// Fails with 183 when it exists, with errno 0 for a name of 32 characters or more.
SegmentHeader *shm_CreateSegment(const char *name, int32_t size);

// Opens the segment, or creates its mutex and then the segment with the table space of this
// platform (id 2: L + (L & 1) + 544; id 1: L4 + 356). Used by the runtime server.
SegmentHeader *shm_OpenOrCreateSegment(const char *name, int32_t payloadLength);

// As above with the older platform-id-2 layout: short tables only (notify = subscriber + 60,
// capacity L2 + 208). For stand-ins of old runtime servers.
SegmentHeader *shm_OpenOrCreateOldSegment(const char *name, int32_t payloadLength);

// Waits for the segment's mutex without limit (a holder that died counts as released) and
// keeps the owner/recursion bookkeeping in the header. Recursive per thread.
int shm_Lock(SegmentHeader *segment);
int shm_Unlock(SegmentHeader *segment);

// Copies between a buffer and payload bytes offset .. offset + length under the lock;
// negative, overflowing or out-of-payload ranges fail with 67.
int shm_Read(SegmentHeader *segment, void *destination, int32_t offset, int32_t length);
int shm_Write(SegmentHeader *segment, const void *source, int32_t offset, int32_t length);

// Writer protocol: lock, shm_BeginUpdate, change the payload, shm_Notify or
// shm_NotifyOthers (which end the update and unlock once), unlock.
int shm_BeginUpdate(SegmentHeader *segment);
int shm_Notify(SegmentHeader *segment, int slot);
int shm_NotifyOthers(SegmentHeader *segment, int slot);

// One-shot notification: the next shm_Notify posts code to this process once. -1 (errno 0)
// when the table is full / when the process has no entry.
int shm_RequestNotify(SegmentHeader *segment, int code);
int shm_CancelNotify(SegmentHeader *segment);

// Subscriber slots 1..10: register (returns the previous pid; slot 0 clears all and
// returns 10), wait for the next change, or wait only while an update is in progress.
// Waiting needs the process's notification mailslot to be open.
int shm_RegisterSubscriber(SegmentHeader *segment, int slot);
int shm_WaitSubscriber(SegmentHeader *segment, int slot);
int shm_WaitUpdate(SegmentHeader *segment, int slot);

// Process-local list of open segments (safe between threads).
int shm_RegisterSegment(const char *name, SegmentHeader *base);
SegmentHeader *shm_LookupSegment(const char *name); // nullptr when not open
int shm_SetSegmentMutex(SegmentHeader *base, PlatMutex *mutex);
PlatMutex *shm_GetSegmentMutex(SegmentHeader *base);

// Security attributes with a null DACL: every process may open what the runtime creates.
// On Linux this is the 0666 mode that the platform layer gives each object; it cannot fail.
struct SharedSecurityAttributes {
    int32_t length;
    int32_t inheritHandle;
    int32_t nullDacl;
};
const SharedSecurityAttributes *shm_NullDaclAttributes();

// Global name of a segment's mutex: the segment name with ".mut" appended.
std::string shm_MutexName(const char *segmentName);

// Used only by the shm module's own files.
int shm_RegisterMapping(const char *name, SegmentHeader *base, uint64_t mappedSize);
uint64_t shm_MappedSize(SegmentHeader *base);        // as registered, else capacity + 108 on trust
std::string shm_RegisteredName(SegmentHeader *base); // "" when not in the list
void shm_LockList(); // the list lock is recursive; an open holds it while it maps
void shm_UnlockList();
