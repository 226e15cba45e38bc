// The collection of runs kept in one database.
#include "lstore_dbcoll.h"

#include "chrec.h"
#include "env.h"
#include "ldb.h"
#include "ldf.h"
#include "lstore_db_channels.h"
#include "lst.h"
#include "plat_cp1252.h"
#include "plat_error.h"
#include "plat_event.h"
#include "plat_folder.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <strings.h>

namespace {

constexpr uint32_t kCreate = 0x40000000u;

std::u16string w(const std::string &cp1252) {
    return plat_Cp1252ToUtf16(cp1252);
}
std::string narrow(const ado::Variant &v) {
    if (v.vt == ado::VT_BSTR) return plat_Utf16ToCp1252(v.s);
    return plat_Utf8ToCp1252(v.AsUtf8());
}
uint32_t dateOf(const ado::Variant &v) {
    return v.vt == ado::VT_DATE ? static_cast<uint32_t>(lstore_DbTimeToLocal(v.d, 0)) : 0;
}

} // namespace

std::string lstore_MakeJetConnection(const char *folder, const char *logger) {
    return std::string("Provider=Microsoft.Jet.OLEDB.4.0; Jet OLEDB:Engine Type=5; Data Source=") +
           "\"" + (folder ? folder : "") + "/" + (logger ? logger : "") + ".mdb" + "\"";
}

CLogDbCollection::~CLogDbCollection() {
    catalog_.Close();
    data_.Disconnect();
}

int CLogDbCollection::fail(const char *detail, const char *message) {
    std::snprintf(detail_, sizeof detail_, "%s", detail ? detail : "");
    std::snprintf(message_, sizeof message_, "%s", message ? message : "");
    return -1;
}

int CLogDbCollection::ExecuteStatement(const char *sql) {
    return catalog_.ExecuteStatement(w(sql ? sql : "")) == 0 ? 0 : -1;
}

bool CLogDbCollection::exec(const std::string &sql) {
    if (ExecuteStatement(sql.c_str()) == 0) return true;
    std::snprintf(detail_, sizeof detail_, "%s", catalog_.GetErrorText());
    return false;
}

std::string CLogDbCollection::MakeIdentity(const char *connection) {
    return lstore_MakeIdentityWith(connection, [](const char *) -> CLogCollection * {
        return new (std::nothrow) CLogDbCollection;
    });
}

int CLogDbCollection::createLoggers() {
    if (!exec(ldb_CreateLoggers(false)) && !exec(ldb_CreateLoggers(true))) {
        if (data_.OpenRecordset(u"LOGGERS", 3, 1, 8) == 0) return 0;
        return fail(catalog_.GetErrorText(), "CAN'T CREATE LOGGERS TABLE");
    }
    exec(LDB_LOGGERS_PRIMARY_KEY); // its result does not matter
    if (ldb_IsJet(connection_.c_str())) plat_SleepMs(5000);
    loggersCreated_ = 1;
    return 0;
}

int CLogDbCollection::Open(const char *connection, const char *folder, const char *logger,
                           const char *prefix, uint32_t access) {
    if (CLogCollection::Open(connection, folder, logger, prefix, access) != 0) return -1;
    access_ = access;
    if ((logger && strlen(logger) > 259) || (prefix && strlen(prefix) > 259)) {
        plat_SetLastError(0);
        return -1;
    }
    logger_ = logger ? logger : "";
    runPrefix_ = prefix ? prefix : "";
    if (connection && *connection) {
        if (strlen(connection) > 1024) {
            fail("", "CONNECTION STRING TOO LONG");
            plat_SetLastError(0);
            return -1;
        }
        connection_ = connection;
    } else {
        std::string dir = folder ? folder : "";
        if (dir.empty()) {
            std::string root = env_GetFolder("KVT_LOGGED_DATA");
            if (root.empty()) return fail("", "CAN'T ACCESS LOGGED_DATA DIR");
            if (!plat_FolderExists(root.c_str())) {
                if (!(access & kCreate)) return fail("", "CAN'T ACCESS LOGGED_DATA DIR");
                if (plat_MakeFolder(root.c_str()) != 0)
                    return fail("", "CAN'T CREATE LOGGED_DATA DIR");
            }
            dir = root + "/" + logger_;
        }
        if (!plat_FolderExists(dir.c_str())) {
            if (!(access & kCreate)) return fail("", "CAN'T ACCESS LOGGER DIRECTORY");
            if (plat_MakeFolder(dir.c_str()) != 0) return fail("", "CAN'T CREATE LOGGER DIR");
        }
        connection_ = lstore_MakeJetConnection(dir.c_str(), logger_.c_str());
    }
    lst_SetStoreInfo(connection_.c_str(), folder ? folder : "", runPrefix_.c_str());
    if (catalog_.OpenCatalog(w(connection_), u"") != 0) {
        fail(catalog_.GetErrorText(), "CAN'T OPEN DATABASE");
        if (!(access & kCreate) || catalog_.CreateCatalog(w(connection_), u"") != 0) {
            std::snprintf(detail_, sizeof detail_, "%s", catalog_.GetErrorText());
            return -1;
        }
    }
    if (catalog_.MarkOpen(0, 0) != 0)
        return fail(catalog_.GetErrorText(), "CAN'T LOGIN TO DATABASE");
    if (data_.Connect(w(connection_), u"", -1) != 0)
        return fail(data_.GetErrorText(), "CAN'T OPEN DATABASE");
    if (data_.Noop(0, 0) != 0) return fail(data_.GetErrorText(), "CAN'T LOG IN TO DATABASE");
    if (data_.OpenRecordset(u"LOGGERS", 3, 1, 8) != 0) {
        if (access & kCreate) return createLoggers();
        fail(data_.GetErrorText(), "CAN'T OPEN LOGGERS TABLE");
    }
    return 0;
}

int CLogDbCollection::FindFirst(int *nameSize) {
    if (nameSize) *nameSize = 20;
    runs_.clear();
    next_ = 0;
    std::string sql = "select nLoggerSequence, dStartTime, dStopTime, bCompleted, sTablePrefix "
                      "from LOGGERS where sLoggerName = '" +
                      ldb_Quote(logger_) + "' order by dStartTime Desc";
    if (data_.OpenRecordset(w(sql), 3, 1, 8) != 0) return 0;
    int32_t count = 0;
    data_.GetRecordCount(&count);
    if (count < 0) {
        // A provider that cannot count: count by moving through the rows.
        count = 0;
        if (data_.MoveFirst() == 0) {
            ado::Variant eof;
            while (data_.IsEOF(&eof) == 0 && eof.i == 0) {
                ++count;
                if (data_.MoveNext() != 0) break;
            }
        }
    }
    if (count > 0 && data_.MoveFirst() == 0) {
        for (int k = 0; k < count; ++k) {
            ado::Variant seq, start, stop, completed, prefix;
            if (data_.GetFieldValue(0, &seq) != 0) break;
            data_.GetFieldValue(1, &start);
            data_.GetFieldValue(2, &stop);
            data_.GetFieldValue(3, &completed);
            data_.GetFieldValue(4, &prefix);
            char word[256] = {};
            std::sscanf(narrow(prefix).c_str(), "%255s", word);
            runs_.push_back({static_cast<int32_t>(seq.AsInt()), dateOf(start),
                             completed.AsInt() ? dateOf(stop) : 0u, word});
            if (k + 1 < count && data_.MoveNext() != 0) break;
        }
    }
    data_.CloseRecordset();
    return runs_.empty() ? 0 : 1;
}

int CLogDbCollection::FindNext(char *name, LogTimePair *start, LogTimePair *stop) {
    if (next_ >= runs_.size()) {
        runs_.clear();
        next_ = 0;
        plat_SetLastError(0);
        return 0;
    }
    const Run &r = runs_[next_++];
    if (name) std::snprintf(name, 20, "LoggerSeq=%08d", r.seq);
    if (start) *start = {r.start, 0};
    if (stop) *stop = {r.stop, 0};
    return 1;
}

int CLogDbCollection::FindLogger(char *name, int *nameSize, LogTimePair *start, LogTimePair *stop,
                                 int anyName) {
    FindFirst(nameSize);
    const std::string wanted = ldb_RunNamePrefix(runPrefix_);
    for (const Run &r : runs_) {
        if (!anyName && strncasecmp(r.prefix.c_str(), wanted.c_str(), wanted.size()) != 0) continue;
        if (name) std::snprintf(name, 20, "LoggerSeq=%08d", r.seq);
        if (start) *start = {r.start, 0};
        if (stop) *stop = {r.stop, 0};
        runs_.clear();
        return 1;
    }
    runs_.clear();
    return 0;
}

std::string CLogDbCollection::columnList(const LogHeader &h, const char *server,
                                         const void *const *records, int *error) {
    std::string digitalText;
    bool hasDigitalText = ldb_DigitalText(&digitalText);
    std::string list = h.sigChange ? ",LL integer, LV float NULL" : "";
    std::set<std::string> taken;
    const char quote = ldb_IdentifierQuote(connection_);
    *error = 0;
    for (int b = 0; b < h.blockCount && b < 64; ++b) {
        std::vector<ChannelRecord> recs;
        int rc = ldbch_BlockRecords(h, b, records, server, &recs);
        if (rc == LDBCH_NO_SEGMENT) {
            *error = fail("", "CAN'T FIND CHANNELS");
            return "";
        }
        if (rc != 0) {
            *error = fail("", "CAN'T CREATE DATA TABLE");
            return "";
        }
        const LogBlockDescriptor &d = h.blocks[b];
        for (int c = d.first; c <= d.last; ++c) {
            const ChannelRecord &r = recs[static_cast<size_t>(c - d.first)];
            std::string name = ldbch_UniqueColumn(ldbch_ColumnName(h, b, c, r), &taken);
            bool digital = (chrec_GetType(r) & 1) == 1;
            list += ", " + ldb_QuoteIdentifier(name, quote) + " " +
                    ldb_ChannelColumnType(digital, hasDigitalText, digitalText) + " NULL";
        }
    }
    return list;
}

void CLogDbCollection::dropRun(const std::string &prefix, bool text) {
    if (text) exec(ldb_DropTable(prefix, "TEXT"));
    exec(ldb_DropTable(prefix, "CHANNELS"));
    exec(ldb_DropTable(prefix, "DATA"));
}

CLogStore *CLogDbCollection::CreateLoggerEx(int32_t *start, int plainName, int, LogHeader *h,
                                            const char *headerText, int, const char *server,
                                            int dateName, const void *const *records) {
    if (!start || !h) return nullptr;
    ado::Variant v;
    int32_t counter = 1;
    if (data_.OpenRecordset(w(ldb_NextCounterQuery(logger_)), 3, 1, 8) != 0) {
        fail(data_.GetErrorText(), "CAN'T FIND LOGGER");
        return nullptr;
    }
    if (data_.GetFieldValue(0, &v) == 0 && !v.IsEmptyOrNull())
        counter = static_cast<int32_t>(v.AsInt()) + 1;
    data_.CloseRecordset();
    const std::string base = ldb_PrefixBase(runPrefix_, logger_);
    std::string prefix;
    int32_t seq = counter;
    std::vector<std::pair<std::string, int32_t>> forms;
    if (plainName && (!runPrefix_.empty() || counter == 1)) forms.push_back({base, counter});
    if (dateName) forms.push_back({ldb_DatedPrefix(base, *start), ldb_DateSequence(*start)});
    forms.push_back({ldb_SequencePrefix(base, counter), counter});
    for (const auto &f : forms) {
        if (exec(ldb_CreateChannels(f.first))) {
            prefix = f.first;
            seq = f.second;
            break;
        }
    }
    if (prefix.empty()) {
        fail(catalog_.GetErrorText(), "CAN'T CREATE CHANNELS TABLE");
        return nullptr;
    }
    if (indexes_ && !exec(ldb_ChannelsIndex(prefix))) indexes_ = 0;
    int error = 0;
    std::string columns = columnList(*h, server, records, &error);
    if (error) {
        exec(ldb_DropTable(prefix, "CHANNELS"));
        return nullptr;
    }
    if (!exec(ldb_CreateData(prefix, 0, columns)) && !exec(ldb_CreateData(prefix, 1, columns)) &&
        !exec(ldb_CreateData(prefix, 2, columns))) {
        fail(catalog_.GetErrorText(), "CAN'T CREATE DATA TABLE");
        exec(ldb_DropTable(prefix, "CHANNELS"));
        return nullptr;
    }
    if (indexes_)
        for (const std::string &s : ldb_DataIndexes(prefix))
            if (!exec(s)) indexes_ = 0;
    bool text = headerText != nullptr;
    if (text && !exec(ldb_CreateText(prefix))) {
        fail(catalog_.GetErrorText(), "CAN'T CREATE TEXT TABLE");
        exec(ldb_DropTable(prefix, "CHANNELS"));
        exec(ldb_DropTable(prefix, "DATA"));
        return nullptr;
    }
    auto *store = new (std::nothrow) CLogDbStore;
    if (!store) {
        fail("", "CAN'T ALLOCATE MEMORY");
        dropRun(prefix, text);
        return nullptr;
    }
    if (store->InitNewRun(connection_.c_str(), prefix.c_str(), logger_.c_str(), seq, h, headerText,
                          server, records) != 0) {
        fail(store->GetErrorText(), "CAN'T CONNECT TO DATABASE");
        delete store;
        // The tables and the LOGGERS row the store may have written before it failed.
        DropLoggerTables(prefix.c_str());
        return nullptr;
    }
    if (replicationEnabled_) SetUpReplication(prefix.c_str(), seq, text ? 1 : 0, 0);
    return store;
}

CLogStore *CLogDbCollection::CreateLogger(int32_t *start, int ignored, int storeArgument,
                                          LogHeader *header, const char16_t *, int archive,
                                          const char *server, int ignored2,
                                          const void *const *channelRecords) {
    return CreateLoggerEx(start, ignored, storeArgument, header, nullptr, archive, server, ignored2,
                          channelRecords);
}

CLogStore *CLogDbCollection::OpenLogger(const char *name, uint32_t access) {
    auto *store = new (std::nothrow) CLogDbStore;
    if (!store) return nullptr;
    std::string identity = connection_ + ";LoggerName=" + logger_ + ";" + (name ? name : "");
    if (store->Open(nullptr, identity.c_str(), access) != 0) {
        fail(store->GetErrorText(), store->GetErrorMessage());
        delete store;
        return nullptr;
    }
    return store;
}

int CLogDbCollection::UseforLogging(CLogStore *store, LogHeader *header, const char *, int, int) {
    return store ? store->StartLogging(header) : -1;
}

int CLogDbCollection::CloseLogger(CLogStore *store, const int32_t *start, const int32_t *, int) {
    if (!store) return 0;
    char prefix[260] = {};
    if (auto *db = dynamic_cast<CLogDbStore *>(store)) db->GetTablePrefix(prefix, nullptr);
    store->Close();
    if (start == nullptr) DropLoggerTables(prefix);
    return 0;
}

void CLogDbCollection::DropLoggerTables(const char *prefix) {
    std::string p = prefix ? prefix : "";
    if (replicationEnabled_) DropReplication(p.c_str());
    // A run made without a header text has no TEXT table: its drop counts as done.
    bool textGone =
        catalog_.ExecuteStatement(w(ldb_DropTable(p, "TEXT"))) == 0 || plat_GetLastError() == 3127;
    bool dataGone = exec(ldb_DropTable(p, "DATA"));
    exec(ldb_DropTable(p, "CHANNELS"));
    if (textGone && dataGone && data_.OpenRecordset(w(ldb_RunByPrefixQuery(p)), 3, 3, 8) == 0) {
        ado::Variant eof;
        while (data_.IsEOF(&eof) == 0 && eof.i == 0)
            if (data_.Delete() != 0 || data_.MoveNext() != 0) break;
    }
    data_.CloseRecordset();
}

void CLogDbCollection::DeleteOlderThan(int32_t *time) {
    if (!time) return;
    uint32_t t = static_cast<uint32_t>(*time);
    FindFirst(nullptr);
    std::vector<Run> runs = runs_;
    runs_.clear();
    for (const Run &r : runs) {
        if (r.stop == 0 || r.start > t) continue; // open runs and later ones stay
        if (r.stop < t) {
            DropLoggerTables(r.prefix.c_str());
            continue;
        }
        char name[32];
        std::snprintf(name, sizeof name, "LoggerSeq=%08d", r.seq);
        std::unique_ptr<CLogStore> store(OpenLogger(name, LSTORE_READ | LSTORE_WRITE));
        if (!store) continue;
        TimeStamp bound{*time, 0, 0};
        store->DeleteLogs(nullptr, &bound);
        LogHeader h{};
        if (store->ReadHeader(&h) != 0 || h.marker != 0x8001 || h.dataOffset == 0 ||
            h.recordSize == 0) {
            store->Close();
            continue;
        }
        if (h.recordCount > 0) {
            uint8_t first[16] = {};
            if (store->ReadLog(0, &h, first, 16, 0, 0, nullptr, 1, 0) == 0) {
                h.start = ldf_Get32(first + 4);
                h.reserved1 = ldf_Get16(first + 8);
                store->WriteHeader(&h, 1);
            }
            CloseLogger(store.get(), &h.start, &h.stop, 0);
        } else {
            store->Close();
            DropLoggerTables(r.prefix.c_str());
        }
    }
}

void CLogDbCollection::MakeStoreName(const char *name, char *buffer, int *length) {
    lstore_PutName(connection_ + ";LoggerName=" + logger_ + ";" + (name ? name : ""), buffer,
                   length);
}
