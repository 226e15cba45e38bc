// The database layer on the test run's private MariaDB server.
#include "ado_cases.h"
#include "test_mariadb.h"

using namespace ado;
using adocase::hrOf;

TEST(AdoMariaDb, EditingReadingAndErrorsOfARun) {
    mdb::Database db("ado");
    KVT_REQUIRE_MARIADB(db);
    adocase::runEditing(db.text(), true);
    Connection c;
    c.Open(db.text());
    EXPECT_EQ(c.DefaultDatabase(), db.name());
    auto rs = c.Execute("SELECT CAST(dtT AS CHAR) FROM LOGS");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->Collect(Variant::I4(0)).AsUtf8(), "2040-01-01 12:00:00");
    // Backslashes are plain characters: doubling quotes is the whole escaping rule.
    c.Execute("CREATE TABLE Q (s VARCHAR(20))");
    c.Execute("INSERT INTO Q (s) VALUES ('a\\''')");
    EXPECT_EQ(c.Execute("SELECT s FROM Q")->Collect(Variant::I4(0)).AsUtf8(), "a\\'");
    EXPECT_EQ(hrOf([&] { c.Execute("INSERT INTO Q (s) VALUES ('much too long for the column')"); }),
              kBadValue);
}

TEST(AdoMariaDb, CatalogCreationAndLogins) {
    mdb::Database db("adocat");
    KVT_REQUIRE_MARIADB(db);
    Catalog again;
    EXPECT_EQ(hrOf([&] { again.Create(db.text()); }), kFail);
    Connection c;
    EXPECT_EQ(hrOf([&] { c.Open(db.text() + ";Pwd=wrong"); }), kFail);
    EXPECT_EQ(hrOf([&] { c.Open(mdb::connectionString(db.port(), "kvt_missing_db")); }), kFail);
    c.Open(db.text());
    c.SetDefaultDatabase(db.name());
    Catalog shared;
    shared.SetActiveConnection(c);
    EXPECT_EQ(shared.TableCount(), 0);
}
