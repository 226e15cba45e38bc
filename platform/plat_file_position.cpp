// File position and file times of plat_file.h.
#include "plat_error.h"
#include "plat_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
uint64_t fileTime(const struct statx_timestamp &t) {
    return (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull + t.tv_nsec / 100;
}
} // namespace

int64_t plat_FileSeek(int fd, int64_t offset, int moveMethod) {
    int whence = moveMethod == PLAT_FILE_BEGIN     ? SEEK_SET
                 : moveMethod == PLAT_FILE_CURRENT ? SEEK_CUR
                 : moveMethod == PLAT_FILE_END     ? SEEK_END
                                                   : -1;
    if (whence < 0) return plat_Fail(WERR_INVALID_PARAMETER);
    off_t at = lseek(fd, static_cast<off_t>(offset), whence);
    if (at < 0) return errno == EINVAL ? plat_Fail(WERR_INVALID_PARAMETER) : plat_FailFromPosix();
    return static_cast<int64_t>(at);
}

int64_t plat_FileRead(int fd, void *buffer, size_t length) {
    auto *p = static_cast<char *>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t n = read(fd, p + done, length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return plat_FailFromPosix();
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t plat_FileWrite(int fd, const void *buffer, size_t length) {
    const auto *p = static_cast<const char *>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(fd, p + done, length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return plat_FailFromPosix();
        }
        if (n == 0) return plat_Fail(WERR_DISK_FULL); // stopped short with no error of its own
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int plat_FileGetTimes(int fd, uint64_t *creation, uint64_t *lastAccess, uint64_t *lastWrite) {
    struct statx st;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
        return plat_FailFromPosix();
    if (creation != nullptr)
        *creation = fileTime((st.stx_mask & STATX_BTIME) != 0 ? st.stx_btime : st.stx_mtime);
    if (lastAccess != nullptr) *lastAccess = fileTime(st.stx_atime);
    if (lastWrite != nullptr) *lastWrite = fileTime(st.stx_mtime);
    return 0;
}
