// The embedded engine: Jet connection strings open SQLite files.
#include "ado_internal.h"

#include <sqlite3.h>

#include <sys/stat.h>

namespace ado {

namespace {

struct DbCloser {
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
    void operator()(sqlite3_stmt *s) const { sqlite3_finalize(s); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

const char kSource[] = "SQLite";

ComError engineError(sqlite3 *db, int rc) {
    std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    switch (rc & 0xFF) {
    case SQLITE_ERROR:
        if (msg.find("no such table") != std::string::npos) return {kNoTable, msg, kSource};
        if (msg.find("already exists") != std::string::npos) return {kTableExists, msg, kSource};
        return {kSyntax, msg, kSource};
    case SQLITE_CONSTRAINT:
        return {kConstraint, msg, kSource};
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return {kBusy, msg, kSource};
    case SQLITE_TOOBIG:
    case SQLITE_MISMATCH:
    case SQLITE_RANGE:
        return {kBadValue, msg, kSource};
    default:
        return {kFail, msg, kSource};
    }
}

enum class Decl { None, Int, Real, Date, Text, Blob };

Decl declOf(const char *declared) {
    if (!declared) return Decl::None;
    std::string d = Lower(declared);
    if (d.find("date") != std::string::npos || d.find("time") != std::string::npos)
        return Decl::Date;
    if (d.find("int") != std::string::npos) return Decl::Int;
    if (d.find("char") != std::string::npos || d.find("text") != std::string::npos ||
        d.find("clob") != std::string::npos)
        return Decl::Text;
    if (d.find("blob") != std::string::npos) return Decl::Blob;
    if (d.find("real") != std::string::npos || d.find("floa") != std::string::npos ||
        d.find("doub") != std::string::npos || d.find("dec") != std::string::npos ||
        d.find("num") != std::string::npos)
        return Decl::Real;
    return Decl::None;
}

VarType kindOf(Decl d) {
    switch (d) {
    case Decl::Int:
        return VT_I4;
    case Decl::Real:
        return VT_R8;
    case Decl::Date:
        return VT_DATE;
    case Decl::Text:
        return VT_BSTR;
    case Decl::Blob:
        return VT_BYTES;
    default:
        return VT_EMPTY;
    }
}

Variant integer(sqlite3_int64 v) {
    if (v >= INT32_MIN && v <= INT32_MAX) return Variant::I4(static_cast<int32_t>(v));
    return Variant::I8(v);
}

Variant textOf(sqlite3_stmt *s, int k) {
    const auto *t = reinterpret_cast<const char *>(sqlite3_column_text(s, k));
    return Variant::Utf8(t ? std::string(t, static_cast<size_t>(sqlite3_column_bytes(s, k))) : "");
}

Variant blobOf(sqlite3_stmt *s, int k) {
    const auto *b = static_cast<const uint8_t *>(sqlite3_column_blob(s, k));
    int n = sqlite3_column_bytes(s, k);
    return Variant::Bytes(b ? std::vector<uint8_t>(b, b + n) : std::vector<uint8_t>());
}

Variant valueOf(sqlite3_stmt *s, int k, Decl decl) {
    int storage = sqlite3_column_type(s, k);
    if (storage == SQLITE_NULL) return Variant::Null();
    switch (decl) {
    case Decl::Date:
        if (storage == SQLITE_TEXT) {
            double ole = 0;
            const auto *t = reinterpret_cast<const char *>(sqlite3_column_text(s, k));
            if (t && ParseDateText(t, &ole)) return Variant::Date(ole);
        }
        break;
    case Decl::Int:
        if (storage == SQLITE_INTEGER) return integer(sqlite3_column_int64(s, k));
        break;
    case Decl::Real:
        if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT)
            return Variant::R8(sqlite3_column_double(s, k));
        break;
    case Decl::Text:
        return textOf(s, k);
    case Decl::Blob:
        return blobOf(s, k);
    default:
        break;
    }
    switch (storage) {
    case SQLITE_INTEGER:
        return integer(sqlite3_column_int64(s, k));
    case SQLITE_FLOAT:
        return Variant::R8(sqlite3_column_double(s, k));
    case SQLITE_BLOB:
        return blobOf(s, k);
    default:
        return textOf(s, k);
    }
}

int bind(sqlite3_stmt *s, int k, const Variant &v) {
    switch (v.vt) {
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_BOOL:
        return sqlite3_bind_int64(s, k, v.i);
    case VT_R4:
    case VT_R8:
        return sqlite3_bind_double(s, k, v.d);
    case VT_DATE:
        return sqlite3_bind_text(s, k, DateText(v.d).c_str(), -1, SQLITE_TRANSIENT);
    case VT_BSTR: {
        std::string t = ToUtf8(v.s);
        return sqlite3_bind_text(s, k, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    }
    case VT_BYTES:
        return sqlite3_bind_blob(s, k, v.bytes.data(), static_cast<int>(v.bytes.size()),
                                 SQLITE_TRANSIENT);
    default:
        return sqlite3_bind_null(s, k);
    }
}

bool blankTail(const char *tail) {
    for (; tail && *tail; ++tail)
        if (*tail != ' ' && *tail != '\t' && *tail != '\r' && *tail != '\n' && *tail != ';')
            return false;
    return true;
}

std::string fileOf(const ConnectionProps &props) {
    std::string file = props.Get("data source");
    if (file.size() >= 2 && (file.front() == '"' || file.front() == '\'') &&
        file.back() == file.front())
        file = file.substr(1, file.size() - 2);
    for (char &c : file)
        if (c == '\\') c = '/';
    return file;
}

class SqliteSession : public Session {
public:
    SqliteSession(DbPtr db, int32_t commandTimeout) : db_(std::move(db)) {
        SetCommandTimeout(commandTimeout);
        Run("SELECT count(*) FROM sqlite_master", {});
        Run("PRAGMA journal_mode=WAL", {});
        Run("PRAGMA synchronous=NORMAL", {});
    }

    Result Run(const std::string &sql, const std::vector<Variant> &params) override {
        if (!db_)
            throw ComError(kObjectClosed, "Operation is not allowed when the object is closed.");
        std::string text = RewriteForSqlite(sql);
        sqlite3_stmt *raw = nullptr;
        const char *tail = nullptr;
        int rc =
            sqlite3_prepare_v2(db_.get(), text.c_str(), static_cast<int>(text.size()), &raw, &tail);
        StmtPtr stmt(raw);
        if (rc != SQLITE_OK) throw engineError(db_.get(), rc);
        if (!blankTail(tail))
            throw ComError(kSyntax, "a text may hold one statement only", kSource);
        Result r;
        if (!stmt) return r;
        int count = sqlite3_bind_parameter_count(stmt.get());
        for (int k = 0; k < count && k < static_cast<int>(params.size()); ++k)
            if ((rc = bind(stmt.get(), k + 1, params[k])) != SQLITE_OK)
                throw engineError(db_.get(), rc);
        int columns = sqlite3_column_count(stmt.get());
        std::vector<Decl> decls;
        for (int k = 0; k < columns; ++k) {
            decls.push_back(declOf(sqlite3_column_decltype(stmt.get(), k)));
            r.columns.push_back({sqlite3_column_name(stmt.get(), k), kindOf(decls.back())});
        }
        r.hasRows = columns > 0;
        while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
            std::vector<Variant> row;
            row.reserve(static_cast<size_t>(columns));
            for (int k = 0; k < columns; ++k)
                row.push_back(valueOf(stmt.get(), k, decls[k]));
            r.rows.push_back(std::move(row));
        }
        if (rc != SQLITE_DONE) throw engineError(db_.get(), rc);
        r.affected = columns > 0 ? 0 : sqlite3_changes64(db_.get());
        r.insertId = sqlite3_last_insert_rowid(db_.get());
        return r;
    }

    void Close() override { db_.reset(); }

    void SetCommandTimeout(int32_t seconds) override {
        if (db_) sqlite3_busy_timeout(db_.get(), seconds > 0 ? seconds * 1000 : 0);
    }

    std::string DefaultDatabase() override { return ""; }
    void SetDefaultDatabase(const std::string &) override {
        throw ComError(kNotUpdatable, "Operation is not allowed in this context.");
    }

    std::vector<std::string> TableNames() override {
        Result r = Run("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE "
                       "'sqlite!_%' ESCAPE '!' ORDER BY name",
                       {});
        std::vector<std::string> names;
        for (auto &row : r.rows)
            names.push_back(row[0].AsUtf8());
        return names;
    }

    std::vector<TableColumn> Columns(const std::string &table) override {
        Result def = Run("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?",
                         {Variant::Utf8(table)});
        bool autoinc = !def.rows.empty() &&
                       Lower(def.rows[0][0].AsUtf8()).find("autoincrement") != std::string::npos;
        Result r = Run("PRAGMA table_info(" + Quote(table) + ")", {});
        std::vector<TableColumn> cols;
        for (auto &row : r.rows) {
            bool pk = row[5].AsInt() != 0;
            cols.push_back({row[1].AsUtf8(), autoinc && pk && Lower(row[2].AsUtf8()) == "integer"});
        }
        return cols;
    }

    std::string ColumnDdl(int32_t type, int32_t size, bool autoIncrement) override {
        if (autoIncrement) return "INTEGER PRIMARY KEY AUTOINCREMENT";
        switch (type) {
        case adSmallInt:
            return "SMALLINT";
        case adInteger:
        case adBoolean:
            return "INTEGER";
        case adSingle:
            return "REAL";
        case adDouble:
            return "DOUBLE";
        case adDate:
        case adDBTimeStamp:
            return "DATETIME";
        case adUnsignedTinyInt:
            return "TINYINT";
        case adCurrency:
        case adNumeric:
            return "DECIMAL";
        case adChar:
        case adWChar:
            return "CHAR(" + std::to_string(size) + ")";
        case adVarChar:
        case adVarWChar:
            return "VARCHAR(" + std::to_string(size) + ")";
        case adLongVarChar:
        case adLongVarWChar:
            return "TEXT";
        default:
            throw ComError(kBadArgument, "Arguments are of the wrong type, are out of "
                                         "acceptable range, or are in conflict with one another.");
        }
    }

    std::string Quote(const std::string &id) override {
        std::string out = "\"";
        for (char c : id) {
            if (c == '"') out += '"';
            out += c;
        }
        return out + "\"";
    }

    std::string EditableSelect(const std::string &sql, size_t fromPos, const std::string &table,
                               size_t *hidden) override {
        *hidden = 1;
        return sql.substr(0, fromPos) + ", " + Quote(table) + ".rowid " + sql.substr(fromPos);
    }

    std::string EmptySelect(const std::string &sql) override { return sql + " LIMIT 0"; }

    std::string Locate(const std::string &, const std::vector<ColumnInfo> &columns,
                       const std::vector<Variant> &values, size_t visible,
                       std::vector<Variant> *params) override {
        if (columns.size() > visible) {
            params->push_back(values[columns.size() - 1]);
            return "rowid = ?";
        }
        throw ComError(kFail, "Insufficient base table information for updating or refreshing.");
    }

    Variant InsertedIdentity(const std::string &, const std::string &, int64_t insertId) override {
        return integer(insertId);
    }

private:
    DbPtr db_;
};

class SqliteEngine : public Backend {
public:
    std::unique_ptr<Session> Open(const ConnectionProps &props) override {
        return open(props, SQLITE_OPEN_READWRITE);
    }

    void Create(const ConnectionProps &props) override {
        struct stat st;
        if (::stat(fileOf(props).c_str(), &st) == 0)
            throw ComError(kFail, "database already exists", kSource);
        open(props, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    }

private:
    std::unique_ptr<Session> open(const ConnectionProps &props, int flags) {
        std::string file = fileOf(props);
        sqlite3 *raw = nullptr;
        int rc = sqlite3_open_v2(file.c_str(), &raw, flags | SQLITE_OPEN_FULLMUTEX, nullptr);
        DbPtr db(raw);
        if (rc != SQLITE_OK) {
            ComError e = engineError(db.get(), rc);
            e.hr = kFail;
            e.description += " (" + file + ")";
            throw e;
        }
        try {
            return std::make_unique<SqliteSession>(std::move(db), props.commandTimeout);
        } catch (ComError &e) {
            if (e.hr != kBusy) e.hr = kFail;
            throw;
        }
    }
};

} // namespace

Backend &SqliteBackend() {
    static SqliteEngine engine;
    return engine;
}

} // namespace ado
