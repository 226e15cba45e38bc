// The request server's runs: the collections, the newest run of the logger and its companion,
// the run list with its record caches, and the locally computed status channels.
#include "lgr_server.h"

#include "dbg.h"
#include "evlog.h"
#include "lfile.h"
#include "lgr_server_internal.h"
#include "lst.h"
#include "plat_clock.h"
#include "plat_error.h"
#include "plat_folder.h"
#include "plat_system.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <strings.h>

using namespace lgr_detail;

namespace {

std::atomic<bool> g_closeAfterRequest{false};

bool endsWithNoCase(const std::string &text, const char *ending) {
    size_t n = strlen(ending);
    return text.size() >= n && strcasecmp(text.c_str() + text.size() - n, ending) == 0;
}

// The companion of a logger (folder or logger name): "" when there is none.
std::string companionOf(const std::string &name) {
    if (name.size() >= 10 && endsWithNoCase(name, "_FAST_LOG"))
        return name.substr(0, name.size() - 9);
    if (name.size() >= 9 && endsWithNoCase(name, "FAST_LOG"))
        return name.substr(0, name.size() - 8) + "SLOW_LOG";
    return "";
}

// The part of a run name after its last separator.
std::string baseName(const char *name) {
    const char *slash = strrchr(name, '\\');
    const char *slash2 = strrchr(name, '/');
    if (slash2 != nullptr && (slash == nullptr || slash2 > slash)) slash = slash2;
    return slash != nullptr ? std::string(slash + 1) : std::string(name);
}

bool sameName(const std::string &a, const std::string &b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// A section's text; "" when the store has none.
std::string readSection(CLogStore *store, const char *section) {
    int size = 0;
    if (store->ReadSection(section, nullptr, &size) < 0 || size <= 1) return "";
    std::string text(static_cast<size_t>(size), '\0');
    int got = size;
    if (store->ReadSection(section, text.data(), &got) < 0) return "";
    text.resize(strnlen(text.data(), text.size()));
    return text;
}

std::vector<std::string> splitLines(const std::string &text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

} // namespace

bool lgr_detail::CloseAfterRequest() {
    return g_closeAfterRequest;
}

void lgr_SetCloseAfterRequest() {
    g_closeAfterRequest = true;
}

LocalDataServer *lgr_CreateRequestServer() {
    return new CLogRequestServer;
}

int lgr_CompareChannelCodes(const ChannelCode &a, const ChannelCode &b) {
    for (int i = 0; i < 2; ++i) {
        int x = toupper(static_cast<unsigned char>(a.prefix[i]));
        int y = toupper(static_cast<unsigned char>(b.prefix[i]));
        if (x != y) return x - y;
    }
    return static_cast<int>(a.number) - static_cast<int>(b.number);
}

int lgr_FindRecordAtOrAfter(CLogStore *store, LogHeader *header, int n, uint32_t seconds,
                            int milliseconds) {
    if (store == nullptr || header == nullptr || n <= 0 || header->recordSize < 12) return -1;
    std::vector<uint8_t> record(static_cast<size_t>(header->recordSize));
    int64_t key = int64_t{seconds} * 1000 + milliseconds;
    int lo = 0, hi = n; // the first record not earlier lies in [lo, hi]
    int64_t foundKey = 0;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        if (store->ReadLog(mid, header, record.data(), header->recordSize) != 0) return -1;
        int64_t k = RecordKey(record.data());
        if (k == key) return mid;
        if (k < key) {
            lo = mid + 1;
        } else {
            hi = mid;
            foundKey = k;
        }
    }
    if (lo < n && foundKey > key && lo > 0) return lo - 1;
    return lo < n ? lo : -1;
}

CLogRequestServer::CLogRequestServer() {
    lst_InitStatusRecords(1, LGR_STATUS_CHANNELS,
                          reinterpret_cast<LoggerStatusRecord *>(statusRecords_));
    ts_Now(&statusStamp_);
}

CLogRequestServer::~CLogRequestServer() {
    Close();
}

std::string CLogRequestServer::Identity(int slot, const std::string &run) const {
    if (database_) return connection_ + ";LoggerName=" + logger_[slot] + ";" + run;
    return folder_[slot] + "/" + run;
}

CLogStore *CLogRequestServer::OpenRunStore(const std::string &identity) const {
    const char *kind = database_ ? connection_.c_str() : folder_[0].c_str();
    CLogStore *store = lstore_CreateStore(kind);
    if (store == nullptr) return nullptr;
    if (store->Open(server_.c_str(), identity.c_str(), LSTORE_READ) != 0) {
        delete store;
        return nullptr;
    }
    return store;
}

int CLogRequestServer::Open(const char *spec) {
    Close();
    if (spec == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    std::string name(spec);
    database_ = lstore_GetProviderType(spec) == -1 ? 0 : 1;
    for (int i = 0; i < 2; ++i) {
        logger_[i].clear();
        folder_[i].clear();
    }
    if (!database_) {
        folder_[0] = name;
        folder_[1] = companionOf(name);
    } else {
        std::string rest = name;
        int size = 101;
        char logger[101] = {};
        if (lstore_TakeLoggerName(rest.data(), &size, logger) != 1) {
            errno = 0;
            plat_SetLastError(0);
            return -1;
        }
        rest.resize(strlen(rest.c_str()));
        int32_t seq = 0;
        lstore_TakeLoggerSeq(rest.data(), &seq);
        rest.resize(strlen(rest.c_str()));
        connection_ = rest;
        logger_[0] = logger;
        logger_[1] = companionOf(logger_[0]);
    }
    for (int i = 0; i < 2; ++i) {
        if (i == 1 && (database_ ? logger_[1] : folder_[1]).empty()) break;
        const char *connection = database_ ? connection_.c_str() : folder_[i].c_str();
        collection_[i].reset(lstore_CreateCollection(connection));
        if (i == 0) listing_.reset(lstore_CreateCollection(connection));
        bool ok = collection_[i] && collection_[i]->Open(connection, folder_[i].c_str(),
                                                         logger_[i].c_str(), "", LSTORE_READ) == 0;
        if (ok && i == 0)
            ok = listing_ && listing_->Open(connection, folder_[0].c_str(), logger_[0].c_str(), "",
                                            LSTORE_READ) == 0;
        if (!ok) {
            uint32_t error = plat_GetLastError();
            collection_[i].reset();
            if (i == 0) {
                listing_.reset();
                plat_SetLastError(error);
                errno = static_cast<int>(error);
                return -1;
            }
        }
    }
    // A share on another computer: its stores are read through that computer.
    server_.clear();
    activeFolder_ = 0;
    const std::string &f = folder_[0];
    auto isSep = [](char c) { return c == '\\' || c == '/'; };
    if (!database_ && f.size() > 2 && isSep(f[0]) && isSep(f[1])) {
        size_t end = f.find_first_of("\\/", 2);
        std::string host = f.substr(2, end == std::string::npos ? std::string::npos : end - 2);
        if (!host.empty() && strcasecmp(host.c_str(), plat_ComputerName().c_str()) != 0) {
            server_ = host;
            activeFolder_ = end == std::string::npos ? f.size() : end;
        }
    }
    if (OpenLatestRuns() != 0) {
        uint32_t error = plat_GetLastError();
        Close();
        plat_SetLastError(error);
        errno = static_cast<int>(error);
        return -1;
    }
    return 0;
}

int CLogRequestServer::OpenLatestRuns() {
    for (int i = 0; i < 2; ++i) {
        if (!collection_[i]) continue;
        char name[1285] = {};
        int size = sizeof name;
        LogTimePair start{}, stop{};
        if (collection_[i]->FindLogger(name, &size, &start, &stop, 1) != 1) {
            if (plat_GetLastError() == 0) plat_SetLastError(WERR_FILE_NOT_FOUND);
            return -1;
        }
        std::string run = database_ ? std::string(name) : baseName(name);
        if (run == runName_[i]) continue;
        std::unique_ptr<CLogStore> store(OpenRunStore(Identity(i, run)));
        LogHeader header{};
        if (!store || store->ReadHeader(&header) != 0 || store->GetNoLogs(&header) <= 0 ||
            header.recordSize < 12) {
            if (store) store->Close();
            continue;
        }
        runName_[i] = run;
        runStart_[i] = TimeStamp{static_cast<int32_t>(start.seconds), 0, 0};
        if (store_[i]) store_[i]->Close();
        store_[i] = std::move(store);
        header_[i] = header;
        record_[i].assign(static_cast<size_t>(header.recordSize), 0);
        ldf_Put32(record_[i].data(), -1);
        newest_[i] = -1;
    }
    reopenTick_ = plat_TickCount();
    return 0;
}

void CLogRequestServer::RefreshStores() {
    uint32_t now = plat_TickCount();
    if (!g_closeAfterRequest && refreshed_ && now - refreshTick_ < 500) return;
    refreshed_ = true;
    refreshTick_ = now;
    if (store_[0]) {
        if (now - reopenTick_ > 29999) {
            reopenTick_ = now;
            bool later = false;
            for (int i = 0; i < 2 && !later; ++i) {
                if (!collection_[i]) continue;
                char name[1285] = {};
                int size = sizeof name;
                LogTimePair start{}, stop{};
                if (collection_[i]->FindLogger(name, &size, &start, &stop, 1) == 1 &&
                    int64_t{start.seconds} > int64_t{static_cast<uint32_t>(runStart_[i].seconds)})
                    later = true;
            }
            if (later) OpenLatestRuns();
        }
    } else {
        OpenLatestRuns();
    }
    for (int i = 0; i < 2; ++i) {
        if (!store_[i]) {
            newest_[i] = -1;
            continue;
        }
        int n = store_[i]->GetNoLogs(&header_[i]);
        if (n < 0) {
            newest_[i] = -2;
            continue;
        }
        if (n == newest_[i] + 1) continue;
        int found = -1;
        for (int k = n - 1; k >= 0; --k) {
            if (store_[i]->ReadLog(k, &header_[i], record_[i].data(), header_[i].recordSize) != 0)
                break;
            if (ldf_Get32(record_[i].data() + 4) != 0) {
                found = k;
                break;
            }
        }
        newest_[i] = found;
    }
}

void CLogRequestServer::DropSlot(int i) {
    if (store_[i]) store_[i]->Close();
    store_[i].reset();
    runName_[i].clear();
    record_[i].clear();
    newest_[i] = -1;
}

uint32_t CLogRequestServer::NewestSeconds(int slot) const {
    return record_[slot].size() >= 12 ? RecordSeconds(record_[slot].data()) : 0;
}

int CLogRequestServer::NewestMs(int slot) const {
    return record_[slot].size() >= 12 ? RecordMs(record_[slot].data()) : 0;
}

void CLogRequestServer::ReleaseStore(CLogStore *store, CLogCollection *collection) {
    if (store == nullptr) return;
    LogHeader header{};
    if (store->ReadHeader(&header) == 0 && header.stop != 0 && collection != nullptr) {
        int32_t start = header.start, stop = header.stop;
        collection->CloseLogger(store, &start, &stop, 0);
    } else {
        store->Close();
    }
}

void CLogRequestServer::Close() {
    for (auto &entry : runs_)
        if (entry->store) ReleaseStore(entry->store.get(), listing_.get());
    runs_.clear();
    headerText_.clear();
    dashboard_.clear();
    dashboardState_ = 0;
    for (int i = 0; i < 2; ++i) {
        if (store_[i]) ReleaseStore(store_[i].get(), collection_[i].get());
        store_[i].reset();
        record_[i].clear();
        collection_[i].reset();
        runName_[i].clear();
        newest_[i] = -1;
    }
    listing_.reset();
    runListFresh_ = false;
    folderTime_[0] = folderTime_[1] = -1;
    refreshed_ = false;
}

void CLogRequestServer::RefreshRunList() {
    uint32_t now = plat_TickCount();
    if (!runs_.empty() && runListFresh_ && now - runListTick_ < 1000) return;
    runListTick_ = now;
    runListFresh_ = true;
    if (!listing_) return;
    if (dashboardState_ == 0) dashboardState_ = LoadDashboardChannels() == 0 ? 1 : -1;
    bool enumerate = true;
    if (!database_) {
        int32_t seconds = 0, nanoseconds = 0;
        if (plat_FolderWriteTime(folder_[0].c_str(), &seconds, &nanoseconds) == 0) {
            if (seconds == folderTime_[0] && nanoseconds == folderTime_[1]) enumerate = false;
            folderTime_[0] = seconds;
            folderTime_[1] = nanoseconds;
        }
    }
    if (enumerate) {
        for (auto &entry : runs_)
            entry->seen = false;
        int size = 0;
        if (listing_->FindFirst(&size) == 1) {
            std::vector<char> name(static_cast<size_t>(std::max(size, 1285)) + 1);
            LogTimePair start{}, stop{};
            while (listing_->FindNext(name.data(), &start, &stop) == 1) {
                std::string run = database_ ? std::string(name.data()) : baseName(name.data());
                auto at =
                    std::lower_bound(runs_.begin(), runs_.end(), run,
                                     [](const std::unique_ptr<RunEntry> &e, const std::string &r) {
                                         return strcasecmp(e->name.c_str(), r.c_str()) < 0;
                                     });
                if (at != runs_.end() && sameName((*at)->name, run)) {
                    (*at)->seen = true;
                    continue;
                }
                auto entry = std::make_unique<RunEntry>();
                entry->name = run;
                entry->start = start.seconds;
                entry->seen = true;
                entry->store.reset(OpenRunStore(Identity(0, run)));
                runs_.insert(at, std::move(entry));
            }
        }
        for (auto it = runs_.begin(); it != runs_.end();) {
            if ((*it)->seen) {
                ++it;
                continue;
            }
            if ((*it)->store) (*it)->store->Close();
            it = runs_.erase(it);
        }
    }
    bool first = true;
    for (auto &entry : runs_) {
        try {
            RefreshRun(*entry, first);
        } catch (const std::bad_alloc &) {
            dbg_Printf("Can't get size of GraphFiltered %s\r\n", entry->name.c_str());
        }
        first = false;
    }
    logging_ = 0;
    if (!runs_.empty()) {
        const RunEntry &last = *runs_.back();
        uint32_t stop = static_cast<uint32_t>(last.header.stop);
        if (last.header.stop == 0 || int64_t{last.end} + 1 < int64_t{stop}) logging_ = 1;
    }
}

void CLogRequestServer::CacheRecord(RunEntry &entry, int index, const uint8_t *record) {
    uint8_t *slot = entry.cache.data() + static_cast<size_t>(index) * entry.stride;
    if (!entry.compact) {
        memcpy(slot, record, entry.stride);
        return;
    }
    memcpy(slot, record + 4, 8);
    for (int d = 0; d < entry.compactChannels; ++d) {
        uint32_t v = RangeValue(entry.header, dashboard_[static_cast<size_t>(d)], record);
        memcpy(slot + 8 + 4 * d, &v, 4);
    }
}

void CLogRequestServer::RefreshRun(RunEntry &entry, bool first) {
    if (!entry.store) return;
    LogHeader header{};
    if (entry.store->ReadHeader(&header) != 0 || header.marker != LDF_FILE_MARKER ||
        header.blockCount > LDF_MAX_BLOCKS || header.recordSize < 12) {
        dbg_Printf("Corrupt file GraphFiltered %s\r\n", entry.name.c_str());
        return;
    }
    // Compact records keep the dashboard channels only, when that is smaller.
    int channels = static_cast<int>(dashboard_.size());
    bool compact = channels > 0 && (int64_t{channels} + 2) * 4 < header.recordSize;
    size_t stride =
        compact ? static_cast<size_t>(channels + 2) * 4 : static_cast<size_t>(header.recordSize);
    if (entry.headerRead && (!SameLayout(header, entry.header) || compact != entry.compact ||
                             (compact && channels != entry.compactChannels))) {
        entry.cache.clear();
        entry.cached = 0;
    }
    entry.compact = compact;
    entry.compactChannels = compact ? channels : 0;
    entry.stride = stride;
    entry.header = header;
    entry.headerRead = true;
    entry.start = static_cast<uint32_t>(header.start);
    int n = entry.store->GetNoLogs(&header);
    if (n < 0) {
        dbg_Printf("Can't get size of GraphFiltered %s\r\n", entry.name.c_str());
        return;
    }
    size_t size = static_cast<size_t>(header.recordSize);
    std::vector<uint8_t> batch;
    if (n > entry.cached) {
        if (entry.cache.size() < static_cast<size_t>(n) * stride)
            entry.cache.resize((static_cast<size_t>(n) + 1000) * stride);
        batch.resize(100 * size);
        while (entry.cached < n) {
            int count = std::min(100, n - entry.cached);
            int got = entry.store->ReadLogs(entry.cached, &header, batch.data(), count);
            if (got <= 0) break;
            for (int k = 0; k < got; ++k)
                CacheRecord(entry, entry.cached + k, batch.data() + k * size);
            entry.cached += got;
        }
    }
    if (entry.cached > 0) entry.end = static_cast<uint32_t>(entry.Key(entry.cached - 1) / 1000);

    int32_t textTime = 0;
    if (entry.store->GetTextTime(&textTime) == 0 &&
        (!entry.textRead ||
         static_cast<uint32_t>(textTime) > static_cast<uint32_t>(entry.textTime))) {
        entry.textTime = textTime;
        entry.textRead = true;
        if (database_ || !lfile_UseEventsFile() || first)
            entry.text = readSection(entry.store.get(), "TEXT");
        std::string headerText = readSection(entry.store.get(), "HEADER");
        if (!headerText.empty()) headerText_ = headerText;

        // Records rewritten since the run was cached: exactly the span the new lines give.
        std::vector<std::string> lines = splitLines(readSection(entry.store.get(), "SCAN UPDATES"));
        int64_t earliest = INT64_MAX, latest = INT64_MIN;
        for (const std::string &line : lines) {
            if (std::find(entry.scanUpdates.begin(), entry.scanUpdates.end(), line) !=
                entry.scanUpdates.end())
                continue;
            PreciseTimeStamp a{}, b{};
            const char *rest = lfile_ParseStamp(line.c_str(), &a);
            if (rest == nullptr) continue;
            while (*rest == ' ' || *rest == '\t' || *rest == ',')
                ++rest;
            if (lfile_ParseStamp(rest, &b) == nullptr) continue;
            earliest = std::min(earliest,
                                int64_t{static_cast<uint32_t>(a.seconds)} * 1000 + a.milliseconds);
            latest =
                std::max(latest, int64_t{static_cast<uint32_t>(b.seconds)} * 1000 + b.milliseconds);
        }
        entry.scanUpdates = lines;
        entry.backfills = splitLines(readSection(entry.store.get(), "BACKFILLS"));
        // Only cached records are read again: their size is one the file has held, whatever
        // the header claims now.
        std::vector<uint8_t> record(earliest <= latest && entry.cached > 0 ? size : 0);
        for (int i = 0; earliest <= latest && i < entry.cached; ++i) {
            int64_t key = entry.Key(i);
            if (key < earliest || key > latest) continue;
            if (entry.store->ReadLog(i, &header, record.data(), header.recordSize) == 0)
                CacheRecord(entry, i, record.data());
        }
    }
}
