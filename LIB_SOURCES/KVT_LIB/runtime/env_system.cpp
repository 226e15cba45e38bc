#include "env.h"

#include "ewf.h"
#include "plat_error.h"
#include "plat_folder.h"

#include <cerrno>

char env_GetSystemDrive() {
    if (ewf_LoadXpacSdk() != nullptr) return 'D';
    std::string system = plat_SystemDirectory();
    if (system.empty()) {
        errno = static_cast<int>(WERR_PATH_NOT_FOUND);
        return 'C';
    }
    return system[0];
}

int env_CheckFileAccess(const char *path, uint32_t desiredAccess) {
    int access = 0;
    if (desiredAccess & (ENV_GENERIC_READ | ENV_GENERIC_ALL)) access |= PLAT_ACCESS_READ;
    if (desiredAccess & (ENV_GENERIC_WRITE | ENV_GENERIC_ALL)) access |= PLAT_ACCESS_WRITE;
    if (desiredAccess & (ENV_GENERIC_EXECUTE | ENV_GENERIC_ALL)) access |= PLAT_ACCESS_EXECUTE;
    return plat_CheckAccess(path, access);
}
