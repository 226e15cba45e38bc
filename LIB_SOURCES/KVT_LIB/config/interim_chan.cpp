// Channel reload from the binary channel files only (no XML channel files yet): the kind's
// file in the current folder is loaded into the table's "_conf" segment whenever its
// last-write time differs from the stamp in the table header.
#include "chan.h"

#include "chfile.h"
#include "chrec.h"
#include "dm.h"
#include "plat_error.h"
#include "shm.h"
#include "ts.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <vector>

namespace {
constexpr int k_headerCount = 4;
constexpr int k_headerStamp = 12;

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
} // namespace

int chan_ReloadIfChanged(int kind, ChannelTableHeader *header) {
    if (header == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    uint8_t *bytes = reinterpret_cast<uint8_t *>(header);
    std::string path = chfile_Path(nullptr, kind);
    if (path.empty()) return plat_Fail(WERR_INVALID_PARAMETER);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return plat_FailFromPosixPath(path.c_str());
    TimeStamp stamp = fileStamp(st);
    TimeStamp loaded;
    memcpy(&loaded, bytes + k_headerStamp, sizeof loaded);
    if (loaded.seconds == stamp.seconds && loaded.milliseconds == stamp.milliseconds) return 0;

    uint16_t count;
    memcpy(&count, bytes + k_headerCount, sizeof count);
    char id[3] = {static_cast<char>(bytes[0]), static_cast<char>(bytes[1]), '\0'};
    SegmentHeader *conf = dm_GetConfSegment(id);
    if (conf == nullptr || conf == SHM_NO_SEGMENT) return plat_Fail(WERR_FILE_NOT_FOUND);
    int64_t size = static_cast<int64_t>(count) * CHANNEL_RECORD_SIZE;
    if (size > conf->payloadLength) return plat_Fail(WERR_BAD_NET_NAME);
    std::vector<ChannelRecord> records(count);
    if (count > 0 && chfile_ReadChannels(path.c_str(), records.data(), 0, count) == -1) return -1;

    shm_Lock(conf);
    shm_BeginUpdate(conf);
    if (count > 0) memcpy(shm_Payload(conf), records.data(), static_cast<size_t>(size));
    shm_Notify(conf, 0);
    shm_Unlock(conf);
    stamp.padding = 0;
    memcpy(bytes + k_headerStamp, &stamp, sizeof stamp);
    return static_cast<int>(size);
}
