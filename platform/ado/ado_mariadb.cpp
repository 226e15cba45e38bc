// The server engine: "Provider=MariaDB" strings reach a server through Connector/C.
#include "ado_internal.h"

#include <mysql.h>

#include <cmath>
#include <cstring>
#include <mutex>

namespace ado {

namespace {

const char kSource[] = "MariaDB";

struct MysqlCloser {
    void operator()(MYSQL *m) const { mysql_close(m); }
};
struct StmtCloser {
    void operator()(MYSQL_STMT *s) const { mysql_stmt_close(s); }
};
struct ResultFree {
    void operator()(MYSQL_RES *r) const { mysql_free_result(r); }
};
using MysqlPtr = std::unique_ptr<MYSQL, MysqlCloser>;
using StmtPtr = std::unique_ptr<MYSQL_STMT, StmtCloser>;
using ResPtr = std::unique_ptr<MYSQL_RES, ResultFree>;

HRESULT codeOf(unsigned err) {
    switch (err) {
    case 1146:
    case 1051:
        return kNoTable;
    case 1064:
    case 1054:
        return kSyntax;
    case 1050:
        return kTableExists;
    case 1062:
    case 1048:
        return kConstraint;
    case 1406:
    case 1366:
    case 1264:
        return kBadValue;
    case 1205:
    case 2013:
        return kBusy;
    default:
        return kFail;
    }
}

ComError connError(MYSQL *m) {
    return {codeOf(mysql_errno(m)), mysql_error(m), kSource};
}
ComError stmtError(MYSQL_STMT *s) {
    return {codeOf(mysql_stmt_errno(s)), mysql_stmt_error(s), kSource};
}

bool isInteger(enum_field_types t) {
    return t == MYSQL_TYPE_TINY || t == MYSQL_TYPE_SHORT || t == MYSQL_TYPE_LONG ||
           t == MYSQL_TYPE_LONGLONG || t == MYSQL_TYPE_INT24 || t == MYSQL_TYPE_YEAR ||
           t == MYSQL_TYPE_BIT;
}
bool isDate(enum_field_types t) {
    return t == MYSQL_TYPE_DATE || t == MYSQL_TYPE_DATETIME || t == MYSQL_TYPE_TIMESTAMP ||
           t == MYSQL_TYPE_NEWDATE || t == MYSQL_TYPE_TIME;
}
bool isDecimal(enum_field_types t) {
    return t == MYSQL_TYPE_DECIMAL || t == MYSQL_TYPE_NEWDECIMAL;
}

VarType kindOf(const MYSQL_FIELD &f) {
    if (isInteger(f.type)) return VT_I4;
    if (f.type == MYSQL_TYPE_FLOAT) return VT_R4;
    if (f.type == MYSQL_TYPE_DOUBLE || isDecimal(f.type)) return VT_R8;
    if (isDate(f.type)) return VT_DATE;
    if (f.type == MYSQL_TYPE_NULL) return VT_EMPTY;
    return f.charsetnr == 63 ? VT_BYTES : VT_BSTR;
}

Variant integer(int64_t v) {
    if (v >= INT32_MIN && v <= INT32_MAX) return Variant::I4(static_cast<int32_t>(v));
    return Variant::I8(v);
}

double oleOf(const MYSQL_TIME &t) {
    if (t.time_type == MYSQL_TIMESTAMP_TIME) {
        double day = (t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0;
        return t.neg ? -day : day;
    }
    return OleFromParts(static_cast<int>(t.year), static_cast<int>(t.month),
                        static_cast<int>(t.day), static_cast<int>(t.hour),
                        static_cast<int>(t.minute),
                        static_cast<int>(t.second + (t.second_part >= 500000 ? 1 : 0)));
}

bool returnsRows(const std::string &sql) {
    size_t a = sql.find_first_not_of(" \t\r\n(");
    if (a == std::string::npos) return false;
    std::string word = Lower(sql.substr(a, 8));
    for (const char *w : {"select", "show", "desc", "explain", "with", "values"})
        if (word.rfind(w, 0) == 0) return true;
    return false;
}

bool changesSchema(const std::string &sql) {
    size_t a = sql.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return false;
    std::string word = Lower(sql.substr(a, 6));
    return word == "create" || word == "alter " || word == "drop t" || word.rfind("drop", 0) == 0;
}

class MariaDbSession : public Session {
public:
    explicit MariaDbSession(MysqlPtr db) : db_(std::move(db)) {}

    Result Run(const std::string &sql, const std::vector<Variant> &params) override {
        MYSQL *m = handle();
        std::string text = RewriteTop(sql);
        if (changesSchema(text)) tables_.clear();
        if (params.empty() && !returnsRows(text)) return plain(m, text);
        return prepared(m, text, params);
    }

    void Close() override { db_.reset(); }

    void SetCommandTimeout(int32_t seconds) override {
        if (!db_) return;
        unsigned t = seconds > 0 ? static_cast<unsigned>(seconds) : 0;
        mysql_options(db_.get(), MYSQL_OPT_READ_TIMEOUT, &t);
        mysql_options(db_.get(), MYSQL_OPT_WRITE_TIMEOUT, &t);
    }

    std::string DefaultDatabase() override {
        Result r = Run("SELECT DATABASE()", {});
        return r.rows.empty() ? "" : r.rows[0][0].AsUtf8();
    }

    void SetDefaultDatabase(const std::string &name) override {
        MYSQL *m = handle();
        if (mysql_select_db(m, name.c_str()) != 0) throw connError(m);
        tables_.clear();
    }

    std::vector<std::string> TableNames() override {
        Result r = Run("SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = "
                       "DATABASE() ORDER BY TABLE_NAME",
                       {});
        std::vector<std::string> names;
        for (auto &row : r.rows)
            names.push_back(row[0].AsUtf8());
        return names;
    }

    std::vector<TableColumn> Columns(const std::string &table) override {
        return info(table).columns;
    }

    std::string ColumnDdl(int32_t type, int32_t size, bool autoIncrement) override {
        if (autoIncrement) return "INT AUTO_INCREMENT PRIMARY KEY";
        switch (type) {
        case adSmallInt:
            return "SMALLINT";
        case adInteger:
            return "INT";
        case adSingle:
            return "FLOAT";
        case adDouble:
            return "DOUBLE";
        case adDate:
        case adDBTimeStamp:
            return "DATETIME";
        case adBoolean:
            return "TINYINT(1)";
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
        std::string out = "`";
        for (char c : id) {
            if (c == '`') out += '`';
            out += c;
        }
        return out + "`";
    }

    std::string EditableSelect(const std::string &sql, size_t fromPos, const std::string &table,
                               size_t *hidden) override {
        *hidden = info(table).columns.size();
        return sql.substr(0, fromPos) + ", " + table + ".* " + sql.substr(fromPos);
    }

    std::string EmptySelect(const std::string &sql) override { return sql + " LIMIT 0"; }

    std::string Locate(const std::string &table, const std::vector<ColumnInfo> &columns,
                       const std::vector<Variant> &values, size_t visible,
                       std::vector<Variant> *params) override {
        const TableInfo &t = info(table);
        std::string where;
        auto hiddenIndex = [&](const std::string &name) -> size_t {
            for (size_t h = visible; h < columns.size(); ++h)
                if (Lower(columns[h].name) == Lower(name)) return h;
            throw ComError(kFail, "Insufficient base table information for updating or "
                                  "refreshing.");
        };
        if (!t.primaryKey.empty()) {
            for (const std::string &k : t.primaryKey) {
                if (!where.empty()) where += " AND ";
                where += Quote(k) + " = ?";
                params->push_back(values[hiddenIndex(k)]);
            }
            return where;
        }
        for (size_t h = visible; h < columns.size(); ++h) {
            if (!where.empty()) where += " AND ";
            where += Quote(columns[h].name) + " <=> ?";
            params->push_back(values[h]);
        }
        if (where.empty())
            throw ComError(kFail, "Insufficient base table information for updating or "
                                  "refreshing.");
        return where + " LIMIT 1";
    }

    Variant InsertedIdentity(const std::string &table, const std::string &column,
                             int64_t insertId) override {
        for (const TableColumn &c : info(table).columns)
            if (c.autoIncrement && Lower(c.name) == Lower(column)) return integer(insertId);
        return Variant::Null();
    }

private:
    struct TableInfo {
        std::vector<TableColumn> columns;
        std::vector<std::string> primaryKey;
    };

    MYSQL *handle() {
        if (!db_)
            throw ComError(kObjectClosed, "Operation is not allowed when the object is closed.");
        return db_.get();
    }

    const TableInfo &info(const std::string &table) {
        auto it = tables_.find(table);
        if (it != tables_.end()) return it->second;
        TableInfo t;
        Result cols = Run("SELECT COLUMN_NAME, EXTRA FROM information_schema.COLUMNS WHERE "
                          "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = ? ORDER BY ORDINAL_POSITION",
                          {Variant::Utf8(table)});
        for (auto &row : cols.rows)
            t.columns.push_back({row[0].AsUtf8(), Lower(row[1].AsUtf8()).find("auto_increment") !=
                                                      std::string::npos});
        Result pk = Run("SELECT COLUMN_NAME FROM information_schema.KEY_COLUMN_USAGE WHERE "
                        "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = ? AND CONSTRAINT_NAME = "
                        "'PRIMARY' ORDER BY ORDINAL_POSITION",
                        {Variant::Utf8(table)});
        for (auto &row : pk.rows)
            t.primaryKey.push_back(row[0].AsUtf8());
        return tables_[table] = std::move(t);
    }

    Result plain(MYSQL *m, const std::string &text) {
        if (mysql_real_query(m, text.data(), text.size()) != 0) throw connError(m);
        Result r;
        ResPtr res(mysql_store_result(m));
        if (!res) {
            if (mysql_field_count(m) != 0) throw connError(m);
            r.affected = static_cast<int64_t>(mysql_affected_rows(m));
            r.insertId = static_cast<int64_t>(mysql_insert_id(m));
            return r;
        }
        // A row statement sent as text: values come as text and are read by column type.
        unsigned n = mysql_num_fields(res.get());
        MYSQL_FIELD *fields = mysql_fetch_fields(res.get());
        r.hasRows = true;
        for (unsigned k = 0; k < n; ++k)
            r.columns.push_back({fields[k].name, kindOf(fields[k])});
        while (MYSQL_ROW row = mysql_fetch_row(res.get())) {
            unsigned long *len = mysql_fetch_lengths(res.get());
            std::vector<Variant> out;
            for (unsigned k = 0; k < n; ++k) {
                if (!row[k]) {
                    out.push_back(Variant::Null());
                    continue;
                }
                std::string v(row[k], len[k]);
                switch (kindOf(fields[k])) {
                case VT_I4:
                    out.push_back(integer(std::strtoll(v.c_str(), nullptr, 10)));
                    break;
                case VT_R4:
                    out.push_back(Variant::R4(std::strtof(v.c_str(), nullptr)));
                    break;
                case VT_R8:
                    out.push_back(Variant::R8(std::strtod(v.c_str(), nullptr)));
                    break;
                case VT_DATE: {
                    double ole = 0;
                    out.push_back(ParseDateText(v, &ole) ? Variant::Date(ole) : Variant::Utf8(v));
                    break;
                }
                case VT_BYTES:
                    out.push_back(Variant::Bytes(std::vector<uint8_t>(v.begin(), v.end())));
                    break;
                default:
                    out.push_back(Variant::Utf8(v));
                }
            }
            r.rows.push_back(std::move(out));
        }
        return r;
    }

    Result prepared(MYSQL *m, const std::string &text, const std::vector<Variant> &params) {
        StmtPtr stmt(mysql_stmt_init(m));
        if (!stmt) throw connError(m);
        MYSQL_STMT *s = stmt.get();
        if (mysql_stmt_prepare(s, text.data(), text.size()) != 0) throw stmtError(s);
        unsigned long count = mysql_stmt_param_count(s);
        if (count > params.size())
            throw ComError(kMissingParams, "No value given for one or more required parameters.",
                           kSource);
        std::vector<MYSQL_BIND> in(count);
        std::vector<int64_t> ints(count);
        std::vector<float> floats(count);
        std::vector<double> doubles(count);
        std::vector<MYSQL_TIME> times(count);
        std::vector<std::string> texts(count);
        std::vector<unsigned long> lengths(count);
        for (unsigned long k = 0; k < count; ++k) {
            const Variant &v = params[k];
            MYSQL_BIND &b = in[k];
            std::memset(&b, 0, sizeof b);
            switch (v.vt) {
            case VT_I2:
            case VT_I4:
            case VT_I8:
            case VT_BOOL:
                ints[k] = v.i;
                b.buffer_type = MYSQL_TYPE_LONGLONG;
                b.buffer = &ints[k];
                break;
            case VT_R4:
                floats[k] = static_cast<float>(v.d);
                b.buffer_type = MYSQL_TYPE_FLOAT;
                b.buffer = &floats[k];
                break;
            case VT_R8:
                doubles[k] = v.d;
                b.buffer_type = MYSQL_TYPE_DOUBLE;
                b.buffer = &doubles[k];
                break;
            case VT_DATE: {
                DateParts p = PartsFromOle(v.d);
                MYSQL_TIME &t = times[k];
                std::memset(&t, 0, sizeof t);
                t.year = static_cast<unsigned>(p.year);
                t.month = static_cast<unsigned>(p.month);
                t.day = static_cast<unsigned>(p.day);
                t.hour = static_cast<unsigned>(p.hour);
                t.minute = static_cast<unsigned>(p.minute);
                t.second = static_cast<unsigned>(p.second);
                t.time_type = MYSQL_TIMESTAMP_DATETIME;
                b.buffer_type = MYSQL_TYPE_DATETIME;
                b.buffer = &t;
                break;
            }
            case VT_BSTR:
            case VT_BYTES:
                texts[k] =
                    v.vt == VT_BSTR ? ToUtf8(v.s) : std::string(v.bytes.begin(), v.bytes.end());
                lengths[k] = texts[k].size();
                b.buffer_type = v.vt == VT_BSTR ? MYSQL_TYPE_STRING : MYSQL_TYPE_BLOB;
                b.buffer = texts[k].data();
                b.buffer_length = lengths[k];
                b.length = &lengths[k];
                break;
            default:
                b.buffer_type = MYSQL_TYPE_NULL;
            }
        }
        if (count && mysql_stmt_bind_param(s, in.data()) != 0) throw stmtError(s);
        if (mysql_stmt_execute(s) != 0) throw stmtError(s);
        Result r;
        ResPtr meta(mysql_stmt_result_metadata(s));
        if (!meta) {
            r.affected = static_cast<int64_t>(mysql_stmt_affected_rows(s));
            r.insertId = static_cast<int64_t>(mysql_stmt_insert_id(s));
            return r;
        }
        my_bool update = 1;
        mysql_stmt_attr_set(s, STMT_ATTR_UPDATE_MAX_LENGTH, &update);
        if (mysql_stmt_store_result(s) != 0) throw stmtError(s);
        unsigned n = mysql_num_fields(meta.get());
        MYSQL_FIELD *fields = mysql_fetch_fields(meta.get());
        r.hasRows = true;
        std::vector<MYSQL_BIND> out(n);
        std::vector<std::vector<char>> buffers(n);
        std::vector<unsigned long> outLen(n);
        std::vector<my_bool> nulls(n), errors(n);
        for (unsigned k = 0; k < n; ++k) {
            const MYSQL_FIELD &f = fields[k];
            r.columns.push_back({f.name, kindOf(f)});
            MYSQL_BIND &b = out[k];
            std::memset(&b, 0, sizeof b);
            if (isInteger(f.type)) {
                b.buffer_type = MYSQL_TYPE_LONGLONG;
                buffers[k].resize(8);
                b.is_unsigned = (f.flags & UNSIGNED_FLAG) != 0;
            } else if (f.type == MYSQL_TYPE_FLOAT) {
                b.buffer_type = MYSQL_TYPE_FLOAT;
                buffers[k].resize(4);
            } else if (f.type == MYSQL_TYPE_DOUBLE) {
                b.buffer_type = MYSQL_TYPE_DOUBLE;
                buffers[k].resize(8);
            } else if (isDate(f.type)) {
                b.buffer_type = f.type == MYSQL_TYPE_TIME ? MYSQL_TYPE_TIME : MYSQL_TYPE_DATETIME;
                buffers[k].resize(sizeof(MYSQL_TIME));
            } else {
                b.buffer_type = MYSQL_TYPE_STRING;
                buffers[k].resize(f.max_length + 1);
            }
            b.buffer = buffers[k].data();
            b.buffer_length = buffers[k].size();
            b.length = &outLen[k];
            b.is_null = &nulls[k];
            b.error = &errors[k];
        }
        if (mysql_stmt_bind_result(s, out.data()) != 0) throw stmtError(s);
        for (;;) {
            int rc = mysql_stmt_fetch(s);
            if (rc == MYSQL_NO_DATA) break;
            if (rc == 1) throw stmtError(s);
            std::vector<Variant> row;
            for (unsigned k = 0; k < n; ++k) {
                const MYSQL_FIELD &f = fields[k];
                const char *p = buffers[k].data();
                if (nulls[k]) {
                    row.push_back(Variant::Null());
                } else if (isInteger(f.type)) {
                    int64_t v;
                    std::memcpy(&v, p, 8);
                    if (out[k].is_unsigned && static_cast<uint64_t>(v) > INT64_MAX)
                        row.push_back(Variant::R8(static_cast<double>(static_cast<uint64_t>(v))));
                    else
                        row.push_back(integer(v));
                } else if (f.type == MYSQL_TYPE_FLOAT) {
                    float v;
                    std::memcpy(&v, p, 4);
                    row.push_back(Variant::R4(v));
                } else if (f.type == MYSQL_TYPE_DOUBLE) {
                    double v;
                    std::memcpy(&v, p, 8);
                    row.push_back(Variant::R8(v));
                } else if (isDate(f.type)) {
                    MYSQL_TIME t;
                    std::memcpy(&t, p, sizeof t);
                    row.push_back(Variant::Date(oleOf(t)));
                } else {
                    std::string v(p, std::min<size_t>(outLen[k], buffers[k].size()));
                    if (isDecimal(f.type))
                        row.push_back(Variant::R8(std::strtod(v.c_str(), nullptr)));
                    else if (f.charsetnr == 63)
                        row.push_back(Variant::Bytes(std::vector<uint8_t>(v.begin(), v.end())));
                    else
                        row.push_back(Variant::Utf8(v));
                }
            }
            r.rows.push_back(std::move(row));
        }
        return r;
    }

    MysqlPtr db_;
    std::map<std::string, TableInfo> tables_;
};

MysqlPtr connect(const ConnectionProps &props, bool withDatabase) {
    InitMariaDbLibrary();
    MysqlPtr db(mysql_init(nullptr));
    if (!db) throw ComError(kFail, "out of memory", kSource);
    unsigned connectTimeout = props.connectionTimeout > 0 ? props.connectionTimeout : 0;
    unsigned commandTimeout = props.commandTimeout > 0 ? props.commandTimeout : 0;
    mysql_options(db.get(), MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    mysql_options(db.get(), MYSQL_OPT_READ_TIMEOUT, &commandTimeout);
    mysql_options(db.get(), MYSQL_OPT_WRITE_TIMEOUT, &commandTimeout);
    mysql_options(db.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
    auto first = [&](std::initializer_list<const char *> keys) {
        for (const char *k : keys)
            if (!props.Get(k).empty()) return props.Get(k);
        return std::string();
    };
    std::string host = first({"server", "data source", "host"});
    std::string port = props.Get("port");
    std::string database = first({"database", "initial catalog"});
    std::string user = first({"uid", "user id", "user"});
    std::string pwd = first({"pwd", "password"});
    unsigned portNumber =
        port.empty() ? 3306u : static_cast<unsigned>(std::strtoul(port.c_str(), nullptr, 10));
    if (!mysql_real_connect(db.get(), host.empty() ? "127.0.0.1" : host.c_str(), user.c_str(),
                            pwd.c_str(),
                            withDatabase && !database.empty() ? database.c_str() : nullptr,
                            portNumber, nullptr, CLIENT_FOUND_ROWS)) {
        ComError e = connError(db.get());
        e.hr = kFail;
        throw e;
    }
    const char mode[] = "SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')";
    if (mysql_real_query(db.get(), mode, sizeof mode - 1) != 0) throw connError(db.get());
    mysql_autocommit(db.get(), 1);
    return db;
}

class MariaDbEngine : public Backend {
public:
    std::unique_ptr<Session> Open(const ConnectionProps &props) override {
        return std::make_unique<MariaDbSession>(connect(props, true));
    }

    void Create(const ConnectionProps &props) override {
        std::string database = props.Get("database");
        if (database.empty()) database = props.Get("initial catalog");
        MariaDbSession s(connect(props, false));
        try {
            s.Run("CREATE DATABASE " + s.Quote(database), {});
        } catch (ComError &e) {
            e.hr = kFail;
            throw;
        }
    }
};

} // namespace

void InitMariaDbLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

Backend &MariaDbBackend() {
    static MariaDbEngine engine;
    return engine;
}

} // namespace ado
