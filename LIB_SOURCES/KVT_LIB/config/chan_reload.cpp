// Refreshing a running device's "_conf" segment when its channel file changed.
#include "chan_internal.h"

#include "dm.h"
#include "plat_clock.h"
#include "plat_error.h"
#include "shm.h"
#include "ts.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <ctime>
#include <sys/stat.h>
#include <vector>

namespace {
constexpr int k_headerCount = 4;
constexpr int k_headerStamp = 12;
static_assert(offsetof(ChannelTableHeader, channelCount) == k_headerCount);
static_assert(offsetof(ChannelTableHeader, fileTime) == k_headerStamp);

// A save that completes after the read can leave the very time the read saw: the stamp keeps
// milliseconds only, and file systems set write times in coarser steps (a clock tick of a few
// ms here and on NTFS, 10 ms on exFAT, 2 s on FAT). A file time that is not older than the
// coarsest of these steps when the read begins is therefore no proof that the records read
// are the file's last ones.
constexpr int64_t k_settleMs = 2000;

// The tables (id and kind) whose stamp may be older than their file's last records. Kept in this
// process, which alone reloads its tables, so that the shared header stays as other programs
// know it.
std::mutex g_unsettledLock;
std::set<std::pair<std::string, int>> g_unsettled;

bool isUnsettled(const char *id, int kind) {
    std::lock_guard<std::mutex> hold(g_unsettledLock);
    return g_unsettled.count({id, kind}) != 0;
}

void markUnsettled(const char *id, int kind, bool unsettled) {
    std::lock_guard<std::mutex> hold(g_unsettledLock);
    if (unsettled)
        g_unsettled.insert({id, kind});
    else
        g_unsettled.erase({id, kind});
}

// The file's last-write time in the stamps' convention: local wall-clock time counted as UTC.
TimeStamp fileStamp(const struct stat &st) {
    struct tm local;
    time_t seconds = st.st_mtim.tv_sec;
    localtime_r(&seconds, &local);
    TimeStamp stamp{};
    stamp.seconds = static_cast<int32_t>(timegm(&local));
    stamp.milliseconds = static_cast<int16_t>(st.st_mtim.tv_nsec / 1000000);
    return stamp;
}

// Every later write gets a stamp of another millisecond: the file time lies its own millisecond
// and a whole timestamp step before the clock as read ahead of the file's time.
bool settled(const struct stat &st, int64_t nowMs) {
    int64_t fileMs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return fileMs + 1 + k_settleMs <= nowMs;
}

// The kind's file in the current directory that the read will take.
std::string channelFile(int kind) {
    std::string cwd = cfg_CurrentFolder();
    std::string name = chrec_KindName(kind);
    std::string xml = cfg_Join(cwd.c_str(), (name + ".xml").c_str());
    if (cfg_GetReadXml(cwd.c_str()) && cfg_HasDoXml(cwd.c_str()) && cfg_FileExists(xml)) return xml;
    return cfg_Join(cwd.c_str(), name.c_str());
}
} // namespace

int chan_ReloadIfChangedExtra(int kind, ChannelTableHeader *header, void *extra, int extraSize,
                              const char *extraFile) {
    if (header == nullptr || !chan_ValidKind(kind)) return plat_Fail(WERR_INVALID_PARAMETER);
    uint8_t *bytes = reinterpret_cast<uint8_t *>(header);
    std::string path = channelFile(kind);
    const int64_t nowMs = plat_UnixMs();
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return plat_FailFromPosixPath(path.c_str());
    uint16_t count;
    memcpy(&count, bytes + k_headerCount, sizeof count);
    char id[3] = {static_cast<char>(bytes[0]), static_cast<char>(bytes[1]), '\0'};
    SegmentHeader *conf = dm_GetConfSegment(id);
    bool hasConf = conf != nullptr && conf != SHM_NO_SEGMENT;
    const int64_t size = static_cast<int64_t>(count) * CHANNEL_RECORD_SIZE;
    // A current stamp proves nothing about the segment: it may have been made again, smaller,
    // and the caller then reads the table's records out of it.
    if (hasConf && size > shm_PayloadLimit(conf)) return plat_Fail(WERR_BAD_NET_NAME);

    TimeStamp stamp = fileStamp(st);
    TimeStamp loaded;
    memcpy(&loaded, bytes + k_headerStamp, sizeof loaded);
    if (loaded.seconds == stamp.seconds && loaded.milliseconds == stamp.milliseconds &&
        !isUnsettled(id, kind))
        return 0;
    if (!hasConf) return plat_Fail(WERR_FILE_NOT_FOUND);

    // A failed read leaves the segment and the stamp as they were.
    std::vector<ChannelRecord> records(count);
    bool withExtra = extra != nullptr && extraSize > 0 && extraFile != nullptr && *extraFile;
    if (chan_ReadChannels(nullptr, kind, records.data(), 0, count, withExtra ? extra : nullptr,
                          withExtra ? extraSize : 0, withExtra ? extraFile : nullptr) < 0)
        return -1;

    shm_Lock(conf);
    shm_BeginUpdate(conf);
    if (count > 0) memcpy(shm_Payload(conf), records.data(), static_cast<size_t>(size));
    shm_Notify(conf, 0);
    shm_Unlock(conf);

    stamp.padding = 0;
    markUnsettled(id, kind, !settled(st, nowMs));
    SegmentHeader *data = dm_GetDataSegment(id);
    bool locked = data != nullptr && data != SHM_NO_SEGMENT && shm_Lock(data) == 0;
    memcpy(bytes + k_headerStamp, &stamp, sizeof stamp);
    if (locked) shm_Unlock(data);
    return static_cast<int>(size);
}

int chan_ReloadIfChanged(int kind, ChannelTableHeader *header) {
    return chan_ReloadIfChangedExtra(kind, header, nullptr, 0, nullptr);
}
