#include "plat_file.h"

#include "plat_error.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string nativePath(const char *path) {
    std::string p(path != nullptr ? path : "");
    for (char &c : p)
        if (c == '\\') c = '/';
    return p;
}

// Windows refuses to open a folder as a file.
int openFile(const char *path, int flags) {
    std::string p = nativePath(path);
    if (p.empty()) return plat_Fail(WERR_FILE_NOT_FOUND);
    int fd;
    do {
        fd = ::open(p.c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return plat_FailFromPosixPath(p.c_str());
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return plat_Fail(WERR_ACCESS_DENIED);
    }
    // An administrator may open a file marked read-only for writing here; Windows refuses.
    if ((flags & O_ACCMODE) != O_RDONLY && plat_FileMayWriteOpen(fd) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
} // namespace

int plat_FileMayWrite(const char *path) {
    std::string p = nativePath(path);
    if (p.empty()) return plat_Fail(WERR_FILE_NOT_FOUND);
    struct stat st;
    if (stat(p.c_str(), &st) != 0) return errno == ENOENT ? 0 : plat_FailFromPosixPath(p.c_str());
    if (S_ISDIR(st.st_mode)) return plat_Fail(WERR_ACCESS_DENIED);
    if (faccessat(AT_FDCWD, p.c_str(), W_OK, AT_EACCESS) != 0)
        return plat_FailFromPosixPath(p.c_str());
    if ((st.st_mode & 0222) == 0) return plat_Fail(WERR_ACCESS_DENIED);
    return 0;
}

int plat_FileMayWriteOpen(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return plat_FailFromPosix();
    if (S_ISDIR(st.st_mode) || (st.st_mode & 0222) == 0) return plat_Fail(WERR_ACCESS_DENIED);
    return 0;
}

int plat_FileOpen(const char *path, PlatFileAccess access) {
    return openFile(path, access == PLAT_FILE_READ_WRITE ? O_RDWR : O_RDONLY);
}

int plat_FileOpenOrCreate(const char *path) {
    return openFile(path, O_RDWR | O_CREAT);
}

int64_t plat_FileReadAtMost(int fd, void *buffer, size_t length, int64_t offset) {
    if (offset < 0) return plat_Fail(WERR_INVALID_PARAMETER);
    char *p = static_cast<char *>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(fd, p + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return plat_FailFromPosix();
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int plat_FileReadAt(int fd, void *buffer, size_t length, int64_t offset) {
    int64_t n = plat_FileReadAtMost(fd, buffer, length, offset);
    if (n < 0) return -1;
    if (static_cast<size_t>(n) < length) return plat_Fail(WERR_HANDLE_EOF);
    return 0;
}

int plat_FileWriteAt(int fd, const void *buffer, size_t length, int64_t offset) {
    if (offset < 0) return plat_Fail(WERR_INVALID_PARAMETER);
    const char *p = static_cast<const char *>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pwrite(fd, p + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return plat_FailFromPosix();
        }
        if (n == 0) return plat_Fail(WERR_DISK_FULL); // stopped short with no error of its own
        done += static_cast<size_t>(n);
    }
    return 0;
}

int64_t plat_FileSize(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return plat_FailFromPosix();
    return static_cast<int64_t>(st.st_size);
}

int plat_FileClose(int fd) {
    if (fd < 0) return 0;
    // The descriptor is gone even when close reports EINTR; retrying could close another.
    if (::close(fd) != 0 && errno != EINTR) return plat_FailFromPosix();
    return 0;
}

std::string plat_FileNativePath(const char *path) {
    return nativePath(path);
}
