#include "plat_folder.h"

#include "plat_error.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

int plat_MakeFolder(const char *path) {
    if (path == nullptr || *path == '\0') return plat_Fail(WERR_PATH_NOT_FOUND);
    if (mkdir(path, 0777) != 0) {
        if (errno == EEXIST) return plat_Fail(WERR_ALREADY_EXISTS);
        return plat_FailFromPosixPath(path);
    }
    chmod(path, 0777); // the umask must not narrow a folder every user shares
    return 0;
}

int plat_FolderExists(const char *path) {
    struct stat st;
    return (path != nullptr && stat(path, &st) == 0 && S_ISDIR(st.st_mode)) ? 1 : 0;
}

int plat_CheckAccess(const char *path, int access) {
    if (path == nullptr || *path == '\0') return 0;
    int mode = 0;
    if (access & PLAT_ACCESS_READ) mode |= R_OK;
    if (access & PLAT_ACCESS_WRITE) mode |= W_OK;
    if (access & PLAT_ACCESS_EXECUTE) mode |= X_OK;
    if (mode == 0) mode = F_OK;
    return faccessat(AT_FDCWD, path, mode, AT_EACCESS) == 0 ? 1 : 0;
}

std::string plat_SystemDirectory() {
    return "/";
}

std::string plat_UserDataFolder() {
    const char *xdg = getenv("XDG_DATA_HOME");
    if (xdg != nullptr && *xdg == '/') return xdg;
    const char *home = getenv("HOME");
    if (home != nullptr && *home != '\0') return std::string(home) + "/.local/share";
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pw;
    struct passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && *found->pw_dir != '\0')
        return std::string(found->pw_dir) + "/.local/share";
    return "";
}

int plat_RemoteSession() {
    return 0;
}

int plat_FolderWriteTime(const char *path, int32_t *seconds, int32_t *nanoseconds) {
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0) return plat_FailFromPosix();
    if (seconds != nullptr) *seconds = static_cast<int32_t>(st.st_mtim.tv_sec);
    if (nanoseconds != nullptr) *nanoseconds = static_cast<int32_t>(st.st_mtim.tv_nsec);
    return 0;
}
