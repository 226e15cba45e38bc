#include "dll.h"

#include "plat_module.h"

#include <mutex>
#include <string>
#include <strings.h>

namespace {
std::mutex g_lock;
char g_resourceTag;

// Made on first use: the module's constructor sets it before static initialisers have run.
std::string &HelpFile() {
    static std::string path;
    return path;
}
} // namespace

std::string dll_HelpPathFor(const std::string &modulePath) {
    std::string path = modulePath;
    size_t slash = path.find_last_of("/\\");
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && dot > nameStart) {
        std::string ext = path.substr(dot);
        if (strcasecmp(ext.c_str(), ".so") == 0 || strcasecmp(ext.c_str(), ".dll") == 0) {
            size_t stem = dot;
            if (stem - nameStart >= 3 && strncasecmp(path.c_str() + stem - 3, "_CF", 3) == 0)
                stem -= 3;
            path.erase(stem);
        } else {
            path.erase(dot);
        }
    }
    return path + "_Guide.chm";
}

std::string dll_GetHelpFilePath() {
    std::string path =
        dll_HelpPathFor(plat_ModulePath(reinterpret_cast<const void *>(&dll_GetHelpFilePath)));
    std::lock_guard<std::mutex> lock(g_lock);
    HelpFile() = path;
    return path;
}

const char *dll_HelpFile() {
    std::lock_guard<std::mutex> lock(g_lock);
    // Kept for the life of the module: set once at load, read by the help buttons.
    return HelpFile().c_str();
}

void *dll_ResourceModule() {
    return &g_resourceTag;
}
