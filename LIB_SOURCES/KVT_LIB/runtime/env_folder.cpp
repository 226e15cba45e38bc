#include "env.h"

#include "plat_error.h"
#include "plat_folder.h"
#include "reg.h"
#include "reg_internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t k_maxNameLength = 249;
constexpr uint32_t k_maxIndirectValue = 260;

struct HiveName {
    const char *name;
    PlatHKey hive;
};

constexpr HiveName k_hives[] = {
    {"ClassesRoot", PLAT_HKEY_CLASSES_ROOT},
    {"CurrentUser", PLAT_HKEY_CURRENT_USER},
    {"LocalMachine", PLAT_HKEY_LOCAL_MACHINE},
    {"Users", PLAT_HKEY_USERS},
    {"PerformanceData", PLAT_HKEY_PERFORMANCE_DATA},
    {"CurrentConfig", PLAT_HKEY_CURRENT_CONFIG},
    {"DynData", PLAT_HKEY_DYN_DATA},
};

bool startsWithNoCase(const std::string &text, const char *prefix) {
    size_t n = strlen(prefix);
    return text.size() >= n && reg_EqualNoCase(text.substr(0, n), prefix);
}

std::string upperAscii(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// "%\Hive\key path\value%" names a registry value that holds the folder. Anything that is not
// such a reference, or whose value cannot be read, is the folder itself.
std::string readIndirection(const std::string &value) {
    if (value.size() < 2 || value.front() != '%' || value.back() != '%') return value;
    std::string inner = value.substr(1, value.size() - 2);
    if (inner.empty() || inner[0] != '\\') return value;
    size_t hiveEnd = inner.find('\\', 1);
    if (hiveEnd == std::string::npos) return value;
    std::string hiveName = inner.substr(1, hiveEnd - 1);
    std::string rest = inner.substr(hiveEnd + 1);
    size_t valueSep = rest.rfind('\\');
    if (valueSep == std::string::npos) return value;
    const HiveName *found = nullptr;
    for (const HiveName &h : k_hives)
        if (reg_EqualNoCase(hiveName, h.name)) found = &h;
    if (found == nullptr) return value;

    std::string keyPath = rest.substr(0, valueSep);
    std::string valueName = rest.substr(valueSep + 1);
    char buf[k_maxIndirectValue + 1] = {};
    uint32_t type = 0;
    uint32_t size = k_maxIndirectValue;
    if (reg_AccessValue(found->hive, keyPath.c_str(), PLAT_KEY_QUERY_VALUE, valueName.c_str(),
                        &type, buf, &size) != 0)
        return value;
    return std::string(buf, strnlen(buf, size));
}

// "KVT_" or "DM2_" removed, without regard to case.
std::string bareName(const char *name) {
    std::string n(name);
    if (startsWithNoCase(n, "KVT_") || startsWithNoCase(n, "DM2_")) n.erase(0, 4);
    return n;
}

// Creates every missing level of a path; the result says whether it is a folder now.
bool makeFolders(const std::string &path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1))
        if (!plat_FolderExists(path.substr(0, pos).c_str()))
            plat_MakeFolder(path.substr(0, pos).c_str());
    if (!plat_FolderExists(path.c_str())) plat_MakeFolder(path.c_str());
    return plat_FolderExists(path.c_str()) != 0;
}

} // namespace

std::string env_ResolveFolder(const char *name) {
    if (name == nullptr || strlen(name) > k_maxNameLength) {
        errno = 22;
        return "";
    }
    std::string variable(name);
    if (startsWithNoCase(variable, "DM2_")) variable = "KVT_" + variable.substr(4);

    const char *value = getenv(variable.c_str());
    if (value == nullptr || *value == '\0') {
        std::string tail = variable;
        if (startsWithNoCase(tail, "KVT_")) tail.erase(0, 4);
        return env_GetRootFolder() + "/" + upperAscii(tail);
    }
    return readIndirection(value);
}

std::string env_GetFolder(const char *name) {
    std::string folder = env_ResolveFolder(name);
    if (folder.empty()) return "";
    std::string bare = bareName(name);
    bool exported =
        reg_EqualNoCase(bare, "EXPORTED_DATA") || reg_EqualNoCase(bare, "EXPORTED_IMAGES");
    if (!exported && !reg_EqualNoCase(bare, "REPLAY_OPTIONS")) return folder;

    if (!plat_FolderExists(folder.c_str())) plat_MakeFolder(folder.c_str());
    if (env_CheckFileAccess(folder.c_str(), ENV_GENERIC_WRITE)) return folder;

    // Folders an operator fills by hand must be writable: fall back to one of his own.
    std::string user = plat_UserDataFolder();
    if (user.empty()) return folder;
    std::string personal = user + "/Tallowbrook/" + reg_GetProductName() + "/" + name;
    if (!makeFolders(personal)) return folder;
    return personal;
}

std::string env_GetRootFolder() {
    return env_GetRootFolderFor(reg_GetProductName().c_str());
}

std::string env_GetRootFolderFor(const char *product) {
    char drive = env_GetSystemDrive();
    std::string root = (drive == '/' || drive == '\\') ? std::string("/") + product
                                                       : std::string(1, drive) + ":/" + product;
    char buf[k_maxIndirectValue + 1] = {};
    uint32_t type = 0;
    uint32_t size = k_maxIndirectValue;
    if (reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_QUERY_VALUE,
                        "Root:", &type, buf, &size) == 0 &&
        buf[0] != '\0')
        root.assign(buf, strnlen(buf, size));
    return root;
}
