#include "chrec.h"
#include "ldb.h"
#include "ldf.h"
#include "lst.h"
#include "lstore_db_channels.h"
#include "lstore_mysql_internal.h"
#include "plat_error.h"
#include "tag.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <strings.h>

namespace {
constexpr int kTableExists = 1050;
} // namespace

CLogDbMySQLCollection::~CLogDbMySQLCollection() {
    if (conn_ != nullptr) mysql_close(conn_);
}

int CLogDbMySQLCollection::Fail(const char *message, const char *detail) {
    lmy::SetError(message_, detail_, message, detail);
    return -1;
}

std::string CLogDbMySQLCollection::Escaped(const std::string &text) {
    return lmy::Escape(conn_, text);
}

int CLogDbMySQLCollection::Query(const std::string &sql) {
    if (conn_ == nullptr) return -1;
    if (mysql_real_query(conn_, sql.c_str(), sql.size()) != 0) return -1;
    // A statement that answers rows has them read and dropped, so the next one can run.
    if (MYSQL_RES *res = mysql_store_result(conn_)) mysql_free_result(res);
    return 0;
}

int CLogDbMySQLCollection::Open(const char *connection, const char *folder, const char *logger,
                                const char *prefix, uint32_t access) {
    if (CLogCollection::Open(connection, folder, logger, prefix, access) != 0) return -1;
    if ((logger != nullptr && strlen(logger) > 259) ||
        (prefix != nullptr && strlen(prefix) > 259)) {
        plat_SetLastError(0);
        return -1;
    }
    if (connection == nullptr || *connection == '\0') {
        plat_SetLastError(0);
        return Fail("NO CONNECTION STRING", "");
    }
    if (strlen(connection) >= 1025) {
        plat_SetLastError(0);
        return Fail("CONNECTION STRING TOO LONG", "");
    }
    if (conn_ != nullptr) mysql_close(conn_);
    conn_ = nullptr;
    created_ = false;
    connection_ = connection;
    logger_ = logger != nullptr ? logger : "";
    runPrefix_ = prefix != nullptr ? prefix : "";
    access_ = access;
    lst_SetStoreInfo(connection, "", runPrefix_.c_str());
    LogConnectionString items;
    lstore_ParseMySqlConnection(connection, &items);
    std::string message, detail;
    conn_ = lmy::Connect(items, &message, &detail);
    if (conn_ == nullptr) return Fail(message.c_str(), detail.c_str());
    if ((access & LSTORE_WRITE) == 0) return 0;
    std::string create = ldb_CreateLoggers(false);
    if (mysql_real_query(conn_, create.c_str(), create.size()) != 0 &&
        mysql_errno(conn_) != kTableExists) {
        Fail("CAN'T CREATE LOGGERS TABLE", mysql_error(conn_));
        mysql_close(conn_);
        conn_ = nullptr;
        return -1;
    }
    created_ = true;
    return 0;
}

int CLogDbMySQLCollection::FindFirst(int *nameSize) {
    runs_.clear();
    cursor_ = 0;
    if (nameSize != nullptr) *nameSize = 20;
    if (conn_ == nullptr) return 1;
    std::string sql = "select nLoggerSequence, dStartTime, dStopTime, bCompleted, sTablePrefix "
                      "from LOGGERS where sLoggerName = '" +
                      Escaped(logger_) + "' order by dStartTime Desc";
    uint64_t counted = 0;
    if (mysql_real_query(conn_, sql.c_str(), sql.size()) != 0) return 1;
    if (MYSQL_RES *res = mysql_store_result(conn_)) {
        counted = mysql_num_rows(res);
        mysql_free_result(res);
    }
    if (counted == 0) return 1;
    lmy::Stmt st(conn_);
    if (st.h == nullptr) {
        Fail("mysql_stmt_init(), out of memory", mysql_error(conn_));
        return 0;
    }
    if (mysql_stmt_prepare(st.h, sql.c_str(), sql.size()) != 0) {
        Fail("SELECT failed", mysql_stmt_error(st.h));
        return 0;
    }
    if (mysql_stmt_execute(st.h) != 0) return 0;
    int32_t seq = 0, completed = 0;
    MYSQL_TIME start{}, stop{};
    char prefix[256];
    unsigned long length = 0;
    char nulls[5] = {};
    MYSQL_BIND b[5] = {lmy::BindInt(&seq, &nulls[0]), lmy::BindTime(&start, &nulls[1]),
                       lmy::BindTime(&stop, &nulls[2]), lmy::BindInt(&completed, &nulls[3]),
                       lmy::BindText(prefix, 255, &length, &nulls[4])};
    if (mysql_stmt_bind_result(st.h, b) != 0 || mysql_stmt_store_result(st.h) != 0) return 0;
    // Rows added since the count are left out.
    while (runs_.size() < counted) {
        int rc = mysql_stmt_fetch(st.h);
        if (rc != 0 && rc != MYSQL_DATA_TRUNCATED) break;
        RunEntry e;
        e.sequence = nulls[0] ? 0 : seq;
        e.start = nulls[1] ? 0 : lmy::FromTime(start);
        e.stop = nulls[2] || nulls[3] || completed == 0 ? 0 : lmy::FromTime(stop);
        prefix[std::min<unsigned long>(length, 255)] = '\0';
        e.prefix = nulls[4] ? "" : lmy::Trimmed(prefix, 255);
        runs_.push_back(e);
    }
    return 1;
}

int CLogDbMySQLCollection::FindNext(char *name, LogTimePair *start, LogTimePair *stop) {
    if (cursor_ >= runs_.size()) {
        runs_.clear();
        cursor_ = 0;
        plat_SetLastError(0);
        return 0;
    }
    const RunEntry &e = runs_[cursor_++];
    if (name != nullptr) snprintf(name, 20, "LoggerSeq=%08d", e.sequence);
    if (start != nullptr) *start = LogTimePair{e.start, 0};
    if (stop != nullptr) *stop = LogTimePair{e.stop, 0};
    return 1;
}

int CLogDbMySQLCollection::FindLogger(char *name, int *nameSize, LogTimePair *start,
                                      LogTimePair *stop, int anyName) {
    FindFirst(nameSize);
    const std::string wanted = ldb_RunNamePrefix(runPrefix_);
    int rc = 0;
    for (const RunEntry &e : runs_)
        if (anyName || strncasecmp(e.prefix.c_str(), wanted.c_str(), wanted.size()) == 0) {
            if (name != nullptr) snprintf(name, 20, "LoggerSeq=%08d", e.sequence);
            if (start != nullptr) *start = LogTimePair{e.start, 0};
            if (stop != nullptr) *stop = LogTimePair{e.stop, 0};
            rc = 1;
            break;
        }
    runs_.clear();
    cursor_ = 0;
    return rc;
}

void CLogDbMySQLCollection::DeleteOlderThan(int32_t *time) {
    if (time == nullptr) return;
    uint32_t limit = static_cast<uint32_t>(*time);
    FindFirst(nullptr);
    std::vector<RunEntry> runs = runs_;
    runs_.clear();
    for (const RunEntry &e : runs)
        if (e.start < limit && e.stop != 0 && e.stop < limit) DropRun(e.prefix);
}

int CLogDbMySQLCollection::DropRun(const std::string &prefix) {
    Query(ldb_DropTable(prefix, "TEXT"));
    Query(ldb_DropTable(prefix, "DATA"));
    Query(ldb_DropTable(prefix, "CHANNELS"));
    return Query("DELETE from LOGGERS where sTablePrefix = '" + Escaped(prefix) + "'");
}

CLogStore *CLogDbMySQLCollection::CreateLogger(int32_t *start, int plainName, int storeArgument,
                                               LogHeader *header, const char16_t *, int archive,
                                               const char *server, int dateFlag,
                                               const void *const *channelRecords) {
    return CreateLoggerEx(start, plainName, storeArgument, header, nullptr, archive, server,
                          dateFlag, channelRecords);
}

CLogStore *CLogDbMySQLCollection::CreateLoggerEx(int32_t *start, int plainName, int,
                                                 LogHeader *header, const char *headerText, int,
                                                 const char *server, int dateFlag,
                                                 const void *const *channelRecords) {
    if (header == nullptr || start == nullptr) {
        plat_Fail(WERR_INVALID_PARAMETER);
        return nullptr;
    }
    if (conn_ == nullptr) {
        Fail("CAN'T CONNECT TO DATABASE", "not open");
        return nullptr;
    }
    std::string digitalText;
    bool digitalTextExists = ldb_DigitalText(&digitalText);

    // The next counter of the logger.
    int32_t counter = 1;
    {
        std::string sql = "select nLoggerSequence from LOGGERS where sLoggerName = '" +
                          Escaped(logger_) +
                          "' AND nLoggerSequence < 19000101 order by nLoggerSequence Desc";
        lmy::Stmt st(conn_);
        if (st.h == nullptr) return nullptr;
        if (mysql_stmt_prepare(st.h, sql.c_str(), sql.size()) != 0) {
            Fail("SELECT failed", mysql_stmt_error(st.h));
            return nullptr;
        }
        int32_t highest = 0;
        char isNull = 0;
        MYSQL_BIND b = lmy::BindInt(&highest, &isNull);
        if (mysql_stmt_execute(st.h) != 0 || mysql_stmt_bind_result(st.h, &b) != 0 ||
            mysql_stmt_store_result(st.h) != 0)
            return nullptr;
        int rc = mysql_stmt_fetch(st.h);
        if ((rc == 0 || rc == MYSQL_DATA_TRUNCATED) && !isNull) counter = highest + 1;
    }

    const std::string base = ldb_PrefixBase(runPrefix_, logger_);
    std::vector<std::pair<std::string, int32_t>> forms;
    if (plainName && (!runPrefix_.empty() || counter == 1)) forms.emplace_back(base, counter);
    if (dateFlag) forms.emplace_back(ldb_DatedPrefix(base, *start), ldb_DateSequence(*start));
    forms.emplace_back(ldb_SequencePrefix(base, counter), counter);
    std::string prefix;
    int32_t sequence = counter;
    for (const auto &form : forms)
        if (Query(ldb_CreateChannels(form.first)) == 0) {
            prefix = form.first;
            sequence = form.second;
            break;
        }
    if (prefix.empty()) {
        Fail("CAN'T CREATE CHANNELS TABLE", mysql_error(conn_));
        return nullptr;
    }
    Query(ldb_ChannelsIndex(prefix));

    auto dropChannels = [&]() { Query(ldb_DropTable(prefix, "CHANNELS")); };
    std::vector<std::vector<uint8_t>> records;
    const char *recordMessage = nullptr;
    if (lmy::ChannelRecords(*header, channelRecords, server, &records, &recordMessage) != 0) {
        const char *message = strcmp(recordMessage, "CAN'T GET CHANNEL CONFIGS") == 0
                                  ? "CAN'T CREATE DATA TABLE"
                                  : "CAN'T FIND CHANNELS";
        Fail(message, "");
        dropChannels();
        return nullptr;
    }
    std::string columns = header->sigChange ? ",LL integer, LV float NULL" : "";
    std::set<std::string> names;
    for (int k = 0; k < header->blockCount && k < 64; ++k) {
        const LogBlockDescriptor &block = header->blocks[k];
        int n = std::max(lmy::BlockChannels(block), 0);
        for (int i = 0; i < n; ++i) {
            ChannelRecord rec;
            memcpy(rec.bytes, records[k].data() + size_t{LDF_CHANNEL_SIZE} * i, LDF_CHANNEL_SIZE);
            std::string name =
                ldbch_UniqueColumn(ldbch_ColumnName(*header, k, block.first + i, rec), &names);
            columns +=
                ", " + ldb_QuoteIdentifier(name, '`') + " " +
                ldb_ChannelColumnType(chrec_IsDigital(rec) != 0, digitalTextExists, digitalText) +
                " NULL";
        }
    }
    std::string data = "CREATE TABLE " + prefix +
                       "DATA (DT datetime, MS float, TX varchar(255) NULL" + columns +
                       ", TP float NULL)";
    if (Query(data) != 0) {
        Fail("CAN'T CREATE DATA TABLE", mysql_error(conn_));
        dropChannels();
        return nullptr;
    }
    Query("CREATE INDEX TM ON " + prefix + "DATA (DT, MS)");
    if (headerText != nullptr && Query(ldb_CreateText(prefix)) != 0) {
        Fail("CAN'T CREATE TEXT TABLE", mysql_error(conn_));
        dropChannels();
        Query(ldb_DropTable(prefix, "DATA"));
        return nullptr;
    }
    std::unique_ptr<CLogDbMySQLStore> store(new (std::nothrow) CLogDbMySQLStore);
    if (!store) {
        Fail("CAN'T ALLOCATE MEMORY", "");
        DropRun(prefix);
        return nullptr;
    }
    if (store->CreateRun(connection_, prefix, logger_, sequence, *header, headerText, records) !=
        0) {
        Fail("CAN'T CONNECT TO DATABASE", store->GetErrorText());
        store.reset();
        // The store may have written the run's LOGGERS row before it failed.
        DropRun(prefix);
        return nullptr;
    }
    return store.release();
}

CLogStore *CLogDbMySQLCollection::OpenLogger(const char *name, uint32_t access) {
    std::unique_ptr<CLogDbMySQLStore> store(new (std::nothrow) CLogDbMySQLStore);
    if (!store) return nullptr;
    std::string identity = connection_ + ";LoggerName=" + logger_ + ";" + (name ? name : "");
    if (store->Open(nullptr, identity.c_str(), access) != 0) {
        Fail(store->GetErrorMessage(), store->GetErrorText());
        return nullptr;
    }
    return store.release();
}

int CLogDbMySQLCollection::UseforLogging(CLogStore *store, LogHeader *header, const char *prefix,
                                         int textFile, int archive) {
    return CLogCollection::UseforLogging(store, header, prefix, textFile, archive);
}

int CLogDbMySQLCollection::CloseLogger(CLogStore *store, const int32_t *start, const int32_t *,
                                       int) {
    if (store == nullptr) return 0;
    std::string prefix;
    if (auto *mine = dynamic_cast<CLogDbMySQLStore *>(store)) prefix = mine->TablePrefix();
    store->Close();
    if (start == nullptr && !prefix.empty()) DropRun(prefix);
    return 0;
}

void CLogDbMySQLCollection::MakeStoreName(const char *name, char *buffer, int *length) {
    lstore_PutName(connection_ + ";LoggerName=" + logger_ + ";" + (name != nullptr ? name : ""),
                   buffer, length);
}
