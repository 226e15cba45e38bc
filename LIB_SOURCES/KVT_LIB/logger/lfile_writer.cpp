// The background log-file writer: callers queue byte ranges of one run file, a thread writes
// them (adjacent ranges merged into one write-through pwrite) at every interval, keeps a
// one-byte lock at the end of what it wrote, and gives the file its closed name at the end.
#include "lfile.h"

#include "ldf.h"
#include "lgr.h"
#include "plat_error.h"
#include "plat_file.h"
#include "plat_fileops.h"
#include "plat_folder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {
// One queued range. The bytes wait in the writer's byte map at their own offset.
struct RingEntry {
    int count = 0; // 0: free
    int size = 0;
    int64_t offset = 0;
    uint8_t *buffer = nullptr;
};
} // namespace

struct LfileWriter {
    LfileWriterSettings settings;
    std::string path;
    int fd = -1;
    int posFd = -1;
    int64_t lockPos = -1;
    int64_t written = 0; // the largest end written
    std::vector<uint8_t> map;
    std::vector<RingEntry> ring;
    size_t next = 0; // the slot the next queuing fills
    size_t head = 0; // the oldest slot not yet written
    std::mutex lock;
    std::condition_variable slotFreed;
    std::condition_variable stopAsked;
    bool stop = false; // under lock
    std::atomic<uint32_t> firstError{0};
    std::thread thread;

    explicit LfileWriter(int capacity) { ring.resize(static_cast<size_t>(capacity)); }

    void fail(uint32_t err) {
        uint32_t none = 0;
        firstError.compare_exchange_strong(none, err != 0 ? err : WERR_GEN_FAILURE);
    }

    // Clears the byte map over [start, end) where no entry still queued covers it: a range
    // queued again waits there with its own data, which its own write still needs.
    void clearUnclaimed(int64_t start, int64_t end) {
        std::vector<std::pair<int64_t, int64_t>> claimed;
        for (const RingEntry &e : ring)
            if (e.count != 0 && e.offset < end && e.offset + e.size > start)
                claimed.emplace_back(e.offset, e.offset + e.size);
        std::sort(claimed.begin(), claimed.end());
        int64_t at = start;
        for (const auto &[from, to] : claimed) {
            if (from > at) memset(map.data() + at, 0, static_cast<size_t>(from - at));
            at = std::max(at, to);
        }
        if (at < end) memset(map.data() + at, 0, static_cast<size_t>(end - at));
    }

    // Writes every queued entry, merging neighbours whose ranges follow each other. The bytes
    // are copied under the lock and written without it, so queuing never waits for the disk;
    // a range queued again meanwhile has an entry of its own, written after this one.
    void drain() {
        std::vector<uint8_t> bytes;
        std::unique_lock<std::mutex> guard(lock);
        while (ring[head].count != 0) {
            size_t first = head;
            int64_t start = ring[first].offset, end = start + ring[first].size;
            size_t n = 1;
            size_t k = (first + 1) % ring.size();
            while (k != first && ring[k].count != 0 && ring[k].offset == end) {
                end += ring[k].size;
                ++n;
                k = (k + 1) % ring.size();
            }
            bytes.assign(map.begin() + start, map.begin() + end);
            guard.unlock();
            if (plat_FileWriteAt(fd, bytes.data(), bytes.size(), start) != 0)
                fail(plat_GetLastError());
            else
                advance(end);
            guard.lock();
            for (size_t i = 0; i < n; ++i)
                ring[(first + i) % ring.size()].count = 0;
            for (size_t i = 0; i < n; ++i) {
                RingEntry &e = ring[(first + i) % ring.size()];
                clearUnclaimed(e.offset, e.offset + e.size);
                e = RingEntry{};
            }
            head = (first + n) % ring.size();
            slotFreed.notify_all();
        }
    }

    void advance(int64_t end) {
        if (end <= written) return;
        written = end;
        if (plat_FileLockByte(fd, end) == 0) {
            if (lockPos >= 0 && lockPos != end) plat_FileUnlockByte(fd, lockPos);
            lockPos = end;
        }
        if (posFd >= 0) {
            int32_t pos = static_cast<int32_t>(std::min<int64_t>(written, INT32_MAX));
            if (plat_FileWriteAt(posFd, &pos, 4, 0) != 0) fail(plat_GetLastError());
        }
    }

    // Wakes at every interval, or at once when a stop is asked, and writes what is queued.
    void run() {
        auto interval = std::chrono::milliseconds(std::max(settings.intervalMs, 1));
        for (;;) {
            bool stopping;
            {
                std::unique_lock<std::mutex> guard(lock);
                stopping = stopAsked.wait_for(guard, interval, [this] { return stop; });
            }
            drain();
            if (stopping) return;
        }
    }
};

LfileWriter *lfile_StartWriter(const LfileWriterSettings &s) {
    if (s.capacity < 1 || s.mapSize < 0 || s.folder.empty()) {
        plat_Fail(WERR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!plat_FolderExists(s.folder.c_str()) && plat_MakeFolder(s.folder.c_str()) != 0)
        return nullptr;
    auto w = std::make_unique<LfileWriter>(s.capacity);
    w->settings = s;
    w->path = s.folder + "/" + s.prefix + lfile_FormatRunTime(s.start) + s.extension;
    if (w->path.size() > LFILE_MAX_PATH) {
        plat_Fail(WERR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    // A run closed earlier with the same start goes back to its open name and is continued.
    std::string closedStem = s.prefix + lfile_FormatRunTime(s.start) + "_";
    PlatFindEntry entry;
    PlatFindHandle list =
        plat_FindFirst((s.folder + "/" + closedStem + "*" + s.extension).c_str(), &entry);
    bool reopened = false;
    if (list && entry.name.compare(0, closedStem.size(), closedStem) == 0) {
        std::string closed = s.folder + "/" + entry.name;
        plat_FileSetReadOnly(closed.c_str(), 0);
        reopened = plat_FileMove(closed.c_str(), w->path.c_str()) == 0;
    }
    w->fd = plat_FileCreate(w->path.c_str(), PLAT_GENERIC_READ | PLAT_GENERIC_WRITE,
                            reopened ? PLAT_OPEN_EXISTING : PLAT_CREATE_ALWAYS,
                            PLAT_OPEN_WRITE_THROUGH | PLAT_OPEN_NULL_ACCESS_LIST);
    if (w->fd < 0) return nullptr;
    if (reopened) {
        w->written = std::max<int64_t>(lfile_GetFileSize(w->fd), 0);
        if (plat_FileLockByte(w->fd, w->written) == 0) w->lockPos = w->written;
    }
    if (s.positionWord) {
        w->posFd = plat_FileCreate(w->path.c_str(), PLAT_GENERIC_READ | PLAT_GENERIC_WRITE,
                                   PLAT_OPEN_EXISTING, PLAT_OPEN_WRITE_THROUGH);
        if (w->posFd < 0) {
            uint32_t err = plat_GetLastError();
            plat_FileClose(w->fd);
            plat_Fail(err);
            return nullptr;
        }
    }
    w->map.assign(static_cast<size_t>(s.mapSize), 0);
    LfileWriter *raw = w.get();
    w->thread = std::thread([raw] { raw->run(); });
    return w.release();
}

int lfile_QueueWrite(LfileWriter *w, const void *data, int size, int64_t offset) {
    if (w == nullptr || data == nullptr || size <= 0 || offset < 0 ||
        offset + size > static_cast<int64_t>(w->map.size()))
        return plat_Fail(WERR_INVALID_PARAMETER);
    if (uint32_t err = w->firstError.load()) return plat_Fail(err);
    std::unique_lock<std::mutex> guard(w->lock);
    w->slotFreed.wait(guard, [w] { return w->ring[w->next].count == 0; });
    memcpy(w->map.data() + offset, data, static_cast<size_t>(size));
    w->ring[w->next] = RingEntry{1, size, offset, w->map.data() + offset};
    w->next = (w->next + 1) % w->ring.size();
    return 0;
}

std::string lfile_WriterPath(const LfileWriter *w) {
    return w != nullptr ? w->path : std::string();
}

int lfile_StopWriter(LfileWriter *w, int32_t stop, int readOnly) {
    if (w == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    std::unique_ptr<LfileWriter> owner(w);
    {
        std::lock_guard<std::mutex> guard(w->lock);
        w->stop = true;
    }
    w->stopAsked.notify_all();
    w->thread.join();
    if (w->lockPos >= 0) plat_FileUnlockByte(w->fd, w->lockPos);
    plat_FileClose(w->posFd);
    plat_FileClose(w->fd);
    const LfileWriterSettings &s = w->settings;
    std::string closed = s.folder + "/" + s.prefix + lfile_FormatRunTime(s.start) + "_" +
                         lfile_FormatRunTime(stop) + s.extension;
    if (plat_FileMove(w->path.c_str(), closed.c_str()) != 0)
        w->fail(plat_GetLastError());
    else if (readOnly)
        plat_FileSetReadOnly(closed.c_str(), 1);
    if (uint32_t err = w->firstError.load()) return plat_Fail(err);
    return 0;
}

int lfile_DeleteOlder(const char *folder, const char *prefix, const char *extension, int32_t now,
                      const uint8_t period[6]) {
    if (period == nullptr) return 0;
    int32_t limit = lgr_SubtractPeriod(TimeStamp{now, 0, 0}, period).seconds;
    LfileFolderList *list = lfile_OpenFolderList(folder);
    if (list == nullptr) return 0;
    std::string pre = prefix != nullptr ? prefix : "";
    std::vector<std::string> doomed;
    int64_t before = lfile_TimeOf(limit);
    while (const char *name = lfile_NextFolderEntry(list)) {
        if (strncmp(name, pre.c_str(), pre.size()) != 0) continue;
        const char *part = lfile_FindTimeSuffix(name, extension);
        int64_t start, stop;
        // Only closed runs have a stop time; an open run is never old.
        if (part == nullptr || strlen(part) < 27 || lfile_ReadRunTime(part, &start) != 0 ||
            lfile_ReadRunTime(part + 14, &stop) != 0)
            continue;
        if (start < before && stop < before) doomed.push_back(std::string(folder) + "/" + name);
    }
    lfile_CloseFolderList(list);
    int deleted = 0;
    for (const std::string &path : doomed)
        if (plat_FileDelete(path.c_str()) == 0) ++deleted;
    return deleted;
}
