#include "plat_error.h"

#include <cerrno>
#include <string>
#include <sys/stat.h>

namespace {
thread_local uint32_t t_lastError = 0;

struct ErrorMapping {
    int posix;
    uint32_t win;
};

// One table for the whole layer; the first matching entry wins.
constexpr ErrorMapping k_errorTable[] = {
    {0, WERR_SUCCESS},
    {ENOENT, WERR_FILE_NOT_FOUND},
    {ENOTDIR, WERR_PATH_NOT_FOUND},
    {EACCES, WERR_ACCESS_DENIED},
    {EPERM, WERR_ACCESS_DENIED},
    {EROFS, WERR_ACCESS_DENIED},
    {ENOMEM, WERR_NOT_ENOUGH_MEMORY},
    {EINVAL, WERR_INVALID_PARAMETER},
    {EEXIST, WERR_ALREADY_EXISTS},
    {EADDRINUSE, WERR_ALREADY_EXISTS},
    {ECONNREFUSED, WERR_FILE_NOT_FOUND},
    {EAGAIN, WERR_SEM_TIMEOUT},
    {ETIMEDOUT, WERR_SEM_TIMEOUT},
    {EBADF, WERR_INVALID_HANDLE},
    {EMFILE, WERR_TOO_MANY_OPEN_FILES},
    {ENFILE, WERR_TOO_MANY_OPEN_FILES},
    {ENOSPC, WERR_DISK_FULL},
    {EDQUOT, WERR_DISK_FULL},
    {EBUSY, WERR_BUSY},
    {EISDIR, WERR_ACCESS_DENIED},
    {ENAMETOOLONG, WERR_FILENAME_EXCED_RANGE},
    {ENOTEMPTY, WERR_DIR_NOT_EMPTY},
    {EPIPE, WERR_BROKEN_PIPE},
    {ECONNRESET, WERR_BROKEN_PIPE},
    {ENOTCONN, WERR_PIPE_NOT_CONNECTED},
    {EMSGSIZE, WERR_MORE_DATA},
    {ENOTSUP, WERR_NOT_SUPPORTED},
    {ENOSYS, WERR_NOT_SUPPORTED},
    {EIO, WERR_GEN_FAILURE},
    {EINTR, WERR_OPERATION_ABORTED},
    {ENXIO, WERR_FILE_NOT_FOUND},
    {ENODEV, WERR_FILE_NOT_FOUND},
    {ELOOP, WERR_PATH_NOT_FOUND},
    {EHOSTUNREACH, WERR_WSAEHOSTUNREACH},
    {EFBIG, WERR_FILE_TOO_LARGE},
    {EXDEV, WERR_NOT_SAME_DEVICE},
};
} // namespace

void plat_SetLastError(uint32_t code) {
    t_lastError = code;
}

uint32_t plat_GetLastError() {
    return t_lastError;
}

uint32_t plat_WinErrorFromPosix(int posix_errno) {
    for (const ErrorMapping &m : k_errorTable)
        if (m.posix == posix_errno) return m.win;
    return WERR_GEN_FAILURE;
}

uint32_t plat_WinErrorForPath(int posix_errno, const char *path) {
    if (posix_errno == ENOENT && path != nullptr) {
        std::string p(path);
        size_t cut = p.find_last_of("/\\");
        if (cut != std::string::npos && cut > 0) {
            struct stat st;
            if (stat(p.substr(0, cut).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                return WERR_PATH_NOT_FOUND;
        }
    }
    return plat_WinErrorFromPosix(posix_errno);
}

int plat_Fail(uint32_t code) {
    plat_SetLastError(code);
    errno = static_cast<int>(code);
    return -1;
}

int plat_FailFromPosix() {
    return plat_Fail(plat_WinErrorFromPosix(errno));
}

int plat_FailFromPosixPath(const char *path) {
    return plat_Fail(plat_WinErrorForPath(errno, path));
}
