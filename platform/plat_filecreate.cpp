#include "plat_filecreate.h"

#include "plat_error.h"
#include "plat_file.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Opens with O_CREAT | O_EXCL first so that only a file made here gets its mode widened: an
// existing file of another user keeps the mode its owner chose.
int openShared(const char *path, int flags) {
    std::string p = plat_FileNativePath(path != nullptr ? path : "");
    if (p.empty()) return plat_Fail(WERR_FILE_NOT_FOUND);
    for (;;) {
        int fd = ::open(p.c_str(), flags | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fchmod(fd, 0666);
            return fd;
        }
        if (errno == EINTR) continue;
        if (errno != EEXIST) return plat_FailFromPosixPath(p.c_str());
        // Truncated only once the file is known to be one that may be written: root opens a
        // file marked read-only for writing, Windows refuses everyone.
        fd = ::open(p.c_str(), (flags & ~O_TRUNC) | O_CLOEXEC);
        if (fd >= 0) {
            if (plat_FileMayWriteOpen(fd) != 0) {
                ::close(fd);
                return plat_Fail(WERR_ACCESS_DENIED);
            }
            if ((flags & O_TRUNC) && ftruncate(fd, 0) != 0) {
                plat_FailFromPosix();
                uint32_t err = plat_GetLastError();
                ::close(fd);
                return plat_Fail(err);
            }
            return fd;
        }
        if (errno == EINTR) continue;
        // Removed between the two opens: try the creation again.
        if (errno != ENOENT) return plat_FailFromPosixPath(p.c_str());
    }
}
} // namespace

int plat_FileOpenOrCreateShared(const char *path) {
    return openShared(path, O_RDWR);
}

int plat_FileCreateTruncated(const char *path) {
    return openShared(path, O_WRONLY | O_TRUNC);
}

int plat_FileWriteAll(int fd, const void *buffer, size_t length) {
    const char *p = static_cast<const char *>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd, p + done, length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return plat_FailFromPosix();
        }
        if (n == 0) return plat_Fail(WERR_DISK_FULL); // stopped short with no error of its own
        done += static_cast<size_t>(n);
    }
    return 0;
}
