// The collection of runs on the embedded engine: a Jet database per logger in its folder.
#include "lstore_dbcoll_cases.h"
#include "plat_event.h"
#include "temp_registry.h"

namespace {
std::vector<uint32_t> pauses;
void recordPause(uint32_t ms) {
    pauses.push_back(ms);
}
} // namespace

TEST(DbCollection, RunsOfALoggerInItsJetDatabase) {
    TempRegistry reg;
    ldb_ResetSwitches();
    const std::string folder = reg.folder() / "Boiler 2";
    CLogDbCollection coll;
    EXPECT_EQ(coll.Open("", folder.c_str(), "Boiler 2", "", LSTORE_READ), -1);
    EXPECT_STREQ(coll.GetErrorMessage(), "CAN'T ACCESS LOGGER DIRECTORY");
    EXPECT_EQ(coll.Open(std::string(1025, 'P').c_str(), "", "Boiler 2", "", LSTORE_READ), -1);
    EXPECT_STREQ(coll.GetErrorMessage(), "CONNECTION STRING TOO LONG");
    // Creating the database and LOGGERS pauses 5 s for Jet; the pause is recorded here.
    pauses.clear();
    PlatSleepHook previous = plat_SetSleepHook(recordPause);
    ASSERT_EQ(coll.Open("", folder.c_str(), "Boiler 2", "", LSTORE_READ | 0x40000000u), 0)
        << coll.GetErrorText() << " / " << coll.GetErrorMessage();
    plat_SetSleepHook(previous);
    EXPECT_EQ(pauses, (std::vector<uint32_t>{5000}));
    EXPECT_EQ(coll.ConnectionString(),
              "Provider=Microsoft.Jet.OLEDB.4.0; Jet OLEDB:Engine Type=5; Data Source=\"" + folder +
                  "/Boiler 2.mdb\"");
    dbcoll::runCollection(coll.ConnectionString());
    // The identity of the logger's newest run through this class whatever the string: with no
    // connection string that is the logger's Jet file in the logged-data folder, where the
    // factory's file collection finds no run.
    setenv("KVT_LOGGED_DATA", reg.folder().path().c_str(), 1);
    EXPECT_EQ(CLogDbCollection::MakeIdentity(";LoggerName=Boiler 2"),
              ";LoggerName=Boiler 2;LoggerSeq=00000002");
    EXPECT_EQ(lstore_MakeIdentity(";LoggerName=Boiler 2"), "");
    EXPECT_EQ(CLogDbCollection::MakeIdentity(";LoggerName=Nobody"), "");
    unsetenv("KVT_LOGGED_DATA");
}

TEST(DbCollection, ADatabaseWithoutLoggersOpensAndListsNothing) {
    TempFolder tmp;
    std::string conn = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (tmp / "empty.mdb");
    CLogITDbAcc cat;
    ASSERT_EQ(cat.CreateCatalog(dbrun::w(conn), u""), 0);
    CLogDbCollection coll;
    EXPECT_EQ(coll.Open(conn.c_str(), "", "Boiler", "", LSTORE_READ), 0);
    EXPECT_STREQ(coll.GetErrorMessage(), "CAN'T OPEN LOGGERS TABLE");
    EXPECT_TRUE(dbcoll::listRuns(coll).empty());
    std::unique_ptr<CLogCollection> mysql(lstore_CreateCollection("PROVIDER=MYSQL;x"));
    EXPECT_NE(mysql, nullptr);
}
