#include "env.h"
#include "plat_error.h"
#include "plat_folder.h"
#include "reg.h"
#include "srv_state.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {
std::string withoutPrefix(const char *name) {
    return strncasecmp(name, "KVT_", 4) == 0 ? std::string(name + 4) : std::string(name);
}

// The folders a user may have to write to: created when missing, used only when writable.
bool isWritableKind(const char *name) {
    std::string bare = withoutPrefix(name);
    return strcasecmp(bare.c_str(), "REPLAY_OPTIONS") == 0 ||
           strcasecmp(bare.c_str(), "EXPORTED_DATA") == 0 ||
           strcasecmp(bare.c_str(), "EXPORTED_IMAGES") == 0;
}

// An in-process server's spec names a file or folder: the wanted folder is searched beside
// it, one level up at a time. "" when no level holds such a folder with a file in it.
std::string searchBesideSpec(const std::string &spec, const char *name) {
    std::string folder = withoutPrefix(name);
    std::string path = spec;
    for (;;) {
        size_t sep = path.find_last_of("\\/");
        if (sep == std::string::npos) return "";
        std::string candidate = path.substr(0, sep + 1) + folder;
        if (plat_FolderHasFile(candidate.c_str())) return candidate;
        path.resize(sep);
    }
}

// A writable folder of another computer cannot be reached: its shares are not mounted here.
bool usableWritable(const std::string &path) {
    if (plat_IsUncPath(path.c_str())) return false;
    if (!plat_FolderExists(path.c_str())) plat_MakeFolder(path.c_str());
    return plat_FolderExists(path.c_str()) && plat_CheckAccess(path.c_str(), PLAT_ACCESS_WRITE);
}
} // namespace

std::string srv_ResolveFolder(const char *spec, const char *name) {
    if (name == nullptr) {
        plat_Fail(WERR_INVALID_PARAMETER);
        return "";
    }
    if (spec != nullptr && srv_ServerKind(spec) == SRV_KIND_INPROC) {
        if (strcasecmp(name, "KVT_LOGGED_DATA") == 0) return spec;
        if (strncasecmp(spec, "PROVIDER=", 9) != 0 && strcasecmp(name, "KVT_CURRENT_CONFIG") != 0) {
            std::string found = searchBesideSpec(spec, name);
            return !found.empty() ? found : env_GetFolder(name);
        }
    }
    if (!srv_IsLocal(spec)) {
        const char *value = getenv(name);
        if (value != nullptr && strlen(value) > 1) return value;
        std::string path;
        if (strncasecmp(name, "KVT_", 4) != 0)
            path = std::string("\\\\") + spec + "\\" + name;
        else
            path = std::string("\\\\") + spec + "\\" + reg_GetProductName() + "\\" +
                   withoutPrefix(name);
        if (!isWritableKind(name) || usableWritable(path)) return path;
    }
    return env_GetFolder(name);
}
