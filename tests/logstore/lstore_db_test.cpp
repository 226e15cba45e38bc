// The database store of one run on the embedded engine.
#include "dbrun_cases.h"
#include "temp_registry.h"

TEST(DbStore, ARunWrittenAndReadThroughTheStore) {
    TempFolder tmp;
    TempRegistry reg;
    ldb_ResetSwitches();
    std::string conn =
        "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"" + (tmp / "Boiler.mdb") + "\"";
    CLogITDbAcc cat;
    ASSERT_EQ(cat.CreateCatalog(dbrun::w(conn), u""), 0);
    dbrun::runStore(conn, "Boiler's");
}

TEST(DbStore, AMissingRunOrDatabaseFailsWithTheirMessages) {
    TempFolder tmp;
    std::string conn = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (tmp / "none.mdb");
    CLogDbStore store;
    EXPECT_EQ(store.Open(nullptr, (conn + ";LoggerName=B;LoggerSeq=1").c_str(), LSTORE_READ), -1);
    EXPECT_STREQ(store.GetErrorMessage(), "CAN'T OPEN DATABASE");
    // With a server name the run is looked for once more through MS Remote, not available here.
    EXPECT_EQ(store.Open("host", (conn + ";LoggerName=B;LoggerSeq=1").c_str(), LSTORE_READ), -1);
    EXPECT_STREQ(store.GetErrorText(), "provider \"MS REMOTE\" is not available on this system");
    CLogITDbAcc cat;
    ASSERT_EQ(cat.CreateCatalog(dbrun::w(conn), u""), 0);
    ASSERT_EQ(cat.ExecuteStatement(dbrun::w(ldb_CreateLoggers(false))), 0);
    EXPECT_EQ(store.Open(nullptr, (conn + ";LoggerName=B;LoggerSeq=1").c_str(), LSTORE_READ), -1);
    EXPECT_STREQ(store.GetErrorMessage(), "CAN'T FIND LOGGER NAME AND SEQ");
    // A stored prefix longer than the run's prefix field names no run of this system.
    std::string longPrefix(300, 'P');
    ASSERT_EQ(cat.ExecuteStatement(dbrun::w("INSERT INTO LOGGERS (sLoggerName, nLoggerSequence, "
                                            "sTablePrefix) VALUES ('B', 1, '" +
                                            longPrefix + "')")),
              0);
    EXPECT_EQ(store.Open(nullptr, (conn + ";LoggerName=B;LoggerSeq=1").c_str(), LSTORE_READ), -1);
    EXPECT_STREQ(store.GetErrorMessage(), "CAN'T FIND LOGGER NAME AND SEQ");
}
