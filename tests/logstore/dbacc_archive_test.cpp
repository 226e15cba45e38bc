// Archive and purge of a configuration database: the statement sequences of the SQL Server and
// Jet forms against the recording engine, a failed copy that deletes nothing, and a purge run
// for real on the SQLite default.
#include "dbacc.h"
#include "recording_backend.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ado::Variant;

namespace {

const double kLimit = 45000.0; // 2023-03-15
const char16_t kConfig[] =
    u"Provider=SQLOLEDB;Data Source=plant;Initial Catalog=Config;User ID=ops;Password=pw";
const char16_t kArchive[] = u"Provider=SQLOLEDB;Data Source=plant;Initial Catalog=Archive";

void scriptRuns(rec::RecordingBackend &db) {
    db.rows(rec::Prefix, "SELECT IDLogger, IDLoggerConfig, sMainTableName FROM   Loggers",
            {{"IDLogger", ado::VT_I4},
             {"IDLoggerConfig", ado::VT_I4},
             {"sMainTableName", ado::VT_BSTR}},
            {{Variant::I4(1), Variant::I4(10), Variant::Utf8("Data1")},
             {Variant::I4(2), Variant::I4(10), Variant::Null()},
             {Variant::I4(1), Variant::I4(10), Variant::Utf8("Data1b")}});
}

std::vector<std::string> paramsOf(const rec::Entry &e) {
    std::vector<std::string> out;
    for (const Variant &v : e.params)
        out.push_back(v.vt == ado::VT_DATE ? "date " + std::to_string(static_cast<int>(v.d))
                                           : v.AsUtf8());
    return out;
}

const rec::Entry *find(const rec::RecordingBackend &db, const std::string &prefix) {
    for (const rec::Entry &e : db.log)
        if (e.kind == "sql" && e.text.rfind(prefix, 0) == 0) return &e;
    return nullptr;
}

} // namespace

TEST(DbArchive, SqlServerStatementsInOrder) {
    rec::RecordingBackend db;
    db.table("Loggers_Arc", "IDLogger");
    db.table("SavedLoggerConfig_Arc");
    db.table("SavedLoggerTags_Arc");
    scriptRuns(db);
    CLogITDbDataAcc acc;
    EXPECT_EQ(acc.ArchiveLoggers(u"Boiler", 0, 0, kConfig, kArchive, u"Archive", 1, kLimit), 0)
        << acc.GetErrorText();
    EXPECT_EQ(db.log[0].kind, "open");
    EXPECT_EQ(db.log[0].text,
              "Provider=SQLOLEDB;Data Source=plant;Initial Catalog=Config;uid=ops;pwd=pw");
    EXPECT_EQ(db.log[1].kind, "create");
    std::vector<std::string> databases;
    for (const rec::Entry &e : db.log)
        if (e.kind == "database") databases.push_back(e.text);
    EXPECT_EQ(databases, std::vector<std::string>{"Archive"});
    const std::string rowset = "OPENROWSET ('SQLOLEDB', 'Data Source=plant;Initial "
                               "Catalog=Config;uid=ops;pwd=pw', Config.dbo.";
    const std::string loggers =
        "(IDLogger, IDLoggerConfig, sLogName, sComments, dStartTime, dStopTime, bCompleted, "
        "nStopReason, sMainTableName, nLogRate, nParameters) SELECT * FROM ";
    std::vector<std::string> copyOf = [&] {
        std::vector<std::string> out;
        for (const char *t : {"Data1", "Data1b"}) {
            std::string table = t;
            if (table == "Data1")
                out.push_back("SELECT * INTO Archive.dbo.Data1_Arc FROM " + rowset +
                              "Data1) WHERE 1=0");
            else
                out.push_back("SELECT * INTO Archive.dbo.Data1b_Arc FROM " + rowset +
                              "Data1b) WHERE 1=0");
            out.push_back("INSERT INTO Archive.dbo." + table + "_Arc SELECT * FROM " + rowset +
                          table +
                          ") WHERE LoggerID = ? AND TS < ? AND TS NOT IN (SELECT TS FROM "
                          "Archive.dbo." +
                          table + "_Arc WHERE LoggerID = ?)");
            out.push_back("DELETE FROM Archive.dbo.Loggers_Arc WHERE IDLogger = ?");
            out.push_back("SET IDENTITY_INSERT Archive.dbo.Loggers_Arc ON INSERT INTO "
                          "Archive.dbo.Loggers_Arc " +
                          loggers +
                          "Config.dbo.Loggers WHERE IDLogger = ? AND IDLogger NOT IN (SELECT "
                          "DISTINCT IDLogger FROM Archive.dbo.Loggers_Arc) SET IDENTITY_INSERT "
                          "Archive.dbo.Loggers_Arc OFF");
            out.push_back("INSERT INTO Archive.dbo.SavedLoggerConfig_Arc (IDLoggerConfig, sName, "
                          "sDescription) SELECT * FROM " +
                          rowset +
                          "SavedLoggerConfig) WHERE IDLoggerConfig = ? AND NOT EXISTS (SELECT * "
                          "FROM Archive.dbo.SavedLoggerConfig_Arc WHERE IDLoggerConfig = ?)");
            out.push_back("INSERT INTO Archive.dbo.SavedLoggerTags_Arc SELECT * FROM " + rowset +
                          "SavedLoggerTags) WHERE IDLoggerConfig = ? AND NOT EXISTS (SELECT * "
                          "FROM Archive.dbo.SavedLoggerTags_Arc WHERE IDLoggerConfig = ?)");
            out.push_back("INSERT INTO Archive.dbo.SavedOPCServers_Arc (IDOPCServer, sOPCNode, "
                          "sOPCServer) SELECT * FROM " +
                          rowset +
                          "SavedOPCServers) WHERE IDOPCServer IN (SELECT DISTINCT IDOPCServer "
                          "FROM Archive.dbo.SavedLoggerTags_Arc WHERE IDLoggerConfig = ?) AND "
                          "IDOPCServer NOT IN (SELECT IDOPCServer FROM "
                          "Archive.dbo.SavedOPCServers_Arc)");
        }
        return out;
    }();
    std::vector<std::string> want = {
        "SELECT * INTO Archive.dbo.SavedOPCServers_Arc FROM " + rowset +
            "SavedOPCServers) WHERE 1=0",
        "SELECT IDLogger, IDLoggerConfig, sMainTableName FROM   Loggers WHERE  (dStartTime < ?) "
        "AND (sLogName = ?)"};
    want.insert(want.end(), copyOf.begin(), copyOf.end());
    // The repeated IDLogger keeps its later table; the row without a table is skipped.
    want.push_back("DELETE FROM Data1b WHERE LoggerID = ? AND TS < ? DELETE FROM Loggers WHERE "
                   "IDLogger = ? AND dStopTime < ? AND bCompleted <> 0 AND NOT EXISTS (SELECT * "
                   "FROM Data1b WHERE LoggerID = ?)");
    want.push_back("DELETE FROM SavedLoggerConfig WHERE IDLoggerConfig NOT IN (SELECT DISTINCT "
                   "IDLoggerConfig FROM Loggers) DELETE FROM SavedLoggerTags WHERE IDLoggerConfig "
                   "NOT IN (SELECT DISTINCT IDLoggerConfig FROM SavedLoggerConfig) DELETE FROM "
                   "SavedOPCServers WHERE IDOPCServer NOT IN (SELECT DISTINCT IDOPCServer FROM "
                   "SavedLoggerTags)");
    EXPECT_EQ(db.statements(), want);
    EXPECT_EQ(paramsOf(*find(db, "SELECT IDLogger")),
              (std::vector<std::string>{"date 45000", "Boiler"}));
    EXPECT_EQ(paramsOf(*find(db, "INSERT INTO Archive.dbo.Data1_Arc")),
              (std::vector<std::string>{"1", "date 45000", "1"}));
    EXPECT_EQ(paramsOf(*find(db, "DELETE FROM Data1b")),
              (std::vector<std::string>{"1", "date 45000", "1", "date 45000", "1"}));
    EXPECT_EQ(paramsOf(*find(db, "INSERT INTO Archive.dbo.SavedLoggerConfig_Arc")),
              (std::vector<std::string>{"10", "10"}));
}

TEST(DbArchive, AFailedCopyDeletesNothing) {
    rec::RecordingBackend db;
    scriptRuns(db);
    db.error(rec::Prefix, "INSERT INTO Archive.dbo.SavedLoggerTags_Arc", 0x80040E14, "refused");
    CLogITDbDataAcc acc;
    EXPECT_EQ(acc.ArchiveLoggers(u"Boiler", 0, 0, kConfig, kArchive, u"", 1, kLimit),
              static_cast<int32_t>(0x80004005));
    for (const std::string &s : db.statements())
        EXPECT_NE(s.rfind("DELETE FROM", 0) == 0 && s.find("_Arc") == std::string::npos, true) << s;
    EXPECT_EQ(find(db, "INSERT INTO Archive.dbo.SavedOPCServers_Arc"), nullptr);
}

TEST(DbArchive, JetFormsNameTheSourceWithAnInClause) {
    rec::RecordingBackend db;
    rec::RecordingBackend jet("Microsoft.Jet.OLEDB.4.0");
    db.table("Loggers_Arc");
    db.table("SavedLoggerConfig_Arc");
    db.table("SavedLoggerTags_Arc");
    db.table("SavedOPCServers_Arc");
    db.table("Data1_Arc");
    db.table("Data1b_Arc");
    scriptRuns(db);
    CLogITDbDataAcc acc;
    const std::u16string source = u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"C:\\cfg.mdb\"";
    EXPECT_EQ(acc.ArchiveLoggers(u"Boiler", 0, 0, kConfig,
                                 u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\arc.mdb",
                                 source, 1, kLimit),
              0);
    ASSERT_FALSE(jet.log.empty());
    EXPECT_EQ(jet.log[0].kind, "create");
    std::vector<std::string> s = db.statements();
    ASSERT_EQ(s.size(), 1u + 2 * 6 + 2 + 3);
    EXPECT_EQ(s[1], "INSERT INTO Data1_Arc SELECT * FROM Data1 IN \"C:\\cfg.mdb\" WHERE LoggerID = "
                    "? AND TS < ? AND TS NOT IN (SELECT TS FROM Data1_Arc WHERE LoggerID = ?)");
    EXPECT_EQ(s[2], "DELETE FROM Loggers_Arc WHERE IDLogger = ?");
    EXPECT_EQ(s[5], "INSERT INTO SavedLoggerTags_Arc SELECT * FROM SavedLoggerTags IN "
                    "\"C:\\cfg.mdb\" WHERE IDLoggerConfig = ? AND NOT EXISTS (SELECT * FROM "
                    "SavedLoggerTags_Arc WHERE IDLoggerConfig = ?)");
    EXPECT_EQ(s[13], "DELETE FROM Data1b WHERE LoggerID = ? AND TS < ?");
    EXPECT_EQ(s[14], "DELETE FROM Loggers WHERE IDLogger = ? AND bCompleted <> 0 AND NOT EXISTS "
                     "(SELECT * FROM Data1b WHERE LoggerID = ?) AND dStopTime < ?");
    EXPECT_EQ(paramsOf(*find(db, "DELETE FROM Loggers WHERE")),
              (std::vector<std::string>{"1", "1", "date 45000"}));
    EXPECT_EQ(s[15].rfind("DELETE FROM SavedLoggerConfig WHERE", 0), 0u);
    EXPECT_EQ(s[17].rfind("DELETE FROM SavedOPCServers WHERE", 0), 0u);
}

TEST(DbArchive, APurgeOnTheSqliteDefault) {
    TempFolder tmp;
    const std::string cfg = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (tmp / "cfg.mdb");
    {
        ado::Catalog cat;
        cat.Create(cfg);
        ado::Connection c;
        c.Open(cfg);
        c.Execute("CREATE TABLE Loggers (IDLogger integer, IDLoggerConfig integer, sLogName "
                  "varchar(50), sComments varchar(50), dStartTime datetime, dStopTime datetime, "
                  "bCompleted integer, nStopReason integer, sMainTableName varchar(50), nLogRate "
                  "integer, nParameters integer)");
        c.Execute("CREATE TABLE SavedLoggerConfig (IDLoggerConfig integer, sName varchar(50), "
                  "sDescription varchar(50))");
        c.Execute("CREATE TABLE SavedLoggerTags (IDLoggerConfig integer, IDOPCServer integer, "
                  "sTag varchar(50))");
        c.Execute("CREATE TABLE SavedOPCServers (IDOPCServer integer, sOPCNode varchar(50), "
                  "sOPCServer varchar(50))");
        c.Execute("CREATE TABLE LogData (LoggerID integer, TS datetime, V float)");
        auto insert = [&](const std::string &sql, std::vector<Variant> values) {
            ado::Command cmd;
            cmd.activeConnection = &c;
            cmd.commandText = sql;
            for (size_t k = 0; k < values.size(); ++k)
                cmd.parameters.push_back(
                    ado::Command::CreateParameter("Param" + std::to_string(k + 1),
                                                  values[k].vt == ado::VT_DATE   ? ado::adDate
                                                  : values[k].vt == ado::VT_BSTR ? ado::adVarWChar
                                                                                 : ado::adInteger,
                                                  1, 0, values[k]));
            cmd.Execute();
        };
        const char *run = "INSERT INTO Loggers (IDLogger, IDLoggerConfig, sLogName, dStartTime, "
                          "dStopTime, bCompleted, sMainTableName) VALUES (?, ?, ?, ?, ?, ?, "
                          "'LogData')";
        // 1: completed before the limit; 2: still running; 3: another logger.
        insert(run, {Variant::I4(1), Variant::I4(10), Variant::Utf8("Boiler"),
                     Variant::Date(kLimit - 10), Variant::Date(kLimit - 9), Variant::I4(1)});
        insert(run, {Variant::I4(2), Variant::I4(20), Variant::Utf8("Boiler"),
                     Variant::Date(kLimit - 5), Variant::Null(), Variant::I4(0)});
        insert(run, {Variant::I4(3), Variant::I4(30), Variant::Utf8("Press"),
                     Variant::Date(kLimit - 10), Variant::Date(kLimit - 9), Variant::I4(1)});
        for (int id : {10, 20, 30}) {
            insert("INSERT INTO SavedLoggerConfig (IDLoggerConfig) VALUES (?)", {Variant::I4(id)});
            insert("INSERT INTO SavedLoggerTags (IDLoggerConfig, IDOPCServer) VALUES (?, ?)",
                   {Variant::I4(id), Variant::I4(id + 100)});
            insert("INSERT INTO SavedOPCServers (IDOPCServer) VALUES (?)", {Variant::I4(id + 100)});
        }
        for (int id : {1, 2, 3})
            for (double t : {kLimit - 9.5, kLimit - 1, kLimit + 1})
                if (!(id == 1 && t > kLimit - 9))
                    insert("INSERT INTO LogData (LoggerID, TS) VALUES (?, ?)",
                           {Variant::I4(id), Variant::Date(t)});
    }
    CLogITDbDataAcc acc;
    EXPECT_EQ(acc.ArchiveLoggers(u"Boiler", 0, 0, ado::FromUtf8(cfg),
                                 u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=none.mdb", u"", 0,
                                 kLimit),
              0)
        << acc.GetErrorText();
    ado::Connection c;
    c.Open(cfg);
    auto ids = [&](const std::string &sql) {
        std::string out;
        auto rs = c.Execute(sql);
        for (; !rs->Eof(); rs->MoveNext())
            out += (out.empty() ? "" : ",") + rs->Collect(Variant::I4(0)).AsUtf8();
        return out;
    };
    EXPECT_EQ(ids("SELECT IDLogger FROM Loggers ORDER BY IDLogger"), "2,3");
    EXPECT_EQ(ids("SELECT IDLoggerConfig FROM SavedLoggerConfig ORDER BY IDLoggerConfig"), "20,30");
    EXPECT_EQ(ids("SELECT IDLoggerConfig FROM SavedLoggerTags ORDER BY IDLoggerConfig"), "20,30");
    EXPECT_EQ(ids("SELECT IDOPCServer FROM SavedOPCServers ORDER BY IDOPCServer"), "120,130");
    // Run 2 keeps its rows from the limit on; the other logger keeps all of its.
    EXPECT_EQ(ids("SELECT LoggerID FROM LogData ORDER BY LoggerID, TS"), "2,3,3,3");
}

TEST(DbArchive, TableCopyRoutinesRunTheirStatements) {
    rec::RecordingBackend db;
    db.error(rec::Prefix, "SELECT NULL FROM Missing", 0x80040E37, "no such table");
    db.error(rec::Prefix, "INSERT INTO Broken", 0x80040E14, "refused");
    db.rows(rec::Prefix, "SELECT sName FROM Full", {{"sName", ado::VT_BSTR}},
            {{Variant::Utf8("a")}});
    db.rows(rec::Prefix, "SELECT sName FROM Empty", {{"sName", ado::VT_BSTR}}, {});
    db.error(rec::Prefix, "SELECT sName FROM Gone", 0x80040E37, "no such table");
    ado::Connection conn;
    conn.Open("Provider=SQLOLEDB;Data Source=plant");
    CLogITDbTableCopy c(conn);
    const std::string w = "IDLogger = 3";
    const std::vector<int32_t> results = {
        c.TableExists("Loggers"),
        c.TableExists("Loggers", "C:\\Bob's\\arc.mdb"),
        c.TableExists("Missing"),
        c.DropStaging("Loggers"),
        c.SelectDistinct("Loggers", w),
        c.SelectDistinct("Loggers", w, "IDLogger", "Loggers_Arc"),
        c.SelectDistinct("Loggers", w, "IDLogger", "Loggers", "arc.mdb"),
        c.InsertRows("Loggers_Arc", "", "IDLogger, sLogName", "Loggers_Tmp", "", false),
        c.InsertRows("Loggers", "arc.mdb", "IDLogger", "Loggers_Tmp", "", false),
        c.InsertRows("Loggers_Arc", "", "", "Loggers", w, true),
        c.InsertRows("Loggers", "arc.mdb", "", "Loggers", w, false),
        c.InsertRows("Broken", "", "", "Loggers", w, true), // still switched off
        c.CopyIntoNew("Loggers_Arc", "", "Loggers", ""),
        c.CopyIntoNew("Loggers", "arc.mdb", "Loggers", ""),
        c.CopyIntoNew("Loggers_Arc", "", "Loggers", w),
        c.CopyIntoNew("Loggers", "arc.mdb", "Loggers", w),
        c.DeleteWhere("Loggers", w),
        c.HasRows("SELECT sName FROM Full"),
        c.HasRows("SELECT sName FROM Empty"),
        c.HasRows("SELECT sName FROM Gone"),
    };
    EXPECT_EQ(results,
              (std::vector<int32_t>{1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, -1}));
    EXPECT_EQ(db.statements(),
              (std::vector<std::string>{
                  "SELECT NULL FROM Loggers;",
                  "SELECT NULL FROM Loggers IN 'C:\\Bob''s\\arc.mdb' ;",
                  "SELECT NULL FROM Missing;",
                  "DROP TABLE Loggers_Tmp;",
                  "SELECT DISTINCT * INTO Loggers_Tmp FROM Loggers WHERE IDLogger = 3 ;",
                  "SELECT DISTINCT * INTO Loggers_Tmp FROM Loggers WHERE ( IDLogger = 3 AND "
                  "(IDLogger NOT IN (SELECT IDLogger FROM Loggers_Arc )) ) ;",
                  "SELECT DISTINCT * INTO Loggers_Tmp FROM Loggers WHERE ( IDLogger = 3 AND "
                  "(IDLogger NOT IN (SELECT IDLogger FROM Loggers IN 'arc.mdb')) ) ;",
                  "INSERT INTO Loggers_Arc (IDLogger, sLogName) SELECT * FROM Loggers_Tmp ;",
                  "INSERT INTO Loggers (IDLogger) IN 'arc.mdb' SELECT * FROM Loggers_Tmp ;",
                  "Set IDENTITY_INSERT Loggers_Arc On;",
                  "INSERT INTO Loggers_Arc SELECT * FROM Loggers WHERE IDLogger = 3 ;",
                  "Set IDENTITY_INSERT Loggers_Arc Off;",
                  "INSERT INTO Loggers IN 'arc.mdb' SELECT * FROM Loggers WHERE IDLogger = 3 ;",
                  "Set IDENTITY_INSERT Broken On;",
                  "INSERT INTO Broken SELECT * FROM Loggers WHERE IDLogger = 3 ;",
                  "Set IDENTITY_INSERT Broken Off;",
                  "SELECT * INTO Loggers_Arc FROM Loggers ;",
                  "SELECT * INTO Loggers IN 'arc.mdb' FROM Loggers ;",
                  "SELECT * INTO Loggers_Arc FROM Loggers WHERE IDLogger = 3 ;",
                  "SELECT * INTO Loggers IN 'arc.mdb' FROM Loggers WHERE IDLogger = 3 ;",
                  "DELETE FROM Loggers WHERE IDLogger = 3 ;",
                  "SELECT sName FROM Full",
                  "SELECT sName FROM Empty",
                  "SELECT sName FROM Gone",
              }));
}
