#include "chrec.h"
#include "dm.h"
#include "ldb.h"
#include "ldf.h"
#include "lstore_db_channels.h"
#include "lstore_mysql_internal.h"
#include "plat_debugout.h"
#include "plat_error.h"
#include "shm.h"
#include "tag.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <strings.h>

namespace {

constexpr const char *kStmtInit = "mysql_stmt_init(), out of memory";
constexpr const char *kPrepare = "INSERT failed";
constexpr const char *kBindParam = "mysql_stmt_bind_param() failed";
constexpr const char *kExecWrite = " mysql_stmt_execute(), failedd";
constexpr const char *kExecRead = "mysql_stmt_execute(), failed";
constexpr const char *kBindResult = "mysql_stmt_bind_result() failed";
constexpr const char *kStore = "mysql_stmt_store_result() failed";
constexpr const char *kClose = "failed while closing the statement";
constexpr size_t kMaxPlaceholders = 65535;
constexpr int kBatchRows = 1000;

// Scratch of one bound value: aligned, whatever slot of the record it comes from or goes to.
struct Slot {
    MYSQL_TIME time;
    float f = 0;
    int32_t i = 0;
    char text[33] = {};
    unsigned long length = 0;
    char isNull = 0;
};

// The state text of a digital value from the device's channel configuration; "" when the
// segment is missing or the channel is not digital.
std::string stateText(const LogBlockDescriptor &block, int channel, bool high) {
    char id[3] = {block.prefix[0], block.prefix[1], '\0'};
    SegmentHeader *seg = dm_GetConfSegment(id);
    if (seg == nullptr || channel < 1) return "";
    std::string text;
    if (shm_Lock(seg) != 0) return "";
    if (int64_t{channel} * LDF_CHANNEL_SIZE <= shm_PayloadLimit(seg)) {
        ChannelRecord rec;
        memcpy(rec.bytes, shm_Payload(seg) + int64_t{LDF_CHANNEL_SIZE} * (channel - 1),
               LDF_CHANNEL_SIZE);
        if (chrec_IsDigital(rec))
            text = chrec_GetText(rec, high ? ChannelDigital::HighStateText
                                           : ChannelDigital::LowStateText);
    }
    shm_Unlock(seg);
    return text;
}

} // namespace

CLogDbMySQLStore::~CLogDbMySQLStore() {
    CloseConnection();
}

void CLogDbMySQLStore::CloseConnection() {
    if (conn_ != nullptr) mysql_close(conn_);
    conn_ = nullptr;
}

int CLogDbMySQLStore::Fail(const char *message, const char *detail) {
    lmy::SetError(message_, detail_, message, detail);
    return -1;
}

std::string CLogDbMySQLStore::Escaped(const std::string &text) {
    return lmy::Escape(conn_, text);
}

int CLogDbMySQLStore::Connect(const std::string &connection, bool mustExist) {
    CloseConnection();
    LogConnectionString items;
    lstore_ParseMySqlConnection(connection.c_str(), &items);
    std::string message, detail;
    conn_ = lmy::Connect(items, &message, &detail);
    if (conn_ == nullptr) return Fail(message.c_str(), detail.c_str());
    auto fail = [this](const char *m, const char *d) {
        if (m != nullptr) Fail(m, d);
        CloseConnection();
        return -1;
    };
    char sql[1024];
    snprintf(sql, sizeof sql,
             "select sTablePrefix from LOGGERS where sLoggerName = '%s' AND nLoggerSequence = %d",
             Escaped(logger_).c_str(), sequence_);
    lmy::Stmt st(conn_);
    if (st.h == nullptr) return fail(nullptr, nullptr);
    if (mysql_stmt_prepare(st.h, sql, strlen(sql)) != 0)
        return fail("SELECT failed", mysql_stmt_error(st.h));
    if (mysql_stmt_execute(st.h) != 0)
        return fail("CAN'T FIND LOGGER NAME AND SEQ", mysql_stmt_error(st.h));
    char prefix[260] = {};
    unsigned long length = 0;
    char isNull = 0;
    MYSQL_BIND b = lmy::BindText(prefix, sizeof prefix - 1, &length, &isNull);
    if (mysql_stmt_bind_result(st.h, &b) != 0) return fail(kBindResult, mysql_stmt_error(st.h));
    if (mysql_stmt_store_result(st.h) != 0) return fail(kStore, mysql_stmt_error(st.h));
    int rc = mysql_stmt_fetch(st.h);
    if (rc == MYSQL_NO_DATA) {
        // A run being created has no row yet; Open needs one.
        if (mustExist) {
            plat_SetLastError(0);
            return fail("CAN'T FIND LOGGER NAME AND SEQ", "");
        }
        return 0;
    }
    if ((rc != 0 && rc != MYSQL_DATA_TRUNCATED) || isNull) return fail(nullptr, nullptr);
    std::string p = lmy::Trimmed(prefix, std::min<unsigned long>(length, 259));
    if (p.empty()) return fail(nullptr, nullptr);
    prefix_ = p;
    return 0;
}

int CLogDbMySQLStore::OpenOnce(const std::string &identity, uint32_t access) {
    std::vector<char> rest(identity.begin(), identity.end());
    rest.push_back('\0');
    char logger[261] = {};
    int size = sizeof logger;
    int32_t seq = 0;
    if (!lstore_TakeLoggerName(rest.data(), &size, logger) ||
        !lstore_TakeLoggerSeq(rest.data(), &seq)) {
        Fail("BADLY FORMED PATH NAME", "");
        return -1;
    }
    access_ = access;
    logger_ = logger;
    sequence_ = seq;
    if (Connect(rest.data(), true) != 0) return -1;
    connection_ = rest.data();
    return 0;
}

int CLogDbMySQLStore::Open(const char *server, const char *path, uint32_t access) {
    std::string identity = path != nullptr ? path : "";
    int rc = -1;
    if (identity.size() <= 1424) {
        rc = OpenOnce(identity, access);
        if (rc != 0 && server != nullptr && *server != '\0' &&
            strncasecmp(identity.c_str(), "PROVIDER=MS REMOTE", 18) != 0) {
            std::string remote = "PROVIDER=MS REMOTE;REMOTE SERVER=HTTP://" + std::string(server) +
                                 ";REMOTE " + identity;
            rc = OpenOnce(remote, access);
        }
    }
    if (rc != 0) plat_SetLastError(0);
    return rc;
}

int CLogDbMySQLStore::StartLogging(LogHeader *) {
    logging_ = true;
    digitalText_ = ldb_DigitalText(nullptr);
    return 0;
}

void CLogDbMySQLStore::GetName(char *buffer, int *length) {
    char seq[16];
    snprintf(seq, sizeof seq, "%08d", sequence_);
    lstore_PutName(connection_ + ";LoggerName=" + logger_ + ";LoggerSeq=" + seq, buffer, length);
}

int CLogDbMySQLStore::Close() {
    CloseConnection();
    logging_ = false;
    return 0;
}

int CLogDbMySQLStore::SavePosition(int32_t) {
    return 0;
}

int CLogDbMySQLStore::CreateRun(const std::string &connection, const std::string &prefix,
                                const std::string &logger, int32_t sequence,
                                const LogHeader &header, const char *headerText,
                                const std::vector<std::vector<uint8_t>> &records) {
    digitalText_ = ldb_DigitalText(nullptr);
    logger_ = logger;
    sequence_ = sequence;
    access_ = LSTORE_READ | LSTORE_WRITE;
    if (Connect(connection, false) != 0) return -1;
    auto fail = [this](const char *m, const char *d) {
        Fail(m, d);
        CloseConnection();
        return -1;
    };

    std::string headerBody;
    std::vector<std::string> lines;
    bool hasHeader =
        headerText != nullptr && ldb_SplitHeaderText(headerText, false, &headerBody, &lines);
    {
        lmy::Stmt st(conn_);
        if (st.h == nullptr) return fail(kStmtInit, mysql_error(conn_));
        const char *sql = "INSERT INTO LOGGERS VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
        if (mysql_stmt_prepare(st.h, sql, strlen(sql)) != 0)
            return fail(kPrepare, mysql_stmt_error(st.h));
        Slot s[17];
        MYSQL_BIND b[17];
        unsigned long nameLength = logger.size(), prefixLength = prefix.size(),
                      headerLength = headerBody.size(), triggerLength = 2, lagLength = 2;
        std::string name = logger, tablePrefix = prefix;
        b[0] = lmy::BindText(name.data(), nameLength, &nameLength);
        s[1].i = sequence;
        b[1] = lmy::BindInt(&s[1].i);
        lmy::ToTime(static_cast<uint32_t>(header.start), &s[2].time);
        b[2] = lmy::BindTime(&s[2].time);
        lmy::ToTime(static_cast<uint32_t>(header.stop), &s[3].time);
        b[3] = header.stop == 0 ? lmy::BindNull() : lmy::BindTime(&s[3].time);
        b[4] = lmy::BindInt(&s[4].i);
        b[5] = lmy::BindText(tablePrefix.data(), prefixLength, &prefixLength);
        b[6] = hasHeader ? lmy::BindText(headerBody.data(), headerLength, &headerLength)
                         : lmy::BindNull();
        s[7].i = header.tagColumns;
        b[7] = lmy::BindInt(&s[7].i);
        b[8] = lmy::BindInt(&s[8].i);
        b[9] = lmy::BindInt(&s[9].i);
        memcpy(&s[10].i, header.carried + 84, 4);
        b[10] = lmy::BindInt(&s[10].i);
        s[11].i = header.sigChange;
        b[11] = lmy::BindInt(&s[11].i);
        char trigger[2] = {header.trigger.prefix[0], header.trigger.prefix[1]};
        char lag[2] = {header.lag.prefix[0], header.lag.prefix[1]};
        triggerLength = strnlen(trigger, 2);
        lagLength = strnlen(lag, 2);
        s[13].i = header.trigger.number;
        s[15].i = header.lag.number;
        if (header.sigChange) {
            b[12] = lmy::BindText(trigger, 2, &triggerLength);
            b[13] = lmy::BindInt(&s[13].i);
            b[14] = lmy::BindText(lag, 2, &lagLength);
            b[15] = lmy::BindInt(&s[15].i);
        } else {
            b[12] = b[13] = b[14] = b[15] = lmy::BindNull();
        }
        b[16] = lmy::BindNull();
        if (mysql_stmt_bind_param(st.h, b) != 0) return fail(kBindParam, mysql_stmt_error(st.h));
        if (mysql_stmt_execute(st.h) != 0) return fail(kExecWrite, mysql_stmt_error(st.h));
        if (!st.Close()) return fail(kClose, mysql_error(conn_));
    }
    // The predefined lines are not kept by this store: TEXT stays empty.

    lmy::Stmt st(conn_);
    if (st.h == nullptr) return fail(kStmtInit, mysql_error(conn_));
    std::string sql = "INSERT INTO " + prefix + "CHANNELS VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
    if (mysql_stmt_prepare(st.h, sql.c_str(), sql.size()) != 0)
        return fail(kPrepare, mysql_stmt_error(st.h));
    std::set<std::string> taken; // the names made as the DATA table's were
    for (int k = 0; k < header.blockCount && k < 64; ++k) {
        const LogBlockDescriptor &block = header.blocks[k];
        int n = lmy::BlockChannels(block);
        for (int i = 0; i < n; ++i) {
            ChannelRecord rec;
            if (static_cast<size_t>(k) < records.size() &&
                (static_cast<size_t>(i) + 1) * LDF_CHANNEL_SIZE <= records[k].size())
                memcpy(rec.bytes, records[k].data() + size_t{LDF_CHANNEL_SIZE} * i,
                       LDF_CHANNEL_SIZE);
            else
                memset(rec.bytes, 0, sizeof rec.bytes);
            int number = block.first + i;
            std::string column =
                ldbch_UniqueColumn(ldbch_ColumnName(header, k, number, rec), &taken);
            std::string tag = tag_GetTag(rec);
            bool enabled = chrec_TestFlag(rec, ChannelAnalog::Enable) != 0;
            bool digital = chrec_IsDigital(rec) != 0;
            std::string source = lmy::Trimmed(block.source, 24);
            std::string prefixText(block.prefix, strnlen(block.prefix, 2));
            std::string description = tag_GetDescription(rec), units = tag_GetUnits(rec);
            std::string low = chrec_GetText(rec, ChannelDigital::LowStateText);
            std::string high = chrec_GetText(rec, ChannelDigital::HighStateText);
            Slot s[14];
            MYSQL_BIND b[14];
            unsigned long lengths[14] = {};
            s[0].i = k;
            b[0] = lmy::BindInt(&s[0].i);
            auto text = [&](int at, std::string &value) {
                lengths[at] = value.size();
                b[at] = lmy::BindText(value.data(), lengths[at], &lengths[at]);
            };
            text(1, prefixText);
            s[2].i = number;
            b[2] = lmy::BindInt(&s[2].i);
            text(3, source);
            text(4, tag);
            text(5, description);
            s[6].i = chrec_GetType(rec);
            b[6] = enabled ? lmy::BindInt(&s[6].i) : lmy::BindNull();
            s[8].f = chrec_Get(rec, ChannelAnalog::MinimumUnits);
            s[9].f = chrec_Get(rec, ChannelAnalog::MaximumUnits);
            if (enabled && !digital) {
                text(7, units);
                b[8] = lmy::BindFloat(&s[8].f);
                b[9] = lmy::BindFloat(&s[9].f);
            } else {
                b[7] = b[8] = b[9] = lmy::BindNull();
            }
            if (enabled && digital) {
                text(10, low);
                text(11, high);
            } else {
                b[10] = b[11] = lmy::BindNull();
            }
            text(12, column);
            s[13].i = static_cast<uint8_t>(block.spare[1]); // the raw lag byte
            b[13] = lmy::BindInt(&s[13].i);
            if (mysql_stmt_bind_param(st.h, b) != 0)
                return fail(kBindParam, mysql_stmt_error(st.h));
            if (mysql_stmt_execute(st.h) != 0) return fail(kExecWrite, mysql_stmt_error(st.h));
        }
    }
    if (!st.Close()) return fail(kClose, mysql_error(conn_));
    connection_ = connection;
    prefix_ = prefix;
    return StartLogging(nullptr);
}

int CLogDbMySQLStore::GetNoLogs(LogHeader *) {
    if (conn_ == nullptr) return Fail("CAN'T GET DATA", "not open");
    lmy::Stmt st(conn_);
    if (st.h == nullptr) return Fail(kStmtInit, mysql_error(conn_));
    std::string sql = "SELECT COUNT(*) FROM " + prefix_ + "DATA";
    if (mysql_stmt_prepare(st.h, sql.c_str(), sql.size()) != 0)
        return Fail("SELECT COUNT failed", mysql_stmt_error(st.h));
    if (mysql_stmt_execute(st.h) != 0) return Fail(kExecRead, mysql_stmt_error(st.h));
    int32_t count = 0;
    MYSQL_BIND b = lmy::BindInt(&count);
    if (mysql_stmt_bind_result(st.h, &b) != 0) return Fail(kBindResult, mysql_stmt_error(st.h));
    if (mysql_stmt_store_result(st.h) != 0) return Fail(kStore, mysql_stmt_error(st.h));
    int rc = mysql_stmt_fetch(st.h);
    if (rc != 0 && rc != MYSQL_DATA_TRUNCATED) return Fail("CAN'T GET DATA", "");
    if (!st.Close()) return Fail(kClose, mysql_error(conn_));
    return count;
}

int CLogDbMySQLStore::ReadHeader(LogHeader *header) {
    if (header == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    if (conn_ == nullptr) return Fail("CAN'T GET DATA", "not open");
    LogHeader h;
    memset(&h, 0, sizeof h);
    {
        char sql[1024];
        snprintf(sql, sizeof sql,
                 "select dStartTime, dStopTime, sTablePrefix, bTagColumns, bSigChange, "
                 "sTriggerPrefix, nTriggerNumber, sLagPrefix, nLagNumber from LOGGERS where "
                 "sLoggerName = '%s' AND nLoggerSequence = %d",
                 Escaped(logger_).c_str(), sequence_);
        lmy::Stmt st(conn_);
        if (st.h == nullptr) return Fail(kStmtInit, mysql_error(conn_));
        if (mysql_stmt_prepare(st.h, sql, strlen(sql)) != 0)
            return Fail(kPrepare, mysql_stmt_error(st.h));
        if (mysql_stmt_execute(st.h) != 0) return Fail(kExecRead, mysql_stmt_error(st.h));
        Slot s[9];
        char prefix[256], trigger[3], lag[3];
        MYSQL_BIND b[9];
        b[0] = lmy::BindTime(&s[0].time, &s[0].isNull);
        b[1] = lmy::BindTime(&s[1].time, &s[1].isNull);
        b[2] = lmy::BindText(prefix, 255, &s[2].length, &s[2].isNull);
        b[3] = lmy::BindInt(&s[3].i, &s[3].isNull);
        b[4] = lmy::BindInt(&s[4].i, &s[4].isNull);
        b[5] = lmy::BindText(trigger, 2, &s[5].length, &s[5].isNull);
        b[6] = lmy::BindInt(&s[6].i, &s[6].isNull);
        b[7] = lmy::BindText(lag, 2, &s[7].length, &s[7].isNull);
        b[8] = lmy::BindInt(&s[8].i, &s[8].isNull);
        if (mysql_stmt_bind_result(st.h, b) != 0) return Fail(kBindResult, mysql_stmt_error(st.h));
        if (mysql_stmt_store_result(st.h) != 0) return Fail(kStore, mysql_stmt_error(st.h));
        int rc = mysql_stmt_fetch(st.h);
        if (rc != 0 && rc != MYSQL_DATA_TRUNCATED) return Fail("CAN'T GET DATA", "");
        if (s[0].isNull) return Fail("COLUMN #1 IS NOT A DATE", "");
        h.start = static_cast<int32_t>(lmy::FromTime(s[0].time));
        h.stop = s[1].isNull ? 0 : static_cast<int32_t>(lmy::FromTime(s[1].time));
        h.tagColumns = static_cast<uint8_t>(s[3].isNull ? 0 : s[3].i);
        h.sigChange = static_cast<uint8_t>(s[4].isNull ? 0 : s[4].i);
        if (h.sigChange) {
            if (!s[5].isNull)
                memcpy(h.trigger.prefix, trigger, std::min<unsigned long>(s[5].length, 2));
            h.trigger.number = static_cast<uint16_t>(s[6].isNull ? 0 : s[6].i);
            if (!s[7].isNull) memcpy(h.lag.prefix, lag, std::min<unsigned long>(s[7].length, 2));
            h.lag.number = static_cast<uint16_t>(s[8].isNull ? 0 : s[8].i);
        }
        h.marker = 0x8001;
        if (!st.Close()) return Fail(kClose, mysql_error(conn_));
    }
    {
        std::string sql = "select nBlock, sPrefix, nChannelNumber, sSource, bLag from " + prefix_ +
                          "CHANNELS ORDER BY nBlock, nCHannelNumber";
        lmy::Stmt st(conn_);
        if (st.h == nullptr) return Fail(kStmtInit, mysql_error(conn_));
        if (mysql_stmt_prepare(st.h, sql.c_str(), sql.size()) != 0)
            return Fail(kPrepare, mysql_stmt_error(st.h));
        if (mysql_stmt_execute(st.h) != 0) return Fail(kExecRead, mysql_stmt_error(st.h));
        Slot s[5];
        char prefix[3], source[33];
        MYSQL_BIND b[5];
        b[0] = lmy::BindInt(&s[0].i, &s[0].isNull);
        b[1] = lmy::BindText(prefix, 2, &s[1].length, &s[1].isNull);
        b[2] = lmy::BindInt(&s[2].i, &s[2].isNull);
        b[3] = lmy::BindText(source, 32, &s[3].length, &s[3].isNull);
        b[4] = lmy::BindInt(&s[4].i, &s[4].isNull);
        if (mysql_stmt_bind_result(st.h, b) != 0) return Fail(kBindResult, mysql_stmt_error(st.h));
        if (mysql_stmt_store_result(st.h) != 0) return Fail(kStore, mysql_stmt_error(st.h));
        for (;;) {
            int rc = mysql_stmt_fetch(st.h);
            if (rc != 0 && rc != MYSQL_DATA_TRUNCATED) break;
            if (s[0].isNull || s[0].i < 0 || s[0].i > 63) continue;
            LogBlockDescriptor &block = h.blocks[s[0].i];
            h.blockCount = std::max<uint16_t>(h.blockCount, static_cast<uint16_t>(s[0].i + 1));
            int number = s[2].isNull ? 0 : s[2].i;
            if (block.first == 0) {
                if (!s[1].isNull)
                    memcpy(block.prefix, prefix, std::min<unsigned long>(s[1].length, 2));
                block.first = static_cast<uint16_t>(number);
                if (!s[3].isNull) {
                    source[std::min<unsigned long>(s[3].length, 32)] = '\0';
                    std::string text = lmy::Trimmed(source, 24);
                    memcpy(block.source, text.data(), text.size());
                }
                block.spare[1] = static_cast<uint8_t>(s[4].isNull ? 0 : s[4].i);
                block.valueKind = 8;
            }
            block.first = static_cast<uint16_t>(std::min<int>(block.first, number));
            block.last = static_cast<uint16_t>(std::max<int>(block.last, number));
        }
        if (!st.Close()) return Fail(kClose, mysql_error(conn_));
    }
    int count = GetNoLogs(&h);
    if (count < 0) return -1;
    h.recordCount = count;
    int32_t size = 18, channels = 0;
    for (int k = 0; k < h.blockCount; ++k) {
        h.blocks[k].valuesOffset = static_cast<uint16_t>(size);
        size += 8 * (h.blocks[k].last - h.blocks[k].first) + 10;
        channels += h.blocks[k].last - h.blocks[k].first + 1;
    }
    h.recordSize = size;
    h.dataOffset = size + 4 * h.blockCount + 216 * channels + 4404;
    h.writePos = count * size + h.dataOffset;
    *header = h;
    return 0;
}

int CLogDbMySQLStore::WriteHeader(LogHeader *header, int completed) {
    if ((access_ & LSTORE_WRITE) == 0) return 0;
    if (header == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    if (conn_ == nullptr) return Fail("CAN'T GET DATA", "not open");
    char sql[1024];
    snprintf(sql, sizeof sql,
             "UPDATE LOGGERS SET dStartTime = ?, dStopTime = ?, bCompleted = ? WHERE "
             "sLoggerName='%s' AND nLoggerSequence=%d",
             Escaped(logger_).c_str(), sequence_);
    lmy::Stmt st(conn_);
    if (st.h == nullptr) return Fail(kStmtInit, mysql_error(conn_));
    if (mysql_stmt_prepare(st.h, sql, strlen(sql)) != 0)
        return Fail(kPrepare, mysql_stmt_error(st.h));
    Slot s[3];
    MYSQL_BIND b[3];
    lmy::ToTime(static_cast<uint32_t>(header->start), &s[0].time);
    lmy::ToTime(static_cast<uint32_t>(header->stop), &s[1].time);
    s[2].i = completed;
    b[0] = lmy::BindTime(&s[0].time);
    b[1] = header->stop == 0 ? lmy::BindNull() : lmy::BindTime(&s[1].time);
    b[2] = lmy::BindInt(&s[2].i);
    if (mysql_stmt_bind_param(st.h, b) != 0) return Fail(kBindParam, mysql_stmt_error(st.h));
    if (mysql_stmt_execute(st.h) != 0) return Fail(kExecWrite, mysql_stmt_error(st.h));
    if (!st.Close()) return Fail(kClose, mysql_error(conn_));
    if (logging_) {
        uint8_t first[16] = {};
        if (ReadLog(0, header, first, 16, 0, 0, nullptr, 1, 0) == 0 &&
            static_cast<uint32_t>(ldf_Get32(first + 4)) < static_cast<uint32_t>(header->start)) {
            TimeStamp to{};
            to.seconds = header->start;
            DeleteLogs(nullptr, &to);
        }
    }
    return 0;
}

int CLogDbMySQLStore::ReadChannelInfo(LogHeader *header, void *records, int block, int first,
                                      int count) {
    if (header == nullptr || records == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    if (block < 0 || block > 63 || block >= header->blockCount || first < 0 || count < 0 ||
        first + count > lmy::BlockChannels(header->blocks[block]))
        return Fail("CHANNEL NOT IN HEADER", "");
    if (conn_ == nullptr) return Fail("CAN'T GET DATA", "not open");
    const LogBlockDescriptor &b0 = header->blocks[block];
    std::string prefix = Escaped(std::string(b0.prefix, strnlen(b0.prefix, 2)));
    for (int k = 0; k < count; ++k) {
        uint8_t *out = static_cast<uint8_t *>(records) + size_t{LDF_CHANNEL_SIZE} * k;
        ChannelRecord rec;
        std::string sql = "select sTag, sDescription, nType, sUnits, fMinScale, fMaxScale, "
                          "sLowStateDesc, sHighStateDesc from " +
                          prefix_ + "CHANNELS where sPrefix = '" + prefix +
                          "' AND nChannelNumber = " + std::to_string(b0.first + first + k);
        lmy::Stmt st(conn_);
        if (st.h == nullptr) return Fail(kStmtInit, mysql_error(conn_));
        if (mysql_stmt_prepare(st.h, sql.c_str(), sql.size()) != 0)
            return Fail(kPrepare, mysql_stmt_error(st.h));
        if (mysql_stmt_execute(st.h) != 0) return Fail(kExecRead, mysql_stmt_error(st.h));
        Slot s[8];
        char tag[33], description[33], units[13], low[33], high[33];
        MYSQL_BIND b[8];
        b[0] = lmy::BindText(tag, 32, &s[0].length, &s[0].isNull);
        b[1] = lmy::BindText(description, 32, &s[1].length, &s[1].isNull);
        b[2] = lmy::BindInt(&s[2].i, &s[2].isNull);
        b[3] = lmy::BindText(units, 12, &s[3].length, &s[3].isNull);
        b[4] = lmy::BindFloat(&s[4].f, &s[4].isNull);
        b[5] = lmy::BindFloat(&s[5].f, &s[5].isNull);
        b[6] = lmy::BindText(low, 32, &s[6].length, &s[6].isNull);
        b[7] = lmy::BindText(high, 32, &s[7].length, &s[7].isNull);
        if (mysql_stmt_bind_result(st.h, b) != 0) return Fail(kBindResult, mysql_stmt_error(st.h));
        if (mysql_stmt_store_result(st.h) != 0) return Fail(kStore, mysql_stmt_error(st.h));
        int rc = mysql_stmt_fetch(st.h);
        if (rc != 0 && rc != MYSQL_DATA_TRUNCATED) {
            memset(out, 0, LDF_CHANNEL_SIZE); // a channel with no row ends the reading
            return 0;
        }
        auto text = [&](int at, char *buffer, size_t capacity) {
            if (s[at].isNull) return std::string();
            return std::string(buffer, std::min<unsigned long>(s[at].length, capacity));
        };
        LdbChannelRow row;
        row.tag = text(0, tag, 32);
        row.description = text(1, description, 32);
        if (!s[2].isNull) row.type = s[2].i;
        row.units = text(3, units, 12);
        row.minimum = s[4].isNull ? 0.0f : s[4].f;
        row.maximum = s[5].isNull ? 0.0f : s[5].f;
        row.lowState = text(6, low, 32);
        row.highState = text(7, high, 32);
        ldbch_FillRecord(row, &rec);
        memcpy(out, rec.bytes, LDF_CHANNEL_SIZE);
    }
    return 0;
}

int CLogDbMySQLStore::WriteLog(LogHeader *header, const void *records, int count) {
    auto began = std::chrono::steady_clock::now();
    auto trace = [&]() {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - began)
                      .count();
        char line[80];
        snprintf(line, sizeof line, "%d Samples took %d ms\r\n", count, static_cast<int>(ms));
        plat_DebugOutput(line);
    };
    if (count <= 0) {
        trace();
        return 0;
    }
    if (header == nullptr || records == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    if (conn_ == nullptr) return Fail("CAN'T GET DATA", "not open");
    const LogHeader &h = *header;
    const bool sig = h.sigChange != 0;
    int channels = 0;
    for (int k = 0; k < h.blockCount && k < 64; ++k)
        channels += std::max(lmy::BlockChannels(h.blocks[k]), 0);
    const size_t columns = 3 + (sig ? 2 : 0) + static_cast<size_t>(channels) + 1;
    // The server takes at most 65535 placeholders in one statement.
    const int batchRows = static_cast<int>(
        std::max<size_t>(1, std::min<size_t>(kBatchRows, kMaxPlaceholders / columns)));
    try {
        std::vector<Slot> slots;
        std::vector<MYSQL_BIND> binds;
        for (int done = 0; done < count;) {
            int rows = std::min(batchRows, count - done);
            std::string sql = "INSERT INTO " + prefix_ + "DATA VALUES ";
            std::string row = "(";
            for (size_t c = 0; c + 1 < columns; ++c)
                row += "?,";
            row += "?),";
            sql.reserve(sql.size() + row.size() * static_cast<size_t>(rows));
            for (int r = 0; r < rows; ++r)
                sql += row;
            sql.pop_back();
            slots.assign(static_cast<size_t>(rows) * columns, Slot{});
            binds.assign(slots.size(), lmy::BindNull());
            for (int r = 0; r < rows; ++r) {
                const uint8_t *rec = static_cast<const uint8_t *>(records) +
                                     static_cast<int64_t>(done + r) * h.recordSize;
                Slot *s = &slots[static_cast<size_t>(r) * columns];
                MYSQL_BIND *b = &binds[static_cast<size_t>(r) * columns];
                lmy::ToTime(static_cast<uint32_t>(ldf_Get32(rec + 4)), &s[0].time);
                b[0] = lmy::BindTime(&s[0].time);
                uint16_t fraction = ldf_Get16(rec + 10);
                s[1].f = static_cast<float>(ldf_Get16(rec + 8));
                if (fraction != 0) s[1].f += static_cast<float>(fraction) / 1000.0f;
                b[1] = lmy::BindFloat(&s[1].f);
                size_t c = 3; // TX stays NULL
                if (sig) {
                    s[c].i = rec[2];
                    b[c] = lmy::BindInt(&s[c].i);
                    s[c + 1].f = ldf_GetFloat(rec + 12);
                    b[c + 1] = lmy::BindFloat(&s[c + 1].f);
                    c += 2;
                }
                for (int k = 0; k < h.blockCount && k < 64; ++k) {
                    const LogBlockDescriptor &block = h.blocks[k];
                    int n = std::max(lmy::BlockChannels(block), 0);
                    const uint8_t *flags = rec + block.valuesOffset;
                    const uint8_t *values = flags + 4 * n;
                    for (int i = 0; i < n; ++i, ++c) {
                        int32_t f = ldf_Get32(flags + 4 * i);
                        if (f & LDF_FLAG_INVALID) continue;
                        if (f & LDF_FLAG_PRESENT) {
                            // Analogue values of the older kinds are not stored.
                            if (block.valueKind <= 7) continue;
                            s[c].f = ldf_GetFloat(values + 4 * i);
                            b[c] = lmy::BindFloat(&s[c].f);
                        } else if (digitalText_) {
                            std::string text = stateText(block, block.first + i, f & 1);
                            s[c].length = std::min<size_t>(text.size(), 32);
                            memcpy(s[c].text, text.data(), s[c].length);
                            b[c] = lmy::BindText(s[c].text, s[c].length, &s[c].length);
                        } else {
                            s[c].i = f & 1;
                            b[c] = lmy::BindInt(&s[c].i);
                        }
                    }
                }
            }
            lmy::Stmt st(conn_);
            if (st.h == nullptr) return Fail(kStmtInit, mysql_error(conn_));
            if (mysql_stmt_prepare(st.h, sql.c_str(), sql.size()) != 0)
                return Fail(kPrepare, mysql_stmt_error(st.h));
            if (mysql_stmt_bind_param(st.h, binds.data()) != 0)
                return Fail(kBindParam, mysql_stmt_error(st.h));
            if (mysql_stmt_execute(st.h) != 0) return Fail(kExecWrite, mysql_stmt_error(st.h));
            if (!st.Close()) return Fail(kClose, mysql_error(conn_));
            done += rows;
        }
    } catch (const std::bad_alloc &) {
        return Fail("out of memory", "out of memory");
    }
    trace();
    return 0;
}

int CLogDbMySQLStore::QueryLogs(const TimeStamp *, const TimeStamp *, LogHeader *, void *, int, int,
                                int, const char *, int, int) {
    return 0;
}

int CLogDbMySQLStore::ReadLogs(int index, LogHeader *header, void *buffer, int count,
                               int extraColumns, const char *extraText, int) {
    if (header == nullptr || buffer == nullptr) return 0;
    int step = header->recordSize + 8 * std::max(extraColumns, 0);
    int read = 0;
    for (; read < count; ++read) {
        uint8_t *at = static_cast<uint8_t *>(buffer) + static_cast<int64_t>(read) * step;
        if (ReadLog(index + read, header, at, header->recordSize, 0, extraColumns, extraText) != 0)
            break;
    }
    return read;
}

int CLogDbMySQLStore::ReadLog(int index, LogHeader *header, void *buffer, int bytes, int textFlag,
                              int, const char *extraText, int top, int descending) {
    if (header == nullptr || buffer == nullptr || bytes < 0)
        return plat_Fail(WERR_INVALID_PARAMETER);
    if (conn_ == nullptr) return Fail("CAN'T GET DATA", "not open");
    const LogHeader &h = *header;
    const bool sig = h.sigChange != 0;
    const bool whole = bytes > 16;
    const char *order = descending ? "DESC" : "ASC";
    char limit[48];
    snprintf(limit, sizeof limit, " LIMIT %d OFFSET %d", 1, index);
    std::string list = whole ? "*" : std::string("DT, MS, TX") + (sig ? ",LL, LV" : "");
    std::string sql = "select " + std::string(extraText != nullptr ? extraText : "") + list +
                      " from " + prefix_ + "DATA ORDER BY DT " + order + ", MS " + order + " " +
                      limit;
    lmy::Stmt st(conn_);
    if (st.h == nullptr) return Fail(kStmtInit, mysql_error(conn_));
    if (mysql_stmt_prepare(st.h, sql.c_str(), sql.size()) != 0)
        return Fail(kPrepare, mysql_stmt_error(st.h));
    if (mysql_stmt_execute(st.h) != 0) return Fail(kExecRead, mysql_stmt_error(st.h));
    unsigned fields = mysql_stmt_field_count(st.h);
    // Columns the caller selected ahead of the record's own come first; DT follows them.
    std::unique_ptr<MYSQL_RES, decltype(&mysql_free_result)> meta(mysql_stmt_result_metadata(st.h),
                                                                  &mysql_free_result);
    unsigned dtAt = 0;
    if (meta) {
        MYSQL_FIELD *f = mysql_fetch_fields(meta.get());
        for (unsigned i = 0; i < fields; ++i)
            if (strcasecmp(f[i].name, "DT") == 0) {
                dtAt = i;
                break;
            }
    }
    std::vector<Slot> s(fields);
    std::vector<MYSQL_BIND> b(fields);
    std::vector<std::vector<char>> texts(fields);
    for (unsigned i = 0; i < fields; ++i) {
        texts[i].assign(256, '\0');
        b[i] = lmy::BindText(texts[i].data(), 255, &s[i].length, &s[i].isNull);
    }
    if (fields < dtAt + 3) return Fail("COLUMN #1 IS NOT A DATE", "");
    b[dtAt] = lmy::BindTime(&s[dtAt].time, &s[dtAt].isNull);
    b[dtAt + 1] = lmy::BindFloat(&s[dtAt + 1].f, &s[dtAt + 1].isNull);
    // TX, with the text flag or not, has nowhere to go in the record: it stays in scratch.
    (void)textFlag;
    unsigned c = dtAt + 3;
    if (sig && fields >= c + 2) {
        b[c] = lmy::BindInt(&s[c].i, &s[c].isNull);
        b[c + 1] = lmy::BindFloat(&s[c + 1].f, &s[c + 1].isNull);
        c += 2;
    }
    struct ChannelColumn {
        unsigned column;
        int64_t flagAt, valueAt;
        bool integer, text;
    };
    std::vector<ChannelColumn> channelColumns;
    if (whole) {
        MYSQL_FIELD *f = meta ? mysql_fetch_fields(meta.get()) : nullptr;
        for (int k = 0; k < h.blockCount && k < 64; ++k) {
            const LogBlockDescriptor &block = h.blocks[k];
            int n = std::max(lmy::BlockChannels(block), 0);
            for (int i = 0; i < n && c < fields; ++i, ++c) {
                ChannelColumn cc{c, int64_t{block.valuesOffset} + 4 * i,
                                 int64_t{block.valuesOffset} + 4 * n + 4 * i, block.valueKind == 4,
                                 false};
                if (f != nullptr) {
                    enum_field_types t = f[c].type;
                    cc.text = t == MYSQL_TYPE_STRING || t == MYSQL_TYPE_VAR_STRING ||
                              t == MYSQL_TYPE_VARCHAR || t == MYSQL_TYPE_BLOB;
                }
                if (!cc.text)
                    b[c] = cc.integer ? lmy::BindInt(&s[c].i, &s[c].isNull)
                                      : lmy::BindFloat(&s[c].f, &s[c].isNull);
                channelColumns.push_back(cc);
            }
        }
    }
    if (mysql_stmt_bind_result(st.h, b.data()) != 0)
        return Fail(kBindResult, mysql_stmt_error(st.h));
    if (mysql_stmt_store_result(st.h) != 0) return Fail(kStore, mysql_stmt_error(st.h));
    int rc = mysql_stmt_fetch(st.h);
    if (rc != 0 && rc != MYSQL_DATA_TRUNCATED) return Fail("CAN'T GET DATA", "");
    if (s[dtAt].isNull) return Fail("COLUMN #1 IS NOT A DATE", "");
    uint8_t *rec = static_cast<uint8_t *>(buffer);
    auto fits = [bytes](int64_t at, int64_t size) { return at + size <= bytes; };
    if (fits(4, 4)) ldf_Put32(rec + 4, static_cast<int32_t>(lmy::FromTime(s[dtAt].time)));
    // MS holds ms + us / 1000 in a float: round to whole microseconds.
    int64_t us = s[dtAt + 1].isNull ? 0 : std::llround(double{s[dtAt + 1].f} * 1000.0);
    if (us < 0) us = 0;
    if (fits(8, 2)) ldf_Put16(rec + 8, static_cast<uint16_t>(us / 1000));
    if (fits(10, 2)) ldf_Put16(rec + 10, static_cast<uint16_t>(us % 1000));
    if (sig) {
        unsigned at = dtAt + 3;
        if (fits(2, 1) && at < fields) rec[2] = static_cast<uint8_t>(s[at].isNull ? 0 : s[at].i);
        if (fits(12, 4) && at + 1 < fields)
            ldf_PutFloat(rec + 12, s[at + 1].isNull ? 0.0f : s[at + 1].f);
    }
    for (const ChannelColumn &cc : channelColumns) {
        // A channel outside the caller's bytes is read and dropped.
        if (!fits(cc.flagAt, 4) || !fits(cc.valueAt, 4)) continue;
        const Slot &v = s[cc.column];
        if (v.isNull || cc.text) {
            ldf_Put32(rec + cc.flagAt, LDF_FLAG_INVALID);
        } else if (cc.integer) {
            ldf_Put32(rec + cc.flagAt, v.i & 1);
            ldf_Put32(rec + cc.valueAt, v.i);
        } else {
            ldf_Put32(rec + cc.flagAt, LDF_FLAG_PRESENT);
            ldf_PutFloat(rec + cc.valueAt, v.f);
        }
    }
    if (!st.Close()) return Fail(kClose, mysql_error(conn_));
    current_ = top != 0 ? -1 : index;
    return 0;
}

int CLogDbMySQLStore::RewriteLog(int, LogHeader *, const void *, int) {
    return 0;
}
int CLogDbMySQLStore::GetNoValidLogs(LogHeader *) {
    return 0;
}
int CLogDbMySQLStore::ReadSectionW(const char *, char16_t *, int *, const TimeStamp *,
                                   const TimeStamp *) {
    return 0;
}
int CLogDbMySQLStore::ReadSection(const char *section, char *buffer, int *size, const TimeStamp *,
                                  const TimeStamp *) {
    for (const char *known :
         {"HEADER", "TEXT", "PREDEFINED", "POSITIONS", "SCAN UPDATES", "TARGETS"})
        if (section != nullptr && strcasecmp(section, known) == 0) {
            if (buffer != nullptr && size != nullptr && *size > 0) buffer[0] = '\0';
            return 0;
        }
    return -1;
}
int CLogDbMySQLStore::ReadSectionLinesW(const char *, char16_t **, int *, char16_t *, int *,
                                        const TimeStamp *, const TimeStamp *) {
    return 0;
}
int CLogDbMySQLStore::ReadSectionLines(const char *, char **, int *, char *, int *,
                                       const TimeStamp *, const TimeStamp *) {
    return 0;
}
int CLogDbMySQLStore::WriteTextW(int32_t, const char16_t *, const char16_t *, const char *) {
    return 0;
}
int CLogDbMySQLStore::WriteText(int32_t, const char *, const char *, const char *) {
    return 0;
}
int CLogDbMySQLStore::WriteTextExW(const PreciseTimeStamp *stamp, const char16_t *text,
                                   const char16_t *match, const char *section) {
    return WriteTextW(stamp != nullptr ? stamp->seconds : 0, text, match, section);
}
int CLogDbMySQLStore::WriteTextEx(const PreciseTimeStamp *stamp, const char *text,
                                  const char *match, const char *section) {
    return WriteText(stamp != nullptr ? stamp->seconds : 0, text, match, section);
}
int CLogDbMySQLStore::WritePosition(int32_t, int, float) {
    return 0;
}
int CLogDbMySQLStore::WriteHeaderTextW(const char16_t *) {
    return 0;
}
int CLogDbMySQLStore::WriteHeaderText(const char *) {
    return 0;
}
int CLogDbMySQLStore::WriteFormulae(const char *, int, const char *) {
    return -1;
}
int CLogDbMySQLStore::WriteUnitCategory(const char *, const char *) {
    return -1;
}
int CLogDbMySQLStore::GetTextTime(int32_t *) {
    return 0;
}
int CLogDbMySQLStore::Rename(const char *) {
    return 0;
}
void CLogDbMySQLStore::DeleteLogs(const TimeStamp *, const TimeStamp *) {}
void CLogDbMySQLStore::Truncate(LogHeader *, int) {}
int CLogDbMySQLStore::CountLogs(const TimeStamp *, const TimeStamp *, LogHeader *) {
    return 0;
}

std::string lmy::StateText(const LogBlockDescriptor &block, int channel, bool high) {
    return stateText(block, channel, high);
}
