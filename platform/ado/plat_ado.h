// An ADO-shaped database layer: connection, recordset with a client-side cursor, command with
// parameters, catalog with tables and columns.
//
// The callers were written against ADO and ADOX over OLE DB. Here the Jet connection strings
// open SQLite files and the "MariaDB" provider reaches a server through Connector/C; every other
// provider is not available. Failures throw `ado::ComError` carrying the HRESULT the callers
// test; only the data access objects catch it.
//
// Each engine sits behind `ado::Backend` and `ado::Session`, so tests can register a scripted
// engine for a provider name. No header of an engine is included here.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ado {

using HRESULT = int32_t;

// The HRESULTs the layer raises (OLE DB and ADO numbers).
inline constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT kNoTable = static_cast<HRESULT>(0x80040E37);
inline constexpr HRESULT kSyntax = static_cast<HRESULT>(0x80040E14);
inline constexpr HRESULT kTableExists = static_cast<HRESULT>(0x80040E3F);
inline constexpr HRESULT kConstraint = static_cast<HRESULT>(0x80040E2F);
inline constexpr HRESULT kBadValue = static_cast<HRESULT>(0x80040E21);
inline constexpr HRESULT kBusy = static_cast<HRESULT>(0x80040E31);
inline constexpr HRESULT kMissingParams = static_cast<HRESULT>(0x80040E10);
inline constexpr HRESULT kNoCurrentRecord = static_cast<HRESULT>(0x800A0BCD);
inline constexpr HRESULT kNotUpdatable = static_cast<HRESULT>(0x800A0CB3);
inline constexpr HRESULT kItemNotFound = static_cast<HRESULT>(0x800A0CC1);
inline constexpr HRESULT kObjectClosed = static_cast<HRESULT>(0x800A0E78);
inline constexpr HRESULT kNoProvider = static_cast<HRESULT>(0x800A0E7A);
inline constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x800A0BB9);

// Variant kinds, with the VARTYPE numbers callers compare against.
enum VarType : uint16_t {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_I8 = 20,
    VT_BYTES = 0x2011,   // VT_ARRAY | VT_UI1
    VT_VARIANTS = 0x200C // VT_ARRAY | VT_VARIANT
};

struct Variant {
    VarType vt = VT_EMPTY;
    int64_t i = 0;  // I2, I4, I8, Bool (-1/0), Error
    double d = 0.0; // R4, R8, Date (OLE days)
    std::u16string s;
    std::vector<uint8_t> bytes;
    std::vector<Variant> items;

    Variant() = default;
    static Variant Null();
    static Variant I2(int16_t v);
    static Variant I4(int32_t v);
    static Variant I8(int64_t v);
    static Variant R4(float v);
    static Variant R8(double v);
    static Variant Date(double oleDays);
    static Variant Str(const std::u16string &v);
    static Variant Utf8(const std::string &v);
    static Variant Bool(bool v);
    static Variant Missing(); // VT_ERROR "parameter not found", for optional arguments
    static Variant Bytes(std::vector<uint8_t> v);

    bool IsNull() const { return vt == VT_NULL; }
    bool IsEmptyOrNull() const { return vt == VT_EMPTY || vt == VT_NULL; }
    bool IsNumber() const;
    // Numeric value of any number kind, Date or Bool; 0 for the rest.
    double AsDouble() const;
    int64_t AsInt() const;
    // The text as UTF-8: BStr as it is, numbers and dates formatted.
    std::string AsUtf8() const;
};

bool operator==(const Variant &a, const Variant &b);

struct ComError : std::exception {
    HRESULT hr = kFail;
    std::string description; // UTF-8
    std::string source;      // "SQLite", "MariaDB", "ADO" or a test backend's name
    ComError() = default;
    ComError(HRESULT h, std::string d, std::string s = "ADO")
        : hr(h), description(std::move(d)), source(std::move(s)) {}
    const char *what() const noexcept override { return description.c_str(); }
};

// UTF-16 and UTF-8, both directions; broken sequences become U+FFFD.
std::string ToUtf8(const std::u16string &text);
std::u16string FromUtf8(const std::string &text);

// OLE dates: days since 1899-12-30. Negative dates carry the day fraction by sign and
// magnitude. Seconds are counted from 1970, in 64 bits.
double OleFromSeconds(int64_t secondsSince1970);
int64_t SecondsFromOle(double oleDays); // rounded to the nearest second
double OleFromParts(int year, int month, int day, int hour, int minute, int second);
struct DateParts {
    int year, month, day, hour, minute, second;
};
DateParts PartsFromOle(double oleDays); // rounded to the nearest second
// 'YYYY-MM-DD HH:MM:SS' of an OLE date; a text of that form (also with '.fff' or date alone)
// back to an OLE date, false when it is not one.
std::string DateText(double oleDays);
bool ParseDateText(const std::string &text, double *oleDays);

// Connection strings: key=value items separated by ';' (keys case-insensitive, trimmed; values
// may be quoted with '"' or '\'' or braced). Keys come back lower-case.
std::map<std::string, std::string> ParseConnectionString(const std::string &text);

// ---------------------------------------------------------------------------------------------
// Engine interface (one implementation per engine; tests register their own).

struct ColumnInfo {
    std::string name;
    VarType type = VT_EMPTY; // the kind values of the column read as; VT_EMPTY when unknown
};

struct Result {
    bool hasRows = false; // the statement returns rows (possibly none)
    std::vector<ColumnInfo> columns;
    std::vector<std::vector<Variant>> rows;
    int64_t affected = 0;
    int64_t insertId = 0;
    bool countUnknown = false; // RecordCount answers -1 (a provider that cannot count)
};

struct ConnectionProps {
    std::string text;     // the connection string as given
    std::string provider; // the Provider value as given
    std::map<std::string, std::string> items;
    int32_t connectionTimeout = 15;
    int32_t commandTimeout = 30;
    std::string Get(const std::string &key) const; // lower-case key, "" when absent
};

// A table column as the catalog sees it.
struct TableColumn {
    std::string name;
    bool autoIncrement = false;
};

// An open connection to one engine. Every call throws ComError on failure.
class Session {
public:
    virtual ~Session() = default;
    // Runs one statement; `params` bind to the '?' marks outside quotes, in order.
    virtual Result Run(const std::string &sql, const std::vector<Variant> &params) = 0;
    virtual void Close() = 0;
    virtual void SetCommandTimeout(int32_t seconds) = 0;
    virtual std::string DefaultDatabase() = 0;
    virtual void SetDefaultDatabase(const std::string &name) = 0;
    virtual std::vector<std::string> TableNames() = 0;
    virtual std::vector<TableColumn> Columns(const std::string &table) = 0;
    // The column type of a CREATE TABLE for an ADOX type; throws kBadArgument for others.
    virtual std::string ColumnDdl(int32_t adoxType, int32_t size, bool autoIncrement) = 0;
    virtual std::string Quote(const std::string &identifier) = 0;
    // Editing support. `EditableSelect` appends the hidden identity columns to a single-table
    // select (before its FROM) and returns how many it appended; `Locate` gives the condition
    // that finds a row again from its hidden and visible values.
    virtual std::string EditableSelect(const std::string &sql, size_t fromPos,
                                       const std::string &table, size_t *hidden) = 0;
    virtual std::string EmptySelect(const std::string &table) = 0;
    virtual std::string Locate(const std::string &table, const std::vector<ColumnInfo> &columns,
                               const std::vector<Variant> &values, size_t visible,
                               std::vector<Variant> *params) = 0;
    // The value of a hidden identity column of a row just inserted, when it was not set.
    virtual Variant InsertedIdentity(const std::string &table, const std::string &column,
                                     int64_t insertId) = 0;
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual std::unique_ptr<Session> Open(const ConnectionProps &props) = 0;
    // Creates the database of the string, failing when it exists.
    virtual void Create(const ConnectionProps &props) = 0;
};

// Registers (or, with nullptr, removes) a backend for a provider name, ahead of the built-in
// ones. For tests.
void RegisterBackend(const std::string &provider, Backend *backend);

// Connector/C's process-wide initialisation, once.
void InitMariaDbLibrary();

// ---------------------------------------------------------------------------------------------
// ADO objects.

enum CursorType { adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3 };
enum LockType { adLockReadOnly = 1, adLockPessimistic = 2, adLockOptimistic = 3 };
enum CommandType { adCmdText = 1, adCmdTable = 2, adCmdUnknown = 8 };
inline constexpr int32_t adAddNew = 0x1000400;
inline constexpr int32_t adAffectCurrent = 1;
enum DataType {
    adSmallInt = 2,
    adInteger = 3,
    adSingle = 4,
    adDouble = 5,
    adCurrency = 6,
    adDate = 7,
    adBoolean = 11,
    adUnsignedTinyInt = 17,
    adNumeric = 131,
    adDBTimeStamp = 135,
    adChar = 129,
    adWChar = 130,
    adVarChar = 200,
    adLongVarChar = 201,
    adVarWChar = 202,
    adLongVarWChar = 203
};

class Recordset;

// The shared state of an open connection: its engine session and whether it is still open.
struct Link {
    std::unique_ptr<Session> session;
    std::string source; // error source of the engine
    bool open = false;
    Session &Use(); // throws kObjectClosed when closed
};

class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    void Open(const std::string &connectionString);
    void Close();
    int32_t State() const { return link_ && link_->open ? 1 : 0; }
    const std::string &Provider() const { return provider_; }
    const std::string &ConnectionString() const { return text_; }
    int32_t connectionTimeout = 15;
    int32_t CommandTimeout() const { return commandTimeout_; }
    void SetCommandTimeout(int32_t seconds);
    // Returns the rows of a row statement, or nullptr.
    std::unique_ptr<Recordset> Execute(const std::string &text, int64_t *affected = nullptr,
                                       int32_t options = adCmdText);
    std::string DefaultDatabase();
    void SetDefaultDatabase(const std::string &name);

    std::shared_ptr<Link> link() const { return link_; }

private:
    std::shared_ptr<Link> link_;
    std::string text_;
    std::string provider_;
    int32_t commandTimeout_ = 30;
};

// A field of the current row: a view into its recordset.
class Field {
public:
    Field(Recordset *rs, size_t index) : rs_(rs), index_(index) {}
    std::string Name() const;
    VarType Type() const;
    Variant Value() const;
    void PutValue(const Variant &value);

private:
    Recordset *rs_;
    size_t index_;
};

class Recordset {
public:
    Recordset() = default;
    ~Recordset() = default;
    Recordset(const Recordset &) = delete;
    Recordset &operator=(const Recordset &) = delete;

    // options: 1 text, 2 table, 8 text unless a single identifier (then a table).
    void Open(const std::string &source, Connection &connection, int32_t cursor = adOpenStatic,
              int32_t lock = adLockReadOnly, int32_t options = adCmdUnknown);
    void Close();
    int32_t State() const { return open_ ? 1 : 0; }
    bool Bof() const;
    bool Eof() const;
    int32_t RecordCount() const;
    int32_t CursorType() const { return cursor_; }
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void MovePrevious();
    void Move(int32_t count);
    // Index of the current row (0-based); set to a row, past the end means EOF.
    int64_t Position() const { return pos_; }

    int32_t FieldCount() const;
    Field Item(const Variant &index); // index (number) or name (text)
    Variant Collect(const Variant &index) { return Item(index).Value(); }
    void PutCollect(const Variant &index, const Variant &value) { Item(index).PutValue(value); }

    bool Supports(int32_t option) const;
    void AddNew();
    void Update();
    void Update(const Variant &field, const Variant &value);
    void CancelUpdate();
    void Delete(int32_t affect = adAffectCurrent);

    // For Connection::Execute and Command::Execute: a static read-only set over a result.
    void Adopt(Result result, std::shared_ptr<Link> link);

private:
    friend class Field;
    enum class Pending { None, Add, Edit };
    void checkOpen() const;
    void checkRow() const;
    void checkEditable() const;
    void flushPending();
    size_t fieldIndex(const Variant &index) const;
    void put(size_t index, const Variant &value);

    std::shared_ptr<Link> link_;
    bool open_ = false;
    int32_t cursor_ = adOpenStatic;
    int32_t lock_ = adLockReadOnly;
    std::string table_;   // the one base table of an editable source
    bool baseOk_ = false; // the source allows updating
    std::vector<ColumnInfo> columns_;
    size_t visible_ = 0;
    std::vector<std::vector<Variant>> rows_;
    std::vector<bool> deleted_;
    int64_t pos_ = 0;
    bool deletedCurrent_ = false; // the current row was deleted; reads fail until a move
    bool unknownCount_ = false;   // forward-only table open: rows are not kept
    Pending pending_ = Pending::None;
    std::vector<Variant> pendingRow_;
    std::vector<bool> changed_;
};

struct Parameter {
    std::string name;
    int32_t type = adInteger;
    int32_t direction = 1;
    int32_t size = 0;
    Variant value;
};

class Command {
public:
    Connection *activeConnection = nullptr;
    std::string commandText;
    int32_t commandType = adCmdText;
    int32_t commandTimeout = 30;
    std::vector<Parameter> parameters;

    static Parameter CreateParameter(const std::string &name, int32_t type, int32_t direction,
                                     int32_t size, const Variant &value);
    std::unique_ptr<Recordset> Execute(int64_t *affected = nullptr);
};

// ADOX.
class Column {
public:
    Column() = default;
    Column(std::string name, int32_t type, int32_t size)
        : Name(std::move(name)), Type(type), DefinedSize(size) {}
    std::string Name;
    int32_t Type = adVarWChar;
    int32_t DefinedSize = 0;
    // The one property the callers use: "AutoIncrement".
    Variant GetProperty(const std::string &name) const;
    void SetProperty(const std::string &name, const Variant &value);
    bool appended = false;

private:
    bool autoIncrement_ = false;
};

class Catalog;

class Table {
public:
    std::string Name;
    Catalog *ParentCatalog = nullptr;
    std::vector<Column> columns;
    // Before the table is appended, a column of the table to create; afterwards, a column added
    // to the table in the database.
    void AppendColumn(const std::string &name, int32_t type, int32_t size = 0);
    Column &ColumnItem(const std::string &name); // throws kItemNotFound
    bool appended = false;
};

class Catalog {
public:
    Catalog() = default;
    Catalog(const Catalog &) = delete;
    Catalog &operator=(const Catalog &) = delete;
    void SetActiveConnection(const std::string &connectionString);
    void SetActiveConnection(Connection &connection);
    void Create(const std::string &connectionString);
    int32_t TableCount();
    Table TableItem(const std::string &name); // throws kItemNotFound
    void AppendTable(Table &table);
    // ALTER TABLE ... ADD, for a column appended to a table already in the database.
    void AddColumn(Table &table, const Column &column);

private:
    std::shared_ptr<Link> link_;
    Session &session();
};

} // namespace ado
