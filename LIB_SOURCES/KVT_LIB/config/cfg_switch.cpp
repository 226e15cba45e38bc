// The registry switches of the XML configuration, read on the machine that holds the folder.
#include "cfg.h"

#include "plat_system.h"
#include "reg.h"
#include "srv.h"

#include <cstring>
#include <strings.h>

namespace {
// A folder "\\server\..." or "//server/..." on another computer: its registry cannot be
// reached here, so its switches take their defaults. This computer under any of its names
// (".", "localhost", its address or its own name) is no other computer.
bool onOtherMachine(const char *folder) {
    return folder != nullptr && srv_IsLocalPath(folder) == 0;
}

// The REG_SZ value (at most 10 bytes), or "" with false when missing.
bool readText(const char *folder, const char *name, std::string *out) {
    if (onOtherMachine(folder)) return false;
    char buffer[11] = {};
    uint32_t type = 0;
    uint32_t size = 10;
    if (reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_QUERY_VALUE, name, &type,
                        buffer, &size) != 0)
        return false;
    if (type != PLAT_REG_SZ && type != PLAT_REG_EXPAND_SZ) return false;
    buffer[size < 10 ? size : 10] = '\0';
    *out = buffer;
    return true;
}
} // namespace

int cfg_GetReadXml(const char *folder) {
    int fallback = reg_IsLumbrelEdition() ? 1 : 0;
    std::string text;
    if (!readText(folder, "ReadXML", &text)) return fallback;
    if (strcasecmp(text.c_str(), "ON") == 0) return 1;
    if (strcasecmp(text.c_str(), "OFF") == 0) return 0;
    return fallback;
}

int cfg_GetWriteXml(const char *folder) {
    std::string text;
    if (!readText(folder, "WriteXML", &text)) return reg_IsLumbrelEdition() ? 2 : 0;
    if (strcasecmp(text.c_str(), "BOTH") == 0) return 1;
    if (strcasecmp(text.c_str(), "XML") == 0) return 2;
    return 0;
}

uint32_t cfg_GetExcelCompatibleXsd(const char *folder) {
    if (onOtherMachine(folder)) return 1;
    uint32_t value = 0;
    uint32_t type = 0;
    uint32_t size = sizeof value;
    if (reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_QUERY_VALUE,
                        "ExcelCompatibleXSD", &type, &value, &size) != 0 ||
        type != PLAT_REG_DWORD || size != sizeof value)
        return 1;
    return value;
}
