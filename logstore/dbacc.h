// Database access objects of the logged-data stores: `CLogITDbDataAcc` (one connection, at most
// one open recordset) and `CLogITDbAcc` (a catalog, a current table, single statements on a
// connection of their own).
//
// Nothing raised by the database layer leaves an operation (the constructor of CLogITDbAcc and
// its OpenTable excepted): each returns an integer result, keeps the description of the last
// database error in its error text and leaves the mapped number in the thread's last error.
// Every operation holds the object's recursive lock for its whole run.
#pragma once

#include "plat_ado.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// The failure results of the data access object.
inline constexpr int32_t DBACC_E_CONNECT = static_cast<int32_t>(0x80040207);
inline constexpr int32_t DBACC_E_DISCONNECT = static_cast<int32_t>(0x80040208);
inline constexpr int32_t DBACC_E_STATE = static_cast<int32_t>(0x80040209);
inline constexpr int32_t DBACC_E_OPEN = static_cast<int32_t>(0x8004020A);
inline constexpr int32_t DBACC_E_MOVEFIRST = static_cast<int32_t>(0x8004020B);
inline constexpr int32_t DBACC_E_MOVENEXT = static_cast<int32_t>(0x8004020C);
inline constexpr int32_t DBACC_E_MOVEPREVIOUS = static_cast<int32_t>(0x8004020D);
inline constexpr int32_t DBACC_E_MOVELAST = static_cast<int32_t>(0x8004020E);
inline constexpr int32_t DBACC_E_GETFIELD = static_cast<int32_t>(0x8004020F);
inline constexpr int32_t DBACC_E_SETFIELD = static_cast<int32_t>(0x80040210);
inline constexpr int32_t DBACC_E_DELETE = static_cast<int32_t>(0x80040211);
inline constexpr int32_t DBACC_E_UPDATE = static_cast<int32_t>(0x80040212);
inline constexpr int32_t DBACC_E_ADDNEWIFSUPPORTED = static_cast<int32_t>(0x80040213);
inline constexpr int32_t DBACC_E_GETDOUBLES = static_cast<int32_t>(0x80040214);
inline constexpr int32_t DBACC_E_SETDOUBLES = static_cast<int32_t>(0x80040215);
inline constexpr int32_t DBACC_E_GETCOLLECTS = static_cast<int32_t>(0x80040216);
inline constexpr int32_t DBACC_E_FINDROW = static_cast<int32_t>(0x80040217);
inline constexpr int32_t DBACC_E_ADDNEW = static_cast<int32_t>(0x80040218);
inline constexpr int32_t DBACC_E_BOFEOF = static_cast<int32_t>(0x80040219);
inline constexpr int32_t DBACC_E_GETFIELDBYNAME = static_cast<int32_t>(0x8004021A);
inline constexpr int32_t DBACC_E_ISFIELDEQUAL = static_cast<int32_t>(0x8004021B);
inline constexpr int32_t DBACC_E_UPDATEFIELD = static_cast<int32_t>(0x8004021C);
inline constexpr int32_t DBACC_E_NOTREADY = static_cast<int32_t>(0x80040222);
inline constexpr int32_t DBACC_E_APPENDCOLUMNS = static_cast<int32_t>(0x80040223);
inline constexpr int32_t DBACC_E_FAIL = static_cast<int32_t>(0x80004005);
inline constexpr int32_t DBACC_E_INVALIDARG = static_cast<int32_t>(0x80070057);
inline constexpr int32_t DBACC_E_NOTABLE = static_cast<int32_t>(0x80040E37);

// Writes the number and trace line of a database error, as the access objects do, without
// touching any error text ("NONE" stands for a missing description).
void TraceComError(const ado::ComError &error);

class CLogITDbDataAcc {
public:
    CLogITDbDataAcc();
    CLogITDbDataAcc(const CLogITDbDataAcc &) = delete;
    CLogITDbDataAcc &operator=(const CLogITDbDataAcc &) = delete;
    ~CLogITDbDataAcc() = default;

    virtual int32_t OpenRecordset(const std::u16string &sql, int32_t cursor, int32_t lock,
                                  int32_t options);
    // 1 when the result has no rows, 0 when it has.
    virtual int32_t OpenQuery(const std::u16string &first, const std::u16string &second);
    virtual int32_t CloseRecordset();
    virtual int32_t CancelUpdate();
    virtual int32_t ArchiveLoggers(const std::u16string &loggerName, int32_t, int32_t,
                                   const std::u16string &connection,
                                   const std::u16string &archiveConnection,
                                   const std::u16string &database, int32_t archive, double before);
    virtual int32_t IsBOF(ado::Variant *out);
    virtual int32_t GetRecordCount(int32_t *out);
    virtual int32_t UpdateField(const std::u16string &field, ado::Variant value);
    virtual int32_t IsFieldEqual(ado::Variant value, const std::u16string &field,
                                 ado::Variant *out);
    virtual int32_t GetFieldValueByName(const std::u16string &field, ado::Variant *out);
    virtual int32_t IsEOF(ado::Variant *out);
    virtual int32_t AddNew(int32_t ignored, const ado::Variant *fields, const ado::Variant *values);
    virtual int32_t FindRow(ado::Variant value, const std::u16string &field, ado::Variant *out);
    virtual int32_t GetCollects(int32_t count, const ado::Variant *names, ado::Variant *out);
    virtual int32_t SetDoubleFields(int32_t first, int32_t count, const double *values);
    virtual int32_t GetDoubleFields(int32_t first, int32_t count, double *out);
    virtual int32_t Update();
    virtual int32_t UpdateRecord();
    virtual int32_t Delete();
    virtual int32_t AddNewIfSupported();
    virtual int32_t SetFieldValue(int32_t index, ado::Variant value);
    virtual int32_t GetFieldValue(int32_t index, ado::Variant *out);
    virtual int32_t MoveLast();
    virtual int32_t MovePrevious();
    virtual int32_t MoveNext();
    virtual int32_t MoveFirst();
    virtual int32_t MoveTo(int32_t row);
    virtual int32_t OpenTableRecordset(const std::u16string &table);
    virtual int32_t GetConnectionState();
    virtual int32_t Disconnect();
    virtual int32_t Noop(int32_t, int32_t);
    virtual int32_t Connect(const std::u16string &first, const std::u16string &second, int32_t);

    const char *GetErrorText() const { return errorText_; }
    void SetComError(const ado::ComError &error);

private:
    template <typename F>
    int32_t frame(int32_t failure, F body);
    ado::Recordset &rs();
    ado::Connection &conn();
    void dropRecordset(bool swallowCloseFailure);
    int32_t openSource(const std::u16string &source, int32_t cursor, int32_t lock, int32_t options,
                       bool swallowCloseFailure);

    std::unique_ptr<ado::Connection> connection_;
    std::unique_ptr<ado::Recordset> recordset_;
    std::recursive_mutex lock_;
    char errorText_[1000] = {};
    int32_t recordsetOpen_ = 0;
};

class CLogITDbAcc {
public:
    // Raises ado::ComError when the catalog objects cannot be made.
    CLogITDbAcc();
    CLogITDbAcc(const CLogITDbAcc &) = delete;
    CLogITDbAcc &operator=(const CLogITDbAcc &) = delete;
    ~CLogITDbAcc() = default;

    virtual int32_t AppendColumns(const std::u16string &table, int32_t count,
                                  const ado::Variant *names, const ado::Variant *types,
                                  const ado::Variant *sizes, int32_t autoIncrementIndex);
    virtual int32_t CreateTable(const std::u16string &table, const std::u16string &column,
                                int32_t type, int32_t size, int32_t autoIncrement);
    virtual int32_t GetTableCount(int32_t *out);
    virtual int32_t Close();
    // Raises ado::ComError to the caller.
    virtual int32_t OpenTable(const std::u16string &table);
    virtual int32_t Noop(int32_t);
    virtual int32_t SelectTable(const std::u16string &table);
    virtual int32_t AppendColumn(const std::u16string &column, int32_t type, int32_t size);
    virtual int32_t ExecuteStatement(const std::u16string &sql);
    virtual int32_t IsClosed();
    virtual int32_t MarkOpen(int32_t, int32_t);
    virtual int32_t OpenCatalog(const std::u16string &first, const std::u16string &second);
    virtual int32_t CreateCatalog(const std::u16string &first, const std::u16string &second);
    virtual int32_t SetColumnProperty(const std::u16string &column, const std::u16string &property,
                                      ado::Variant value);

    const char *GetErrorText() const { return errorText_; }
    void SetComError(const ado::ComError &error);
    int32_t CheckObjects();
    const std::u16string &connectionText() const { return connectionText_; }

private:
    // OpenCatalog and CreateCatalog: binds the catalog to a connection string, opening the
    // database or creating it first. 0, or 1 with connected_ cleared.
    int32_t BindCatalog(const std::u16string &first, const std::u16string &second, bool create);

    std::unique_ptr<ado::Catalog> catalog_;
    std::unique_ptr<ado::Table> table_;
    std::u16string connectionText_;
    int32_t connected_ = 0;
    int32_t open_ = 0;
    int32_t tableSelected_ = 0;
    std::recursive_mutex lock_;
    char errorText_[1000] = {};
};

// The table-copy routines of the configuration database: single statements on an open
// connection, with table names, a WHERE condition and a key column given as SQL text. A
// database text names another Jet database (an IN clause); "" means the connection's own. A
// staging table is named after its source table with "_Tmp" appended. Every routine runs
// through one statement runner, which traces a failure with TraceComError and returns -1.
class CLogITDbTableCopy {
public:
    explicit CLogITDbTableCopy(ado::Connection &connection) : conn_(connection) {}

    // 1 when the table can be selected from, else 0 (the failure traced).
    int32_t TableExists(const std::string &table, const std::string &database = "");
    // Drops the staging table of `table`: 0 or -1.
    int32_t DropStaging(const std::string &table);
    // The distinct rows of `source` that meet `where` into its staging table; with a key
    // column, only rows whose key `destination` (in `database` when given) does not hold yet.
    int32_t SelectDistinct(const std::string &source, const std::string &where,
                           const std::string &key = "", const std::string &destination = "",
                           const std::string &database = "");
    // Appends the rows of `source` to the existing `destination` (in `database` when given):
    // every row into the listed columns, or, with a condition, the rows that meet it. With
    // `identity` the statement is bracketed by SET IDENTITY_INSERT On and Off (SQL Server),
    // the Off sent whatever the append gave.
    int32_t InsertRows(const std::string &destination, const std::string &database,
                       const std::string &columns, const std::string &source,
                       const std::string &where, bool identity);
    // Makes `destination` (in `database` when given) from the rows of `source`, or from those
    // that meet `where`.
    int32_t CopyIntoNew(const std::string &destination, const std::string &database,
                        const std::string &source, const std::string &where);
    // Deletes the rows of `table` that meet `where`.
    int32_t DeleteWhere(const std::string &table, const std::string &where);

    // The statement runner: 0, or -1.
    int32_t Execute(const std::string &sql);
    // 1 when the statement answers a row, 0 when it answers none, -1 when it fails.
    int32_t HasRows(const std::string &sql);

private:
    ado::Connection &conn_;
};
