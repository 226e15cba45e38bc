// A scripted database engine for the database layer: every statement, open, close and catalog
// creation on its provider is logged in order, and statements are answered from a script of
// rules. It speaks SQL Server's dialect: the layer rewrites nothing for it.
//
//   rec::RecordingBackend db;                 // provider "SQLOLEDB", for this test's length
//   db.error(rec::Prefix, "CREATE TABLE", 0x80040E14, "no datetime here", 1);
//   db.rows(rec::Substring, "FROM LOGGERS", {{"sLoggerName", ado::VT_BSTR}}, {{Str("B")}});
//   ... run the code ...
//   EXPECT_EQ(db.statements(), ...); EXPECT_TRUE(db.unscripted().empty());
#pragma once

#include "plat_ado.h"

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace rec {

enum Match { Prefix, Substring, Regex };

struct Entry {
    int connection = 0;
    std::string kind; // "open", "close", "create", "sql", "database"
    std::string text;
    std::vector<ado::Variant> params;
    bool unscripted = false;
};

struct Rule {
    Match match = Prefix;
    std::string pattern;
    int remaining = -1; // -1: always
    bool isError = false;
    ado::ComError error;
    bool hasRows = false;
    ado::Result result;
};

class RecordingBackend : public ado::Backend {
public:
    explicit RecordingBackend(std::string provider = "SQLOLEDB") : provider_(std::move(provider)) {
        ado::RegisterBackend(provider_, this);
    }
    ~RecordingBackend() override { ado::RegisterBackend(provider_, nullptr); }
    RecordingBackend(const RecordingBackend &) = delete;
    RecordingBackend &operator=(const RecordingBackend &) = delete;

    void ok(Match m, const std::string &pattern, int times = -1, int64_t affected = 0) {
        Rule r = rule(m, pattern, times);
        r.result.affected = affected;
        rules_.push_back(r);
    }
    void error(Match m, const std::string &pattern, uint32_t hr, const std::string &description,
               int times = -1, const std::string &source = "Microsoft OLE DB Provider") {
        Rule r = rule(m, pattern, times);
        r.isError = true;
        r.error = ado::ComError(static_cast<ado::HRESULT>(hr), description, source);
        rules_.push_back(r);
    }
    void rows(Match m, const std::string &pattern, std::vector<ado::ColumnInfo> columns,
              std::vector<std::vector<ado::Variant>> values, int times = -1,
              bool countUnknown = false) {
        Rule r = rule(m, pattern, times);
        r.hasRows = true;
        r.result.hasRows = true;
        r.result.columns = std::move(columns);
        r.result.rows = std::move(values);
        r.result.countUnknown = countUnknown;
        rules_.push_back(r);
    }
    // Tables the catalog sees, with their auto-increment column ("" for none).
    void table(const std::string &name, const std::string &autoIncrement = "") {
        tables_[name] = autoIncrement;
    }
    bool hasTable(const std::string &name) const { return tables_.count(name) != 0; }

    std::vector<Entry> log;
    std::vector<std::string> statements() const {
        std::vector<std::string> out;
        for (const Entry &e : log)
            if (e.kind == "sql") out.push_back(e.text);
        return out;
    }
    std::vector<std::string> unscripted() const {
        std::vector<std::string> out;
        for (const Entry &e : log)
            if (e.unscripted) out.push_back(e.text);
        return out;
    }

    std::unique_ptr<ado::Session> Open(const ado::ConnectionProps &props) override {
        int id = ++connections_;
        log.push_back({id, "open", props.text, {}, false});
        return std::make_unique<Session>(*this, id);
    }
    void Create(const ado::ConnectionProps &props) override {
        log.push_back({0, "create", props.text, {}, false});
        const Rule *r = match("CREATE DATABASE");
        if (r && r->isError) throw r->error;
    }

private:
    class Session : public ado::Session {
    public:
        Session(RecordingBackend &b, int id) : b_(b), id_(id) {}
        ado::Result Run(const std::string &sql, const std::vector<ado::Variant> &params) override {
            Entry e{id_, "sql", sql, params, false};
            Rule *r = b_.match(sql);
            e.unscripted = r == nullptr;
            b_.log.push_back(e);
            static const std::regex create(R"(^\s*CREATE\s+TABLE\s+\[?([A-Za-z0-9_$]+))",
                                           std::regex::icase);
            std::smatch m;
            if (r && r->isError) throw r->error;
            if (std::regex_search(sql, m, create)) b_.tables_.emplace(m[1].str(), "");
            if (r) return r->result;
            ado::Result none;
            static const std::regex select(R"(^\s*SELECT\b)", std::regex::icase);
            none.hasRows = std::regex_search(sql, select);
            return none;
        }
        void Close() override { b_.log.push_back({id_, "close", "", {}, false}); }
        void SetCommandTimeout(int32_t) override {}
        std::string DefaultDatabase() override { return b_.database_; }
        void SetDefaultDatabase(const std::string &name) override {
            b_.log.push_back({id_, "database", name, {}, false});
            b_.database_ = name;
        }
        std::vector<std::string> TableNames() override {
            std::vector<std::string> out;
            for (auto &t : b_.tables_)
                out.push_back(t.first);
            return out;
        }
        std::vector<ado::TableColumn> Columns(const std::string &table) override {
            std::vector<ado::TableColumn> out;
            auto it = b_.tables_.find(table);
            if (it != b_.tables_.end() && !it->second.empty()) out.push_back({it->second, true});
            return out;
        }
        std::string ColumnDdl(int32_t type, int32_t size, bool autoIncrement) override {
            std::string t = type == ado::adDate          ? "date"
                            : type == ado::adDBTimeStamp ? "datetime"
                            : type == ado::adInteger     ? "int"
                            : type == ado::adDouble      ? "float"
                            : type == ado::adSingle      ? "real"
                            : type == ado::adSmallInt    ? "smallint"
                            : type == ado::adBoolean     ? "bit"
                                                         : "nvarchar(" + std::to_string(size) + ")";
            return autoIncrement ? t + " IDENTITY" : t;
        }
        std::string Quote(const std::string &id) override { return "[" + id + "]"; }
        std::string EditableSelect(const std::string &sql, size_t, const std::string &,
                                   size_t *hidden) override {
            *hidden = 0;
            return sql;
        }
        std::string EmptySelect(const std::string &sql) override { return sql; }
        std::string Locate(const std::string &, const std::vector<ado::ColumnInfo> &columns,
                           const std::vector<ado::Variant> &values, size_t visible,
                           std::vector<ado::Variant> *params) override {
            std::string where;
            for (size_t k = 0; k < visible; ++k) {
                if (!where.empty()) where += " AND ";
                if (values[k].IsEmptyOrNull()) {
                    where += "[" + columns[k].name + "] IS NULL";
                } else {
                    where += "[" + columns[k].name + "] = ?";
                    params->push_back(values[k]);
                }
            }
            return where;
        }
        ado::Variant InsertedIdentity(const std::string &, const std::string &, int64_t) override {
            return ado::Variant::Null();
        }

    private:
        RecordingBackend &b_;
        int id_;
    };

    static Rule rule(Match m, const std::string &pattern, int times) {
        Rule r;
        r.match = m;
        r.pattern = pattern;
        r.remaining = times;
        return r;
    }

    Rule *match(const std::string &sql) {
        for (Rule &r : rules_) {
            if (r.remaining == 0) continue;
            bool hit = r.match == Prefix      ? sql.rfind(r.pattern, 0) == 0
                       : r.match == Substring ? sql.find(r.pattern) != std::string::npos
                                              : std::regex_search(sql, std::regex(r.pattern));
            if (!hit) continue;
            if (r.remaining > 0) --r.remaining;
            return &r;
        }
        return nullptr;
    }

    std::string provider_;
    std::vector<Rule> rules_;
    std::map<std::string, std::string> tables_;
    std::string database_;
    int connections_ = 0;
};

} // namespace rec
