#include "reg.h"

#include "ewf.h"
#include "reg_internal.h"

#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex g_namesLock;
bool g_haveProduct = false;
bool g_haveReplication = false;
std::string g_product;
std::string g_replication;

// A text value of at most 31 characters; "" when missing, too long or empty.
std::string readName(PlatHKey hive, const char *path, const char *name) {
    char buf[32] = {};
    uint32_t type = 0;
    uint32_t size = sizeof buf;
    if (reg_ReadPlain(hive, path, PLAT_KEY_QUERY_VALUE, name, &type, buf, &size, nullptr) != 0)
        return "";
    if (type != PLAT_REG_SZ && type != PLAT_REG_EXPAND_SZ) return "";
    buf[sizeof buf - 1] = '\0';
    return buf;
}

} // namespace

const std::string &reg_GetProductName() {
    std::lock_guard<std::mutex> guard(g_namesLock);
    if (!g_haveProduct) {
        g_product =
            readName(reg_RedirectHive(PLAT_HKEY_LOCAL_MACHINE), REG_MAKER_KEY, "ProductName");
        if (g_product.empty())
            g_product = readName(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "ProductName");
        if (g_product.empty()) g_product = ewf_LoadXpacSdk() != nullptr ? "Pelmarsh" : "Trellane";
        g_haveProduct = true;
    }
    return g_product;
}

int reg_IsLumbrelEdition() {
    return reg_EqualNoCase(reg_GetProductName(), "Lumbrel") ? 1 : 0;
}

const std::string &reg_GetReplicationProductName() {
    const bool lumbrel = reg_IsLumbrelEdition() != 0;
    std::lock_guard<std::mutex> guard(g_namesLock);
    if (!g_haveReplication) {
        g_replication = readName(PLAT_HKEY_LOCAL_MACHINE, REG_MAKER_KEY, "ReplicationProductName");
        if (g_replication.empty())
            g_replication =
                readName(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, "ReplicationProductName");
        if (g_replication.empty()) g_replication = lumbrel ? "Brackenfield" : "Wyncote";
        g_haveReplication = true;
    }
    return g_replication;
}

int reg_ProductKeyExists(const char *name) {
    if (name == nullptr) return 0;
    std::string path = std::string(REG_MAKER_KEY) + "\\" + name;
    PlatHKey key = 0;
    uint32_t err =
        ewf_RegCreateKeyEx(reg_RedirectHive(PLAT_HKEY_LOCAL_MACHINE), path.c_str(),
                           PLAT_REG_OPTION_NON_VOLATILE, PLAT_KEY_QUERY_VALUE, &key, nullptr);
    if (err != 0) return 0;
    plat_RegCloseKey(key);
    return 1;
}

void reg_ForgetProductNames() {
    std::lock_guard<std::mutex> guard(g_namesLock);
    g_haveProduct = false;
    g_haveReplication = false;
}
