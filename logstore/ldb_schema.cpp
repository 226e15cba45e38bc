// Statements, prefixes, literals and header texts of the logged-data database.
#include "ldb.h"

#include "lstore.h"
#include "plat_ado.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <strings.h>

std::string ldb_Quote(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out;
}

int ldb_IsJet(const char *connection) {
    return connection && strncasecmp(connection, "PROVIDER=MICROSOFT.JET.OLEDB", 28) == 0 ? 1 : 0;
}

std::string ldb_DateLiteral(int style, int32_t time) {
    // The fields of the stored date: the time broken down, converted when DatabaseUTC is on.
    double date = 0;
    lstore_LocalToDbTime(time, &date);
    ado::DateParts p = ado::PartsFromOle(date);
    int y = p.year, mo = p.month, d = p.day, h = p.hour, mi = p.minute, se = p.second;
    char buf[80];
    switch (style) {
    case 0:
        std::snprintf(buf, sizeof buf, "{ ts '%04d-%02d-%02d %02d:%02d:%02d.000' }", y, mo, d, h,
                      mi, se);
        return buf;
    case 1:
        std::snprintf(buf, sizeof buf, "{ ts '%04d/%02d/%02d %02d:%02d:%02d.000' }", y, mo, d, h,
                      mi, se);
        return buf;
    case 2:
        std::snprintf(buf, sizeof buf, "#%02d/%02d/%04d %02d:%02d:%02d#", mo, d, y, h, mi, se);
        return buf;
    default:
        return "";
    }
}

std::string ldb_TimeCondition(int style, const TimeStamp *from, const TimeStamp *to) {
    std::string out;
    auto bound = [&](const TimeStamp &t, const char *ms, const char *dt) {
        std::string lit = ldb_DateLiteral(style, t.seconds);
        return "((DT = " + lit + ms + std::to_string(t.milliseconds) + ") OR " + dt + lit + ") ";
    };
    if (from) out = bound(*from, " AND MS > ", "DT > ");
    if (to) {
        if (!out.empty()) out += " AND ";
        out += bound(*to, " AND MS < ", "DT < ");
    }
    return out.empty() ? out : " WHERE " + out;
}

std::string ldb_CreateLoggers(bool jetForm) {
    const char *dt = jetForm ? "date" : "datetime";
    return std::string("CREATE TABLE LOGGERS (sLoggerName char(255), nLoggerSequence integer, "
                       "dStartTime ") +
           dt + ",dStopTime " + dt +
           ", bCompleted integer, sTablePrefix char(255), sHeader char(255), bTagColumns "
           "integer, bRowsPerChannel integer, bDST integer, nTimeZone integer,bSigChange "
           "integer, sTriggerPrefix char(2), nTriggerNumber integer,sLagPrefix char(2), "
           "nLagNumber integer, dTextTime " +
           dt + ")";
}

const char LDB_LOGGERS_PRIMARY_KEY[] =
    "ALTER TABLE LOGGERS ADD CONSTRAINT PK PRIMARY KEY (sLoggerName, nLoggerSequence)";

std::string ldb_CreateChannels(const std::string &prefix) {
    return "CREATE TABLE " + prefix +
           "CHANNELS (nBlock int, sPrefix char(2), nChannelNumber integer, sSource char(32), "
           "sTag char(32), sDescription char(32), nType int,sUnits char(12), fMinScale real, "
           "fMaxScale real, sLowStateDesc char(32), sHighStateDesc char(32), sColumnName "
           "char(32), bLag integer)";
}

std::string ldb_ChannelsIndex(const std::string &prefix) {
    return "CREATE INDEX CH ON " + prefix + "CHANNELS (sPrefix, nChannelNumber)";
}

std::string ldb_CreateData(const std::string &prefix, int form, const std::string &columns) {
    static const char *const heads[] = {
        "DATA (DT datetime, MS integer, TX varchar(255) NULL",
        "DATA (DT datetime, MS integer, TX char(255) NULL",
        "DATA (DT date, MS integer, TX char(255) NULL",
    };
    return "CREATE TABLE " + prefix + heads[form < 0 || form > 2 ? 0 : form] + columns +
           ", TP float NULL)";
}

std::vector<std::string> ldb_DataIndexes(const std::string &prefix) {
    return {
        "CREATE INDEX TM ON " + prefix + "DATA (DT, MS)",
        "CREATE INDEX DT ON " + prefix + "DATA (DT)",
        "CREATE INDEX MS ON " + prefix + "DATA (MS)",
        "CREATE INDEX TX ON " + prefix + "DATA (TX)",
    };
}

std::string ldb_CreateText(const std::string &prefix) {
    return "CREATE TABLE " + prefix + "TEXT (TX char(255))";
}

std::string ldb_DropTable(const std::string &prefix, const char *table) {
    return "DROP TABLE " + prefix + table;
}

std::string ldb_NextCounterQuery(const std::string &logger) {
    return "select nLoggerSequence from LOGGERS where sLoggerName = '" + ldb_Quote(logger) +
           "' AND nLoggerSequence < 19000101 order by nLoggerSequence Desc";
}

std::string ldb_RunByPrefixQuery(const std::string &prefix) {
    return "select * from LOGGERS where sTablePrefix = '" + ldb_Quote(prefix) + "'";
}

std::string ldb_Identifier(std::string text) {
    lstore_SanitizeName(text.data());
    for (char &c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        // Bytes from 0x80 on are identifier characters on every engine used here.
        if (u < 0x80 && !std::isalnum(u) && c != '_' && c != '$') c = '_';
    }
    return text;
}

char ldb_IdentifierQuote(const std::string &connection) {
    std::map<std::string, std::string> items = ado::ParseConnectionString(connection);
    auto it = items.find("provider");
    if (it == items.end()) return '"';
    if (strcasecmp(it->second.c_str(), "MariaDB") == 0) return '`';
    // SQL Server's own quoting, taken whatever QUOTED_IDENTIFIER is set to.
    if (strncasecmp(it->second.c_str(), "SQLOLEDB", 8) == 0) return '[';
    return '"';
}

std::string ldb_QuoteIdentifier(const std::string &name, char quote) {
    const char close = quote == '[' ? ']' : quote;
    std::string out(1, quote);
    for (char c : name) {
        if (c == close) out += close;
        out += c;
    }
    return out + close;
}

std::string ldb_PrefixBase(const std::string &runPrefix, const std::string &logger) {
    return ldb_Identifier((runPrefix.empty() ? logger : runPrefix) + "_");
}

std::string ldb_RunNamePrefix(const std::string &runPrefix) {
    if (runPrefix.empty()) return "";
    std::string base = ldb_PrefixBase(runPrefix, "");
    base.pop_back();
    return base;
}

std::string ldb_DatedPrefix(const std::string &base, int32_t start) {
    struct tm t = ts_GmTime(static_cast<uint32_t>(start));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d_", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    return base + buf;
}

std::string ldb_SequencePrefix(const std::string &base, int32_t sequence) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%08d_", sequence);
    return base + buf;
}

int32_t ldb_DateSequence(int32_t start) {
    struct tm t = ts_GmTime(static_cast<uint32_t>(start));
    return (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
}

std::string ldb_ChannelColumnType(bool digital, bool digitalTextExists,
                                  const std::string &digitalText) {
    if (!digital) return "REAL";
    if (!digitalTextExists) return "INTEGER";
    if (strcasecmp(digitalText.c_str(), "On") == 0) return "char(32)";
    return digitalText;
}

bool ldb_SplitHeaderText(const std::string &text, bool jet, std::string *header,
                         std::vector<std::string> *lines) {
    header->clear();
    lines->clear();
    size_t h = text.find("[HEADER]\r\n");
    if (h == std::string::npos) return false;
    size_t body = h + 10;
    size_t pre = text.find("\r\n[PREDEFINED]", body);
    *header = text.substr(body, pre == std::string::npos ? std::string::npos : pre - body);
    if (jet && header->size() > 255) header->resize(255);
    if (pre == std::string::npos) return true;
    size_t k = pre + 14;
    for (;;) {
        size_t end = text.find("\r\n", k);
        if (end == std::string::npos) break; // a last line without CRLF is not stored
        if (end > k) lines->push_back(text.substr(k, end - k));
        k = end + 2;
    }
    return true;
}
