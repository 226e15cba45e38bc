// The database access objects over the embedded engine and the recording connection.
#include "dbacc.h"
#include "plat_error.h"
#include "recording_backend.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

using ado::Variant;

namespace {

std::u16string jet(const std::string &file) {
    return ado::FromUtf8("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file + ";");
}

Variant text(const char16_t *t) {
    return Variant::Str(t);
}

} // namespace

TEST(DbDataAcc, RecordsetOperationsKeepTheirResultsAndErrors) {
    TempFolder tmp;
    CLogITDbAcc cat;
    ASSERT_EQ(cat.CreateCatalog(jet(tmp / "d.mdb"), u""), 0);
    ASSERT_EQ(cat.ExecuteStatement(u"CREATE TABLE T (n INTEGER, s VARCHAR(20), f DOUBLE)"), 0);

    CLogITDbDataAcc acc;
    EXPECT_EQ(acc.GetConnectionState(), DBACC_E_STATE); // no connection yet
    EXPECT_EQ(acc.Connect(jet(tmp / "none.mdb"), u"", -1), DBACC_E_CONNECT);
    EXPECT_NE(std::string(acc.GetErrorText()), "");
    EXPECT_EQ(plat_GetLastError(), 0u); // not an interface error
    ASSERT_EQ(acc.Connect(jet(tmp / "d.mdb"), u"", -1), 0);
    EXPECT_EQ(acc.GetConnectionState(), 1);

    // A missing table: the open's own failure leaves the error text as it was.
    std::string before = acc.GetErrorText();
    EXPECT_EQ(acc.OpenTableRecordset(u"NOPE"), DBACC_E_NOTABLE);
    EXPECT_EQ(acc.GetErrorText(), before);
    EXPECT_EQ(acc.OpenRecordset(u"SELECT * FROM NOPE", 3, 1, 8), DBACC_E_OPEN);
    EXPECT_EQ(plat_GetLastError(), 3127u);
    EXPECT_NE(std::string(acc.GetErrorText()).find("no such table"), std::string::npos);

    ASSERT_EQ(acc.OpenTableRecordset(u"T"), 0);
    Variant found;
    EXPECT_EQ(acc.FindRow(Variant::I4(1), u"n", &found), 0); // empty: false, result 0
    EXPECT_EQ(found.vt, ado::VT_BOOL);
    EXPECT_EQ(found.i, 0);
    Variant fields, values;
    fields.vt = values.vt = ado::VT_VARIANTS;
    fields.items = {text(u"n"), text(u"s"), text(u"f")};
    values.items = {Variant::I4(1), text(u"Boiler's"), Variant::R8(1.5)};
    EXPECT_EQ(acc.AddNew(0, &fields, &values), 0);
    EXPECT_EQ(acc.AddNew(0, nullptr, &values), DBACC_E_ADDNEW);
    EXPECT_EQ(acc.AddNewIfSupported(), 0);
    EXPECT_EQ(acc.SetFieldValue(0, Variant::I4(2)), 0);
    EXPECT_EQ(acc.UpdateField(u"s", text(u"")), 0); // an empty text is written as NULL
    EXPECT_EQ(acc.AddNewIfSupported(), 0);
    EXPECT_EQ(acc.SetFieldValue(0, Variant::I4(3)), 0);
    EXPECT_EQ(acc.UpdateField(u"s", text(u" ")), 0); // one blank stays
    double d[2] = {7.0, 8.0};
    EXPECT_EQ(acc.SetDoubleFields(2, 1, d), 0);
    EXPECT_EQ(acc.Update(), 0);

    // Reading: an empty text came back as NULL, a blank as a blank.
    EXPECT_EQ(acc.OpenQuery(u"SELECT n, s, f FROM T ", u"ORDER BY n"), 0);
    int32_t count = 0;
    EXPECT_EQ(acc.GetRecordCount(&count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(acc.FindRow(Variant::I4(2), u"n", &found), 0);
    EXPECT_EQ(found.i, -1);
    Variant v;
    EXPECT_EQ(acc.GetFieldValueByName(u"s", &v), 0);
    EXPECT_EQ(v.vt, ado::VT_NULL);
    EXPECT_EQ(acc.GetFieldValueByName(u"s", nullptr), DBACC_E_INVALIDARG);
    EXPECT_EQ(acc.MoveNext(), 0);
    EXPECT_EQ(acc.IsFieldEqual(text(u" "), u"s", &found), 0);
    EXPECT_EQ(found.i, -1);
    EXPECT_EQ(acc.IsFieldEqual(Variant::I8(3), u"n", &found), 0); // same value, other kind
    EXPECT_EQ(found.i, 0);
    // A value that is not a double ends the read there, without an error text.
    double out[2] = {-1, -1};
    std::string text0 = acc.GetErrorText();
    EXPECT_EQ(acc.GetDoubleFields(0, 2, out), DBACC_E_GETDOUBLES);
    EXPECT_EQ(out[0], -1);
    EXPECT_EQ(acc.GetErrorText(), text0);
    EXPECT_EQ(acc.GetDoubleFields(2, 1, out), 0);
    EXPECT_EQ(out[0], 7.0);
    Variant names[2] = {text(u"n"), text(u"f")}, got[2];
    EXPECT_EQ(acc.GetCollects(2, names, got), 0);
    EXPECT_EQ(got[0].i, 3);
    EXPECT_EQ(acc.MoveNext(), 0);
    EXPECT_EQ(acc.IsEOF(&v), 0);
    EXPECT_EQ(v.i, -1);
    EXPECT_EQ(acc.MoveNext(), DBACC_E_MOVENEXT);
    EXPECT_EQ(plat_GetLastError(), 0u); // an ADO-facility error maps to 0
    // MoveTo past the end fails at the field read.
    EXPECT_EQ(acc.MoveTo(1), 0);
    EXPECT_EQ(acc.GetFieldValue(0, &v), 0);
    EXPECT_EQ(v.i, 2);
    EXPECT_EQ(acc.MoveTo(3), 0);
    EXPECT_EQ(acc.GetFieldValue(0, &v), DBACC_E_GETFIELD);
    EXPECT_EQ(acc.MoveLast(), 0);
    EXPECT_EQ(acc.Delete(), 0);
    EXPECT_EQ(acc.MovePrevious(), 0);
    EXPECT_EQ(acc.IsBOF(&v), 0);
    EXPECT_EQ(v.i, 0);

    // "D" opens the first text alone, dynamically; any other second text is joined.
    EXPECT_EQ(acc.OpenQuery(u"SELECT n FROM T WHERE n > 5", u"D"), 1);
    EXPECT_EQ(acc.OpenQuery(u"SELECT n FROM T WHERE n > ", u"1"), 0);
    EXPECT_EQ(acc.OpenQuery(u"SELECT n FROM T WHERE n > 1", u"DD"), DBACC_E_OPEN);
    // A read-only set refuses adding without an error text.
    EXPECT_EQ(acc.OpenRecordset(u"SELECT n FROM T", 3, 1, 8), 0);
    std::string text1 = acc.GetErrorText();
    EXPECT_EQ(acc.AddNewIfSupported(), DBACC_E_ADDNEWIFSUPPORTED);
    EXPECT_EQ(acc.GetErrorText(), text1);
    EXPECT_EQ(acc.UpdateField(u"n", Variant::I4(9)), DBACC_E_UPDATEFIELD);
    EXPECT_EQ(acc.CancelUpdate(), 0);
    EXPECT_EQ(acc.CloseRecordset(), 0);
    EXPECT_EQ(acc.MoveFirst(), DBACC_E_MOVEFIRST); // no recordset
    EXPECT_EQ(acc.Disconnect(), 0);
    EXPECT_EQ(acc.GetConnectionState(), DBACC_E_STATE);
    EXPECT_EQ(acc.ArchiveLoggers(u"L", 0, 0, u"", u"", u"", 1, 0.0), DBACC_E_FAIL);

    // The error text holds at most 999 characters.
    acc.SetComError(ado::ComError(ado::kNoTable, std::string(1500, 'x')));
    EXPECT_EQ(std::string(acc.GetErrorText()).size(), 999u);
    EXPECT_EQ(plat_GetLastError(), 3127u);
    acc.SetComError(ado::ComError(static_cast<ado::HRESULT>(0x80040200), ""));
    EXPECT_EQ(std::string(acc.GetErrorText()), "");
    EXPECT_EQ(plat_GetLastError(), 0u);
}

TEST(DbAcc, CatalogStatesTablesAndStatements) {
    TempFolder tmp;
    CLogITDbAcc acc;
    EXPECT_EQ(acc.IsClosed(), 1);
    Variant names, types, sizes;
    names.vt = types.vt = sizes.vt = ado::VT_VARIANTS;
    names.items = {text(u"nId"), text(u"dt")};
    types.items = {Variant::I4(ado::adInteger), Variant::I4(ado::adDate)};
    sizes.items = {Variant::I4(0), Variant::I4(0)};
    EXPECT_EQ(acc.AppendColumns(u"A", 2, &names, &types, &sizes, 0), DBACC_E_NOTREADY);
    EXPECT_EQ(acc.AppendColumns(u"A", 0, &names, &types, &sizes, 0), DBACC_E_INVALIDARG);
    EXPECT_EQ(acc.AppendColumns(u"", 2, &names, &types, &sizes, 0), DBACC_E_INVALIDARG);
    EXPECT_EQ(acc.AppendColumns(u"A", 2, &names, &types, nullptr, 0), DBACC_E_INVALIDARG);
    EXPECT_EQ(acc.OpenCatalog(jet(tmp / "c.mdb"), u""), 1); // no such database
    ASSERT_EQ(acc.CreateCatalog(jet(tmp / "c.mdb"), u""), 0);
    EXPECT_EQ(acc.IsClosed(), 1);
    EXPECT_EQ(acc.CreateTable(u"EARLY", u"n", ado::adInteger, 0, 0), 0); // before MarkOpen
    int32_t n = -1;
    EXPECT_EQ(acc.GetTableCount(&n), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(acc.MarkOpen(0, 0), 0);
    EXPECT_EQ(acc.IsClosed(), 0);
    EXPECT_EQ(acc.CreateTable(u"T", u"nId", ado::adInteger, 0, 1), 0);
    EXPECT_EQ(acc.AppendColumn(u"s", ado::adVarWChar, 20), 0);
    EXPECT_EQ(acc.SetColumnProperty(u"nId", u"AutoIncrement", Variant::Bool(false)), 1);
    EXPECT_EQ(acc.AppendColumns(u"A", 2, &names, &types, &sizes, 0), 0);
    EXPECT_EQ(acc.GetTableCount(&n), 0);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(acc.SelectTable(u"NOPE"), 1);
    EXPECT_EQ(acc.SelectTable(u"T"), 0);
    EXPECT_THROW(acc.OpenTable(u"NOPE"), ado::ComError);
    EXPECT_EQ(acc.OpenTable(u"T"), 0);
    EXPECT_EQ(acc.ExecuteStatement(u"INSERT INTO T (s) VALUES ('a')"), 0);
    EXPECT_EQ(acc.ExecuteStatement(u"INSERT INTO NOPE (s) VALUES ('a')"), 1);
    EXPECT_EQ(plat_GetLastError(), 3127u);
    // After Close only statements work: they open a connection of their own.
    EXPECT_EQ(acc.Close(), 0);
    EXPECT_EQ(acc.SelectTable(u"T"), 1);
    EXPECT_EQ(acc.IsClosed(), 1); // CheckObjects cleared connected
    EXPECT_EQ(acc.ExecuteStatement(u"DELETE FROM T"), 0);

    CLogITDbAcc again;
    EXPECT_EQ(again.CreateCatalog(jet(tmp / "c.mdb"), u""), 1);
    EXPECT_EQ(std::string(again.GetErrorText()), "database already exists");
    EXPECT_EQ(again.OpenCatalog(u"Provider=SQLOLEDB;Data Source=x", u""), 1);
    EXPECT_EQ(std::string(again.GetErrorText()),
              "provider \"SQLOLEDB\" is not available on this system");
}

TEST(DbAcc, AProviderThatRefusesDatesGetsTimeStampColumns) {
    rec::RecordingBackend db;
    db.error(rec::Regex, "^CREATE TABLE .* date[,)]", 0x80040E14, "no date type", 1);
    CLogITDbAcc acc;
    ASSERT_EQ(acc.OpenCatalog(u"Provider=SQLOLEDB;Data Source=srv;", u"Initial Catalog=x"), 0);
    EXPECT_EQ(acc.MarkOpen(0, 0), 0);
    Variant names, types, sizes;
    names.vt = types.vt = sizes.vt = ado::VT_VARIANTS;
    names.items = {text(u"nId"), text(u"dt")};
    types.items = {Variant::I4(ado::adInteger), Variant::I4(ado::adDate)};
    sizes.items = {Variant::I4(0), Variant::I4(0)};
    EXPECT_EQ(acc.AppendColumns(u"A", 2, &names, &types, &sizes, 0), 0);
    EXPECT_EQ(acc.AppendColumn(u"s", ado::adVarWChar, 10), 0);
    EXPECT_EQ(db.statements(), (std::vector<std::string>{
                                   "CREATE TABLE [A] ([nId] int IDENTITY, [dt] date)",
                                   "CREATE TABLE [A] ([nId] int IDENTITY, [dt] datetime)",
                                   "ALTER TABLE [A] ADD [s] nvarchar(10)",
                               }));
    EXPECT_EQ(db.log.front().kind, "open");
    EXPECT_EQ(db.log.front().text, "Provider=SQLOLEDB;Data Source=srv;Initial Catalog=x");
}
