// A run made, written, read and dropped on a SQL Server connection, checked statement by
// statement against the recording connection: the dialect fallbacks, escaped names, the TOP
// fallback and the drop of a run whose TEXT table is missing.
#include "chrec.h"
#include "ldb.h"
#include "ldf.h"
#include "lstore_dbcoll.h"
#include "plat_error.h"
#include "recording_backend.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using ado::ColumnInfo;
using ado::Variant;

namespace {

std::vector<ColumnInfo> named(std::initializer_list<const char *> names) {
    std::vector<ColumnInfo> out;
    for (const char *n : names)
        out.push_back({n, ado::VT_EMPTY});
    return out;
}

const std::initializer_list<const char *> kLoggers = {
    "sLoggerName",  "nLoggerSequence", "dStartTime",     "dStopTime",       "bCompleted",
    "sTablePrefix", "sHeader",         "bTagColumns",    "bRowsPerChannel", "bDST",
    "nTimeZone",    "bSigChange",      "sTriggerPrefix", "nTriggerNumber",  "sLagPrefix",
    "nLagNumber",   "dTextTime"};

} // namespace

TEST(DbRecording, ARunOnSqlServerStatementByStatement) {
    TempRegistry reg;
    ldb_ResetSwitches();
    rec::RecordingBackend db;
    db.error(rec::Prefix, "SELECT * FROM LOGGERS", 0x80040E37, "Invalid object name 'LOGGERS'.", 1);
    db.error(rec::Regex, "^CREATE TABLE LOGGERS .*datetime", 0x80040E14, "no datetime", 1);
    db.error(rec::Regex, "^CREATE TABLE \\w+DATA .*varchar", 0x80040E14, "no varchar", 1);
    db.error(rec::Prefix, "CREATE INDEX TM", 0x80040E14, "no index", 1);
    db.rows(rec::Prefix, "select nLoggerSequence from LOGGERS", named({"nLoggerSequence"}), {});
    db.rows(rec::Prefix, "SELECT * FROM LOGGERS", std::vector<ColumnInfo>(named(kLoggers)), {});
    db.rows(rec::Prefix, "SELECT * FROM North_TEXT", named({"TX"}), {});
    db.rows(rec::Prefix, "SELECT * FROM North_CHANNELS",
            named({"nBlock", "sPrefix", "nChannelNumber", "sSource", "sTag", "sDescription",
                   "nType", "sUnits", "fMinScale", "fMaxScale", "sLowStateDesc", "sHighStateDesc",
                   "sColumnName", "bLag"}),
            {});
    db.rows(rec::Prefix, "SELECT * FROM North_DATA", named({"DT", "MS", "TX", "AI1", "AI2", "TP"}),
            {});
    db.error(rec::Prefix, "select TOP", 0x80040E14, "TOP is not understood", 1);
    db.rows(rec::Prefix, "select * from North_DATA ORDER BY",
            named({"DT", "MS", "TX", "AI1", "AI2", "TP"}),
            {{Variant::Date(ado::OleFromParts(2040, 1, 1, 0, 0, 1)), Variant::I4(5),
              Variant::Null(), Variant::R8(1.5), Variant::Null(), Variant::Null()}});
    db.error(rec::Prefix, "DROP TABLE North_TEXT", 0x80040E37, "Cannot drop the table", 1);
    db.rows(rec::Prefix, "select * from LOGGERS where sTablePrefix",
            std::vector<ColumnInfo>(named(kLoggers)), {std::vector<Variant>(17, Variant::Null())});
    db.ok(rec::Prefix, "DELETE FROM LOGGERS", -1, 1);
    db.ok(rec::Regex, "."); // every other statement succeeds

    const char conn[] = "Provider=SQLOLEDB;Data Source=srv;Initial Catalog=logs";
    CLogDbCollection coll;
    ASSERT_EQ(coll.Open(conn, "", "Boiler's", "North", LSTORE_READ | 0x40000000u), 0)
        << coll.GetErrorText() << " / " << coll.GetErrorMessage();
    LogHeader h{};
    h.start = 2147483649; // 2038-01-19 03:14:09 read unsigned
    h.blockCount = 1;
    std::memcpy(h.blocks[0].prefix, "AI", 2);
    h.blocks[0].first = 1;
    h.blocks[0].last = 2;
    std::memcpy(h.blocks[0].source, "Pumps", 5);
    ChannelRecord records[2] = {};
    const void *blocks[1] = {records};
    std::unique_ptr<CLogStore> run(
        coll.CreateLoggerEx(&h.start, 1, 0, &h, "[HEADER]\r\nFirst\r\n[PREDEFINED]\r\nStart\r\n", 0,
                            nullptr, 0, blocks));
    ASSERT_TRUE(run) << coll.GetErrorText() << " / " << coll.GetErrorMessage();
    LogHeader rh = h;
    rh.recordSize = 18 + 8 * 2 + 2;
    rh.blocks[0].valuesOffset = 18;
    uint8_t record[64] = {};
    EXPECT_EQ(run->ReadLog(0, &rh, record, rh.recordSize, 0, 0, nullptr, 1, 0), 0)
        << run->GetErrorMessage();
    EXPECT_EQ(run->ReadLog(0, &rh, record, rh.recordSize, 0, 0, nullptr, 1, 0), 0);
    EXPECT_EQ(coll.CloseLogger(run.get(), nullptr, nullptr, 0), 0);

    EXPECT_EQ(ldf_Get16(record), 0x8004);
    EXPECT_EQ(ldf_Get32(record + 18), 0x80); // AI1
    EXPECT_EQ(ldf_Get32(record + 22), 0x20); // AI2 is NULL

    const std::string loggers =
        "sLoggerName char(255), nLoggerSequence integer, dStartTime %1,dStopTime %1, bCompleted "
        "integer, sTablePrefix char(255), sHeader char(255), bTagColumns integer, bRowsPerChannel "
        "integer, bDST integer, nTimeZone integer,bSigChange integer, sTriggerPrefix char(2), "
        "nTriggerNumber integer,sLagPrefix char(2), nLagNumber integer, dTextTime %1)";
    auto with = [](std::string t, const std::string &type) {
        for (size_t at; (at = t.find("%1")) != std::string::npos;)
            t.replace(at, 2, type);
        return t;
    };
    const std::string data =
        " MS integer, TX %1(255) NULL, [AI1] REAL NULL, [AI2] REAL NULL, TP float NULL)";
    const std::string channelColumns =
        "[nBlock], [sPrefix], [nChannelNumber], [sSource], [sTag], [sDescription], [nType], "
        "[sUnits], [fMinScale], [fMaxScale], [sLowStateDesc], [sHighStateDesc], [sColumnName], "
        "[bLag]) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    std::string nulls;
    for (const char *c : kLoggers)
        nulls += std::string(nulls.empty() ? "" : " AND ") + "[" + c + "] IS NULL";
    EXPECT_EQ(
        db.statements(),
        (std::vector<std::string>{
            "SELECT * FROM LOGGERS",
            "CREATE TABLE LOGGERS (" + with(loggers, "datetime"),
            "CREATE TABLE LOGGERS (" + with(loggers, "date"),
            "ALTER TABLE LOGGERS ADD CONSTRAINT PK PRIMARY KEY (sLoggerName, nLoggerSequence)",
            "select nLoggerSequence from LOGGERS where sLoggerName = 'Boiler''s' AND "
            "nLoggerSequence < 19000101 order by nLoggerSequence Desc",
            ldb_CreateChannels("North_"),
            "CREATE INDEX CH ON North_CHANNELS (sPrefix, nChannelNumber)",
            "CREATE TABLE North_DATA (DT datetime," + with(data, "varchar"),
            "CREATE TABLE North_DATA (DT datetime," + with(data, "char"),
            "CREATE INDEX TM ON North_DATA (DT, MS)",
            "CREATE INDEX DT ON North_DATA (DT)",
            "CREATE INDEX MS ON North_DATA (MS)",
            "CREATE INDEX TX ON North_DATA (TX)",
            "CREATE TABLE North_TEXT (TX char(255))",
            "SELECT * FROM LOGGERS",
            "INSERT INTO LOGGERS ([sLoggerName], [nLoggerSequence], [dStartTime], "
            "[dStopTime], [bCompleted], [sTablePrefix], [sHeader], [bTagColumns], "
            "[bRowsPerChannel], [bDST], [nTimeZone], [bSigChange], [sTriggerPrefix], "
            "[nTriggerNumber], [sLagPrefix], [nLagNumber]) VALUES (?, ?, ?, ?, ?, ?, ?, ?, "
            "?, ?, ?, ?, ?, ?, ?, ?)",
            "SELECT * FROM North_TEXT",
            "INSERT INTO North_TEXT ([TX]) VALUES (?)",
            "SELECT * FROM North_CHANNELS",
            "INSERT INTO North_CHANNELS (" + channelColumns,
            "INSERT INTO North_CHANNELS (" + channelColumns,
            "SELECT * FROM North_DATA",
            "select TOP 1 * from North_DATA ORDER BY DT ASC, MS ASC",
            "select * from North_DATA ORDER BY DT ASC, MS ASC",
            "select * from North_DATA ORDER BY DT ASC, MS ASC", // TOP is not tried again
            "DROP TABLE North_TEXT",
            "DROP TABLE North_DATA",
            "DROP TABLE North_CHANNELS",
            "select * from LOGGERS where sTablePrefix = 'North_'",
            "DELETE FROM LOGGERS WHERE " + nulls,
        }));
    EXPECT_TRUE(db.unscripted().empty());
    // The name goes as a parameter, apostrophe and all; the start after 2038 as its date.
    int inserts = 0;
    for (const rec::Entry &e : db.log) {
        if (e.text.rfind("INSERT INTO LOGGERS", 0) != 0) continue;
        ++inserts;
        ASSERT_EQ(e.params.size(), 16u);
        EXPECT_EQ(e.params[0].s, u"Boiler's");
        EXPECT_EQ(ado::DateText(e.params[2].d), "2038-01-19 03:14:09");
        EXPECT_EQ(e.params[3].vt, ado::VT_NULL);
        EXPECT_EQ(e.params[5].s, u"North_");
        EXPECT_EQ(e.params[6].s, u"First");
    }
    EXPECT_EQ(inserts, 1);
}
