// One run of the database layer's behaviour, driven the same way on every engine.
#pragma once

#include "plat_ado.h"

#include <gtest/gtest.h>

#include <functional>

namespace adocase {

inline ado::HRESULT hrOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const ado::ComError &e) {
        return e.hr;
    }
    return 0;
}

inline ado::Variant text(const char *t) {
    return ado::Variant::Utf8(t);
}

// `mariadb` selects the engine's own kinds (FLOAT reads as R4 there, R8 on SQLite).
inline void runEditing(const std::string &conn, bool mariadb) {
    using namespace ado;
    const double when = OleFromParts(2040, 1, 1, 12, 0, 0);

    Catalog cat;
    cat.SetActiveConnection(conn);
    Table runs;
    runs.Name = "RUNS";
    runs.AppendColumn("nId", adInteger);
    runs.ColumnItem("nId").SetProperty("AutoIncrement", Variant::Bool(true));
    runs.AppendColumn("sName", adVarWChar, 64);
    runs.AppendColumn("fValue", adSingle);
    runs.AppendColumn("dValue", adDouble);
    runs.AppendColumn("dtWhen", adDate);
    cat.AppendTable(runs);
    runs.AppendColumn("nExtra", adInteger); // added to the table in the database at once
    EXPECT_EQ(hrOf([&] { runs.ColumnItem("nId").SetProperty("AutoIncrement", Variant::Bool(0)); }),
              kNotUpdatable);
    Table found = cat.TableItem("RUNS");
    EXPECT_EQ(found.ColumnItem("nId").GetProperty("AutoIncrement").i, -1);
    EXPECT_EQ(found.ColumnItem("sName").GetProperty("AutoIncrement").i, 0);
    EXPECT_EQ(found.ColumnItem("nExtra").GetProperty("AutoIncrement").i, 0);
    EXPECT_EQ(hrOf([&] { found.ColumnItem("sName").GetProperty("Seed"); }), kItemNotFound);
    EXPECT_EQ(hrOf([&] { cat.TableItem("NOPE"); }), kItemNotFound);
    EXPECT_EQ(cat.TableCount(), 1);
    Table bad;
    bad.Name = "BAD";
    bad.AppendColumn("x", 999);
    EXPECT_EQ(hrOf([&] { cat.AppendTable(bad); }), kBadArgument);

    Connection c;
    c.Open(conn);
    EXPECT_EQ(c.State(), 1);
    {
        // Many AddNew calls, then one Update: each AddNew saves the row before it.
        Recordset rs;
        rs.Open("RUNS", c, adOpenStatic, adLockOptimistic, 8);
        EXPECT_TRUE(rs.Bof() && rs.Eof());
        EXPECT_EQ(rs.RecordCount(), 0);
        EXPECT_EQ(hrOf([&] { rs.MoveFirst(); }), kNoCurrentRecord);
        EXPECT_EQ(hrOf([&] { rs.Collect(text("sName")); }), kNoCurrentRecord);
        EXPECT_TRUE(rs.Supports(adAddNew));
        rs.AddNew();
        rs.PutCollect(text("sName"), text("Boiler's"));
        rs.PutCollect(text("fValue"), Variant::R4(1.1f));
        rs.PutCollect(text("dValue"), Variant::R8(2.5));
        rs.PutCollect(text("dtWhen"), Variant::Date(when));
        rs.AddNew();
        rs.PutCollect(text("SNAME"), text("Pump"));
        rs.Update();
        EXPECT_EQ(rs.RecordCount(), 2);
        EXPECT_EQ(rs.Collect(text("nId")).AsInt(), 2);
        rs.MoveNext();
        EXPECT_TRUE(rs.Eof());
        EXPECT_EQ(hrOf([&] { rs.MoveNext(); }), kNoCurrentRecord);
        rs.MoveFirst();
        rs.PutCollect(text("fValue"), Variant::R4(3.25f));
        rs.MoveNext(); // saves the edit
        EXPECT_EQ(hrOf([&] { rs.Item(Variant::I4(9)); }), kItemNotFound);
        EXPECT_EQ(rs.FieldCount(), 6); // the hidden identity is not counted
    }
    {
        Recordset rs;
        rs.Open("SELECT sName, fValue, dValue, dtWhen FROM RUNS WHERE sName = 'Boiler''s' "
                "ORDER BY nId",
                c, adOpenStatic, adLockOptimistic, 8);
        ASSERT_EQ(rs.RecordCount(), 1);
        EXPECT_EQ(rs.Collect(text("sName")).s, u"Boiler's");
        Variant f = rs.Collect(text("fValue"));
        EXPECT_EQ(f.vt, mariadb ? VT_R4 : VT_R8);
        EXPECT_EQ(f.d, 3.25);
        EXPECT_EQ(rs.Collect(text("dValue")).vt, VT_R8);
        Variant d = rs.Collect(text("dtWhen"));
        EXPECT_EQ(d.vt, VT_DATE);
        EXPECT_EQ(SecondsFromOle(d.d), SecondsFromOle(when));
        rs.Update(text("dtWhen"), Variant::Date(when + 1));
        EXPECT_EQ(rs.Collect(text("dtWhen")).d, when + 1);
        rs.Delete();
        EXPECT_EQ(hrOf([&] { rs.Collect(text("sName")); }), kNoCurrentRecord);
    }
    {
        auto rs = c.Execute("SELECT count(*) FROM RUNS");
        ASSERT_TRUE(rs);
        EXPECT_EQ(rs->Collect(Variant::I4(0)).vt, VT_I4);
        EXPECT_EQ(rs->Collect(Variant::I4(0)).i, 1);
        EXPECT_EQ(hrOf([&] { rs->PutCollect(Variant::I4(0), Variant::I4(5)); }), kNotUpdatable);
        Recordset agg;
        agg.Open("SELECT count(*) FROM RUNS", c, adOpenStatic, adLockOptimistic, 1);
        EXPECT_FALSE(agg.Supports(adAddNew));
        EXPECT_EQ(hrOf([&] { agg.AddNew(); }), kFail);
    }
    {
        // Forward-only on a table: no rows read, none kept.
        Recordset rs;
        rs.Open("RUNS", c, adOpenForwardOnly, adLockOptimistic, 2);
        EXPECT_EQ(rs.RecordCount(), -1);
        for (int k = 0; k < 3; ++k) {
            rs.AddNew();
            rs.PutCollect(text("sName"), text("Fan"));
            rs.PutCollect(text("dValue"), Variant::R8(k));
        }
        rs.Update();
        rs.Close();
        auto n = c.Execute("SELECT count(*) FROM RUNS WHERE sName = 'Fan'");
        EXPECT_EQ(n->Collect(Variant::I4(0)).i, 3);
    }
    // A table without a key: rows are found again by every column, FLOAT compared exactly.
    c.Execute("CREATE TABLE LOGS (nA INT, fV FLOAT, dtT DATETIME, sT VARCHAR(20))");
    {
        Recordset rs;
        rs.Open("SELECT * FROM LOGS", c, adOpenDynamic, adLockOptimistic, 8);
        rs.AddNew();
        rs.PutCollect(text("nA"), Variant::I4(1));
        rs.PutCollect(text("fV"), Variant::R4(1.1f));
        rs.PutCollect(text("dtT"), Variant::Date(when));
        rs.Update();
        rs.PutCollect(text("sT"), text("x"));
        rs.Update();
        rs.Close();
        rs.Open("SELECT nA, fV, sT FROM LOGS", c, adOpenStatic, adLockOptimistic, 8);
        EXPECT_EQ(rs.Collect(text("sT")).s, u"x");
        rs.PutCollect(text("sT"), text("y"));
        rs.Update();
        rs.Delete();
        EXPECT_EQ(c.Execute("SELECT count(*) FROM LOGS")->Collect(Variant::I4(0)).i, 0);
    }
    // Engine errors carry the numbers the callers test.
    EXPECT_EQ(hrOf([&] { c.Execute("SELECT * FROM NOPE"); }), kNoTable);
    EXPECT_EQ(hrOf([&] { c.Execute("DROP TABLE NOPE"); }), kNoTable);
    EXPECT_EQ(hrOf([&] { c.Execute("CREATE TABLE RUNS (a INT)"); }), kTableExists);
    EXPECT_EQ(hrOf([&] { c.Execute("SELEC 1"); }), kSyntax);
    EXPECT_EQ(hrOf([&] { c.Execute("SELECT 1; SELECT 2"); }), kSyntax);
    EXPECT_EQ(hrOf([&] { c.Execute("SELECT nope FROM RUNS"); }), kSyntax);
    // The primary-key statement makes a second row with the same key fail.
    c.Execute("ALTER TABLE LOGS ADD CONSTRAINT PK PRIMARY KEY (nA)");
    c.Execute("CREATE INDEX CH ON LOGS (fV)");
    c.Execute("INSERT INTO LOGS (nA, dtT) VALUES (7, { ts '2040-01-01 12:00:00' })");
    EXPECT_EQ(hrOf([&] { c.Execute("INSERT INTO LOGS (nA) VALUES (7)"); }), kConstraint);
    {
        auto rs = c.Execute("SELECT TOP 1 nA FROM LOGS WHERE dtT >= {ts '2040-01-01 12:00:00'} "
                            "ORDER BY nA");
        ASSERT_TRUE(rs);
        EXPECT_EQ(rs->RecordCount(), 1);
        EXPECT_EQ(rs->Collect(text("nA")).i, 7);
    }
    // Parameters bind to the marks outside quotes.
    Command cmd;
    cmd.activeConnection = &c;
    cmd.commandText = "SELECT sName FROM RUNS WHERE nId > ? AND sName <> '?' AND sName <> ?";
    cmd.parameters.push_back(Command::CreateParameter("a", adInteger, 1, 0, Variant::I4(0)));
    EXPECT_EQ(hrOf([&] { cmd.Execute(); }), kMissingParams);
    cmd.parameters.push_back(Command::CreateParameter("b", adVarWChar, 1, 20, text("Pump")));
    auto rs = cmd.Execute();
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->RecordCount(), 3);
    EXPECT_EQ(rs->Collect(text("sName")).s, u"Fan");
    c.Close();
    EXPECT_EQ(hrOf([&] { c.Execute("SELECT 1"); }), kObjectClosed);
}

} // namespace adocase
