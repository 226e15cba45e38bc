// Device folders: names, prefix, the configuration root and the current directory.
#include "cfg.h"
#include "cfg_internal.h"
#include "xml.h"

#include "env.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
size_t lastSeparator(const std::string &path) {
    return path.find_last_of("/\\");
}

std::string trimmed(const char *folder) {
    std::string path = folder != nullptr ? folder : "";
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\'))
        path.pop_back();
    return path;
}
} // namespace

std::string cfg_FolderName(const char *folder) {
    std::string path = trimmed(folder);
    size_t sep = lastSeparator(path);
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

std::string cfg_DevicePrefix(const char *folder) {
    std::string name = cfg_FolderName(folder);
    size_t underscore = name.rfind('_');
    return underscore == std::string::npos ? name : name.substr(0, underscore);
}

int cfg_IsCurrentConfig(const char *folder) {
    return strcasecmp(cfg_FolderName(folder).c_str(), "CURRENT_CONFIG") == 0 ? 1 : 0;
}

int cfg_IsConfigRoot(const char *folder) {
    std::string root = env_ResolveFolder("KVT_CURRENT_CONFIG");
    if (root.empty() || folder == nullptr) return 0;
    char a[PATH_MAX], b[PATH_MAX];
    std::string given = cfg_Folder(folder);
    if (realpath(given.c_str(), a) == nullptr || realpath(root.c_str(), b) == nullptr) return 0;
    return strcmp(a, b) == 0 ? 1 : 0;
}

std::string cfg_ParentFolder(const char *folder) {
    std::string path = trimmed(folder);
    size_t sep = lastSeparator(path);
    if (sep == std::string::npos) return path.empty() ? ".." : path + "/..";
    if (sep == 0) return path.substr(0, 1);
    return path.substr(0, sep);
}

std::string cfg_CurrentFolder() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
}

std::string cfg_Folder(const char *folder) {
    return folder == nullptr || *folder == '\0' ? cfg_CurrentFolder() : std::string(folder);
}

std::string cfg_Join(const char *folder, const char *name) {
    if (folder == nullptr || *folder == '\0') return name;
    std::string path = folder;
    if (path.back() != '/' && path.back() != '\\') path += '/';
    return path + name;
}

int cfg_FileExists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? 1 : 0;
}

std::string cfg_RootOf(const char *folder) {
    std::string f = cfg_Folder(folder);
    return cfg_IsConfigRoot(f.c_str()) ? f : cfg_ParentFolder(f.c_str());
}

void cfg_SetContext(const char *folder, const char *context) {
    xml_SetErrorObject(cfg_FolderName(cfg_Folder(folder).c_str()).c_str());
    xml_SetErrorContext(context);
}
