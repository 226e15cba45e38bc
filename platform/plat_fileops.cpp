#include "plat_fileops.h"

#include "plat_error.h"
#include "plat_file.h"
#include "plat_folder.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
mode_t currentUmask() {
    // The umask can only be read by setting it; set it straight back.
    mode_t m = umask(022);
    umask(m);
    return m;
}

int retryingOpen(const char *path, int flags) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A file (not a link or folder) with no write bit: Windows neither deletes nor replaces it.
bool markedReadOnly(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

int lockRange(int fd, int64_t pos, short type) {
    if (pos < 0) return plat_Fail(WERR_INVALID_PARAMETER);
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(pos);
    fl.l_len = 1;
    while (fcntl(fd, F_OFD_SETLK, &fl) != 0) {
        if (errno == EINTR) continue;
        // The table keeps EAGAIN for the mailslot's time-out, so the conflict is named here.
        if (errno == EAGAIN || errno == EACCES) return plat_Fail(WERR_LOCK_VIOLATION);
        return plat_FailFromPosix();
    }
    return 0;
}
} // namespace

int plat_FileCreate(const char *path, uint32_t access, PlatDisposition disposition,
                    uint32_t flags) {
    if (path == nullptr || *path == '\0') return plat_Fail(WERR_FILE_NOT_FOUND);
    if (plat_IsUncPath(path)) return plat_Fail(WERR_BAD_NETPATH);
    std::string p = plat_FileNativePath(path);
    int mode;
    bool read = (access & PLAT_GENERIC_READ) != 0, write = (access & PLAT_GENERIC_WRITE) != 0;
    if (read && write)
        mode = O_RDWR;
    else if (write)
        mode = O_WRONLY;
    else
        mode = O_RDONLY;
    int create = 0;
    switch (disposition) {
    case PLAT_CREATE_NEW:
        create = O_CREAT | O_EXCL;
        break;
    case PLAT_CREATE_ALWAYS:
        create = O_CREAT | O_TRUNC;
        break;
    case PLAT_OPEN_EXISTING:
        create = 0;
        break;
    case PLAT_OPEN_ALWAYS:
        create = O_CREAT;
        break;
    default:
        return plat_Fail(WERR_INVALID_PARAMETER);
    }
    if (flags & PLAT_OPEN_WRITE_THROUGH) mode |= O_DSYNC;
    int fd = -1;
    bool created = false;
    if (create & O_CREAT) {
        // Try the creation alone first, so that only a file made here gets its mode widened.
        fd = retryingOpen(p.c_str(), mode | O_CREAT | O_EXCL);
        if (fd >= 0)
            created = true;
        else if (errno != EEXIST || (create & O_EXCL))
            return plat_FailFromPosixPath(p.c_str());
    }
    if (fd < 0) {
        // Truncated only once the file is known to be one that may be written.
        fd = retryingOpen(p.c_str(), mode);
        if (fd < 0) return plat_FailFromPosixPath(p.c_str());
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return plat_Fail(WERR_ACCESS_DENIED);
    }
    if (!created && write) {
        // Root opens a file marked read-only for writing; Windows refuses everyone.
        if (plat_FileMayWriteOpen(fd) != 0 || ((create & O_TRUNC) && plat_FileSetEnd(fd, 0) != 0)) {
            uint32_t err = plat_GetLastError();
            ::close(fd);
            return plat_Fail(err);
        }
    }
    if (created && (flags & PLAT_OPEN_NULL_ACCESS_LIST)) fchmod(fd, 0666);
    return fd;
}

int plat_FileSetEnd(int fd, int64_t size) {
    if (size < 0) return plat_Fail(WERR_INVALID_PARAMETER);
    while (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        if (errno == EINTR) continue;
        return plat_FailFromPosix();
    }
    return 0;
}

int plat_FileLockByte(int fd, int64_t pos) {
    return lockRange(fd, pos, F_WRLCK);
}

int plat_FileUnlockByte(int fd, int64_t pos) {
    return lockRange(fd, pos, F_UNLCK);
}

int plat_FileMove(const char *from, const char *to) {
    if (from == nullptr || to == nullptr || *from == '\0' || *to == '\0')
        return plat_Fail(WERR_FILE_NOT_FOUND);
    if (plat_IsUncPath(from) || plat_IsUncPath(to)) return plat_Fail(WERR_BAD_NETPATH);
    std::string a = plat_FileNativePath(from), b = plat_FileNativePath(to);
    struct stat sa, sb;
    if (lstat(a.c_str(), &sa) != 0) return plat_FailFromPosixPath(a.c_str());
    if (lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) return 0;
    if (renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL) return plat_FailFromPosixPath(errno == EEXIST ? a.c_str() : b.c_str());
    // A file system without the flag: a hard link cannot replace either.
    if (link(a.c_str(), b.c_str()) != 0) return plat_FailFromPosixPath(b.c_str());
    if (unlink(a.c_str()) != 0) {
        int saved = errno;
        unlink(b.c_str());
        errno = saved;
        return plat_FailFromPosixPath(a.c_str());
    }
    return 0;
}

int plat_FileReplace(const char *from, const char *to) {
    if (from == nullptr || to == nullptr) return plat_Fail(WERR_FILE_NOT_FOUND);
    std::string a = plat_FileNativePath(from), b = plat_FileNativePath(to);
    // A target marked read-only is neither deleted nor replaced, whoever asks.
    if (markedReadOnly(b)) return plat_Fail(WERR_ACCESS_DENIED);
    if (rename(a.c_str(), b.c_str()) != 0) return plat_FailFromPosixPath(a.c_str());
    return 0;
}

int plat_FileDelete(const char *path) {
    if (path == nullptr || *path == '\0') return plat_Fail(WERR_FILE_NOT_FOUND);
    if (plat_IsUncPath(path)) return plat_Fail(WERR_BAD_NETPATH);
    std::string p = plat_FileNativePath(path);
    if (markedReadOnly(p)) return plat_Fail(WERR_ACCESS_DENIED);
    if (unlink(p.c_str()) != 0) return plat_FailFromPosixPath(p.c_str());
    return 0;
}

int plat_FileSetReadOnly(const char *path, int readOnly) {
    if (path == nullptr || *path == '\0') return plat_Fail(WERR_FILE_NOT_FOUND);
    std::string p = plat_FileNativePath(path);
    struct stat st;
    if (stat(p.c_str(), &st) != 0) return plat_FailFromPosixPath(p.c_str());
    mode_t mode = st.st_mode & 07777;
    if (readOnly)
        mode &= ~static_cast<mode_t>(0222);
    else
        mode |= 0222 & ~currentUmask();
    if (chmod(p.c_str(), mode) != 0) return plat_FailFromPosixPath(p.c_str());
    return 0;
}

int plat_FileInfo(int fd, int64_t *size, int64_t *mtime) {
    struct stat st;
    if (fstat(fd, &st) != 0) return plat_FailFromPosix();
    if (size) *size = st.st_size;
    if (mtime) *mtime = st.st_mtim.tv_sec;
    return 0;
}

int plat_FileInfoPath(const char *path, int64_t *size, int64_t *mtime) {
    if (path == nullptr || *path == '\0') return plat_Fail(WERR_FILE_NOT_FOUND);
    if (plat_IsUncPath(path)) return plat_Fail(WERR_BAD_NETPATH);
    std::string p = plat_FileNativePath(path);
    struct stat st;
    if (stat(p.c_str(), &st) != 0) return plat_FailFromPosixPath(p.c_str());
    if (size) *size = st.st_size;
    if (mtime) *mtime = st.st_mtim.tv_sec;
    return 0;
}

void plat_SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
