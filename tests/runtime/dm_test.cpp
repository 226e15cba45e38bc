#include "dm.h"

#include "plat_shm.h"
#include "util.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {
struct Device {
    const char *type;
    int number;
    const char *name;
    const char *ids[5];
    const char *own;
    int32_t pid;
};

struct Process {
    const char *name;
    const char *display;
    const char *id;
    uint8_t kindFlag;
    uint8_t attribute;
    int32_t pid;
};

// Record texts are fixed fields, not always NUL-terminated.
template <size_t N>
void fill(char (&field)[N], const char *text) {
    memset(field, 0, N);
    memcpy(field, text, std::min(N, strlen(text)));
}

void setCount(SegmentHeader *seg, int32_t count) {
    memcpy(shm_Payload(seg), &count, 4);
}

SegmentHeader *makeDevices(const std::vector<Device> &devices, bool ownIds = true) {
    int32_t n = static_cast<int32_t>(devices.size());
    SegmentHeader *seg = shm_OpenOrCreateSegment("dm_device", 4 + (ownIds ? 790 : 788) * n);
    setCount(seg, n);
    for (int i = 0; i < n; ++i) {
        DeviceSlot *s = reinterpret_cast<DeviceSlot *>(shm_Payload(seg) + 4 + 788 * i);
        fill(s->typeName, devices[i].type);
        fill(s->deviceName, devices[i].name);
        s->deviceNumber = static_cast<uint16_t>(devices[i].number);
        for (int k = 0; k < 5; ++k)
            if (devices[i].ids[k] != nullptr) memcpy(s->kindIds[k], devices[i].ids[k], 2);
        s->pid = devices[i].pid;
        if (ownIds && devices[i].own != nullptr)
            memcpy(shm_Payload(seg) + 4 + 788 * n + 2 * i, devices[i].own, 2);
    }
    return seg;
}

SegmentHeader *makeProcesses(const std::vector<Process> &processes) {
    int32_t n = static_cast<int32_t>(processes.size());
    SegmentHeader *seg = shm_OpenOrCreateSegment("dm_datproc", 4 + 60 * n);
    setCount(seg, n);
    for (int i = 0; i < n; ++i) {
        DataProcessEntry *e = reinterpret_cast<DataProcessEntry *>(shm_Payload(seg) + 4 + 60 * i);
        fill(e->name, processes[i].name);
        fill(e->displayName, processes[i].display);
        memcpy(e->tableId, processes[i].id, 2);
        e->kindFlag = processes[i].kindFlag;
        e->attribute = processes[i].attribute;
        e->pid = processes[i].pid;
    }
    return seg;
}

void makeTable(const char *id) {
    shm_OpenOrCreateSegment((std::string("dm_") + id).c_str(), 20);
}

class Directory : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        std::string prefix = "kvtt-dm-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
        setenv("KVT_IPC_PREFIX", prefix.c_str(), 1);
        plat_ShmUnlinkAll();
    }
    void TearDown() override { plat_ShmUnlinkAll(); }
};
} // namespace

TEST_F(Directory, FindDeviceMatchesFivePrefixCharactersAndLowNumberBits) {
    makeDevices({{"KSTRN", 3, "first", {}, nullptr, 0},
                 {"KSTRNX", 4, "second", {}, nullptr, 0},
                 {"ABCDE", 3, "third", {}, nullptr, 0}});
    DeviceSlot *a = dm_FindDevice("kstrn_SC", 3);
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->deviceName, "first");
    EXPECT_EQ(dm_FindDevice("KSTRNQQQQQQQ", 3 + 65536), a);
    ASSERT_NE(dm_FindDevice("kstrn", 4), nullptr);
    EXPECT_STREQ(dm_FindDevice("kstrn", 4)->deviceName, "second");
    EXPECT_EQ(dm_FindDevice("KSTRN", 5), nullptr);
    EXPECT_EQ(dm_FindDevice("KST", 3), nullptr);
    EXPECT_EQ(dm_FindDevice(nullptr, 3), nullptr);
}

TEST_F(Directory, MissingDirectoryIsRetriedLater) {
    EXPECT_EQ(dm_MapDeviceTable(), -1);
    EXPECT_EQ(dm_FindDevice("KSTRN", 1), nullptr);
    makeDevices({{"KSTRN", 1, "late", {}, nullptr, 0}});
    EXPECT_EQ(dm_MapDeviceTable(), 0);
    EXPECT_NE(dm_FindDevice("KSTRN", 1), nullptr);
}

TEST_F(Directory, FindDataProcessPrefersExactNameAndNeverWritesTheCallersText) {
    makeProcesses({{"DERIVEDX", "Derived X", "DX", 0, 0, 0},
                   {"DERIVED", "Derived", "DV", 0, 0, 0},
                   {"ALARM", "Alarms", "AL", 0, 0, 0}});
    DataProcessEntry *exact = dm_FindDataProcess("derived");
    ASSERT_NE(exact, nullptr);
    EXPECT_STREQ(exact->displayName, "Derived");
    ASSERT_NE(dm_FindDataProcess("DERIV"), nullptr);
    EXPECT_STREQ(dm_FindDataProcess("DERIV")->displayName, "Derived X");
    EXPECT_STREQ(dm_FindDataProcess("ALARMS_OF_ALL")->displayName, "Alarms");
    EXPECT_EQ(dm_FindDataProcess("SYSER"), nullptr);
    const char *literal = "alarm"; // read-only storage: a write would crash
    EXPECT_NE(dm_FindDataProcess(literal), nullptr);
}

TEST_F(Directory, FindLoggerIsOneBased) {
    SegmentHeader *seg = shm_OpenOrCreateSegment("dm_loggers", 4 + 172 * 2);
    setCount(seg, 2);
    auto *l = reinterpret_cast<LoggerEntry *>(shm_Payload(seg) + 4);
    strcpy(l[0].name, "Trend");
    strcpy(l[1].name, "Events");
    EXPECT_EQ(dm_FindLogger("events"), 2);
    EXPECT_EQ(dm_FindLogger("TREND"), 1);
    errno = 5;
    EXPECT_EQ(dm_FindLogger("Event"), 0);
    EXPECT_EQ(errno, 0);
}

TEST_F(Directory, CountsAreClampedToThePayload) {
    SegmentHeader *dev =
        makeDevices({{"KSTRN", 1, "a", {}, "S1", 0}, {"KSTRN", 2, "b", {}, "S2", 0}});
    ASSERT_EQ(dm_MapDeviceTable(), 0);
    EXPECT_EQ(dm_DeviceCount(), 2);
    char own[3];
    EXPECT_EQ(dm_GetOwnTableId(dm_GetDeviceSlot(1), own), 0);
    EXPECT_STREQ(own, "S2");
    setCount(dev, 3); // more than the payload holds: no own-id list either
    EXPECT_EQ(dm_DeviceCount(), 2);
    EXPECT_EQ(dm_GetOwnTableId(dm_GetDeviceSlot(1), own), -1);
    EXPECT_EQ(dm_GetDeviceSlot(2), nullptr);
    setCount(dev, -4);
    EXPECT_EQ(dm_DeviceCount(), 0);
    EXPECT_EQ(dm_FindDevice("KSTRN", 1), nullptr);

    SegmentHeader *proc = makeProcesses({{"ALARM", "", "AL", 0, 0, 0}});
    setCount(proc, 1000000);
    ASSERT_EQ(dm_MapDataProcessTable(), 0);
    EXPECT_EQ(dm_DataProcessCount(), 1);
}

TEST_F(Directory, ShortDevicePayloadHasNoOwnIds) {
    makeDevices({{"KSTRN", 1, "a", {}, "S1", 0}}, false);
    ASSERT_EQ(dm_MapDeviceTable(), 0);
    char own[3];
    EXPECT_EQ(dm_GetOwnTableId(dm_GetDeviceSlot(0), own), -1);
    EXPECT_STREQ(own, "");
}

TEST_F(Directory, ErrorTableLayouts) {
    SegmentHeader *seg = shm_OpenOrCreateSegment("dm_errors", 4 + 443 * 3);
    setCount(seg, 3);
    ASSERT_EQ(dm_MapErrorTable(), 0);
    EXPECT_FALSE(dm_ErrorsShortOnly());
    EXPECT_EQ(dm_ErrorCount(), 3);
    EXPECT_EQ(reinterpret_cast<uint8_t *>(dm_GetErrorShort(1)), shm_Payload(seg) + 4 + 57);
    EXPECT_EQ(reinterpret_cast<uint8_t *>(dm_GetErrorLong(0)), shm_Payload(seg) + 4 + 57 * 3);
    EXPECT_EQ(dm_GetErrorLong(3), nullptr);
    setCount(seg, 9);
    EXPECT_EQ(dm_ErrorCount(), 3);
}

TEST_F(Directory, ErrorTableShortOnly) {
    SegmentHeader *seg = shm_OpenOrCreateSegment("dm_errors", 57 * 4);
    setCount(seg, 4);
    ASSERT_EQ(dm_MapErrorTable(), 0);
    EXPECT_TRUE(dm_ErrorsShortOnly());
    EXPECT_EQ(dm_ErrorCount(), 3) << "the fourth entry would run past the payload";
    EXPECT_EQ(dm_GetErrorLong(0), nullptr);
    EXPECT_NE(dm_GetErrorShort(2), nullptr);
}

TEST_F(Directory, TableIdsKindsOwnersAndAttributes) {
    makeProcesses(
        {{"ALARM", "Alarm list", "AL", 2, 7, 111}, {"modbus1", "Modbus", "MB", 5, 0, 222}});
    makeDevices({{"KSTRN", 1, "Press", {"A1", "D1", nullptr, nullptr, nullptr}, "S1", 333}});
    for (const char *id : {"AL", "MB", "A1", "D1", "S1", "ZZ"})
        makeTable(id);

    EXPECT_EQ(dm_FindSegmentIndex("al"), 0);
    EXPECT_EQ(dm_FindSegmentIndex("MB"), 1);
    EXPECT_EQ(dm_FindSegmentIndex("A1"), 2);
    EXPECT_EQ(dm_FindSegmentIndex("d1"), 3);
    EXPECT_EQ(dm_FindSegmentIndex("S1"), 2 + 5);
    EXPECT_EQ(dm_FindSegmentIndex("ZZ"), -1);
    EXPECT_EQ(dm_FindSegmentIndex(""), -1);

    EXPECT_EQ(dm_GetIdKind("AL"), 3);
    EXPECT_EQ(dm_GetIdKind("MB"), 1);
    EXPECT_EQ(dm_GetIdKind("a1"), 0);
    EXPECT_EQ(dm_GetIdKind("D1"), 0);
    EXPECT_EQ(dm_GetIdKind("S1"), 1);
    EXPECT_EQ(dm_GetIdKind("ZZ"), 1);
    EXPECT_EQ(dm_GetIdKind("QQ"), -1);

    EXPECT_EQ(dm_GetOwnerPid("AL"), 111);
    EXPECT_EQ(dm_GetOwnerPid("S1"), 333);
    EXPECT_EQ(dm_GetOwnerPid("ZZ"), 0);
    EXPECT_EQ(dm_GetOwnerPid("QQ"), -1);
    EXPECT_EQ(dm_GetOwnerName("MB"), std::optional<std::string>("Modbus"));
    EXPECT_EQ(dm_GetOwnerName("a1"), std::optional<std::string>("Press"));
    EXPECT_EQ(dm_GetOwnerName("ZZ"), std::optional<std::string>(""));
    EXPECT_EQ(dm_GetOwnerName("QQ"), std::nullopt);
    EXPECT_EQ(dm_GetIdAttribute("AL"), 7);
    EXPECT_EQ(dm_GetIdAttribute("A1"), 0);
    EXPECT_EQ(dm_GetIdAttribute("QQ"), -1);

    SegmentHeader *data = dm_GetDataSegment("a1");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(dm_GetData("A1"), shm_Payload(data));
    EXPECT_EQ(dm_GetChannelValues("A1"), shm_Payload(data) + 20);
    EXPECT_EQ(dm_GetConfSegment("A1"), nullptr);
    SegmentHeader *conf = shm_OpenOrCreateSegment("dm_A1_conf", 216);
    EXPECT_EQ(dm_GetConfSegment("A1"), conf) << "a missing segment is looked for again";
    EXPECT_EQ(dm_GetConfData("A1"), shm_Payload(conf));
    EXPECT_EQ(dm_GetEventSegment("A1"), nullptr);
}

TEST_F(Directory, MovedDataProcessKeepsItsTable) {
    makeProcesses({{"ALARM", "Alarm", "AL", 0, 0, 1},
                   {"DERIVED", "Derived", "DV", 0, 0, 2},
                   {"SYSER", "Syser", "SY", 0, 0, 3}});
    for (const char *id : {"AL", "DV", "SY"})
        makeTable(id);
    SegmentHeader *al = dm_GetDataSegment("AL");
    ASSERT_EQ(dm_MoveDataProcessToEnd("alarm"), 0);
    EXPECT_STREQ(dm_GetDataProcess(0)->name, "DERIVED");
    EXPECT_STREQ(dm_GetDataProcess(2)->name, "ALARM");
    EXPECT_EQ(dm_FindSegmentIndex("AL"), 2);
    EXPECT_EQ(dm_GetDataSegment("AL"), al);
    EXPECT_EQ(dm_GetOwnerPid("AL"), 1);
    EXPECT_EQ(dm_MoveDataProcessToEnd("NOBODY"), 0);
}

TEST(DirectoryNames, KindNames) {
    const char *expected[] = {"ai", "di", "ao", "do", "ci", "dc", "dc"};
    for (int k = 0; k < 7; ++k)
        EXPECT_STREQ(dm_ChannelTypeName(k), expected[k]);
    EXPECT_STREQ(dm_ChannelTypeName(7), "");
    EXPECT_STREQ(dm_ChannelTypeName(-1), "");
}

TEST(DirectoryNames, CaseHelpersFoldAsciiOnly) {
    char text[] = "aB\xe4z-q";
    EXPECT_STREQ(util_UpperN(text, 4), "AB\xe4Z-q");
    EXPECT_STREQ(util_LowerN(text, 100), "ab\xe4z-q");
    EXPECT_EQ(util_StrNICmp("KSTRN_SC", "kstrnX", 5), 0);
    EXPECT_NE(util_StrNICmp("\xc4", "\xe4", 1), 0);
    EXPECT_NE(util_StrNICmp("KST", "KSTRN", 5), 0);
}
