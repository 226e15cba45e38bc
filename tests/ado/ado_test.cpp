// The database layer on the embedded engine, and its engine-independent pieces.
#include "ado_cases.h"
#include "ado_internal.h"
#include "temp_registry.h"

#include <fstream>

using namespace ado;
using adocase::hrOf;

namespace {

std::string jet(const std::string &file) {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"" + file + "\";";
}

} // namespace

TEST(AdoText, RewritesReachTheEmbeddedEngineOutsideQuotesOnly) {
    struct Case {
        const char *in, *out;
    } cases[] = {
        {"SELECT * FROM D WHERE dt > { ts '2040-01-02 03:04:05' } AND s = '{ ts ''x'' }'",
         "SELECT * FROM D WHERE dt > '2040-01-02 03:04:05' AND s = '{ ts ''x'' }'"},
        {"x >= {TS'2001/02/03 04:05:06.250'} and y < {ts '2001-02-03 04:05:06.000'}",
         "x >= '2001-02-03 04:05:06.250' and y < '2001-02-03 04:05:06'"},
        {"WHERE t < #12/31/2039 23:59:58# AND n = '#1/1/2000 00:00:00#'",
         "WHERE t < '2039-12-31 23:59:58' AND n = '#1/1/2000 00:00:00#'"},
        {"select top 5 * from A order by x;", "SELECT * from A order by x LIMIT 5;"},
        {"SELECT TOP 5 * FROM A LIMIT 2", "SELECT TOP 5 * FROM A LIMIT 2"},
        {"SELECT TOP 5 * FROM A WHERE s = 'LIMIT'", "SELECT * FROM A WHERE s = 'LIMIT' LIMIT 5"},
        {"CREATE INDEX CH ON X_CHANNELS (nCh)",
         "CREATE INDEX \"X_CHANNELS_CH\" ON X_CHANNELS (nCh)"},
        {"create unique index I on T(a)", "create unique index \"T_I\" on T(a)"},
        {"ALTER TABLE LOGGERS ADD CONSTRAINT PK PRIMARY KEY (sLoggerName, nSeq)",
         "CREATE UNIQUE INDEX \"LOGGERS_PK\" ON LOGGERS (sLoggerName, nSeq)"},
        {"SELECT * INTO B FROM A", "SELECT * INTO B FROM A"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(RewriteForSqlite(c.in), c.out) << c.in;
    EXPECT_EQ(RewriteTop("SELECT TOP 1 a FROM t WHERE d > { ts '2040-01-01 00:00:00' }"),
              "SELECT a FROM t WHERE d > { ts '2040-01-01 00:00:00' } LIMIT 1");
    EXPECT_EQ(ParameterMarks("a = ? and b = '?' and c = \"?\" and d = ?"),
              (std::vector<size_t>{4, 38}));

    auto items = ParseConnectionString(
        " Provider = MariaDB ;Data Source='a;b'; Pwd={x;y}; User ID=\"u\";Extended: key=v");
    EXPECT_EQ(items["provider"], "MariaDB");
    EXPECT_EQ(items["data source"], "a;b");
    EXPECT_EQ(items["pwd"], "x;y");
    EXPECT_EQ(items["user id"], "u");
    EXPECT_EQ(items["extended: key"], "v");

    EXPECT_EQ(ToUtf8(u"Gr\u00fc\u00dfe \u20ac \U0001F600"), "Gr\u00fc\u00dfe \u20ac \U0001F600");
    EXPECT_EQ(FromUtf8("Gr\u00fc\u00dfe \U0001F600"), u"Gr\u00fc\u00dfe \U0001F600");
    EXPECT_EQ(FromUtf8("a\xff"), u"a\uFFFD");
}

TEST(AdoText, OleDatesCountBothWaysPastTheThirtyTwoBitEnd) {
    EXPECT_EQ(OleFromSeconds(0), 25569.0);
    EXPECT_EQ(OleFromParts(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_EQ(OleFromParts(1899, 12, 29, 6, 0, 0), -1.25); // fraction by sign and magnitude
    EXPECT_EQ(SecondsFromOle(-1.25), -2209161600LL - 64800);
    for (int64_t s : {int64_t(0), int64_t(2147483647), int64_t(2147483648), int64_t(4294967295),
                      int64_t(-1), int64_t(-2209161600LL - 64800)}) {
        EXPECT_EQ(SecondsFromOle(OleFromSeconds(s)), s) << s;
    }
    EXPECT_EQ(DateText(OleFromSeconds(4294967295LL)), "2106-02-07 06:28:15");
    EXPECT_EQ(DateText(OleFromSeconds(2147483648LL)), "2038-01-19 03:14:08");
    double d = 0;
    EXPECT_TRUE(ParseDateText("2038-01-19 03:14:08", &d));
    EXPECT_EQ(SecondsFromOle(d), 2147483648LL);
    EXPECT_TRUE(ParseDateText("2038-01-19 03:14:08.600", &d));
    EXPECT_EQ(SecondsFromOle(d), 2147483649LL);
    EXPECT_TRUE(ParseDateText("2038-01-19", &d));
    EXPECT_FALSE(ParseDateText("2038-13-19 00:00:00", &d));
    EXPECT_FALSE(ParseDateText("not a date", &d));
}

TEST(AdoSqlite, ProvidersFilesAndCatalogCreation) {
    TempFolder tmp;
    Connection c;
    try {
        c.Open("Provider=SQLOLEDB;Server=x;Database=y");
        FAIL();
    } catch (const ComError &e) {
        EXPECT_EQ(e.hr, kNoProvider);
        EXPECT_EQ(e.description, "provider \"SQLOLEDB\" is not available on this system");
        EXPECT_EQ(e.source, "ADO");
    }
    EXPECT_EQ(hrOf([&] { c.Open("Data Source=x"); }), kNoProvider);
    // A missing file is never created by a connection; a file that is not SQLite fails at once.
    EXPECT_EQ(hrOf([&] { c.Open(jet(tmp / "none.mdb")); }), kFail);
    EXPECT_FALSE(std::ifstream(tmp / "none.mdb").good());
    std::ofstream(tmp / "jet.mdb") << std::string(4096, 'J');
    EXPECT_EQ(hrOf([&] { c.Open(jet(tmp / "jet.mdb")); }), kFail);

    Catalog cat;
    std::string dos = tmp.path();
    for (char &ch : dos)
        if (ch == '/') ch = '\\';
    cat.Create(jet(dos + "\\new.mdb"));
    EXPECT_EQ(cat.TableCount(), 0);
    try {
        Catalog again;
        again.Create(jet(tmp / "new.mdb"));
        FAIL();
    } catch (const ComError &e) {
        EXPECT_EQ(e.hr, kFail);
        EXPECT_EQ(e.description, "database already exists");
    }
    c.Open(jet(tmp / "new.mdb"));
    EXPECT_EQ(c.Provider(), "Microsoft.Jet.OLEDB.4.0");
    EXPECT_EQ(c.DefaultDatabase(), "");
    EXPECT_EQ(hrOf([&] { c.SetDefaultDatabase("x"); }), kNotUpdatable);
    // A statement without rows opened as a recordset runs, and the recordset stays closed.
    c.Execute("CREATE TABLE T (a INTEGER)");
    Recordset rs;
    rs.Open("INSERT INTO T (a) VALUES (1)", c, adOpenStatic, adLockOptimistic, 1);
    EXPECT_EQ(rs.State(), 0);
    rs.Close();
    EXPECT_EQ(c.Execute("SELECT a FROM T")->Collect(Variant::I4(0)).i, 1);
    // A second connection on the same file sees the first's rows while the first reads.
    Connection other;
    other.Open(jet(tmp / "new.mdb"));
    Recordset reading;
    reading.Open("T", c, adOpenStatic, adLockOptimistic, 8);
    other.Execute("INSERT INTO T (a) VALUES (2)");
    EXPECT_EQ(c.Execute("SELECT count(*) FROM T")->Collect(Variant::I4(0)).i, 2);
}

TEST(AdoSqlite, EditingReadingAndErrorsOfARun) {
    TempFolder tmp;
    Catalog cat;
    cat.Create(jet(tmp / "run.mdb"));
    adocase::runEditing(jet(tmp / "run.mdb"), false);
    // Dates are stored as text the engine's own client reads.
    Connection c;
    c.Open(jet(tmp / "run.mdb"));
    auto rs = c.Execute("SELECT typeof(dtT), dtT FROM LOGS");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->Collect(Variant::I4(0)).AsUtf8(), "text");
    EXPECT_EQ(rs->Collect(Variant::I4(1)).AsUtf8(), "2040-01-01 12:00:00");
}
