// The database store of one run.
#include "lstore_db.h"

#include "chrec.h"
#include "ldb.h"
#include "lstore_db_channels.h"
#include "ldf.h"
#include "plat_cp1252.h"
#include "plat_error.h"
#include "reg.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <vector>

namespace {

constexpr size_t kMaxIdentity = 1424;
constexpr size_t kMaxName = 260;

std::u16string w(const std::string &cp1252) {
    return plat_Cp1252ToUtf16(cp1252);
}
std::string narrow(const ado::Variant &v) {
    if (v.vt == ado::VT_BSTR) return plat_Utf16ToCp1252(v.s);
    return plat_Utf8ToCp1252(v.AsUtf8());
}
std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    return s;
}
std::string firstWord(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    size_t b = s.find_first_of(" \t\r\n", a);
    return s.substr(a, b == std::string::npos ? std::string::npos : b - a);
}
bool startsNoCase(const std::string &s, const char *head) {
    return strncasecmp(s.c_str(), head, strlen(head)) == 0;
}
int32_t nowLocal() {
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    return static_cast<int32_t>(static_cast<uint32_t>(timegm(&t)));
}
bool isDigitalValue(int32_t flags) {
    return (flags & 0x80) == 0;
}

// The state text of a digital channel from the runtime's configuration of its block; empty
// when the segment is missing or the channel is not digital.
std::string stateText(const LogHeader &h, int block, int index, int state) {
    std::vector<ChannelRecord> records;
    if (ldbch_BlockRecords(h, block, nullptr, nullptr, &records) != 0 ||
        static_cast<size_t>(index) >= records.size())
        return "";
    const ChannelRecord &r = records[static_cast<size_t>(index)];
    if ((chrec_GetType(r) & 1) == 0) return "";
    return chrec_GetText(r, state ? ChannelDigital::HighStateText : ChannelDigital::LowStateText);
}

} // namespace

int CLogDbStore::fail(const char *detail, const char *message) {
    std::strncpy(detail_, detail ? detail : "", sizeof detail_ - 1);
    detail_[sizeof detail_ - 1] = '\0';
    std::strncpy(message_, message ? message : "", sizeof message_ - 1);
    message_[sizeof message_ - 1] = '\0';
    return -1;
}

std::string CLogDbStore::runCondition() const {
    return "where sLoggerName = '" + ldb_Quote(loggerName_) +
           "' AND nLoggerSequence = " + std::to_string(seq_);
}

void CLogDbStore::setConnectionString(const std::string &connection) {
    connection_ = connection;
    if (ldb_IsJet(connection.c_str())) styleLow_ = styleHigh_ = 2;
}

template <typename F>
bool CLogDbStore::withStyles(F attempt) {
    for (int style = styleLow_; style <= styleHigh_; ++style) {
        if (attempt(style)) {
            styleLow_ = styleHigh_ = style;
            return true;
        }
    }
    return false;
}

int CLogDbStore::connect(const std::string &connection) {
    if (reader_.Connect(w(connection), u"", -1) != 0)
        return fail(reader_.GetErrorText(), "CAN'T OPEN DATABASE");
    if (reader_.Noop(0, 0) != 0) return fail(reader_.GetErrorText(), "CAN'T LOGIN TO DATABASE");
    return 0;
}

int CLogDbStore::findRun(const std::string &connection) {
    if (connect(connection) != 0) return -1;
    std::string sql = "select sTablePrefix from LOGGERS " + runCondition();
    ado::Variant v;
    std::string prefix;
    if (reader_.OpenRecordset(w(sql), 3, 1, 8) == 0 && reader_.GetFieldValue(0, &v) == 0 &&
        !v.IsEmptyOrNull())
        prefix = firstWord(narrow(v));
    // A prefix that does not fit the run's prefix field is no run of this system.
    if (prefix.empty() || prefix.size() > kMaxName - 1) {
        fail(reader_.GetErrorText(), "CAN'T FIND LOGGER NAME AND SEQ");
        reader_.Disconnect();
        return -1;
    }
    prefix_ = prefix;
    current_ = -1;
    setConnectionString(connection);
    return 0;
}

int CLogDbStore::Open(const char *server, const char *path, uint32_t access) {
    if (path == nullptr || strlen(path) > kMaxIdentity) {
        plat_SetLastError(0);
        return -1;
    }
    auto parse = [&](const std::string &identity, std::string *rest) {
        char work[kMaxIdentity + 400];
        std::snprintf(work, sizeof work, "%s", identity.c_str());
        char name[kMaxName + 1];
        int size = sizeof name;
        int32_t seq = 0;
        if (!lstore_TakeLoggerName(work, &size, name) || !lstore_TakeLoggerSeq(work, &seq))
            return false;
        loggerName_ = name;
        seq_ = seq;
        *rest = work;
        return true;
    };
    std::string rest;
    if (!parse(path, &rest)) {
        fail("", "BADLY FORMED PATH NAME");
        plat_SetLastError(0);
        return -1;
    }
    access_ = access;
    if (findRun(rest) == 0) return 0;
    if (server == nullptr || *server == '\0' || startsNoCase(rest, "PROVIDER=MS REMOTE")) return -1;
    std::string remote =
        std::string("PROVIDER=MS REMOTE;REMOTE SERVER=HTTP://") + server + ";REMOTE " + path;
    if (!parse(remote, &rest)) return -1;
    return findRun(rest);
}

int CLogDbStore::StartLogging(LogHeader *) {
    if (logger_.Connect(w(connection_), u"", -1) != 0)
        return fail(logger_.GetErrorText(), "CAN'T OPEN DATABASE");
    loggingStarted_ = 1;
    if (logger_.Noop(0, 0) != 0) return fail(logger_.GetErrorText(), "CAN'T LOG INTO DATABASE");
    if (logger_.OpenRecordset(w(prefix_ + "DATA"), 0, 3, 2) != 0)
        return fail(logger_.GetErrorText(), "CAN'T OPEN DATA TABLE");
    digitalText_ = ldb_DigitalText(nullptr) ? 1 : 0;
    return 0;
}

void CLogDbStore::GetName(char *buffer, int *length) {
    char seq[16];
    std::snprintf(seq, sizeof seq, "%08d", seq_);
    lstore_PutName(connection_ + ";LoggerName=" + loggerName_ + ";LoggerSeq=" + seq, buffer,
                   length);
}

int CLogDbStore::Close() {
    reader_.Disconnect();
    if (loggingStarted_) logger_.Disconnect();
    loggingStarted_ = 0;
    return 0;
}

int CLogDbStore::SavePosition(int32_t) {
    return 0;
}

void CLogDbStore::GetTablePrefix(char *buffer, int *size) const {
    if (buffer) std::snprintf(buffer, kMaxName, "%s", prefix_.c_str());
    if (size) *size = static_cast<int>(kMaxName);
}

int CLogDbStore::ReadHeader(LogHeader *h) {
    current_ = -1;
    if (reader_.OpenRecordset(w("select * from LOGGERS " + runCondition()), 3, 1, 8) != 0)
        return fail(reader_.GetErrorText(), "CAN'T FIND LOGGER");
    ado::Variant v;
    if (reader_.GetFieldValue(2, &v) != 0) return fail(reader_.GetErrorText(), "CAN'T FIND LOGGER");
    if (v.vt != ado::VT_DATE) return fail("", "COLUMN #3 IS NOT A DATE");
    h->start = lstore_DbTimeToLocal(v.d, 0);
    h->reserved1 = 0;
    reader_.GetFieldValue(3, &v);
    h->stop = v.vt == ado::VT_DATE ? lstore_DbTimeToLocal(v.d, 0) : 0;
    h->reserved2 = 0;
    reader_.GetFieldValue(7, &v);
    h->tagColumns = static_cast<uint8_t>(v.AsInt());
    reader_.GetFieldValue(11, &v);
    h->sigChange = static_cast<uint8_t>(v.AsInt());
    sigChange_ = h->sigChange;
    if (h->sigChange) {
        auto ref = [&](int prefixColumn, LogChannelRef *r) {
            ado::Variant p, n;
            reader_.GetFieldValue(prefixColumn, &p);
            reader_.GetFieldValue(prefixColumn + 1, &n);
            std::string word = firstWord(narrow(p)).substr(0, 2);
            std::memset(r->prefix, 0, 2);
            std::memcpy(r->prefix, word.data(), word.size());
            r->number = static_cast<uint16_t>(n.AsInt());
        };
        ref(12, &h->trigger);
        ref(14, &h->lag);
    }
    h->marker = 0x8001;
    std::memset(h->blocks, 0, sizeof h->blocks);
    h->blockCount = 0;
    std::string sql =
        "select nBlock, sPrefix, nChannelNumber, sSource, bLag from " + prefix_ + "CHANNELS";
    int empty = reader_.OpenQuery(w(sql), u"");
    if (empty != 0 && empty != 1) return fail(reader_.GetErrorText(), "CAN'T GET CHANNELS");
    if (empty == 0) {
        if (reader_.MoveFirst() != 0)
            return fail(reader_.GetErrorText(), "CAN'T FIND FIRST CHANNEL");
        bool first = true;
        for (;;) {
            ado::Variant eof;
            if (reader_.IsEOF(&eof) != 0)
                return fail(reader_.GetErrorText(),
                            first ? "CAN'T CHECK FIRST CHANNEL" : "CAN'T CHECK NEXT CHANNEL");
            if (eof.i != 0) break;
            first = false;
            ado::Variant nb, pre, num, src, lag;
            reader_.GetFieldValue(0, &nb);
            reader_.GetFieldValue(1, &pre);
            reader_.GetFieldValue(2, &num);
            reader_.GetFieldValue(3, &src);
            reader_.GetFieldValue(4, &lag);
            int64_t b = nb.AsInt();
            if (b >= 0 && b < 64) {
                LogBlockDescriptor &d = h->blocks[b];
                if (h->blockCount < b + 1) h->blockCount = static_cast<uint16_t>(b + 1);
                uint16_t n = static_cast<uint16_t>(num.AsInt());
                if (d.first == 0) {
                    std::string word = firstWord(narrow(pre)).substr(0, 2);
                    std::memset(d.prefix, 0, 2);
                    std::memcpy(d.prefix, word.data(), word.size());
                    d.first = n;
                    std::string s = trimRight(narrow(src).substr(0, 24));
                    std::memset(d.source, 0, sizeof d.source);
                    std::memcpy(d.source, s.data(), s.size());
                    d.spare[1] = static_cast<uint8_t>(lag.AsInt());
                    d.valueKind = 8;
                }
                d.first = std::min(d.first, n);
                d.last = std::max(d.last, n);
            }
            if (reader_.MoveNext() != 0)
                return fail(reader_.GetErrorText(), "CAN'T GET NEXT CHANNEL");
        }
    }
    int count = GetNoLogs(h);
    if (count < 0) return -1;
    h->recordCount = count;
    int32_t size = 18, channels = 0;
    for (int k = 0; k < h->blockCount; ++k) {
        h->blocks[k].valuesOffset = static_cast<uint16_t>(size);
        size += 8 * (h->blocks[k].last - h->blocks[k].first) + 10;
        channels += h->blocks[k].last - h->blocks[k].first + 1;
    }
    h->recordSize = size;
    h->dataOffset = size + 4 * h->blockCount + 216 * channels + 4404;
    h->writePos = count * size + h->dataOffset;
    return 0;
}

int CLogDbStore::GetNoLogs(LogHeader *) {
    current_ = -1;
    ado::Variant v;
    if (reader_.OpenRecordset(w("SELECT COUNT(*) FROM " + prefix_ + "DATA"), 3, 1, 8) != 0 ||
        reader_.GetFieldValue(0, &v) != 0)
        return fail(reader_.GetErrorText(), "CAN'T COUNT DATA ROWS");
    return static_cast<int>(v.AsInt());
}

int CLogDbStore::GetNoValidLogs(LogHeader *h) {
    if (!h || !h->sigChange) return 0;
    current_ = -1;
    ado::Variant v;
    if (reader_.OpenRecordset(w("SELECT COUNT(*) FROM " + prefix_ + "DATA WHERE LL >= 1"), 3, 1,
                              8) != 0 ||
        reader_.GetFieldValue(0, &v) != 0)
        return fail(reader_.GetErrorText(), "CAN'T COUNT DATA ROWS");
    return static_cast<int>(v.AsInt());
}

int CLogDbStore::writeRow(const LogHeader &h, const uint8_t *r, int bytes) {
    CLogITDbDataAcc &a = logger_;
    double dt = 0;
    lstore_LocalToDbTime(ldf_Get32(r + 4), &dt);
    if (a.SetFieldValue(0, ado::Variant::Date(dt)) != 0)
        return fail(a.GetErrorText(), "CAN'T SET DT");
    if (a.SetFieldValue(1, ado::Variant::I4(static_cast<int16_t>(ldf_Get16(r + 8)))) != 0)
        return fail(a.GetErrorText(), "CAN'T SET MS");
    int column = 3;
    if (h.sigChange) {
        if (a.SetFieldValue(3, ado::Variant::I4(r[2])) != 0)
            return fail(a.GetErrorText(), "CAN'T SET LL");
        if (a.SetFieldValue(4, ado::Variant::R4(ldf_GetFloat(r + 12))) != 0)
            return fail(a.GetErrorText(), "CAN'T SET LV");
        column = 5;
    }
    if (bytes > 16) {
        for (int b = 0; b < h.blockCount && b < 64; ++b) {
            const LogBlockDescriptor &d = h.blocks[b];
            int n = d.last - d.first + 1;
            for (int k = 0; k < n; ++k, ++column) {
                int flagAt = d.valuesOffset + 4 * k, valueAt = d.valuesOffset + 4 * n + 4 * k;
                if (valueAt + 4 > bytes) continue;
                int32_t flags = ldf_Get32(r + flagAt);
                ado::Variant value = ado::Variant::Null();
                if (flags & 0x20) {
                    value = ado::Variant::Null();
                } else if (isDigitalValue(flags)) {
                    value = digitalText_ ? ado::Variant::Str(w(stateText(h, b, k, flags & 1)))
                                         : ado::Variant::I4(flags & 1);
                } else if (d.valueKind > 7) {
                    value = ado::Variant::R4(ldf_GetFloat(r + valueAt));
                }
                if (a.SetFieldValue(column, value) != 0)
                    return fail(a.GetErrorText(), "CAN'T SET CHANNEL");
            }
        }
    }
    if (a.Update() != 0) return fail(a.GetErrorText(), "CAN'T ADD LOG");
    return 0;
}

int CLogDbStore::WriteLog(LogHeader *h, const void *records, int count) {
    if (!loggingStarted_ || !h) return -1;
    const auto *r = static_cast<const uint8_t *>(records);
    for (int k = 0; k < count; ++k, r += h->recordSize) {
        bool retried = false;
        for (;;) {
            if (logger_.AddNewIfSupported() != 0)
                return fail(logger_.GetErrorText(), "CAN'T LOG SCAN");
            if (writeRow(*h, r, h->recordSize) == 0) break;
            fail(logger_.GetErrorText(), "CAN'T ADD LOG");
            logger_.CancelUpdate();
            if (retried) return -1;
            retried = true;
            logger_.Disconnect();
            loggingStarted_ = 0;
            if (StartLogging(h) != 0) return -1;
        }
    }
    return 0;
}

int CLogDbStore::buildRecord(const LogHeader &h, uint8_t *r, int bytes, int extraColumns,
                             bool wholeRows, int extraAt) {
    std::memset(r, 0, static_cast<size_t>(std::max(bytes, 0)));
    // The row's extra columns come before DT.
    int base = extraColumns;
    ado::Variant v;
    if (reader_.GetFieldValue(base, &v) != 0)
        return fail(reader_.GetErrorText(), "CAN'T MOVE FIRST DATA");
    if (v.vt != ado::VT_DATE) return fail("", "COLUMN #1 IS NOT A DATE");
    if (bytes >= 8) ldf_Put32(r + 4, lstore_DbTimeToLocal(v.d, 0));
    reader_.GetFieldValue(base + 1, &v);
    if (bytes >= 10) ldf_Put16(r + 8, static_cast<uint16_t>(v.AsInt()));
    int column = base + 3;
    if (h.sigChange) {
        reader_.GetFieldValue(base + 3, &v);
        if (bytes >= 3) r[2] = static_cast<uint8_t>(v.AsInt());
        reader_.GetFieldValue(base + 4, &v);
        if (bytes >= 16) ldf_PutFloat(r + 12, static_cast<float>(v.AsDouble()));
        column = base + 5;
    }
    if (h.recordSize > 16 && wholeRows) {
        for (int b = 0; b < h.blockCount && b < 64; ++b) {
            const LogBlockDescriptor &d = h.blocks[b];
            int n = d.last - d.first + 1;
            if (d.valuesOffset >= 2 && d.valuesOffset <= bytes)
                ldf_Put16(r + d.valuesOffset - 2, 0x8005);
            for (int k = 0; k < n; ++k, ++column) {
                int flagAt = d.valuesOffset + 4 * k, valueAt = d.valuesOffset + 4 * n + 4 * k;
                // Only channels whose flag word and value lie inside the caller's buffer.
                if (valueAt + 4 > bytes || flagAt + 4 > bytes) continue;
                if (reader_.GetFieldValue(column, &v) != 0) continue;
                if (v.IsEmptyOrNull() || !(v.IsNumber() || v.vt == ado::VT_DATE)) {
                    ldf_Put32(r + flagAt, 0x20);
                } else {
                    ldf_Put32(r + flagAt, 0x80);
                    ldf_PutFloat(r + valueAt, static_cast<float>(v.AsDouble()));
                }
            }
            const_cast<LogHeader &>(h).blocks[b].valueKind = 8;
        }
        if (h.recordSize >= 2 && h.recordSize <= bytes) ldf_Put16(r + h.recordSize - 2, 0x8006);
    }
    for (int j = 0; j < extraColumns; ++j) {
        int at = extraAt + 8 * j;
        reader_.GetFieldValue(j, &v);
        if (at + 8 > bytes) continue;
        if (v.IsEmptyOrNull()) {
            ldf_Put32(r + at, 0x20);
        } else if (v.vt == ado::VT_BSTR) {
            ldf_Put32(r + at, 0x80);
        } else {
            ldf_Put32(r + at, 0x80);
            ldf_PutFloat(r + at + 4, static_cast<float>(v.AsDouble()));
        }
    }
    if (bytes >= 2) ldf_Put16(r, 0x8004);
    return 0;
}

int CLogDbStore::ReadLog(int index, LogHeader *h, void *buffer, int bytes, int, int extraColumns,
                         const char *extraText, int top, int descending) {
    std::string extra = extraText ? extraText : "";
    const char *order = descending ? "DESC" : "ASC";
    if (current_ < 0 || top) {
        std::string tail =
            extra + "* from " + prefix_ + "DATA ORDER BY DT " + order + ", MS " + order;
        bool opened = false;
        if (topWorks_ && top) {
            opened = reader_.OpenRecordset(w("select TOP " + std::to_string(top) + " " + tail), 3,
                                           1, 8) == 0;
            if (!opened && reader_.OpenRecordset(w("select " + tail), 3, 1, 8) == 0) {
                topWorks_ = 0;
                opened = true;
            }
        } else {
            opened = reader_.OpenRecordset(w("select " + tail), 3, 1, 8) == 0;
        }
        if (!opened) {
            current_ = -1;
            return fail(reader_.GetErrorText(), "CAN'T SELECT FROM DATA");
        }
    }
    if (reader_.MoveTo(index) != 0 || buildRecord(*h, static_cast<uint8_t *>(buffer), bytes,
                                                  extraColumns, true, h->recordSize) != 0) {
        current_ = -1;
        return fail(reader_.GetErrorText(), "CAN'T MOVE FIRST DATA");
    }
    current_ = top ? -1 : index;
    return 0;
}

int CLogDbStore::ReadLogs(int index, LogHeader *h, void *buffer, int count, int extraColumns,
                          const char *extraText, int) {
    auto *out = static_cast<uint8_t *>(buffer);
    int step = h->recordSize + 8 * extraColumns;
    int done = 0;
    for (; done < count; ++done, out += step)
        if (ReadLog(index + done, h, out, step, 0, extraColumns, extraText, 0, 0) != 0) break;
    return done;
}

int CLogDbStore::QueryLogs(const TimeStamp *from, const TimeStamp *to, LogHeader *h, void *buffer,
                           int recordSize, int count, int extraColumns, const char *extraText,
                           int descending, int timesOnly) {
    current_ = -1;
    const char *order = descending ? "DESC" : "ASC";
    std::string columns =
        timesOnly ? (h->sigChange ? "DT, MS, LL, LV" : "DT, MS") : std::string("*");
    bool opened = false;
    for (int style = styleLow_; style <= 2 && !opened; ++style) {
        std::string sql = "SELECT TOP " + std::to_string(count) + " " +
                          (extraText ? extraText : "") + columns + " FROM " + prefix_ + "DATA" +
                          ldb_TimeCondition(style, from, to) + " ORDER BY DT " + order + ", MS " +
                          order;
        if (reader_.OpenRecordset(w(sql), 3, 1, 8) == 0) {
            opened = true;
            styleLow_ = styleHigh_ = style;
            topWorks_ = 1;
        }
    }
    if (!opened) return 0;
    auto *out = static_cast<uint8_t *>(buffer);
    int step = recordSize + 8 * extraColumns;
    int done = 0;
    for (; done < count; ++done, out += step) {
        if (reader_.MoveTo(done) != 0) break;
        // Each record is followed by its extra columns.
        if (buildRecord(*h, out, step, extraColumns, !timesOnly, recordSize) != 0) break;
    }
    return done;
}

int CLogDbStore::RewriteLog(int, LogHeader *h, const void *records, int bytes) {
    current_ = -1;
    const auto *r = static_cast<const uint8_t *>(records);
    int32_t lock = (access_ & LSTORE_WRITE) ? 3 : 1;
    bool opened = withStyles([&](int style) {
        std::string sql = "SELECT * FROM " + prefix_ +
                          "DATA WHERE DT = " + ldb_DateLiteral(style, ldf_Get32(r + 4)) +
                          " AND MS=" + std::to_string(static_cast<int16_t>(ldf_Get16(r + 8)));
        return reader_.OpenRecordset(w(sql), 3, lock, 8) == 0;
    });
    if (!opened) return fail(reader_.GetErrorText(), "CAN'T WRITE LOG");
    // The row is rewritten through the reading object, as a new row would be written.
    double dt = 0;
    lstore_LocalToDbTime(ldf_Get32(r + 4), &dt);
    int column = h->sigChange ? 5 : 3;
    if (h->sigChange) {
        reader_.SetFieldValue(3, ado::Variant::I4(r[2]));
        reader_.SetFieldValue(4, ado::Variant::R4(ldf_GetFloat(r + 12)));
    }
    if (bytes > 16) {
        for (int b = 0; b < h->blockCount && b < 64; ++b) {
            const LogBlockDescriptor &d = h->blocks[b];
            int n = d.last - d.first + 1;
            for (int k = 0; k < n; ++k, ++column) {
                int flagAt = d.valuesOffset + 4 * k, valueAt = d.valuesOffset + 4 * n + 4 * k;
                if (valueAt + 4 > bytes) continue;
                int32_t flags = ldf_Get32(r + flagAt);
                ado::Variant value = ado::Variant::Null();
                if (!(flags & 0x20)) {
                    if (isDigitalValue(flags))
                        value = digitalText_ ? ado::Variant::Str(w(stateText(*h, b, k, flags & 1)))
                                             : ado::Variant::I4(flags & 1);
                    else if (d.valueKind > 7)
                        value = ado::Variant::R4(ldf_GetFloat(r + valueAt));
                }
                if (reader_.SetFieldValue(column, value) != 0)
                    return fail(reader_.GetErrorText(), "CAN'T SET CHANNEL");
            }
        }
    }
    if (reader_.Update() != 0) return fail(reader_.GetErrorText(), "CAN'T ADD LOG");
    return 0;
}

int CLogDbStore::WriteHeader(LogHeader *h, int completed) {
    if (!(access_ & LSTORE_WRITE)) return 0;
    current_ = -1;
    std::string sql = "select dStartTime, dStopTime, bCompleted from LOGGERS " + runCondition();
    if (reader_.OpenRecordset(w(sql), 3, 3, 8) != 0)
        return fail(reader_.GetErrorText(), "CAN'T FIND LOGGER TIMES");
    double start = 0, stop = 0;
    lstore_LocalToDbTime(h->start, &start);
    lstore_LocalToDbTime(h->stop, &stop);
    if (reader_.SetFieldValue(0, ado::Variant::Date(start)) != 0 ||
        reader_.SetFieldValue(1, h->stop ? ado::Variant::Date(stop) : ado::Variant::Null()) != 0 ||
        reader_.SetFieldValue(2, ado::Variant::I4(completed)) != 0 || reader_.UpdateRecord() != 0)
        return fail(reader_.GetErrorText(), "CAN'T FIND LOGGER TIMES");
    if (loggingStarted_) {
        uint8_t first[16];
        if (ReadLog(0, h, first, 16, 0, 0, nullptr, 1, 0) == 0 &&
            static_cast<uint32_t>(ldf_Get32(first + 4)) < static_cast<uint32_t>(h->start)) {
            TimeStamp bound{h->start, 0, 0};
            DeleteLogs(nullptr, &bound);
        }
    }
    return 0;
}

int CLogDbStore::CountLogs(const TimeStamp *from, const TimeStamp *to, LogHeader *) {
    current_ = -1;
    int count = -1;
    withStyles([&](int style) {
        ado::Variant v;
        std::string sql =
            "SELECT COUNT(*) FROM " + prefix_ + "DATA" + ldb_TimeCondition(style, from, to);
        if (reader_.OpenRecordset(w(sql), 3, 1, 8) != 0 || reader_.GetFieldValue(0, &v) != 0)
            return false;
        count = static_cast<int>(v.AsInt());
        return true;
    });
    return count;
}

void CLogDbStore::DeleteLogs(const TimeStamp *from, const TimeStamp *to) {
    current_ = -1;
    int32_t lock = (access_ & LSTORE_WRITE) ? 3 : 1;
    withStyles([&](int style) {
        std::string sql = "DELETE FROM " + prefix_ + "DATA" + ldb_TimeCondition(style, from, to);
        return reader_.OpenRecordset(w(sql), 3, lock, 8) == 0;
    });
}

int CLogDbStore::touchTextTime() {
    double now = 0;
    lstore_LocalToDbTime(nowLocal(), &now);
    if (reader_.OpenRecordset(w("select dTextTime from LOGGERS " + runCondition()), 3, 3, 8) != 0 ||
        reader_.SetFieldValue(0, ado::Variant::Date(now)) != 0 || reader_.Update() != 0)
        return fail(reader_.GetErrorText(), "CAN'T UPDATE LOGGERS TABLE");
    return 0;
}

int CLogDbStore::writeText(int32_t time, const std::u16string &text, bool lumbrelException) {
    current_ = -1;
    bool opened = withStyles([&](int style) {
        std::string sql =
            "SELECT TX FROM " + prefix_ + "DATA WHERE DT = " + ldb_DateLiteral(style, time);
        return reader_.OpenRecordset(w(sql), 3, 3, 8) == 0;
    });
    if (!opened) return fail(reader_.GetErrorText(), "CAN'T WRITE LOG");
    if (reader_.SetFieldValue(0, ado::Variant::Str(text)) != 0 && lumbrelException &&
        reg_IsLumbrelEdition())
        return 0;
    if (reader_.Update() != 0) return fail(reader_.GetErrorText(), "CAN'T UPDATE TEXT TABLE");
    return touchTextTime();
}

int CLogDbStore::WriteText(int32_t time, const char *text, const char *, const char *section) {
    if (section && *section && strcasecmp(section, "TEXT") != 0) return -1;
    return writeText(time, w(text ? text : ""), true);
}

int CLogDbStore::WriteTextW(int32_t time, const char16_t *text, const char16_t *,
                            const char *section) {
    if (section && *section && strcasecmp(section, "TEXT") != 0) return -1;
    return writeText(time, text ? std::u16string(text) : std::u16string(), false);
}

int CLogDbStore::WriteTextEx(const PreciseTimeStamp *stamp, const char *text, const char *match,
                             const char *section) {
    return WriteText(stamp ? stamp->seconds : 0, text, match, section);
}

int CLogDbStore::WriteTextExW(const PreciseTimeStamp *stamp, const char16_t *text,
                              const char16_t *match, const char *section) {
    return WriteTextW(stamp ? stamp->seconds : 0, text, match, section);
}

int CLogDbStore::WritePosition(int32_t time, int hasValue, float value) {
    current_ = -1;
    bool opened = withStyles([&](int style) {
        std::string sql =
            "SELECT TP FROM " + prefix_ + "DATA WHERE DT = " + ldb_DateLiteral(style, time);
        return reader_.OpenRecordset(w(sql), 3, 3, 8) == 0;
    });
    if (!opened) return fail(reader_.GetErrorText(), "CAN'T WRITE LOG");
    reader_.SetFieldValue(0, hasValue ? ado::Variant::R4(value) : ado::Variant::Null());
    if (reader_.Update() != 0) return fail(reader_.GetErrorText(), "CAN'T UPDATE TEXT TABLE");
    return touchTextTime();
}

int CLogDbStore::WriteHeaderTextW(const char16_t *text) {
    current_ = -1;
    double now = 0;
    lstore_LocalToDbTime(nowLocal(), &now);
    if (reader_.OpenRecordset(w("select sHeader, dTextTime  from LOGGERS " + runCondition()), 3, 3,
                              8) != 0 ||
        reader_.SetFieldValue(0, ado::Variant::Str(text ? text : u"")) != 0 ||
        reader_.SetFieldValue(1, ado::Variant::Date(now)) != 0 || reader_.Update() != 0)
        return fail(reader_.GetErrorText(), "CAN'T UPDATE LOGGERS TABLE");
    return 0;
}

int CLogDbStore::WriteHeaderText(const char *text) {
    std::u16string t = w(text ? text : "");
    return WriteHeaderTextW(t.c_str());
}

int CLogDbStore::WriteFormulae(const char *, int, const char *) {
    return -1;
}
int CLogDbStore::WriteUnitCategory(const char *, const char *) {
    return -1;
}
int CLogDbStore::Rename(const char *) {
    return 0;
}
void CLogDbStore::Truncate(LogHeader *, int) {}

int CLogDbStore::GetTextTime(int32_t *time) {
    current_ = -1;
    ado::Variant v;
    if (reader_.OpenRecordset(w("select dTextTime from LOGGERS " + runCondition()), 3, 1, 8) != 0 ||
        reader_.GetFieldValue(0, &v) != 0) {
        fail(reader_.GetErrorText(), "CAN'T FIND LOGGER NAME AND SEQ HDR");
        reader_.Disconnect();
        return -1;
    }
    if (time) *time = v.vt == ado::VT_DATE ? lstore_DbTimeToLocal(v.d, 0) : 0;
    return 0;
}

int CLogDbStore::readTimedSection(bool positions, std::string *out, const TimeStamp *from,
                                  const TimeStamp *to) {
    int lines = -1;
    const char *column = positions ? "TP" : "TX";
    withStyles([&](int style) {
        std::string cond = std::string(column) + " IS NOT NULL";
        std::string bounds = ldb_TimeCondition(style, from, to);
        if (!bounds.empty()) cond += " AND " + bounds.substr(7);
        std::string sql = std::string("SELECT DT, ") + column + " FROM " + prefix_ + "DATA WHERE " +
                          cond + " ORDER BY DT ASC";
        int empty = reader_.OpenQuery(w(sql), u"");
        if (empty != 0 && empty != 1) return false;
        out->clear();
        lines = 0;
        if (empty == 1) return true;
        for (;;) {
            ado::Variant eof, dt, value;
            reader_.IsEOF(&eof);
            if (eof.i != 0) break;
            if (reader_.GetFieldValue(0, &dt) != 0) {
                lines = fail(reader_.GetErrorText(), "CAN'T FIND TS");
                return true;
            }
            if (reader_.GetFieldValue(1, &value) != 0) {
                lines = fail(reader_.GetErrorText(), "CAN'T FIND TX");
                return true;
            }
            struct tm t =
                ts_GmTime(static_cast<uint32_t>(lstore_DbTimeToLocal(dt.d, dt.vt != ado::VT_DATE)));
            char head[64];
            std::snprintf(head, sizeof head, "%02d/%02d/%02d %02d:%02d:%02d ", t.tm_year % 100,
                          t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
            if (positions) {
                char v[64];
                std::snprintf(v, sizeof v, "%f", value.AsDouble());
                *out += head + std::string(v) + "\r\n";
                ++lines;
            } else {
                std::string text = trimRight(narrow(value).substr(0, 255));
                if (!text.empty()) {
                    *out += head + text + "\r\n";
                    ++lines;
                }
            }
            if (reader_.MoveNext() != 0) break;
        }
        return true;
    });
    return lines;
}

int CLogDbStore::ReadSection(const char *section, char *buffer, int *size, const TimeStamp *from,
                             const TimeStamp *to) {
    if (!section) return -1;
    current_ = -1;
    std::string text;
    int lines = 0;
    if (strcasecmp(section, "HEADER") == 0) {
        ado::Variant v;
        if (reader_.OpenRecordset(w("select sHeader from LOGGERS " + runCondition()), 3, 1, 8) !=
                0 ||
            reader_.GetFieldValue(0, &v) != 0) {
            fail(reader_.GetErrorText(), "CAN'T FIND LOGGER NAME AND SEQ HDR");
            reader_.Disconnect();
            return -1;
        }
        if (!v.IsEmptyOrNull()) {
            text = narrow(v);
            lines = -2; // counted below
        }
    } else if (strcasecmp(section, "TEXT") == 0 || strcasecmp(section, "POSITIONS") == 0) {
        lines = readTimedSection(strcasecmp(section, "POSITIONS") == 0, &text, from, to);
        if (lines < 0) return -1;
    } else if (strcasecmp(section, "PREDEFINED") == 0) {
        int empty =
            reader_.OpenQuery(w("SELECT TX FROM " + prefix_ + "TEXT WHERE TX IS NOT NULL"), u"");
        if (empty != 0 && empty != 1) return fail(reader_.GetErrorText(), "CAN'T FIND TEXT/TX");
        while (empty == 0) {
            ado::Variant eof, v;
            reader_.IsEOF(&eof);
            if (eof.i != 0) break;
            if (reader_.GetFieldValue(0, &v) != 0)
                return fail(reader_.GetErrorText(), "CAN'T FIND TEXT/TX");
            std::string t = trimRight(narrow(v));
            if (!t.empty()) {
                text += t + "\r\n";
                ++lines;
            }
            if (reader_.MoveNext() != 0) break;
        }
    } else if (strcasecmp(section, "TARGETS") == 0) {
        return 0;
    } else {
        return -1;
    }
    if (buffer && size && *size > 0) {
        size_t n = std::min<size_t>(text.size(), static_cast<size_t>(*size - 1));
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
        if (lines == -2) lines = lstore_CountLines(buffer);
    } else if (size) {
        *size = text.empty() ? 0 : static_cast<int>(text.size()) + 1;
        if (lines == -2) lines = lstore_CountLines(text.c_str());
    }
    return lines == -2 ? 0 : lines;
}

int CLogDbStore::ReadSectionW(const char *, char16_t *, int *, const TimeStamp *,
                              const TimeStamp *) {
    return 0;
}

int CLogDbStore::ReadSectionLines(const char *section, char **lines, int *count, char *buffer,
                                  int *size, const TimeStamp *from, const TimeStamp *to) {
    if (!lines || !buffer) {
        int needed = 0;
        int r = ReadSection(section, nullptr, &needed, from, to);
        if (count) *count = r < 0 ? 0 : r;
        if (size) *size = needed;
        return r < 0 ? -1 : 0;
    }
    // The buffer's size is the one given: a read that finds no room reports the size it needs.
    int limit = size ? *size : 0;
    if (ReadSection(section, buffer, size, from, to) < 0) return -1;
    if (!count) return 0;
    if (*count == 0) {
        *count = 1;
        return 0;
    }
    int room = *count, placed = 0;
    char *p = buffer;
    while (placed < room && p - buffer + 1 < limit && *p) {
        char *end = std::strstr(p, "\r\n");
        lines[placed++] = p;
        if (!end) break;
        *end = '\0';
        p = end + 2;
    }
    *count = placed;
    return 0;
}

int CLogDbStore::ReadSectionLinesW(const char *, char16_t **, int *count, char16_t *, int *,
                                   const TimeStamp *, const TimeStamp *) {
    if (count) *count = 0;
    return 0;
}
