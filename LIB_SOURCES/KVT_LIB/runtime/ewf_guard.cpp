#include "ewf.h"

#include "plat_embedded.h"
#include "plat_error.h"
#include "plat_spawn.h"

#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex g_lock;
bool g_sdkLoaded = false;
bool g_guardDone = false;
bool g_filterLifted = false;
int g_sdkToken = 0; // what the "module handle" points at

// Runs the filter command and waits for it; its exit status says nothing we could act on.
bool runFilterCommand(const char *option, const char *extra) {
    std::vector<std::string> argv = {"ewfmgr", "c:", option};
    if (extra != nullptr) argv.push_back(extra);
    return plat_RunAndWait(argv, nullptr, nullptr) == 0;
}

} // namespace

void *ewf_LoadXpacSdk() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_sdkLoaded && plat_EmbeddedPlatformPresent()) g_sdkLoaded = true;
    return g_sdkLoaded ? &g_sdkToken : nullptr;
}

void ewf_FreeXpacSdk() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_sdkLoaded = false;
}

int ewf_DisableFilterOnce() {
    if (ewf_LoadXpacSdk() == nullptr) return 1;
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_guardDone) return 1;
    PlatHKey marker = 0;
    uint32_t disposition = 0;
    uint32_t err =
        plat_RegCreateKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\EWF", PLAT_REG_OPTION_VOLATILE,
                          PLAT_KEY_SET_VALUE, &marker, &disposition);
    if (err != 0) {
        plat_SetLastError(err);
        return 0;
    }
    plat_RegCloseKey(marker);
    // Only the first process after a start commits; the others find the marker.
    if (disposition == PLAT_REG_CREATED_NEW_KEY) {
        if (!runFilterCommand("-commitanddisable", "-live")) {
            // Nothing was committed: without the marker the next guarded write, in this
            // process or another, tries again instead of taking the filter for lifted.
            uint32_t failure = plat_GetLastError();
            plat_RegDeleteKey(PLAT_HKEY_LOCAL_MACHINE, "SOFTWARE\\EWF");
            plat_SetLastError(failure);
            return 0;
        }
        g_filterLifted = true;
    }
    g_guardDone = true;
    return 1;
}

int ewf_ReenableFilter() {
    if (ewf_LoadXpacSdk() == nullptr) return 1;
    std::lock_guard<std::mutex> guard(g_lock);
    if (!g_filterLifted) return 1;
    if (!runFilterCommand("-enable", nullptr)) return 0;
    g_filterLifted = false;
    return 1;
}

uint32_t ewf_RegCreateKeyEx(PlatHKey parent, const char *subkey, uint32_t options, uint32_t access,
                            PlatHKey *out, uint32_t *disposition) {
    bool guarded = ewf_DisableFilterOnce() != 0;
    uint32_t err = plat_RegCreateKey(parent, subkey, options, access, out, disposition);
    guarded = ewf_ReenableFilter() != 0 && guarded;
    if (guarded) return err;
    // The caller sees a failure and will not close the key.
    uint32_t guardError = plat_GetLastError();
    if (err == 0 && out != nullptr) {
        plat_RegCloseKey(*out);
        *out = 0;
    }
    return guardError;
}

uint32_t ewf_RegSetValueEx(PlatHKey key, const char *name, uint32_t type, const void *data,
                           uint32_t size) {
    bool guarded = ewf_DisableFilterOnce() != 0;
    uint32_t err = plat_RegSetValue(key, name, type, data, size);
    guarded = ewf_ReenableFilter() != 0 && guarded;
    return guarded ? err : plat_GetLastError();
}

uint32_t ewf_RegDeleteValue(PlatHKey key, const char *name) {
    bool guarded = ewf_DisableFilterOnce() != 0;
    uint32_t err = plat_RegDeleteValue(key, name);
    guarded = ewf_ReenableFilter() != 0 && guarded;
    return guarded ? err : plat_GetLastError();
}

void ewf_ForgetStateForTest() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_guardDone = false;
    g_filterLifted = false;
}
