#include "env.h"

#include "plat_system.h"

int env_GetOsPlatformId() {
    return plat_PlatformId();
}

int env_GetOsMajorVersion() {
    return plat_OsMajorVersion();
}
