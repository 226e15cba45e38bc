#include "plat_folder.h"

#include "plat_error.h"

#include <dirent.h>
#include <string>
#include <sys/stat.h>

int plat_IsUncPath(const char *path) {
    if (path == nullptr) return 0;
    bool sep0 = path[0] == '\\' || path[0] == '/';
    bool sep1 = path[1] == '\\' || path[1] == '/';
    // "\\.\..." is a device path of this computer, not a share.
    return sep0 && sep1 && path[2] != '\0' && path[2] != '\\' && path[2] != '/' ? 1 : 0;
}

int plat_FolderHasFile(const char *path) {
    if (path == nullptr) return 0;
    if (plat_IsUncPath(path)) {
        plat_Fail(WERR_BAD_NETPATH);
        return 0;
    }
    std::string folder(path);
    for (char &c : folder)
        if (c == '\\') c = '/';
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) return 0;
    int found = 0;
    while (dirent *e = readdir(dir)) {
        std::string entry = folder + "/" + e->d_name;
        struct stat st;
        if (stat(entry.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            found = 1;
            break;
        }
    }
    closedir(dir);
    return found;
}
