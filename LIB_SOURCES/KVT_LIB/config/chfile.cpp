#include "chfile.h"

#include "plat_error.h"
#include "plat_file.h"

#include <cerrno>
#include <cstring>
#include <vector>

std::string chfile_Path(const char *folder, int kind) {
    std::string name = chrec_KindName(kind);
    if (name.empty()) return "";
    std::string dir = plat_FileNativePath(folder);
    if (dir.empty()) return name;
    if (dir.back() != '/') dir += '/';
    return dir + name;
}

int chfile_ReadChannels(const char *path, ChannelRecord *records, int32_t first, int32_t count) {
    if (first < 0 || count < 0 || (count > 0 && records == nullptr))
        return plat_Fail(WERR_INVALID_PARAMETER);
    int fd = plat_FileOpen(path, PLAT_FILE_READ);
    if (fd < 0) return -1;
    // Read aside, so that a file too short leaves the caller's records as they were.
    std::vector<uint8_t> data(CHANNEL_RECORD_SIZE * static_cast<size_t>(count));
    int rc = plat_FileReadAt(fd, data.data(), data.size(), chfile_ChannelOffset(first));
    plat_FileClose(fd);
    if (rc == 0 && !data.empty())
        std::memcpy(records, data.data(), data.size());
    return rc;
}

int chfile_WriteChannels(const char *path, const ChannelRecord *records, int32_t first,
                         int32_t count) {
    if (first < 0 || count < 0 || (count > 0 && records == nullptr))
        return plat_Fail(WERR_INVALID_PARAMETER);
    int fd = plat_FileOpenOrCreate(path);
    if (fd < 0) return -1;
    ChannelFileHeader header{};
    ts_Now(&header.written);
    header.written.padding = 0;
    int rc = plat_FileWriteAt(fd, &header, sizeof header, 0);
    if (rc == 0 && count > 0)
        rc = plat_FileWriteAt(fd, records, CHANNEL_RECORD_SIZE * static_cast<size_t>(count),
                              chfile_ChannelOffset(first));
    plat_FileClose(fd);
    return rc;
}

int chfile_ReadHeader(const char *path, ChannelFileHeader *header) {
    int fd = plat_FileOpen(path, PLAT_FILE_READ);
    if (fd < 0) return -1;
    int rc = plat_FileReadAt(fd, header, sizeof *header, 0);
    plat_FileClose(fd);
    return rc;
}

int chfile_ReadExtra(const char *path, void *buffer, int32_t size) {
    if (size < 0 || (size > 0 && buffer == nullptr)) return plat_Fail(WERR_INVALID_PARAMETER);
    if (size > 0) std::memset(buffer, 0, static_cast<size_t>(size));
    int fd = plat_FileOpen(path, PLAT_FILE_READ);
    if (fd < 0) return errno == WERR_FILE_NOT_FOUND ? 0 : -1;
    int64_t n = plat_FileReadAtMost(fd, buffer, static_cast<size_t>(size), 0);
    plat_FileClose(fd);
    return n < 0 ? -1 : 0;
}

int chfile_WriteExtra(const char *path, const void *buffer, int32_t size) {
    if (size < 0 || (size > 0 && buffer == nullptr)) return plat_Fail(WERR_INVALID_PARAMETER);
    int fd = plat_FileOpenOrCreate(path);
    if (fd < 0) return -1;
    int rc = plat_FileWriteAt(fd, buffer, static_cast<size_t>(size), 0);
    plat_FileClose(fd);
    return rc;
}
