#include "shm.h"

#include "plat_error.h"
#include "plat_mutex.h"
#include "plat_shm.h"
#include "plat_system.h"

#include "ipc_prefix.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace {
UniqueIpcPrefix g_prefix("shmseg");

template <typename T>
T word(const void *base, int offset) {
    T v;
    memcpy(&v, static_cast<const uint8_t *>(base) + offset, sizeof v);
    return v;
}

uint64_t objectSize(const char *name) {
    struct stat st;
    if (stat(("/dev/shm" + plat_ShmObjectName(name)).c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

class PlatformId : public ::testing::Test {
protected:
    void TearDown() override { plat_OverridePlatformId(0); }
};

void expectCommonHeader(SegmentHeader *seg, const char *name, int32_t capacity) {
    EXPECT_EQ(word<uint16_t>(seg, 0), 0x4AFC);
    EXPECT_EQ(word<uint16_t>(seg, 2), 0);
    EXPECT_EQ(word<int32_t>(seg, 4), capacity);
    EXPECT_EQ(word<int32_t>(seg, 8), 76);
    EXPECT_EQ(word<int32_t>(seg, 32), 108);
    EXPECT_STREQ(reinterpret_cast<const char *>(seg) + 76, name);
    for (int i = 12; i < 32; ++i)
        EXPECT_EQ(reinterpret_cast<const uint8_t *>(seg)[i], 0) << i;
    for (int i = 36; i < 76; ++i)
        EXPECT_EQ(reinterpret_cast<const uint8_t *>(seg)[i], 0) << i;
    EXPECT_EQ(objectSize(name), static_cast<uint64_t>(capacity) + 108);
}
} // namespace

TEST_F(PlatformId, NewLayoutOnPlatformTwo) {
    plat_OverridePlatformId(2);
    SegmentHeader *seg = shm_OpenOrCreateSegment("lay_new", 101);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    expectCommonHeader(seg, "lay_new", 102 + 544);
    EXPECT_EQ(word<int32_t>(seg, 112), 101);
    EXPECT_EQ(word<int32_t>(seg, 120), 128 + 102);
    EXPECT_EQ(word<int32_t>(seg, 124), 128 + 102 + 140);
    ShmLayout l;
    ASSERT_EQ(shm_GetLayout(seg, &l), 0);
    EXPECT_EQ(l.mappedSize, 102u + 652);
    EXPECT_EQ(l.shortSubscribers, 10);
    EXPECT_EQ(l.longSubscribers, 10);
    EXPECT_EQ(l.longSubscriberOffset, 128 + 102 + 60);
    EXPECT_EQ(l.shortNotifies, 32);
    EXPECT_EQ(l.longNotifies, 32);
    EXPECT_EQ(l.longNotifyOffset, 128 + 102 + 140 + 128);
    EXPECT_EQ(l.longNotifyOffset + 8 * 32, static_cast<int32_t>(l.mappedSize));
}

TEST_F(PlatformId, OldLayoutHasOnlyShortTables) {
    plat_OverridePlatformId(2);
    SegmentHeader *seg = shm_OpenOrCreateOldSegment("lay_old", 101);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    expectCommonHeader(seg, "lay_old", 102 + 208);
    EXPECT_EQ(word<int32_t>(seg, 124) - word<int32_t>(seg, 120), 60);
    ShmLayout l;
    ASSERT_EQ(shm_GetLayout(seg, &l), 0);
    EXPECT_EQ(l.mappedSize, 102u + 316);
    EXPECT_EQ(l.shortSubscribers, 10);
    EXPECT_EQ(l.longSubscribers, 0);
    EXPECT_EQ(l.shortNotifies, 32);
    EXPECT_EQ(l.longNotifies, 0);
}

TEST_F(PlatformId, PlatformOneLayout) {
    plat_OverridePlatformId(1);
    SegmentHeader *seg = shm_OpenOrCreateSegment("lay_one", 101);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    expectCommonHeader(seg, "lay_one", 104 + 356);
    EXPECT_EQ(word<int32_t>(seg, 120), 128 + 104);
    EXPECT_EQ(word<int32_t>(seg, 124), 128 + 104 + 80);
    ShmLayout l;
    ASSERT_EQ(shm_GetLayout(seg, &l), 0);
    EXPECT_EQ(l.mappedSize, 104u + 464);
    EXPECT_EQ(l.shortSubscribers, 0);
    EXPECT_EQ(l.longSubscribers, 10);
    EXPECT_EQ(l.longNotifies, 32);
    EXPECT_EQ(l.longNotifyOffset + 8 * 32, static_cast<int32_t>(l.mappedSize));
}

TEST(ShmSegment, MutexIsCreatedBesideTheSegment) {
    SegmentHeader *seg = shm_OpenOrCreateSegment("withmutex", 8);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    EXPECT_EQ(objectSize("withmutex.mut"), 64u);
    EXPECT_NE(shm_GetSegmentMutex(seg), nullptr);
    EXPECT_EQ(shm_MutexName("withmutex"), "withmutex.mut");
}

TEST(ShmSegment, OpenMissingFailsWithZeroAndMapsNothing) {
    errno = 5;
    EXPECT_EQ(shm_OpenSegment("absent"), SHM_NO_SEGMENT);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(shm_LookupSegment("absent"), nullptr);
    errno = 5;
    EXPECT_EQ(shm_OpenSegment(std::string(32, 'n').c_str()), SHM_NO_SEGMENT);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(shm_CreateSegment(std::string(32, 'n').c_str(), 100), SHM_NO_SEGMENT);
    EXPECT_EQ(errno, 0);
}

TEST(ShmSegment, CreateTwiceFailsWithAlreadyExists) {
    ASSERT_NE(shm_CreateSegment("twice", 100), SHM_NO_SEGMENT);
    EXPECT_EQ(shm_CreateSegment("twice", 100), SHM_NO_SEGMENT);
    EXPECT_EQ(errno, 183);
}

TEST(ShmSegment, SecondOpenReturnsTheSameMapping) {
    // Create as another process would: raw object, so this process has not mapped it.
    auto *raw = static_cast<SegmentHeader *>(plat_ShmCreate("shared1", 500));
    ASSERT_NE(raw, nullptr);
    raw->magic = SHM_MAGIC;
    raw->capacity = 500 - 108;
    SegmentHeader *a = shm_OpenSegment("shared1");
    ASSERT_NE(a, SHM_NO_SEGMENT);
    EXPECT_NE(a, raw);
    EXPECT_EQ(shm_OpenSegment("shared1"), a);
    EXPECT_EQ(shm_LookupSegment("shared1"), a);
    raw->payloadLength = 77;
    EXPECT_EQ(a->payloadLength, 77);
}

TEST(ShmSegment, HeaderSizeIsCheckedAgainstTheObject) {
    auto *big = static_cast<SegmentHeader *>(plat_ShmCreate("liar", 300));
    ASSERT_NE(big, nullptr);
    big->magic = SHM_MAGIC;
    big->capacity = 300 - 107; // one byte more than the object holds
    errno = 5;
    EXPECT_EQ(shm_OpenSegment("liar"), SHM_NO_SEGMENT);
    EXPECT_EQ(errno, 0);

    auto *tiny = static_cast<SegmentHeader *>(plat_ShmCreate("tiny", 300));
    ASSERT_NE(tiny, nullptr);
    tiny->capacity = 19;
    EXPECT_EQ(shm_OpenSegment("tiny"), SHM_NO_SEGMENT);
    tiny->capacity = -5;
    EXPECT_EQ(shm_OpenSegment("tiny"), SHM_NO_SEGMENT);

    ASSERT_NE(plat_ShmCreate("stub", 3), nullptr);
    EXPECT_EQ(shm_OpenSegment("stub"), SHM_NO_SEGMENT);
    EXPECT_EQ(errno, 0);

    big->capacity = 300 - 108; // now exact: opens
    EXPECT_NE(shm_OpenSegment("liar"), SHM_NO_SEGMENT);
}

TEST(ShmSegment, ReadWriteRangesAreChecked) {
    SegmentHeader *seg = shm_OpenOrCreateSegment("ranges", 100);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    uint8_t buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(shm_Write(seg, buf, 96, 4), 0);
    uint8_t back[8] = {};
    EXPECT_EQ(shm_Read(seg, back, 96, 4), 0);
    EXPECT_EQ(memcmp(back, buf, 4), 0);
    EXPECT_EQ(shm_Read(seg, back, 100, 0), 0);

    struct Case {
        int32_t offset, length;
    } bad[] = {{97, 4}, {100, 1}, {-1, 2}, {0, -1}, {INT32_MAX, 1}, {1, INT32_MAX}};
    for (const Case &c : bad) {
        errno = 0;
        EXPECT_EQ(shm_Write(seg, buf, c.offset, c.length), -1) << c.offset << "+" << c.length;
        EXPECT_EQ(errno, 67);
        EXPECT_EQ(shm_Read(seg, back, c.offset, c.length), -1);
        EXPECT_EQ(errno, 67);
    }
    EXPECT_EQ(seg->lockOwner, 0) << "a refused range must release the lock";
    EXPECT_EQ(seg->lockRecursion, 0);
}

TEST(ShmSegment, PayloadLengthBeyondTheMappingIsNotTrusted) {
    SegmentHeader *seg = shm_CreateSegment("overlong", 100); // mapping 208: 80 payload bytes
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    PlatMutex *mutex = plat_MutexCreate(shm_MutexName("overlong").c_str());
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(shm_SetSegmentMutex(seg, mutex), 0);
    seg->payloadLength = 100000;
    uint8_t buf[100] = {};
    EXPECT_EQ(shm_Write(seg, buf, 40, 40), 0);
    EXPECT_EQ(shm_Write(seg, buf, 40, 41), -1);
    EXPECT_EQ(errno, 67);
    ShmLayout l;
    ASSERT_EQ(shm_GetLayout(seg, &l), 0);
    EXPECT_EQ(l.payloadLimit, 80);
    // Tables the header places outside the mapping are absent.
    seg->subscriberOffset = 200;
    seg->notifyOffset = 400;
    ASSERT_EQ(shm_GetLayout(seg, &l), 0);
    EXPECT_EQ(l.shortSubscribers, 1);
    EXPECT_EQ(l.longSubscribers, 0);
    EXPECT_EQ(l.shortNotifies, 0);
    EXPECT_EQ(l.longNotifies, 0);
    // The payload ends where the segment's own table begins inside the mapping.
    EXPECT_EQ(l.payloadLimit, 72);
    EXPECT_EQ(shm_Write(seg, buf, 40, 33), -1);
    EXPECT_EQ(errno, 67);
    seg->subscriberOffset = 0; // no table
    seg->notifyOffset = 150;
    ASSERT_EQ(shm_GetLayout(seg, &l), 0);
    EXPECT_EQ(l.payloadLimit, 22);
}

TEST(ShmSegment, RegistryKeepsFirstMutexAndNames) {
    SegmentHeader *seg = shm_CreateSegment("reg", 100);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    EXPECT_EQ(shm_RegisterSegment("reg", seg), 0); // no duplicate
    EXPECT_EQ(shm_LookupSegment("reg"), seg);
    EXPECT_EQ(shm_LookupSegment("re"), nullptr);
    PlatMutex *first = plat_MutexCreate("reg.mut");
    PlatMutex *second = plat_MutexCreate("reg.mut");
    EXPECT_EQ(shm_SetSegmentMutex(seg, first), 0);
    EXPECT_EQ(shm_SetSegmentMutex(seg, second), 0);
    EXPECT_EQ(shm_GetSegmentMutex(seg), first);
    plat_MutexClose(second);
}

TEST(ShmSegment, SegmentsAndMutexesAreOpenToEveryProcess) {
    // What the null DACL grants on Windows: any process may open them, whatever the umask.
    mode_t old = umask(077);
    SegmentHeader *seg = shm_OpenOrCreateSegment("everyone", 10);
    umask(old);
    ASSERT_NE(seg, SHM_NO_SEGMENT);
    for (const char *name : {"everyone", "everyone.mut"}) {
        struct stat st;
        ASSERT_EQ(stat(("/dev/shm" + plat_ShmObjectName(name)).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 0777, 0666u) << name;
    }
    const SharedSecurityAttributes *a = shm_NullDaclAttributes();
    EXPECT_EQ(a, shm_NullDaclAttributes()); // one for the process
    EXPECT_EQ(a->length, 12);
    EXPECT_EQ(a->inheritHandle, 0);
    EXPECT_NE(a->nullDacl, 0);
}

TEST(ShmSegment, AnotherIpcPrefixMeetsOtherObjects) {
    SegmentHeader *mine = shm_OpenOrCreateSegment("prefixed", 10);
    ASSERT_NE(mine, SHM_NO_SEGMENT);
    std::string saved = plat_IpcPrefix();
    setenv("KVT_IPC_PREFIX", (saved + "-other").c_str(), 1);
    EXPECT_EQ(shm_LookupSegment("prefixed"), nullptr);
    EXPECT_EQ(shm_OpenSegment("prefixed"), SHM_NO_SEGMENT);
    setenv("KVT_IPC_PREFIX", saved.c_str(), 1);
    EXPECT_EQ(shm_OpenSegment("prefixed"), mine);
}
