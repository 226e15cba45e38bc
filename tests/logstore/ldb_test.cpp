// The logged-data database: statements, literals, prefixes, header texts, stored dates, and the
// tables as the embedded engine's own client shows them.
#include "dbacc.h"
#include "ldb.h"
#include "plat_error.h"
#include "plat_registry.h"
#include "reg.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

// Seconds of a wall-clock time (the system's local-time convention: gmtime gives the fields).
int32_t at(int y, int mo, int d, int h, int mi, int s) {
    struct tm t = {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return static_cast<int32_t>(static_cast<uint32_t>(timegm(&t)));
}

void setValue(const char *name, const char *text) {
    uint32_t type = PLAT_REG_SZ;
    uint32_t size = static_cast<uint32_t>(strlen(text) + 1);
    ASSERT_EQ(0u, reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_SET_VALUE,
                                  name, &type, const_cast<char *>(text), &size));
}

std::string run(const std::string &command) {
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

} // namespace

TEST(LogDatabase, LiteralsConditionsPrefixesAndStatementTexts) {
    TempRegistry reg;
    ldb_ResetSwitches();
    const int32_t t = at(2024, 3, 1, 10, 5, 0);
    EXPECT_EQ(ldb_DateLiteral(0, t), "{ ts '2024-03-01 10:05:00.000' }");
    EXPECT_EQ(ldb_DateLiteral(1, t), "{ ts '2024/03/01 10:05:00.000' }");
    EXPECT_EQ(ldb_DateLiteral(2, t), "#03/01/2024 10:05:00#");
    EXPECT_EQ(ldb_DateLiteral(3, t), "");
    // Past 2038 the time reads as unsigned, up to the last second of 2106-02-07.
    EXPECT_EQ(ldb_DateLiteral(0, at(2040, 1, 1, 0, 0, 1)), "{ ts '2040-01-01 00:00:01.000' }");
    EXPECT_EQ(ldb_DateLiteral(2, -1), "#02/07/2106 06:28:15#");
    EXPECT_EQ(ldb_DatedPrefix("Boiler_2_", at(2040, 3, 1, 0, 0, 0)), "Boiler_2_20400301_");
    EXPECT_EQ(ldb_DateSequence(at(2040, 3, 1, 23, 0, 0)), 20400301);
    EXPECT_EQ(ldb_SequencePrefix("Boiler_2_", 7), "Boiler_2_00000007_");
    // The base: the run-name prefix before the logger name; what an unquoted identifier does
    // not take becomes '_', letters, digits, '_', '$' and bytes from 0x80 on stay.
    const struct {
        const char *runPrefix, *logger, *base;
    } bases[] = {
        {"", "Boiler 2", "Boiler_2_"},  {"North-", "Boiler", "North__"},
        {"", "Boiler's", "Boiler_s_"},  {"", "other.x", "other_x_"},
        {"", "a;b,c\"/d", "a_b_c__d_"}, {"", "Pump$1\xFC", "Pump$1\xFC_"},
    };
    for (const auto &b : bases)
        EXPECT_EQ(ldb_PrefixBase(b.runPrefix, b.logger), b.base) << b.logger;

    TimeStamp from{t, 250, 0}, to{at(2040, 1, 1, 0, 0, 0), 5, 0};
    EXPECT_EQ(ldb_TimeCondition(2, &from, &to),
              " WHERE ((DT = #03/01/2024 10:05:00# AND MS > 250) OR DT > #03/01/2024 10:05:00#)  "
              "AND ((DT = #01/01/2040 00:00:00# AND MS < 5) OR DT < #01/01/2040 00:00:00#) ");
    EXPECT_EQ(ldb_TimeCondition(0, nullptr, &to),
              " WHERE ((DT = { ts '2040-01-01 00:00:00.000' } AND MS < 5) OR DT < { ts "
              "'2040-01-01 00:00:00.000' }) ");
    EXPECT_EQ(ldb_TimeCondition(0, nullptr, nullptr), "");

    // Texts between quotes have their apostrophes doubled.
    EXPECT_EQ(ldb_NextCounterQuery("Boiler's"),
              "select nLoggerSequence from LOGGERS where sLoggerName = 'Boiler''s' AND "
              "nLoggerSequence < 19000101 order by nLoggerSequence Desc");
    EXPECT_EQ(ldb_RunByPrefixQuery("a'b_"), "select * from LOGGERS where sTablePrefix = 'a''b_'");
    EXPECT_EQ(ldb_IsJet("provider=microsoft.jet.oledb.4.0;Data Source=x"), 1);
    EXPECT_EQ(ldb_IsJet("Provider=MariaDB"), 0);
    EXPECT_EQ(ldb_CreateData("P_", 2, ",LL integer, LV float NULL, AI1 REAL NULL"),
              "CREATE TABLE P_DATA (DT date, MS integer, TX char(255) NULL,LL integer, LV float "
              "NULL, AI1 REAL NULL, TP float NULL)");
    EXPECT_EQ(ldb_ChannelColumnType(false, true, "On"), "REAL");
    EXPECT_EQ(ldb_ChannelColumnType(true, false, ""), "INTEGER");
    EXPECT_EQ(ldb_ChannelColumnType(true, true, "on"), "char(32)");
    EXPECT_EQ(ldb_ChannelColumnType(true, true, "varchar(40)"), "varchar(40)");
    // Column names stand quoted as each engine needs, a quote inside doubled.
    EXPECT_EQ(ldb_IdentifierQuote("Provider=MariaDB;Server=127.0.0.1"), '`');
    EXPECT_EQ(ldb_IdentifierQuote("PROVIDER=MICROSOFT.JET.OLEDB.4.0;DATA SOURCE=a.mdb"), '"');
    EXPECT_EQ(ldb_QuoteIdentifier("a`b\"c", '`'), "`a``b\"c`");
    EXPECT_EQ(ldb_QuoteIdentifier("a`b\"c", '"'), "\"a`b\"\"c\"");
    EXPECT_EQ(ldb_IdentifierQuote("Provider=SQLOLEDB;Data Source=srv"), '[');
    EXPECT_EQ(ldb_QuoteIdentifier("a]b", '['), "[a]]b]");
    std::string v;
    EXPECT_FALSE(ldb_DigitalText(&v));
    setValue("DatabaseDigitalText", "varchar(40)");
    EXPECT_TRUE(ldb_DigitalText(&v));
    EXPECT_EQ(v, "varchar(40)");
}

TEST(LogDatabase, HeaderTextsSplitIntoHeaderAndPredefinedLines) {
    std::string header;
    std::vector<std::string> lines;
    EXPECT_FALSE(ldb_SplitHeaderText("no header", false, &header, &lines));
    EXPECT_TRUE(
        ldb_SplitHeaderText("[HEADER]\r\nBoiler run\r\n[PREDEFINED]\r\nStart\r\n\r\nStop\r\n"
                            "last",
                            false, &header, &lines));
    EXPECT_EQ(header, "Boiler run");
    EXPECT_EQ(lines, (std::vector<std::string>{"Start", "Stop"})); // "last" has no CRLF
    std::string big = "[HEADER]\r\n" + std::string(300, 'h');
    EXPECT_TRUE(ldb_SplitHeaderText(big, true, &header, &lines));
    EXPECT_EQ(header.size(), 255u);
    EXPECT_TRUE(ldb_SplitHeaderText(big, false, &header, &lines));
    EXPECT_EQ(header.size(), 300u);
    EXPECT_TRUE(lines.empty());
}

TEST(LogDatabase, StoredDatesFollowDatabaseUtcOnlyInAZoneWithDaylightSaving) {
    TempRegistry reg;
    const char *oldTz = getenv("TZ");
    std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    ldb_ResetSwitches();
    const int32_t summer = at(2024, 7, 1, 12, 0, 0);
    double date = 0;
    // Off: the wall-clock fields are stored as they are.
    EXPECT_EQ(lstore_LocalToDbTime(summer, &date), 1);
    EXPECT_EQ(ado::DateText(date), "2024-07-01 12:00:00");
    EXPECT_EQ(lstore_DbTimeToLocal(date, 0), summer);
    EXPECT_EQ(lstore_DbTimeToLocal(date, 1), -1);
    EXPECT_EQ(lstore_DbTimeToLocal(ado::OleFromParts(1960, 1, 1, 0, 0, 0), 0), 0);
    EXPECT_EQ(
        static_cast<uint32_t>(lstore_DbTimeToLocal(ado::OleFromParts(2200, 1, 1, 0, 0, 0), 0)),
        0xFFFFFFFFu);
    const int32_t late = at(2100, 1, 1, 0, 0, 0);
    EXPECT_EQ(lstore_LocalToDbTime(late, &date), 1);
    EXPECT_EQ(lstore_DbTimeToLocal(date, 0), late);

    // On: stored as UTC; read back as local. The switch is read once per direction.
    setValue("DatabaseUTC", "on");
    EXPECT_EQ(lstore_LocalToDbTime(summer, &date), 1);
    EXPECT_EQ(ado::DateText(date), "2024-07-01 12:00:00"); // still the cached "off"
    ldb_ResetSwitches();
    EXPECT_EQ(lstore_LocalToDbTime(summer, &date), 1);
    EXPECT_EQ(ado::DateText(date), "2024-07-01 10:00:00");
    EXPECT_EQ(lstore_DbTimeToLocal(date, 0), summer);
    EXPECT_EQ(ldb_DateLiteral(2, summer), "#07/01/2024 10:00:00#");
    EXPECT_EQ(lstore_LocalToDbTime(at(2024, 1, 1, 12, 0, 0), &date), 1);
    EXPECT_EQ(ado::DateText(date), "2024-01-01 11:00:00");

    // A zone without daylight saving keeps local dates.
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    ldb_ResetSwitches();
    EXPECT_EQ(lstore_LocalToDbTime(summer, &date), 1);
    EXPECT_EQ(ado::DateText(date), "2024-07-01 12:00:00");

    if (oldTz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
    ldb_ResetSwitches();
}

TEST(LogDatabase, TheTablesOfARunAsTheEmbeddedEnginesClientShowsThem) {
    TempFolder tmp;
    std::string file = tmp / "Boiler.mdb";
    CLogITDbAcc acc;
    ASSERT_EQ(
        acc.CreateCatalog(
            ado::FromUtf8("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"" + file + "\""), u""),
        0);
    auto exec = [&](const std::string &sql) { return acc.ExecuteStatement(ado::FromUtf8(sql)); };
    ASSERT_EQ(exec(ldb_CreateLoggers(false)), 0);
    ASSERT_EQ(exec(LDB_LOGGERS_PRIMARY_KEY), 0);
    for (const char *prefix : {"Boiler_", "Boiler_00000002_"}) {
        ASSERT_EQ(exec(ldb_CreateChannels(prefix)), 0);
        ASSERT_EQ(exec(ldb_ChannelsIndex(prefix)), 0) << acc.GetErrorText();
        ASSERT_EQ(exec(ldb_CreateData(prefix, 0, ", AI1 REAL NULL, DI2 INTEGER NULL")), 0);
        for (const std::string &s : ldb_DataIndexes(prefix))
            ASSERT_EQ(exec(s), 0) << s;
        ASSERT_EQ(exec(ldb_CreateText(prefix)), 0);
    }
    // LOGGERS refuses a second row with the same name and sequence, as a primary key does.
    ASSERT_EQ(exec("INSERT INTO LOGGERS (sLoggerName, nLoggerSequence) VALUES ('Boiler''s', 1)"),
              0);
    EXPECT_EQ(exec("INSERT INTO LOGGERS (sLoggerName, nLoggerSequence) VALUES ('Boiler''s', 1)"),
              1);
    EXPECT_EQ(exec(ldb_DropTable("Nope_", "TEXT")), 1);
    EXPECT_EQ(plat_GetLastError(), 3127u);

    std::string schema = run("sqlite3 '" + file + "' .schema 2>&1");
    EXPECT_NE(schema.find("CREATE TABLE LOGGERS (sLoggerName char(255), nLoggerSequence integer, "
                          "dStartTime datetime,dStopTime datetime, bCompleted integer,"),
              std::string::npos)
        << schema;
    EXPECT_NE(schema.find("CREATE UNIQUE INDEX \"LOGGERS_PK\" ON LOGGERS (sLoggerName, "
                          "nLoggerSequence);"),
              std::string::npos);
    EXPECT_NE(schema.find("CREATE INDEX \"Boiler_00000002_CHANNELS_CH\" ON "
                          "Boiler_00000002_CHANNELS (sPrefix, nChannelNumber);"),
              std::string::npos);
    EXPECT_NE(schema.find("CREATE TABLE Boiler_DATA (DT datetime, MS integer, TX varchar(255) "
                          "NULL, AI1 REAL NULL, DI2 INTEGER NULL, TP float NULL);"),
              std::string::npos);
    EXPECT_NE(schema.find("CREATE INDEX \"Boiler_DATA_TX\" ON Boiler_DATA (TX);"),
              std::string::npos);
    EXPECT_EQ(run("sqlite3 '" + file + "' 'select sLoggerName from LOGGERS'"), "Boiler's\n");
}
