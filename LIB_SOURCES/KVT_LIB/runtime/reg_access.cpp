#include "reg.h"

#include "ewf.h"
#include "reg_internal.h"
#include "plat_error.h"

#include <atomic>
#include <cstring>
#include <string>

namespace {

std::atomic<int> g_userRedirect{0};

constexpr const char k_productWord[] = "Trellane";

// The key path with the installed product's name in place of a trailing product word, or
// "" when the path does not end with it.
std::string replaceProductWord(const char *keyPath) {
    size_t len = strlen(keyPath);
    size_t word = sizeof k_productWord - 1;
    if (len < word || !reg_EqualNoCase(std::string(keyPath + len - word), k_productWord)) return "";
    return std::string(keyPath, len - word) + reg_GetProductName();
}

uint32_t writeValue(PlatHKey hive, const std::string &path, uint32_t access, const char *name,
                    uint32_t type, const void *data, uint32_t size) {
    PlatHKey key = 0;
    uint32_t err =
        ewf_RegCreateKeyEx(hive, path.c_str(), PLAT_REG_OPTION_NON_VOLATILE, access, &key, nullptr);
    if (err != 0) return err;
    err = ewf_RegSetValueEx(key, name, type, data, size);
    plat_RegCloseKey(key);
    return err;
}

} // namespace

PlatHKey reg_RedirectHive(PlatHKey hive) {
    return (hive == PLAT_HKEY_LOCAL_MACHINE && g_userRedirect.load() != 0) ? PLAT_HKEY_CURRENT_USER
                                                                           : hive;
}

bool reg_EqualNoCase(const std::string &a, const std::string &b) {
    return plat_EqualNoCase(a, b);
}

uint32_t reg_ReadPlain(PlatHKey hive, const std::string &path, uint32_t access, const char *name,
                       uint32_t *type, void *data, uint32_t *size, bool *openFailed) {
    PlatHKey key = 0;
    uint32_t err = plat_RegOpenKey(hive, path.c_str(), access, &key);
    if (openFailed != nullptr) *openFailed = err != 0;
    if (err != 0) return err;
    err = plat_RegQueryValue(key, name, type, data, size);
    plat_RegCloseKey(key);
    return err;
}

uint32_t reg_AccessValue(PlatHKey hive, const char *keyPath, uint32_t access, const char *valueName,
                         uint32_t *type, void *data, uint32_t *size) {
    if (keyPath == nullptr || size == nullptr) return WERR_INVALID_PARAMETER;
    hive = reg_RedirectHive(hive);
    std::string replaced = replaceProductWord(keyPath);

    if ((access & PLAT_KEY_QUERY_VALUE) == 0) {
        uint32_t t = type != nullptr ? *type : PLAT_REG_SZ;
        return writeValue(hive, replaced.empty() ? std::string(keyPath) : replaced, access,
                          valueName, t, data, *size);
    }

    if (replaced.empty() || reg_EqualNoCase(replaced, keyPath))
        return reg_ReadPlain(hive, keyPath, access, valueName, type, data, size, nullptr);

    uint32_t room = *size;
    bool openFailed = false;
    uint32_t err = reg_ReadPlain(hive, replaced, access, valueName, type, data, size, &openFailed);
    if (err == 0) return 0;
    bool fallBack = openFailed ? access == PLAT_KEY_QUERY_VALUE : err == WERR_FILE_NOT_FOUND;
    if (!fallBack) return err;
    *size = room;
    return reg_ReadPlain(hive, keyPath, access, valueName, type, data, size, nullptr);
}

uint32_t reg_DeleteValue(PlatHKey hive, const char *keyPath, const char *valueName) {
    if (keyPath == nullptr) return WERR_INVALID_PARAMETER;
    hive = reg_RedirectHive(hive);
    std::string replaced = replaceProductWord(keyPath);
    PlatHKey key = 0;
    uint32_t err = plat_RegOpenKey(hive, replaced.empty() ? keyPath : replaced.c_str(),
                                   PLAT_KEY_SET_VALUE, &key);
    if (err != 0) return err;
    err = ewf_RegDeleteValue(key, valueName);
    plat_RegCloseKey(key);
    return err;
}

int reg_GetUserRedirect() {
    return g_userRedirect.load();
}

void reg_SetUserRedirect() {
    g_userRedirect.store(1);
}

void reg_ClearUserRedirect() {
    g_userRedirect.store(0);
}
