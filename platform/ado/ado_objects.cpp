// Connection, recordset, command and catalog over the engine interface.
#include "ado_internal.h"

#include <algorithm>
#include <mutex>
#include <regex>

namespace ado {

namespace {

const char kNoCurrentText[] = "Either BOF or EOF is True, or the current record has been deleted. "
                              "Requested operation requires a current record.";
const char kItemText[] =
    "Item cannot be found in the collection corresponding to the requested name or ordinal.";
const char kClosedText[] = "Operation is not allowed when the object is closed.";
const char kArgumentText[] = "Arguments are of the wrong type, are out of acceptable range, or "
                             "are in conflict with one another.";

std::mutex &registryMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, Backend *> &registry() {
    static std::map<std::string, Backend *> r;
    return r;
}

Backend &backendFor(const ConnectionProps &props) {
    std::string p = Lower(props.provider);
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        auto it = registry().find(p);
        if (it != registry().end()) return *it->second;
    }
    if (p.rfind("microsoft.jet.oledb", 0) == 0) return SqliteBackend();
    if (p == "mariadb") return MariaDbBackend();
    throw ComError(kNoProvider,
                   "provider \"" + props.provider + "\" is not available on this system");
}

ConnectionProps propsOf(const std::string &text, int32_t connectionTimeout,
                        int32_t commandTimeout) {
    ConnectionProps props;
    props.text = text;
    props.items = ParseConnectionString(text);
    props.provider = props.Get("provider");
    props.connectionTimeout = connectionTimeout;
    props.commandTimeout = commandTimeout;
    return props;
}

bool isIdentifier(const std::string &s) {
    static const std::regex id(R"(^\s*[A-Za-z_][A-Za-z0-9_$]*\s*$)");
    return std::regex_match(s, id);
}

std::string trimmed(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    size_t b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// A select over one table without grouping, joins or aggregates: its table and the position of
// its FROM, or false.
bool singleTableSelect(const std::string &sql, std::string *table, size_t *fromPos) {
    static const std::regex shape(
        R"(^\s*SELECT\s+(?:TOP\s+\d+\s+)?([\s\S]+?)\s+(FROM)\s+([A-Za-z_][A-Za-z0-9_$]*)\s*((?:WHERE|ORDER\s+BY)\b[\s\S]*)?;?\s*$)",
        std::regex::icase);
    static const std::regex banned(
        R"(\b(DISTINCT|GROUP\s+BY|JOIN|UNION|COUNT\s*\(|SUM\s*\(|AVG\s*\(|MIN\s*\(|MAX\s*\())",
        std::regex::icase);
    std::smatch m;
    if (!std::regex_match(sql, m, shape)) return false;
    if (std::regex_search(sql, banned)) return false;
    *table = m[3].str();
    *fromPos = static_cast<size_t>(m.position(2));
    return true;
}

} // namespace

void RegisterBackend(const std::string &provider, Backend *backend) {
    std::lock_guard<std::mutex> lock(registryMutex());
    if (backend)
        registry()[Lower(provider)] = backend;
    else
        registry().erase(Lower(provider));
}

Session &Link::Use() {
    if (!open || !session) throw ComError(kObjectClosed, kClosedText);
    return *session;
}

// ---------------------------------------------------------------------------------------------

Connection::~Connection() {
    try {
        Close();
    } catch (...) {
    }
}

void Connection::Open(const std::string &connectionString) {
    if (State() == 1)
        throw ComError(static_cast<HRESULT>(0x800A0E79),
                       "Operation is not allowed when the object is open.");
    ConnectionProps props = propsOf(connectionString, connectionTimeout, commandTimeout_);
    auto link = std::make_shared<Link>();
    link->session = backendFor(props).Open(props);
    link->open = true;
    link_ = std::move(link);
    text_ = connectionString;
    provider_ = props.provider;
}

void Connection::Close() {
    if (!link_) return;
    auto link = std::move(link_);
    link_.reset();
    if (link->open) {
        link->open = false;
        link->session->Close();
    }
}

void Connection::SetCommandTimeout(int32_t seconds) {
    commandTimeout_ = seconds;
    if (State() == 1) link_->Use().SetCommandTimeout(seconds);
}

std::unique_ptr<Recordset> Connection::Execute(const std::string &text, int64_t *affected,
                                               int32_t options) {
    if (!link_) throw ComError(kObjectClosed, kClosedText);
    std::string sql = text;
    if (options == adCmdTable || (options == adCmdUnknown && isIdentifier(text)))
        sql = "SELECT * FROM " + trimmed(text);
    Result r = link_->Use().Run(sql, {});
    if (affected) *affected = r.affected;
    if (!r.hasRows) return nullptr;
    auto rs = std::make_unique<Recordset>();
    rs->Adopt(std::move(r), link_);
    return rs;
}

std::string Connection::DefaultDatabase() {
    if (!link_) throw ComError(kObjectClosed, kClosedText);
    return link_->Use().DefaultDatabase();
}

void Connection::SetDefaultDatabase(const std::string &name) {
    if (!link_) throw ComError(kObjectClosed, kClosedText);
    link_->Use().SetDefaultDatabase(name);
}

// ---------------------------------------------------------------------------------------------

std::string Field::Name() const {
    rs_->checkOpen();
    return rs_->columns_[index_].name;
}

VarType Field::Type() const {
    rs_->checkOpen();
    VarType t = rs_->columns_[index_].type;
    if (t != VT_EMPTY) return t;
    if (!rs_->Bof() && !rs_->Eof()) return rs_->rows_[rs_->pos_][index_].vt;
    return VT_BSTR;
}

Variant Field::Value() const {
    rs_->checkOpen();
    if (rs_->pending_ == Recordset::Pending::Add) return rs_->pendingRow_[index_];
    rs_->checkRow();
    if (rs_->pending_ == Recordset::Pending::Edit) return rs_->pendingRow_[index_];
    return rs_->rows_[rs_->pos_][index_];
}

void Field::PutValue(const Variant &value) {
    rs_->put(index_, value);
}

void Recordset::Open(const std::string &source, Connection &connection, int32_t cursor,
                     int32_t lock, int32_t options) {
    if (open_)
        throw ComError(static_cast<HRESULT>(0x800A0E79),
                       "Operation is not allowed when the object is open.");
    auto link = connection.link();
    if (!link) throw ComError(kObjectClosed, kClosedText);
    Session &session = link->Use();
    bool isTable = options == adCmdTable || (options == adCmdUnknown && isIdentifier(source));
    std::string sql = isTable ? "SELECT * FROM " + trimmed(source) : source;
    std::string table;
    size_t fromPos = 0;
    bool base = singleTableSelect(sql, &table, &fromPos);
    size_t hidden = 0;
    if (base && lock == adLockOptimistic)
        sql = session.EditableSelect(sql, fromPos, table, &hidden);
    bool forwardTable = isTable && cursor == adOpenForwardOnly;
    if (forwardTable) sql = session.EmptySelect(sql);
    Result r = session.Run(sql, {});
    link_ = link;
    cursor_ = cursor;
    lock_ = lock;
    table_ = table;
    baseOk_ = base;
    pending_ = Pending::None;
    deletedCurrent_ = false;
    if (!r.hasRows) {
        // A statement without rows: it ran, and the recordset stays closed.
        open_ = false;
        rows_.clear();
        columns_.clear();
        return;
    }
    columns_ = std::move(r.columns);
    rows_ = std::move(r.rows);
    visible_ = columns_.size() >= hidden ? columns_.size() - hidden : 0;
    unknownCount_ = forwardTable || r.countUnknown;
    pos_ = 0;
    open_ = true;
}

void Recordset::Adopt(Result result, std::shared_ptr<Link> link) {
    link_ = std::move(link);
    columns_ = std::move(result.columns);
    rows_ = std::move(result.rows);
    visible_ = columns_.size();
    unknownCount_ = result.countUnknown;
    cursor_ = adOpenStatic;
    lock_ = adLockReadOnly;
    baseOk_ = false;
    pending_ = Pending::None;
    pos_ = 0;
    open_ = true;
}

void Recordset::Close() {
    if (!open_) return;
    open_ = false;
    pending_ = Pending::None;
    rows_.clear();
    columns_.clear();
    link_.reset();
    unknownCount_ = false;
}

void Recordset::checkOpen() const {
    if (!open_) throw ComError(kObjectClosed, kClosedText);
}

void Recordset::checkRow() const {
    if (deletedCurrent_ || Bof() || Eof()) throw ComError(kNoCurrentRecord, kNoCurrentText);
}

void Recordset::checkEditable() const {
    if (lock_ != adLockOptimistic)
        throw ComError(kNotUpdatable, "Current Recordset does not support updating.");
    if (!baseOk_)
        throw ComError(kFail, "Insufficient base table information for updating or refreshing.");
}

bool Recordset::Bof() const {
    checkOpen();
    return rows_.empty() || pos_ < 0;
}

bool Recordset::Eof() const {
    checkOpen();
    return rows_.empty() || pos_ >= static_cast<int64_t>(rows_.size());
}

int32_t Recordset::RecordCount() const {
    checkOpen();
    if (unknownCount_) return -1;
    return static_cast<int32_t>(rows_.size());
}

void Recordset::MoveFirst() {
    checkOpen();
    flushPending();
    if (rows_.empty()) throw ComError(kNoCurrentRecord, kNoCurrentText);
    deletedCurrent_ = false;
    pos_ = 0;
}

void Recordset::MoveLast() {
    checkOpen();
    flushPending();
    if (rows_.empty()) throw ComError(kNoCurrentRecord, kNoCurrentText);
    deletedCurrent_ = false;
    pos_ = static_cast<int64_t>(rows_.size()) - 1;
}

void Recordset::MoveNext() {
    checkOpen();
    flushPending();
    if (deletedCurrent_) {
        deletedCurrent_ = false;
        return;
    }
    if (Eof()) throw ComError(kNoCurrentRecord, kNoCurrentText);
    ++pos_;
}

void Recordset::MovePrevious() {
    checkOpen();
    flushPending();
    deletedCurrent_ = false;
    if (Bof()) throw ComError(kNoCurrentRecord, kNoCurrentText);
    --pos_;
}

void Recordset::Move(int32_t count) {
    checkOpen();
    flushPending();
    if (deletedCurrent_ && count > 0) --count;
    deletedCurrent_ = false;
    int64_t n = static_cast<int64_t>(rows_.size());
    int64_t p = pos_ + count;
    if (p >= n) p = n;
    if (p < 0) p = -1;
    pos_ = p;
}

int32_t Recordset::FieldCount() const {
    checkOpen();
    return static_cast<int32_t>(visible_);
}

size_t Recordset::fieldIndex(const Variant &index) const {
    checkOpen();
    if (index.vt == VT_BSTR) {
        std::string name = Lower(ToUtf8(index.s));
        for (size_t k = 0; k < visible_; ++k)
            if (Lower(columns_[k].name) == name) return k;
        throw ComError(kItemNotFound, kItemText);
    }
    if (index.vt == VT_I2 || index.vt == VT_I4 || index.vt == VT_I8) {
        if (index.i < 0 || index.i >= static_cast<int64_t>(visible_))
            throw ComError(kItemNotFound, kItemText);
        return static_cast<size_t>(index.i);
    }
    throw ComError(kItemNotFound, kItemText);
}

Field Recordset::Item(const Variant &index) {
    return Field(this, fieldIndex(index));
}

bool Recordset::Supports(int32_t option) const {
    if (!open_) return false;
    if (option == adAddNew) return lock_ == adLockOptimistic && baseOk_;
    return false;
}

void Recordset::put(size_t index, const Variant &value) {
    checkOpen();
    checkEditable();
    if (pending_ == Pending::None) {
        checkRow();
        pending_ = Pending::Edit;
        pendingRow_ = rows_[pos_];
        changed_.assign(columns_.size(), false);
    }
    pendingRow_[index] = value.vt == VT_EMPTY ? Variant::Null() : value;
    changed_[index] = true;
}

void Recordset::AddNew() {
    checkOpen();
    checkEditable();
    flushPending();
    pending_ = Pending::Add;
    pendingRow_.assign(columns_.size(), Variant::Null());
    changed_.assign(columns_.size(), false);
}

void Recordset::flushPending() {
    if (pending_ != Pending::None) Update();
}

void Recordset::Update(const Variant &field, const Variant &value) {
    put(fieldIndex(field), value);
    Update();
}

void Recordset::CancelUpdate() {
    checkOpen();
    pending_ = Pending::None;
}

void Recordset::Update() {
    checkOpen();
    if (pending_ == Pending::None) {
        checkRow();
        return;
    }
    Session &session = link_->Use();
    std::vector<Variant> params;
    if (pending_ == Pending::Add) {
        std::string names, marks;
        for (size_t k = 0; k < visible_; ++k) {
            if (!changed_[k]) continue;
            if (!params.empty()) {
                names += ", ";
                marks += ", ";
            }
            names += session.Quote(columns_[k].name);
            marks += "?";
            params.push_back(pendingRow_[k]);
        }
        std::string sql =
            "INSERT INTO " + table_ +
            (params.empty() ? " DEFAULT VALUES" : " (" + names + ") VALUES (" + marks + ")");
        Result r = session.Run(sql, params);
        std::vector<Variant> row = pendingRow_;
        for (size_t h = visible_; h < columns_.size(); ++h) {
            const std::string name = Lower(columns_[h].name);
            bool set = false;
            for (size_t k = 0; k < visible_; ++k)
                if (changed_[k] && Lower(columns_[k].name) == name) {
                    row[h] = pendingRow_[k];
                    set = true;
                }
            if (!set) row[h] = session.InsertedIdentity(table_, columns_[h].name, r.insertId);
        }
        // Visible fields filled by the engine (an auto-increment key) read as the hidden ones.
        for (size_t k = 0; k < visible_; ++k) {
            if (changed_[k]) continue;
            for (size_t h = visible_; h < columns_.size(); ++h)
                if (Lower(columns_[h].name) == Lower(columns_[k].name)) row[k] = row[h];
        }
        pending_ = Pending::None;
        if (unknownCount_ && cursor_ == adOpenForwardOnly) rows_.clear();
        rows_.push_back(std::move(row));
        pos_ = static_cast<int64_t>(rows_.size()) - 1;
        deletedCurrent_ = false;
        return;
    }
    std::string sets;
    for (size_t k = 0; k < visible_; ++k) {
        if (!changed_[k]) continue;
        if (!params.empty()) sets += ", ";
        sets += session.Quote(columns_[k].name) + " = ?";
        params.push_back(pendingRow_[k]);
    }
    if (params.empty()) {
        pending_ = Pending::None;
        return;
    }
    std::string where = session.Locate(table_, columns_, rows_[pos_], visible_, &params);
    Result r = session.Run("UPDATE " + table_ + " SET " + sets + " WHERE " + where, params);
    if (r.affected == 0)
        throw ComError(kFail, "Row cannot be located for updating. Some values may have been "
                              "changed since it was last read.");
    std::vector<Variant> row = pendingRow_;
    for (size_t h = visible_; h < columns_.size(); ++h)
        for (size_t k = 0; k < visible_; ++k)
            if (changed_[k] && Lower(columns_[h].name) == Lower(columns_[k].name))
                row[h] = pendingRow_[k];
    rows_[pos_] = std::move(row);
    pending_ = Pending::None;
}

void Recordset::Delete(int32_t affect) {
    checkOpen();
    checkEditable();
    if (affect != adAffectCurrent) throw ComError(kBadArgument, kArgumentText);
    if (pending_ == Pending::Add) {
        pending_ = Pending::None;
        return;
    }
    pending_ = Pending::None;
    checkRow();
    Session &session = link_->Use();
    std::vector<Variant> params;
    std::string where = session.Locate(table_, columns_, rows_[pos_], visible_, &params);
    Result r = session.Run("DELETE FROM " + table_ + " WHERE " + where, params);
    if (r.affected == 0)
        throw ComError(kFail, "Row cannot be located for updating. Some values may have been "
                              "changed since it was last read.");
    rows_.erase(rows_.begin() + pos_);
    deletedCurrent_ = true;
}

// ---------------------------------------------------------------------------------------------

Parameter Command::CreateParameter(const std::string &name, int32_t type, int32_t direction,
                                   int32_t size, const Variant &value) {
    if (type != adInteger && type != adDate && type != adVarWChar && type != adVarChar)
        throw ComError(kBadArgument, kArgumentText);
    return Parameter{name, type, direction, size, value};
}

std::unique_ptr<Recordset> Command::Execute(int64_t *affected) {
    if (!activeConnection || !activeConnection->link()) throw ComError(kObjectClosed, kClosedText);
    std::vector<size_t> marks = ParameterMarks(commandText);
    if (parameters.size() < marks.size())
        throw ComError(kMissingParams, "No value given for one or more required parameters.");
    std::vector<Variant> values;
    for (size_t k = 0; k < marks.size(); ++k) {
        const Parameter &p = parameters[k];
        Variant v = p.value;
        if (v.IsEmptyOrNull()) {
            v = Variant::Null();
        } else if (p.type == adInteger && v.vt != VT_I4) {
            v = Variant::I4(static_cast<int32_t>(v.AsInt()));
        } else if (p.type == adDate && v.vt != VT_DATE) {
            double d = 0;
            if (v.vt == VT_BSTR && ParseDateText(ToUtf8(v.s), &d))
                v = Variant::Date(d);
            else
                v = Variant::Date(v.AsDouble());
        } else if ((p.type == adVarWChar || p.type == adVarChar) && v.vt != VT_BSTR) {
            v = Variant::Utf8(v.AsUtf8());
        }
        values.push_back(std::move(v));
    }
    Session &session = activeConnection->link()->Use();
    session.SetCommandTimeout(commandTimeout);
    Result r;
    try {
        r = session.Run(commandText, values);
    } catch (...) {
        session.SetCommandTimeout(activeConnection->CommandTimeout());
        throw;
    }
    session.SetCommandTimeout(activeConnection->CommandTimeout());
    if (affected) *affected = r.affected;
    if (!r.hasRows) return nullptr;
    auto rs = std::make_unique<Recordset>();
    rs->Adopt(std::move(r), activeConnection->link());
    return rs;
}

// ---------------------------------------------------------------------------------------------

Variant Column::GetProperty(const std::string &name) const {
    if (Lower(name) != "autoincrement") throw ComError(kItemNotFound, kItemText);
    return Variant::Bool(autoIncrement_);
}

void Column::SetProperty(const std::string &name, const Variant &value) {
    if (Lower(name) != "autoincrement") throw ComError(kItemNotFound, kItemText);
    if (appended) throw ComError(kNotUpdatable, "Operation is not allowed in this context.");
    autoIncrement_ = value.AsInt() != 0;
}

void Table::AppendColumn(const std::string &name, int32_t type, int32_t size) {
    if (appended) {
        // A column appended to a table of the database is added to that table at once.
        if (!ParentCatalog)
            throw ComError(kNotUpdatable, "Operation is not allowed in this context.");
        Column c(name, type, size);
        ParentCatalog->AddColumn(*this, c);
        c.appended = true;
        columns.push_back(c);
        return;
    }
    columns.emplace_back(name, type, size);
}

Column &Table::ColumnItem(const std::string &name) {
    for (Column &c : columns)
        if (Lower(c.Name) == Lower(name)) return c;
    throw ComError(kItemNotFound, kItemText);
}

Session &Catalog::session() {
    if (!link_) throw ComError(kObjectClosed, kClosedText);
    return link_->Use();
}

void Catalog::SetActiveConnection(const std::string &connectionString) {
    ConnectionProps props = propsOf(connectionString, 15, 30);
    auto link = std::make_shared<Link>();
    link->session = backendFor(props).Open(props);
    link->open = true;
    link_ = std::move(link);
}

void Catalog::SetActiveConnection(Connection &connection) {
    if (connection.State() != 1) throw ComError(kObjectClosed, kClosedText);
    link_ = connection.link();
}

void Catalog::Create(const std::string &connectionString) {
    ConnectionProps props = propsOf(connectionString, 15, 30);
    Backend &backend = backendFor(props);
    backend.Create(props);
    auto link = std::make_shared<Link>();
    link->session = backend.Open(props);
    link->open = true;
    link_ = std::move(link);
}

int32_t Catalog::TableCount() {
    return static_cast<int32_t>(session().TableNames().size());
}

Table Catalog::TableItem(const std::string &name) {
    Session &s = session();
    for (const std::string &t : s.TableNames()) {
        if (Lower(t) != Lower(name)) continue;
        Table table;
        table.Name = t;
        table.ParentCatalog = this;
        for (const TableColumn &c : s.Columns(t)) {
            Column col(c.name, adVarWChar, 0);
            col.SetProperty("AutoIncrement", Variant::Bool(c.autoIncrement));
            col.appended = true;
            table.columns.push_back(col);
        }
        table.appended = true;
        return table;
    }
    throw ComError(kItemNotFound, kItemText);
}

void Catalog::AddColumn(Table &table, const Column &column) {
    Session &s = session();
    s.Run("ALTER TABLE " + s.Quote(table.Name) + " ADD " + s.Quote(column.Name) + " " +
              s.ColumnDdl(column.Type, column.DefinedSize, false),
          {});
}

void Catalog::AppendTable(Table &table) {
    Session &s = session();
    if (table.appended) throw ComError(kNotUpdatable, "Operation is not allowed in this context.");
    std::string sql = "CREATE TABLE " + s.Quote(table.Name) + " (";
    for (size_t k = 0; k < table.columns.size(); ++k) {
        const Column &c = table.columns[k];
        if (k) sql += ", ";
        sql += s.Quote(c.Name) + " " +
               s.ColumnDdl(c.Type, c.DefinedSize, c.GetProperty("AutoIncrement").i != 0);
    }
    sql += ")";
    s.Run(sql, {});
    table.appended = true;
    table.ParentCatalog = this;
    for (Column &c : table.columns)
        c.appended = true;
}

} // namespace ado
