// The tables of a run on the test run's private MariaDB server, as its own client shows them,
// and a record written and read back through the data access object.
#include "dbacc.h"
#include "ldb.h"
#include "plat_error.h"
#include "test_mariadb.h"

#include <cstdio>

namespace {

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

TEST(LogDatabaseMariaDb, TheTablesOfARunAndARecordPast2038) {
    mdb::Database db("ldb");
    KVT_REQUIRE_MARIADB(db);
    CLogITDbAcc acc;
    ASSERT_EQ(acc.OpenCatalog(ado::FromUtf8(db.text()), u""), 0) << acc.GetErrorText();
    auto exec = [&](const std::string &sql) { return acc.ExecuteStatement(ado::FromUtf8(sql)); };
    ASSERT_EQ(exec(ldb_CreateLoggers(false)), 0) << acc.GetErrorText();
    ASSERT_EQ(exec(LDB_LOGGERS_PRIMARY_KEY), 0) << acc.GetErrorText();
    const std::string prefix = "Boiler_00000001_";
    ASSERT_EQ(exec(ldb_CreateChannels(prefix)), 0);
    ASSERT_EQ(exec(ldb_ChannelsIndex(prefix)), 0);
    ASSERT_EQ(exec(ldb_CreateData(prefix, 0, ", AI1 REAL NULL, DI2 INTEGER NULL")), 0);
    for (const std::string &s : ldb_DataIndexes(prefix))
        ASSERT_EQ(exec(s), 0) << s;
    EXPECT_EQ(exec(ldb_DropTable(prefix, "TEXT")), 1);
    EXPECT_EQ(plat_GetLastError(), 3127u);

    std::string client = "mariadb --no-defaults -h127.0.0.1 -P" + db.port() +
                         " -ukvt -pkvt-test -N -B " + db.name() + " -e ";
    EXPECT_EQ(run(client + "'SELECT COLUMN_NAME, COLUMN_TYPE FROM information_schema.COLUMNS "
                           "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = \"LOGGERS\" ORDER "
                           "BY ORDINAL_POSITION'"),
              "sLoggerName\tchar(255)\nnLoggerSequence\tint(11)\ndStartTime\tdatetime\n"
              "dStopTime\tdatetime\nbCompleted\tint(11)\nsTablePrefix\tchar(255)\n"
              "sHeader\tchar(255)\nbTagColumns\tint(11)\nbRowsPerChannel\tint(11)\n"
              "bDST\tint(11)\nnTimeZone\tint(11)\nbSigChange\tint(11)\n"
              "sTriggerPrefix\tchar(2)\nnTriggerNumber\tint(11)\nsLagPrefix\tchar(2)\n"
              "nLagNumber\tint(11)\ndTextTime\tdatetime\n");
    EXPECT_EQ(run(client +
                  "'SELECT COLUMN_NAME, COLUMN_TYPE FROM information_schema.COLUMNS "
                  "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = \"" +
                  prefix + "DATA\" ORDER BY ORDINAL_POSITION'"),
              "DT\tdatetime\nMS\tint(11)\nTX\tvarchar(255)\nAI1\tdouble\nDI2\tint(11)\n"
              "TP\tfloat\n");
    EXPECT_EQ(run(client + "'SELECT INDEX_NAME FROM information_schema.STATISTICS WHERE "
                           "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = \"LOGGERS\" GROUP BY "
                           "INDEX_NAME'"),
              "PRIMARY\n");

    // A row written through the data access object, read back by value and by the client.
    CLogITDbDataAcc data;
    ASSERT_EQ(data.Connect(ado::FromUtf8(db.text()), u"", -1), 0) << data.GetErrorText();
    ASSERT_EQ(data.OpenRecordset(ado::FromUtf8("SELECT * FROM " + prefix + "DATA"), 3, 3, 8), 0)
        << data.GetErrorText();
    const int32_t t = static_cast<int32_t>(2524608000u + 3723u); // 2050-01-01 01:02:03
    double dt = 0;
    ASSERT_EQ(lstore_LocalToDbTime(t, &dt), 1);
    ASSERT_EQ(data.AddNewIfSupported(), 0);
    EXPECT_EQ(data.SetFieldValue(0, ado::Variant::Date(dt)), 0);
    EXPECT_EQ(data.SetFieldValue(1, ado::Variant::I4(250)), 0);
    EXPECT_EQ(data.SetFieldValue(3, ado::Variant::R4(1.1f)), 0);
    EXPECT_EQ(data.SetFieldValue(4, ado::Variant::I4(1)), 0);
    ASSERT_EQ(data.Update(), 0) << data.GetErrorText();
    ASSERT_EQ(data.OpenQuery(ado::FromUtf8("SELECT * FROM " + prefix +
                                           "DATA WHERE DT >= " + ldb_DateLiteral(0, t)),
                             u""),
              0)
        << data.GetErrorText();
    ado::Variant v;
    ASSERT_EQ(data.GetFieldValue(0, &v), 0);
    EXPECT_EQ(v.vt, ado::VT_DATE);
    EXPECT_EQ(lstore_DbTimeToLocal(v.d, 0), t);
    ASSERT_EQ(data.GetFieldValue(3, &v), 0);
    EXPECT_EQ(v.vt, ado::VT_R8);
    EXPECT_EQ(v.d, static_cast<double>(1.1f));
    EXPECT_EQ(run(client + "'SELECT DT, MS, DI2 FROM " + prefix + "DATA'"),
              "2050-01-01 01:02:03\t250\t1\n");
    EXPECT_EQ(data.Disconnect(), 0);
}

#include "dbrun_cases.h"

TEST(DbStoreMariaDb, ARunWrittenAndReadThroughTheStore) {
    mdb::Database db("dbstore");
    KVT_REQUIRE_MARIADB(db);
    dbrun::runStore(db.text(), "Boiler's");
}

#include "lstore_dbcoll_cases.h"

TEST(DbCollectionMariaDb, RunsOfALoggerOnTheServer) {
    mdb::Database db("dbcoll");
    KVT_REQUIRE_MARIADB(db);
    dbcoll::runCollection(db.text());
}
