// Archive and purge of the saved logger configurations of a configuration database: the runs of
// one logger that started before a limit are copied into an archive database (Jet or SQL
// Server), then deleted with the configuration rows nothing references any more.
#include "dbacc.h"

#include "plat_cp1252.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using ado::Variant;

std::string u8(const std::string &cp1252) {
    return plat_Cp1252ToUtf8(cp1252);
}

void replaceAll(std::string *text, const std::string &from, const std::string &to) {
    for (size_t at = text->find(from); at != std::string::npos;
         at = text->find(from, at + to.size()))
        text->replace(at, from.size(), to);
}

// The text after the first '=' that follows the key, up to ';' (case-sensitive).
bool readItem(const std::string &text, const char *key, std::string *value) {
    size_t at = text.find(key);
    if (at == std::string::npos) return false;
    size_t eq = text.find('=', at);
    if (eq == std::string::npos) return false;
    size_t end = text.find(';', eq + 1);
    *value = text.substr(eq + 1, end == std::string::npos ? std::string::npos : end - eq - 1);
    return true;
}
std::string dataSource(const std::string &text) {
    std::string v;
    if (readItem(text, "Data Source", &v) || readItem(text, "Server", &v)) return v;
    return "";
}
std::string databaseName(const std::string &text) {
    std::string v;
    if (readItem(text, "Initial Catalog", &v) || readItem(text, "Database", &v)) return v;
    return "";
}

// The Provider item's value and the string without that item.
void splitProvider(const std::string &text, std::string *provider, std::string *rest) {
    provider->clear();
    rest->clear();
    size_t from = 0;
    while (from <= text.size()) {
        size_t end = text.find(';', from);
        std::string item =
            text.substr(from, end == std::string::npos ? std::string::npos : end - from);
        std::string key = item.substr(0, item.find('='));
        while (!key.empty() && key.front() == ' ')
            key.erase(0, 1);
        bool isProvider = key.size() >= 8 && (key.compare(0, 8, "Provider") == 0 ||
                                              key.compare(0, 8, "PROVIDER") == 0 ||
                                              key.compare(0, 8, "provider") == 0);
        if (isProvider && item.find('=') != std::string::npos) {
            *provider = item.substr(item.find('=') + 1);
        } else if (!item.empty()) {
            if (!rest->empty()) *rest += ";";
            *rest += item;
        }
        if (end == std::string::npos) break;
        from = end + 1;
    }
}

std::string format(const char *pattern, const std::vector<std::string> &args) {
    std::string out;
    size_t k = 0;
    for (const char *p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += k < args.size() ? args[k++] : "";
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

constexpr int32_t kFail = static_cast<int32_t>(0x80004005);

// One archive run: the operation's Connection and the names its statements use.
struct Archive {
    ado::Connection *conn = nullptr;
    bool jet = false;
    std::string in;          // the Jet IN clause's data source
    std::string arcPrefix;   // "<archive database>.dbo." or ""
    std::string cfgProvider; // OPENROWSET's provider and connection text
    std::string cfgRest;
    std::string cfgDatabase;
    ado::Catalog *catalog = nullptr;
    bool failed = false;

    Variant i4(int32_t v) const { return Variant::I4(v); }

    void run(const std::string &sql, const std::vector<Variant> &values,
             const std::vector<int32_t> &types, bool longTimeout) {
        ado::Command cmd;
        cmd.activeConnection = conn;
        cmd.commandText = u8(sql);
        cmd.commandType = ado::adCmdText;
        if (longTimeout) cmd.commandTimeout = 300;
        for (size_t k = 0; k < values.size(); ++k) {
            int32_t size =
                types[k] == ado::adVarWChar ? static_cast<int32_t>(values[k].s.size()) : 0;
            cmd.parameters.push_back(ado::Command::CreateParameter("Param" + std::to_string(k + 1),
                                                                   types[k], 1, size, values[k]));
        }
        cmd.Execute();
    }

    // The source of a copy: named directly next to IDENTITY_INSERT, else read through
    // OPENROWSET.
    std::string source(const std::string &table, bool bracketed) const {
        if (bracketed) return cfgDatabase + ".dbo." + table;
        return "OPENROWSET ('" + cfgProvider + "', '" + cfgRest + "', " + cfgDatabase + ".dbo." +
               table + ")";
    }

    // Whether the archive table has an auto-increment column.
    bool identity(const std::string &table) {
        try {
            ado::Table t = catalog->TableItem(table + "_Arc");
            for (const ado::Column &c : t.columns)
                if (c.GetProperty("AutoIncrement").AsInt() != 0) return true;
        } catch (const ado::ComError &) {
        }
        return false;
    }

    int32_t ensureTable(const std::string &table) {
        try {
            try {
                catalog->TableItem(table + "_Arc");
                return 0;
            } catch (const ado::ComError &e) {
                if (e.hr != ado::kItemNotFound) throw;
            }
            if (jet)
                run(format("SELECT * INTO %s FROM %s IN %s WHERE 1=0", {table + "_Arc", table, in}),
                    {}, {}, false);
            else
                run(format("SELECT * INTO %s%s FROM %s WHERE 1=0",
                           {arcPrefix, table + "_Arc", source(table, false)}),
                    {}, {}, false);
            return 0;
        } catch (const ado::ComError &e) {
            TraceComError(e);
            return kFail;
        }
    }

    int32_t copyRun(int32_t idLogger, int32_t idConfig, const std::string &table, double before) {
        const int32_t I = ado::adInteger, D = ado::adDate;
        try {
            const std::string dataArc = table + "_Arc";
            if (jet) {
                run(format("INSERT INTO %s SELECT * FROM %s IN %s WHERE LoggerID = ? AND TS < ? "
                           "AND TS NOT IN (SELECT TS FROM %s WHERE LoggerID = ?)",
                           {dataArc, table, in, dataArc}),
                    {i4(idLogger), Variant::Date(before), i4(idLogger)}, {I, D, I}, true);
                // The archive keeps the latest state of the run's row.
                run(format("DELETE FROM %s WHERE IDLogger = ?", {"Loggers_Arc"}), {i4(idLogger)},
                    {I}, true);
                run(format("INSERT INTO %s (IDLogger, IDLoggerConfig, sLogName, sComments, "
                           "dStartTime, dStopTime, bCompleted, nStopReason, sMainTableName, "
                           "nLogRate, nParameters) SELECT * FROM %s IN %s WHERE IDLogger = ? AND "
                           "IDLogger NOT IN (SELECT DISTINCT IDLogger FROM %s)",
                           {"Loggers_Arc", "Loggers", in, "Loggers_Arc"}),
                    {i4(idLogger)}, {I}, true);
                run(format("INSERT INTO %s (IDLoggerConfig, sName, sDescription) SELECT * FROM "
                           "%s IN %s WHERE IDLoggerConfig = ? AND NOT EXISTS (SELECT * FROM %s "
                           "WHERE IDLoggerConfig = ?)",
                           {"SavedLoggerConfig_Arc", "SavedLoggerConfig", in,
                            "SavedLoggerConfig_Arc"}),
                    {i4(idConfig), i4(idConfig)}, {I, I}, true);
                run(format("INSERT INTO %s SELECT * FROM %s IN %s WHERE IDLoggerConfig = ? AND "
                           "NOT EXISTS (SELECT * FROM %s WHERE IDLoggerConfig = ?)",
                           {"SavedLoggerTags_Arc", "SavedLoggerTags", in, "SavedLoggerTags_Arc"}),
                    {i4(idConfig), i4(idConfig)}, {I, I}, true);
                run(format("INSERT INTO %s (IDOPCServer, sOPCNode, sOPCServer) SELECT * FROM %s "
                           "IN %s WHERE IDOPCServer IN (SELECT DISTINCT IDOPCServer FROM %s WHERE "
                           "IDLoggerConfig = ?) AND IDOPCServer NOT IN (SELECT IDOPCServer FROM "
                           "%s)",
                           {"SavedOPCServers_Arc", "SavedOPCServers", in, "SavedLoggerTags_Arc",
                            "SavedOPCServers_Arc"}),
                    {i4(idConfig)}, {I}, true);
                return 0;
            }
            const std::string &p = arcPrefix;
            run(format("INSERT INTO %s%s SELECT * FROM %s WHERE LoggerID = ? AND TS < ? AND TS "
                       "NOT IN (SELECT TS FROM %s%s WHERE LoggerID = ?)",
                       {p, dataArc, source(table, false), p, dataArc}),
                {i4(idLogger), Variant::Date(before), i4(idLogger)}, {I, D, I}, false);
            run(format("DELETE FROM %s%s WHERE IDLogger = ?", {p, "Loggers_Arc"}), {i4(idLogger)},
                {I}, false);
            const char *loggersColumns =
                " (IDLogger, IDLoggerConfig, sLogName, sComments, dStartTime, dStopTime, "
                "bCompleted, nStopReason, sMainTableName, nLogRate, nParameters) SELECT * FROM %s "
                "WHERE IDLogger = ? AND IDLogger NOT IN (SELECT DISTINCT IDLogger FROM %s%s)";
            copyConfigured("Loggers", std::string("INSERT INTO %s%s") + loggersColumns,
                           {i4(idLogger)}, {I}, 1);
            copyConfigured("SavedLoggerConfig",
                           "INSERT INTO %s%s (IDLoggerConfig, sName, sDescription) SELECT * FROM "
                           "%s WHERE IDLoggerConfig = ? AND NOT EXISTS (SELECT * FROM %s%s WHERE "
                           "IDLoggerConfig = ?)",
                           {i4(idConfig), i4(idConfig)}, {I, I}, 1);
            run(format("INSERT INTO %s%s SELECT * FROM %s WHERE IDLoggerConfig = ? AND NOT EXISTS "
                       "(SELECT * FROM %s%s WHERE IDLoggerConfig = ?)",
                       {p, "SavedLoggerTags_Arc", source("SavedLoggerTags", false), p,
                        "SavedLoggerTags_Arc"}),
                {i4(idConfig), i4(idConfig)}, {I, I}, false);
            copyConfigured("SavedOPCServers",
                           "INSERT INTO %s%s (IDOPCServer, sOPCNode, sOPCServer) SELECT * FROM %s "
                           "WHERE IDOPCServer IN (SELECT DISTINCT IDOPCServer FROM %s%s WHERE "
                           "IDLoggerConfig = ?) AND IDOPCServer NOT IN (SELECT IDOPCServer FROM "
                           "%s%s)",
                           {i4(idConfig)}, {I}, 2);
            return 0;
        } catch (const ado::ComError &e) {
            TraceComError(e);
            return kFail;
        }
    }

    // A SQL Server INSERT of a configuration table, bracketed with IDENTITY_INSERT when the
    // archive table has an identity column. `tails` is 1 (the archive table again) or 2 (the
    // archived tags, then the archive table).
    void copyConfigured(const std::string &table, const std::string &insert,
                        const std::vector<Variant> &values, const std::vector<int32_t> &types,
                        int tails) {
        const std::string arc = table + "_Arc";
        bool bracketed = identity(table);
        std::vector<std::string> args = {arcPrefix, arc, source(table, bracketed)};
        if (tails == 2) {
            args.insert(args.end(), {arcPrefix, "SavedLoggerTags_Arc"});
        }
        args.insert(args.end(), {arcPrefix, arc});
        std::string sql = format(insert.c_str(), args);
        if (bracketed)
            sql = "SET IDENTITY_INSERT " + arcPrefix + arc + " ON " + sql +
                  " SET IDENTITY_INSERT " + arcPrefix + arc + " OFF";
        run(sql, values, types, false);
    }

    int32_t deleteRun(int32_t idLogger, const std::string &table, double before) {
        const int32_t I = ado::adInteger, D = ado::adDate;
        try {
            if (jet) {
                run(format("DELETE FROM %s WHERE LoggerID = ? AND TS < ?", {table}),
                    {i4(idLogger), Variant::Date(before)}, {I, D}, false);
                run(format("DELETE FROM %s WHERE IDLogger = ? AND bCompleted <> 0 AND NOT EXISTS "
                           "(SELECT * FROM %s WHERE LoggerID = ?) AND dStopTime < ?",
                           {"Loggers", table}),
                    {i4(idLogger), i4(idLogger), Variant::Date(before)}, {I, I, D}, false);
            } else {
                run(format("DELETE FROM %s WHERE LoggerID = ? AND TS < ? DELETE FROM %s WHERE "
                           "IDLogger = ? AND dStopTime < ? AND bCompleted <> 0 AND NOT EXISTS "
                           "(SELECT * FROM %s WHERE LoggerID = ?)",
                           {table, "Loggers", table}),
                    {i4(idLogger), Variant::Date(before), i4(idLogger), Variant::Date(before),
                     i4(idLogger)},
                    {I, D, I, D, I}, false);
            }
            return 0;
        } catch (const ado::ComError &e) {
            TraceComError(e);
            return kFail;
        }
    }

    int32_t deleteOrphans() {
        const std::string a = format(
            "DELETE FROM %s WHERE IDLoggerConfig NOT IN (SELECT DISTINCT IDLoggerConfig FROM %s)",
            {"SavedLoggerConfig", "Loggers"});
        const std::string b = format(
            "DELETE FROM %s WHERE IDLoggerConfig NOT IN (SELECT DISTINCT IDLoggerConfig FROM %s)",
            {"SavedLoggerTags", "SavedLoggerConfig"});
        const std::string c =
            format("DELETE FROM %s WHERE IDOPCServer NOT IN (SELECT DISTINCT IDOPCServer FROM %s)",
                   {"SavedOPCServers", "SavedLoggerTags"});
        try {
            if (jet) {
                run(a, {}, {}, true);
                run(b, {}, {}, true);
                run(c, {}, {}, true);
            } else {
                run(a + " " + b + " " + c, {}, {}, true);
            }
            return 0;
        } catch (const ado::ComError &e) {
            TraceComError(e);
            return kFail;
        }
    }
};

} // namespace

int32_t CLogITDbDataAcc::ArchiveLoggers(const std::u16string &loggerName, int32_t, int32_t,
                                        const std::u16string &connection,
                                        const std::u16string &archiveConnection,
                                        const std::u16string &database, int32_t archive,
                                        double before) {
    std::string cfg = plat_Utf16ToCp1252(connection);
    std::string arc = plat_Utf16ToCp1252(archiveConnection);
    const std::string db = plat_Utf16ToCp1252(database);
    for (std::string *text : {&cfg, &arc}) {
        replaceAll(text, "User ID", "uid");
        replaceAll(text, "Password", "pwd");
    }
    auto conn = std::make_unique<ado::Connection>();
    auto catalog = std::make_unique<ado::Catalog>();
    Archive a;
    a.conn = conn.get();
    a.catalog = catalog.get();
    a.jet = arc.find("Jet") != std::string::npos || arc.find("jet") != std::string::npos;
    a.in = dataSource(db);
    std::string arcDatabase = databaseName(arc);
    a.arcPrefix = arcDatabase.empty() ? "" : arcDatabase + ".dbo.";
    splitProvider(cfg, &a.cfgProvider, &a.cfgRest);
    a.cfgDatabase = databaseName(cfg);
    bool failed = false;
    try {
        conn->Open(u8(cfg));
        if (archive >= 1) {
            try {
                catalog->Create(u8(arc));
            } catch (const ado::ComError &e) {
                TraceComError(e); // the archive may exist already
            }
            if (u8(db) != conn->DefaultDatabase()) conn->SetDefaultDatabase(u8(db));
            catalog->SetActiveConnection(*conn);
            for (const char *table :
                 {"Loggers", "SavedLoggerConfig", "SavedLoggerTags", "SavedOPCServers"})
                failed |= a.ensureTable(table) != 0;
        }
        ado::Command select;
        select.activeConnection = conn.get();
        select.commandText = "SELECT IDLogger, IDLoggerConfig, sMainTableName FROM   Loggers "
                             "WHERE  (dStartTime < ?) AND (sLogName = ?)";
        select.parameters.push_back(
            ado::Command::CreateParameter("Param1", ado::adDate, 1, 0, Variant::Date(before)));
        select.parameters.push_back(ado::Command::CreateParameter(
            "Param2", ado::adVarWChar, 1, static_cast<int32_t>(loggerName.size()),
            Variant::Str(loggerName)));
        std::unique_ptr<ado::Recordset> rs = select.Execute();
        std::map<int32_t, std::string> runs;
        while (rs && !rs->Eof()) {
            int32_t idLogger = static_cast<int32_t>(rs->Collect(Variant::Utf8("IDLogger")).AsInt());
            int32_t idConfig =
                static_cast<int32_t>(rs->Collect(Variant::Utf8("IDLoggerConfig")).AsInt());
            Variant name = rs->Collect(Variant::Utf8("sMainTableName"));
            std::string table = name.IsEmptyOrNull() ? "" : plat_Utf8ToCp1252(name.AsUtf8());
            while (!table.empty() && table.back() == ' ')
                table.pop_back();
            if (!table.empty()) {
                if (archive >= 1) {
                    failed |= a.ensureTable(table) != 0;
                    // Nothing is deleted unless every copy went through.
                    if (a.copyRun(idLogger, idConfig, table, before) != 0) return kFail;
                }
                runs[idLogger] = table;
            }
            rs->MoveNext();
        }
        rs.reset();
        for (const auto &run : runs)
            failed |= a.deleteRun(run.first, run.second, before) != 0;
        failed |= a.deleteOrphans() != 0;
    } catch (const ado::ComError &e) {
        SetComError(e);
        return kFail;
    }
    return failed ? kFail : 0;
}

namespace {
// A text between single quotes, each ' doubled.
std::string quoted(const std::string &text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}
} // namespace

int32_t CLogITDbTableCopy::Execute(const std::string &sql) {
    try {
        conn_.Execute(u8(sql));
        return 0;
    } catch (const ado::ComError &e) {
        TraceComError(e);
        return -1;
    }
}

int32_t CLogITDbTableCopy::HasRows(const std::string &sql) {
    try {
        std::unique_ptr<ado::Recordset> rs = conn_.Execute(u8(sql));
        return rs && !rs->Eof() ? 1 : 0;
    } catch (const ado::ComError &e) {
        TraceComError(e);
        return -1;
    }
}

int32_t CLogITDbTableCopy::TableExists(const std::string &table, const std::string &database) {
    std::string sql = database.empty()
                          ? format("SELECT NULL FROM %s;", {table})
                          : format("SELECT NULL FROM %s IN %s ;", {table, quoted(database)});
    return Execute(sql) == 0 ? 1 : 0;
}

int32_t CLogITDbTableCopy::DropStaging(const std::string &table) {
    return Execute(format("DROP TABLE %s;", {table + "_Tmp"}));
}

int32_t CLogITDbTableCopy::SelectDistinct(const std::string &source, const std::string &where,
                                          const std::string &key, const std::string &destination,
                                          const std::string &database) {
    const std::string staging = source + "_Tmp";
    if (key.empty())
        return Execute(
            format("SELECT DISTINCT * INTO %s FROM %s WHERE %s ;", {staging, source, where}));
    if (database.empty())
        return Execute(
            format("SELECT DISTINCT * INTO %s FROM %s WHERE ( %s AND (%s NOT IN (SELECT %s FROM "
                   "%s )) ) ;",
                   {staging, source, where, key, key, destination}));
    return Execute(format("SELECT DISTINCT * INTO %s FROM %s WHERE ( %s AND (%s NOT IN (SELECT "
                          "%s FROM %s IN %s)) ) ;",
                          {staging, source, where, key, key, destination, quoted(database)}));
}

int32_t CLogITDbTableCopy::InsertRows(const std::string &destination, const std::string &database,
                                      const std::string &columns, const std::string &source,
                                      const std::string &where, bool identity) {
    const bool local = database.empty();
    std::string sql;
    if (where.empty())
        sql = local
                  ? format("INSERT INTO %s (%s) SELECT * FROM %s ;", {destination, columns, source})
                  : format("INSERT INTO %s (%s) IN %s SELECT * FROM %s ;",
                           {destination, columns, quoted(database), source});
    else
        sql = local ? format("INSERT INTO %s SELECT * FROM %s WHERE %s ;",
                             {destination, source, where})
                    : format("INSERT INTO %s IN %s SELECT * FROM %s WHERE %s ;",
                             {destination, quoted(database), source, where});
    if (!identity) return Execute(sql);
    if (Execute(format("Set IDENTITY_INSERT %s ", {destination}) + "On;") != 0) return -1;
    int32_t result = Execute(sql);
    if (Execute(format("Set IDENTITY_INSERT %s ", {destination}) + "Off;") != 0) result = -1;
    return result;
}

int32_t CLogITDbTableCopy::CopyIntoNew(const std::string &destination, const std::string &database,
                                       const std::string &source, const std::string &where) {
    const bool local = database.empty();
    if (where.empty())
        return Execute(local ? format("SELECT * INTO %s FROM %s ;", {destination, source})
                             : format("SELECT * INTO %s IN %s FROM %s ;",
                                      {destination, quoted(database), source}));
    return Execute(local
                       ? format("SELECT * INTO %s FROM %s WHERE %s ;", {destination, source, where})
                       : format("SELECT * INTO %s IN %s FROM %s WHERE %s ;",
                                {destination, quoted(database), source, where}));
}

int32_t CLogITDbTableCopy::DeleteWhere(const std::string &table, const std::string &where) {
    return Execute(format("DELETE FROM %s WHERE %s ;", {table, where}));
}
