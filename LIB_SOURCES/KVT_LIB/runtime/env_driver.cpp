#include "env.h"

#include "plat_folder.h"
#include "srv.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string>
#include <vector>

namespace {

// "calc7" and "opddx12" are numbered instances of one driver: they share its files.
std::string driverBaseName(const char *name) {
    std::string n(name);
    for (const char *stem : {"calc", "opddx"}) {
        size_t len = strlen(stem);
        if (n.size() <= len || strncasecmp(n.c_str(), stem, len) != 0) continue;
        bool digits = true;
        for (size_t i = len; i < n.size(); ++i)
            digits = digits && n[i] >= '0' && n[i] <= '9';
        if (digits) return stem;
    }
    return n;
}

std::string driverFileName(const char *name, const char *suffix) {
    std::string base = driverBaseName(name);
    if (suffix == nullptr || *suffix == '\0') return base;
    return base.substr(0, 5) + "_" + std::string(suffix).substr(0, 2);
}

std::vector<std::string> searchFolders(const char *server, const char *pathVariable) {
    std::vector<std::string> folders;
    std::string bin = env_GetFolder("KVT_BIN");
    if (!bin.empty()) folders.push_back(bin);
    // Then the server's own binary folder; another computer's is a network path that fails
    // the access check like any missing file.
    if (server != nullptr && strcmp(server, ".") != 0) {
        std::string theirs = srv_ResolveFolder(server, "KVT_BIN");
        if (!theirs.empty() && theirs != bin) folders.push_back(theirs);
    }
    if (const char *list = getenv(pathVariable)) {
        std::string all(list);
        size_t start = 0;
        while (start <= all.size()) {
            size_t end = all.find(':', start);
            if (end == std::string::npos) end = all.size();
            if (end > start) folders.push_back(all.substr(start, end - start));
            start = end + 1;
        }
    }
    return folders;
}

std::string findDriver(const char *server, const char *name, const char *suffix,
                       const char *extension, const char *pathVariable, int access) {
    if (name == nullptr || *name == '\0') return "";
    std::string file = driverFileName(name, suffix) + extension;
    for (const std::string &folder : searchFolders(server, pathVariable)) {
        std::string path = folder;
        if (path.back() != '/') path += '/';
        path += file;
        if (!plat_FolderExists(path.c_str()) && plat_CheckAccess(path.c_str(), access)) return path;
    }
    return "";
}

} // namespace

std::string env_FindDriverDll(const char *server, const char *name, const char *suffix) {
    return findDriver(server, name, suffix, ".so", "LD_LIBRARY_PATH", PLAT_ACCESS_READ);
}

std::string env_FindDriverExe(const char *server, const char *name, const char *suffix) {
    std::string path =
        findDriver(server, name, suffix, "", "PATH", PLAT_ACCESS_READ | PLAT_ACCESS_EXECUTE);
    return path.empty() ? path : "\"" + path + "\"";
}
