// The logger statistics channels: records, path pieces and date splits alone, and the
// publishing side against the runtime stand-in run in this process.
#include "lst.h"

#include "dm.h"
#include "ipc_prefix.h"
#include "lstore_filecoll.h"
#include "lstore_mysql.h"
#include "plat_clock.h"
#include "runtime_tables.h"
#include "shm.h"
#include "sim_runtime.h"
#include "tag.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string text(const ChannelRecord &rec, int offset) {
    const char *p = reinterpret_cast<const char *>(rec.bytes + offset);
    return std::string(p, strnlen(p, 32));
}

bool cleared(const ChannelRecord &rec) {
    for (uint8_t b : rec.bytes)
        if (b != 0) return false;
    return true;
}

TEST(LstRecords, BuildTheTableRowsAndClearTheRest) {
    std::vector<LoggerStatusRecord> recs(60);
    memset(recs.data(), 0xEE, recs.size() * sizeof recs[0]);
    lst_InitStatusRecords(3, 31, recs.data());
    EXPECT_EQ(tag_GetTag(recs[0]), "0003_STATUS");
    EXPECT_EQ(tag_GetDescription(recs[0]), "STATUS");
    EXPECT_EQ(recs[0].bytes[24], 3);
    EXPECT_EQ(recs[0].bytes[28], 1);
    EXPECT_EQ(text(recs[0], 32), "ENABLED");
    EXPECT_EQ(text(recs[0], 64), "DISABLED");
    EXPECT_EQ(text(recs[9], 32), "Not Started");
    EXPECT_EQ(text(recs[11], 64), "NORESET");
    EXPECT_EQ(recs[11].bytes[24], 3);
    EXPECT_EQ(recs[12].bytes[24], 2);
    EXPECT_EQ(tag_GetTag(recs[14]), "0003_SEC LAST W");
    EXPECT_EQ(tag_GetUnits(recs[14]), "SECS");
    EXPECT_EQ(tag_GetDescription(recs[14]), "TIME SINCE LAST WRITE");
    EXPECT_EQ(tag_GetUnits(recs[28]), "YYMNDD");
    EXPECT_EQ(tag_GetTag(recs[30]), "0003_SEC TO EXP");
    EXPECT_TRUE(cleared(recs[31])); // a "resub" logger's 32nd record
    EXPECT_EQ(recs[32].bytes[0], 0xEE);

    lst_InitStatusRecords(1, 0, recs.data());
    for (int i = 0; i < 32; ++i)
        EXPECT_TRUE(cleared(recs[i])) << i;
    // Rows past the table's 56 are only cleared.
    memset(recs.data(), 0xEE, recs.size() * sizeof recs[0]);
    lst_InitStatusRecords(12, 60, recs.data());
    EXPECT_EQ(tag_GetTag(recs[37]), "0012_SEC LST W");
    EXPECT_EQ(tag_GetDescription(recs[37]), "SECON OF LAST WRITE");
    EXPECT_EQ(tag_GetTag(recs[40]), "0012_R-T LOG SS");
    EXPECT_EQ(tag_GetTag(recs[43]), "0012_R-T LOG SS");
    EXPECT_EQ(tag_GetDescription(recs[55]), "LAG LOG SECOND");
    for (int i = 56; i < 60; ++i)
        EXPECT_TRUE(cleared(recs[i])) << i;
}

TEST(LstPathPiece, CutsToFiveSeparatorsThenSkipsLevels) {
    const char *p = "C:\\A\\B\\C\\D\\E\\F\\G";
    EXPECT_EQ(lst_PathPiece(p, 0), "B");
    EXPECT_EQ(lst_PathPiece(p, 5), "G");
    EXPECT_EQ(lst_PathPiece(p, 6), std::nullopt);
    EXPECT_EQ(lst_PathPiece("/srv/LOGGED_DATA\\L1", 1), "LOGGED_DATA");
    EXPECT_EQ(lst_PathPiece("/srv/LOGGED_DATA\\L1", 3), std::nullopt);
    EXPECT_EQ(lst_PathPiece(("/" + std::string(40, 'x')).c_str(), 0), std::string(32, 'x'));
    EXPECT_EQ(lst_PathPiece("", 0), std::nullopt);
}

TEST(LstSplit, DatesAndTimesSplitAndBadSourcesHaveNoValue) {
    uint32_t flags[56] = {};
    float values[56] = {};
    flags[12] = 0x80;
    values[12] = 240517; // 17 May 2024
    flags[13] = 0x80;
    values[13] = 83005;
    flags[20] = 0x80 | 0x20; // no value
    values[20] = 240517;
    flags[21] = 0x80;
    values[21] = std::numeric_limits<float>::quiet_NaN();
    flags[26] = 0x80;
    values[26] = -5;
    flags[27] = 0x80;
    values[27] = 1e20f;
    flags[23] = 0x80;
    values[23] = std::numeric_limits<float>::infinity();
    lst_SplitDateTimes(flags, values);
    const float last[] = {24, 5, 17, 8, 30, 5};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(flags[32 + i], 0x80u) << i;
        EXPECT_EQ(values[32 + i], last[i]) << i;
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(flags[38 + i], 0xA0u) << i; // the source's 0x20
        EXPECT_EQ(values[38 + i], 0) << i;
        EXPECT_EQ(flags[41 + i], 0xA0u) << i; // NaN
        EXPECT_EQ(flags[44 + i], 0x80u) << i; // negative: 0
        EXPECT_EQ(values[44 + i], 0) << i;
        EXPECT_EQ(flags[50 + i], 0xA0u) << i; // infinity
    }
    // Too large: clamped to 4294967295 before the split.
    EXPECT_EQ(values[47], 96);
    EXPECT_EQ(values[48], 72);
    EXPECT_EQ(values[49], 95);
}

uint32_t utc(int y, int mo, int d, int h, int mi, int s) {
    struct tm tm {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return static_cast<uint32_t>(timegm(&tm));
}

class LstPublish : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        plat_SetTimeZone();
        plat_SetFakeClock(int64_t{utc(2024, 5, 17, 8, 30, 0)} * 1000);
        plat_SetFakeTick(1000);
    }
    void TearDown() override {
        lst_Detach();
        plat_ClearFakeClock();
        rt_.reset();
    }
    // Once per test: the segments stay mapped in this process.
    void start(const std::string &statements) {
        dm_ResetForTests();
        std::string error;
        d_ = SimDescription();
        ASSERT_EQ(sim_ParseDescription("root " + root_.path() + "\n" + statements, &d_, &error), 0)
            << error;
        rt_ = std::make_unique<SimRuntime>(d_);
        ASSERT_EQ(rt_->create(), 0) << rt_->lastError();
        ASSERT_EQ(dm_MapLoggerTable(), 0);
    }
    int attach(int n) { return lst_Attach(n, dm_GetLogger(n - 1)); }
    // Channel c of logger n (1-based within its block).
    uint32_t status(int n, int c) { return rt_->statuses("LS").at((n - 1) * 32 + c - 1); }
    float value(int n, int c) { return rt_->values("LS").at((n - 1) * 32 + c - 1); }
    const ChannelRecord &record(int n, int c) {
        return *reinterpret_cast<const ChannelRecord *>(dm_GetConfData("LS") + (n - 1) * 6912 +
                                                        (c - 1) * 216);
    }
    // As an operator's display sets RESET CNTS: bit 0 of its status word, under the lock.
    void operatorReset(int n) {
        SegmentHeader *data = dm_GetDataSegment("LS");
        shm_Lock(data);
        uint8_t *word = dm_GetData("LS") + 20 + 4 * ((n - 1) * 32 + 11);
        uint32_t w;
        memcpy(&w, word, 4);
        w |= 1;
        memcpy(word, &w, 4);
        shm_Unlock(data);
    }

    UniqueIpcPrefix ipc_{"lst"};
    TempRegistry registry_;
    TempFolder root_;
    SimDescription d_;
    std::unique_ptr<SimRuntime> rt_;
};

TEST_F(LstPublish, PublishesStateCountersTimesAndStoreTexts) {
    start("process LOGST id=LS\ntable LS 8 64\nlogger stand L1 state=5\n"
          "logger resub R2 state=9 rtlog=7\nlogger stand L3\nerror 2 L1\n"
          "error 4 R2 DISK FULL ON VOLUME D\nerror 4 L3\n");
    // Refused: a table too small for logger 3, a logger without its own status entry, no
    // logger number. Refused attaches publish nothing.
    EXPECT_EQ(attach(3), -1);
    EXPECT_EQ(attach(1), -1);
    EXPECT_EQ(lst_Attach(0, dm_GetLogger(0)), -1);
    EXPECT_EQ(lst_IsAttached(), 0);
    lst_SetStoreInfo("", "/a/b", "P");
    EXPECT_TRUE(cleared(record(1, 1)));

    ASSERT_EQ(attach(2), 0);
    EXPECT_EQ(lst_IsAttached(), 1);
    EXPECT_EQ(tag_GetTag(record(2, 1)), "0002_STATUS");
    EXPECT_EQ(tag_GetTag(record(2, 31)), "0002_SEC TO EXP");
    EXPECT_TRUE(cleared(record(2, 32))); // "resub": 31 records
    EXPECT_EQ(status(2, 1) & 1, 1u);     // active
    EXPECT_EQ(status(2, 11) & 1, 1u);    // an error text
    EXPECT_EQ(text(record(2, 11), 32), "DISK FULL ON VOLUME D");
    EXPECT_EQ(status(2, 10) & 1, 1u);
    EXPECT_EQ(text(record(2, 10), 32), "Unknown"); // state 9
    EXPECT_EQ(value(2, 20), 7);
    EXPECT_EQ(value(2, 15), 0); // before the first write

    // A write: counters and its time; the seconds since come from the tick counter.
    lst_CountWrite(100);
    lst_CountWrite(28);
    lst_CountRead(5);
    plat_AdvanceFakeTick(5500);
    lst_Publish();
    EXPECT_EQ(value(2, 16), 2);
    EXPECT_EQ(value(2, 17), 128);
    EXPECT_EQ(value(2, 18), 1);
    EXPECT_EQ(value(2, 19), 5);
    EXPECT_EQ(value(2, 13), 240517);
    EXPECT_EQ(value(2, 14), 83000);
    EXPECT_EQ(value(2, 15), 5);

    int32_t now = static_cast<int32_t>(utc(2024, 5, 17, 8, 30, 0));
    lst_SetExpiry(now + 2 * 3600 + 100);
    EXPECT_EQ(value(2, 31), 2);
    EXPECT_EQ(value(2, 29), 240517);
    EXPECT_EQ(value(2, 30), 103140);
    lst_SetExpiry(now - 3700);
    EXPECT_EQ(value(2, 31), -1);
    // Times past 2038 are read unsigned.
    lst_SetHistoricalLog(4, static_cast<int32_t>(utc(2069, 1, 2, 3, 4, 5)));
    EXPECT_EQ(value(2, 26), 4);
    EXPECT_EQ(value(2, 27), 690102);
    EXPECT_EQ(value(2, 28), 30405);
    lst_SetLagLog(3, 0);
    EXPECT_EQ(value(2, 23), 3);
    EXPECT_EQ(value(2, 24), 0);
    // A "resub" logger has no record for channel 32, so it is not published.
    lst_SetIncompleteCount(9);
    EXPECT_EQ(value(2, 32), 0);

    // An operator's reset clears the counters, shows STATUS 0 once and is acknowledged.
    operatorReset(2);
    lst_Publish();
    EXPECT_EQ(value(2, 16), 0);
    EXPECT_EQ(value(2, 17), 0);
    EXPECT_EQ(status(2, 1) & 1, 0u);
    EXPECT_EQ(status(2, 12) & 1, 0u);
    lst_Publish();
    EXPECT_EQ(status(2, 1) & 1, 1u);

    // The folder of a collection opened now, and its prefix.
    std::string folder = root_.path() + "/LOGGED_DATA/SITE/L1";
    CLogFileCollection c;
    ASSERT_EQ(c.Open(nullptr, folder.c_str(), "", "RUN", LSTORE_READ | LSTORE_WRITE), 0);
    std::vector<std::string> levels;
    for (int k = 0; k < 6; ++k)
        if (auto piece = lst_PathPiece(folder.c_str(), k)) levels.push_back(*piece);
    ASSERT_FALSE(levels.empty());
    for (size_t k = 0; k < levels.size(); ++k) {
        EXPECT_EQ(text(record(2, 2 + static_cast<int>(k)), 32), levels[k]);
        EXPECT_EQ(text(record(2, 2 + static_cast<int>(k)), 64), levels[k]);
    }
    EXPECT_EQ(text(record(2, 8), 32), "RUN");
    EXPECT_EQ(status(2, 9) & 1, 0u);
    // A MariaDB collection reports its store before it connects, so even when it cannot.
    CLogDbMySQLCollection server;
    EXPECT_EQ(server.Open("PROVIDER=MYSQL;DB=plant", "", "L1", "NORTH", LSTORE_READ), -1);
    EXPECT_EQ(text(record(2, 2), 32), "R2");
    EXPECT_EQ(text(record(2, 8), 32), "NORTH");
    EXPECT_EQ(status(2, 9) & 1, 1u);
    lst_SetStoreInfo("", "/a/b", "");
    EXPECT_EQ(status(2, 9) & 1, 0u);
    lst_SetStoreInfo("Provider=SQLOLEDB;Data Source=x", "", "");
    EXPECT_EQ(text(record(2, 2), 32), "R2");
    EXPECT_EQ(text(record(2, 8), 32), "NORTH");
    EXPECT_EQ(status(2, 9) & 1, 1u);

    lst_Detach();
    EXPECT_EQ(value(2, 15), 0);
    lst_CountWrite(1);
    lst_Publish();
    EXPECT_EQ(value(2, 16), 0);
    // Logger 1's block was never touched.
    EXPECT_TRUE(cleared(record(1, 1)));
}

// Segments whose sizes disagree with their headers, made by hand; claimed > 0 makes both
// headers claim the payload of that many channels. The module's segments stay mapped in a
// process, so each case runs in a fresh one.
int attachWithSizes(int capacity, int dataChannels, int confRecords, int n, int claimed = 0) {
    UniqueIpcPrefix ipc("lstsize");
    dm_ResetForTests();
    rt::makeProcesses({{"LOGST", "LS", 0, 1, 0, 1}});
    rt::makeLoggers({{"L1", 1, 2}, {"L2", 1, 3}});
    SegmentHeader *errors = shm_OpenOrCreateSegment("dm_errors", 4 + 443 * 2);
    rt::setCount(errors, 2);
    for (int i = 0; i < 2; ++i) {
        uint8_t *e = shm_Payload(errors) + 4 + 57 * 2 + 386 * i;
        e[0] = 4;
        memcpy(e + 1, i == 0 ? "L1" : "L2", 2);
    }
    SegmentHeader *conf = shm_OpenOrCreateSegment("dm_LS_conf", 216 * confRecords);
    rt::Table t = rt::makeTable("LS", dataChannels, true);
    t.header->channelCount = static_cast<uint16_t>(capacity);
    if (claimed > 0) {
        conf->payloadLength = 216 * claimed;
        t.data->payloadLength = 20 + 8 * claimed;
    }
    if (dm_MapLoggerTable() != 0) return 99;
    int result = lst_Attach(n, dm_GetLogger(n - 1));
    lst_Detach();
    return result;
}

TEST(LstSizes, SegmentsSmallerThanTheirHeadersAreRefused) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Sound sizes attach.
    EXPECT_EXIT(exit(attachWithSizes(64, 64, 64, 2) == 0 ? 0 : 1), ::testing::ExitedWithCode(0),
                "");
    // A data payload shorter than the capacity claims.
    EXPECT_EXIT(exit(attachWithSizes(64, 32, 64, 1) == -1 ? 0 : 1), ::testing::ExitedWithCode(0),
                "");
    // A configuration segment without room for logger 2's records.
    EXPECT_EXIT(exit(attachWithSizes(64, 64, 32, 2) == -1 ? 0 : 1), ::testing::ExitedWithCode(0),
                "");
    EXPECT_EXIT(exit(attachWithSizes(64, 64, 32, 1) == 0 ? 0 : 1), ::testing::ExitedWithCode(0),
                "");
    // Headers that claim more than their segments hold: the room is what the mapping holds
    // before the segment's own tables.
    EXPECT_EXIT(exit(attachWithSizes(64, 32, 64, 2, 64) == -1 ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(exit(attachWithSizes(64, 64, 32, 2, 64) == -1 ? 0 : 1),
                ::testing::ExitedWithCode(0), "");
}

} // namespace
