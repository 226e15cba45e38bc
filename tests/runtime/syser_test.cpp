#include "dmw.h"
#include "msl.h"
#include "plat_error.h"
#include "syser.h"
#include "table_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

namespace {
std::atomic<int> g_changes{0};
void count(int code) {
    if (code == NC_DATA_CHANGED) g_changes.fetch_add(1);
}

class StatusMessages : public ::testing::Test, public TableFixtureBase {
protected:
    void SetUp() override {
        syser_ResetForTests();
        g_changes = 0;
        msl_Open(count);
    }
    void TearDown() override {
        msl_Close();
        syser_ResetForTests();
    }

    static SegmentHeader *makeErrors(int entries) {
        SegmentHeader *seg = shm_OpenOrCreateSegment("dm_errors", 4 + 443 * entries);
        memcpy(shm_Payload(seg), &entries, 4);
        dm_MapErrorTable();
        return seg;
    }
    static SystemErrorEntry *entry(int i) {
        return reinterpret_cast<SystemErrorEntry *>(shm_Payload(dm_GetErrorSegment()) + 4 +
                                                    57 * dm_ErrorCount() + 386 * i);
    }
    // A SYSER table whose channel c describes component c's name.
    static void makeSyser(const std::vector<const char *> &names) {
        makeProcesses({{"SYSER", "SY", 0, 0, 0}});
        int n = static_cast<int>(names.size());
        makeTable("SY", n, 4);
        for (int c = 1; c <= n; ++c) {
            ChannelRecord *r = record("SY", c);
            chrec_SetType(r, CHANNEL_TYPE_DO);
            chrec_SetFlag(r, ChannelDigital::Enable, 1);
            tag_SetDescription(r, names[c - 1]);
        }
    }
    static void watch() { shm_RequestNotify(dm_GetErrorSegment(), NC_DATA_CHANGED); }
};

TEST_F(StatusMessages, TextsReachTheEntryWithoutSyser) {
    makeErrors(3);
    memcpy(entry(0)->name, "OTHER", 6);
    syser_Register(SYSER_KIND_SCANNER, "PLC1");
    EXPECT_STREQ("PLC1", entry(1)->name);
    EXPECT_EQ(2, entry(1)->kind);

    watch();
    errno = 1234;
    plat_SetLastError(77);
    syser_Printf("CAN'T INITIALISE DEVICE -%04d", 0x15 & 0xFFF);
    EXPECT_EQ(1234, errno);
    EXPECT_EQ(77u, plat_GetLastError());
    EXPECT_STREQ("CAN'T INITIALISE DEVICE -0021", entry(1)->text);
    EXPECT_EQ(1, g_changes.load());

    watch();
    syser_Printf("CAN'T INITIALISE DEVICE -%04d", 0x15);
    EXPECT_EQ(1, g_changes.load()); // the same text: no notify

    syser_Clear();
    EXPECT_STREQ("", entry(1)->text);
    EXPECT_EQ(2, g_changes.load());
}

TEST_F(StatusMessages, LongTextsAreKeptWholeUpTo120) {
    makeErrors(1);
    syser_Register(SYSER_KIND_SCANNER, "PLC1");
    std::string hundred(100, 'A');
    syser_Printf("%s", hundred.c_str());
    EXPECT_EQ(hundred, entry(0)->text);
    watch();
    syser_Printf("%s", hundred.c_str());
    EXPECT_EQ(0, g_changes.load());
    std::string long_(200, 'B');
    syser_Printf("%s", long_.c_str());
    EXPECT_EQ(std::string(120, 'B'), entry(0)->text);
    syser_Printf("%s", "100% sure"); // a '%' in a shown text is only data
    EXPECT_STREQ("100% sure", entry(0)->text);
}

TEST_F(StatusMessages, RegisteringAgainReusesTheEntryAndEmptiesIt) {
    makeErrors(2);
    syser_Register(SYSER_KIND_SCANNER, "PLC1");
    syser_Printf("FAULT");
    syser_ResetForTests();
    syser_Register(SYSER_KIND_SCANNER, "plc1");
    EXPECT_STREQ("", entry(0)->text);
    EXPECT_STREQ("", entry(1)->name);
}

TEST_F(StatusMessages, OverlongNamesAreCutToTheirFieldAndStillFindTheirEntry) {
    makeErrors(2);
    std::string name(200, 'N');
    syser_Register(SYSER_KIND_SCANNER, name.c_str());
    EXPECT_EQ(0, memcmp(entry(0)->name, name.data(), 129));
    EXPECT_EQ('\0', entry(0)->name[129]);
    syser_Printf("FAULT");
    EXPECT_STREQ("FAULT", entry(0)->text);
    // The same component registers again: its cut name is the one it is known by.
    syser_ResetForTests();
    syser_Register(SYSER_KIND_SCANNER, name.c_str());
    EXPECT_STREQ("", entry(0)->text);
    EXPECT_STREQ("", entry(1)->name);
}

TEST_F(StatusMessages, StatusChannelShowsAndRestoresTheText) {
    makeErrors(2);
    makeSyser({"OTHER", "PLC1"});
    syser_Register(SYSER_KIND_SCANNER, "PLC1");
    syser_Printf("CAN'T OPEN PORT -0002 AND SOME MORE WORDS");
    EXPECT_EQ(1u, status("SY", 2) & 1u);
    EXPECT_EQ("CAN'T OPEN PORT -0002 AND SOME M",
              chrec_GetText(*record("SY", 2), ChannelDigital::HighStateText));
    EXPECT_EQ("CAN'T OPEN PORT -0002 AND SOME M",
              chrec_GetText(*record("SY", 2), ChannelDigital::AlarmText));
    EXPECT_EQ(0u, status("SY", 1));

    // A restarted process finds its text again through the channel (32 characters).
    memset(entry(0)->text, 0, sizeof entry(0)->text);
    syser_ResetForTests();
    syser_Register(SYSER_KIND_SCANNER, "PLC1");
    EXPECT_STREQ("CAN'T OPEN PORT -0002 AND SOME M", entry(0)->text);

    syser_Clear();
    EXPECT_EQ(0u, status("SY", 2) & 1u);
}

TEST_F(StatusMessages, LoggerEntryMatchesOnTagAndDescription) {
    makeErrors(1);
    makeSyser({"X"});
    ChannelRecord *r = record("SY", 1);
    tag_SetTag(r, "EXP ABCDEFGHIJK");
    tag_SetDescription(r, "LMNOP");
    syser_Register(SYSER_KIND_LOGGER_ENTRY, "EXP ABCDEFGHIJKLMNOP");
    syser_Printf("STOPPED");
    EXPECT_EQ(1u, status("SY", 1) & 1u);
}

TEST_F(StatusMessages, ShortLayoutKeepsItsFieldsInsideThePayload) {
    // Payload of count x 57 bytes: the last entry would end past the payload.
    int count = 3;
    SegmentHeader *seg = shm_OpenOrCreateSegment("dm_errors", 57 * count);
    memcpy(shm_Payload(seg), &count, 4);
    dm_MapErrorTable();
    auto *first = reinterpret_cast<SystemErrorEntryShort *>(shm_Payload(seg) + 4);
    syser_Register(SYSER_KIND_SCANNER, "A_VERY_LONG_DEVICE_NAME_BEYOND");
    EXPECT_EQ(0, memcmp("A_VERY_LONG_DEVICE_NAME_", first[1].name, 24));
    EXPECT_EQ(0, first[1].name[24]);
    syser_Printf("%s", "0123456789012345678901234567890123456789");
    EXPECT_EQ(0, memcmp("012345678901234567890123456789", first[1].text, 30));
    EXPECT_EQ(0, first[1].reserved56);
    watch();
    syser_Printf("%s", "0123456789012345678901234567890123456789");
    EXPECT_EQ(0, g_changes.load());
    syser_Clear();
    EXPECT_EQ(0, first[1].text[0]);
}

} // namespace
