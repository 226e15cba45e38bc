#include "plat_error.h"
#include "plat_file.h"
#include "plat_fileops.h"
#include "plat_folder.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

struct PlatFindList {
    std::vector<PlatFindEntry> entries;
    size_t next = 0;
};

void PlatFindListClose::operator()(PlatFindList *list) const {
    delete list;
}

namespace {
char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool matchFrom(const char *p, const char *n) {
    for (; *p != '\0'; ++p, ++n) {
        if (*p == '*') {
            while (*p == '*')
                ++p;
            if (*p == '\0') return true;
            for (; *n != '\0'; ++n)
                if (matchFrom(p, n)) return true;
            return false;
        }
        if (*n == '\0') return false;
        if (*p != '?' && upper(*p) != upper(*n)) return false;
    }
    return *n == '\0';
}

// Windows lists by name with letters compared in upper case.
bool listedBefore(const PlatFindEntry &a, const PlatFindEntry &b) {
    size_t n = std::min(a.name.size(), b.name.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(upper(a.name[i]));
        unsigned char y = static_cast<unsigned char>(upper(b.name[i]));
        if (x != y) return x < y;
    }
    if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
    return a.name < b.name;
}
} // namespace

int plat_MatchPattern(const char *pattern, const char *name) {
    if (pattern == nullptr || name == nullptr) return 0;
    std::string p(pattern);
    if (p == "*" || p == "*.*") return 1;
    return matchFrom(p.c_str(), name) ? 1 : 0;
}

PlatFindHandle plat_FindFirst(const char *pattern, PlatFindEntry *first) {
    if (pattern == nullptr || *pattern == '\0') {
        plat_Fail(WERR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (plat_IsUncPath(pattern)) {
        plat_Fail(WERR_BAD_NETPATH);
        return nullptr;
    }
    std::string p = plat_FileNativePath(pattern);
    size_t cut = p.rfind('/');
    std::string folder = cut == std::string::npos ? "." : (cut == 0 ? "/" : p.substr(0, cut));
    std::string mask = cut == std::string::npos ? p : p.substr(cut + 1);
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) {
        plat_Fail(errno == ENOENT || errno == ENOTDIR ? WERR_PATH_NOT_FOUND
                                                      : plat_WinErrorFromPosix(errno));
        return nullptr;
    }
    PlatFindHandle list(new PlatFindList);
    while (dirent *e = readdir(dir)) {
        if (!plat_MatchPattern(mask.c_str(), e->d_name)) continue;
        PlatFindEntry entry;
        entry.name = e->d_name;
        struct stat st;
        std::string full = folder + "/" + entry.name;
        if (stat(full.c_str(), &st) == 0) {
            entry.isFolder = S_ISDIR(st.st_mode) ? 1 : 0;
            entry.size = S_ISDIR(st.st_mode) ? 0 : st.st_size;
            entry.mtime = st.st_mtim.tv_sec;
        } else if (lstat(full.c_str(), &st) != 0) {
            continue; // removed while the snapshot was taken
        }
        list->entries.push_back(std::move(entry));
    }
    closedir(dir);
    if (list->entries.empty()) {
        plat_Fail(WERR_FILE_NOT_FOUND);
        return nullptr;
    }
    std::sort(list->entries.begin(), list->entries.end(), listedBefore);
    if (first) *first = list->entries[0];
    list->next = 1;
    return list;
}

int plat_FindNext(PlatFindList *list, PlatFindEntry *entry) {
    if (list == nullptr) return plat_Fail(WERR_INVALID_HANDLE);
    if (list->next >= list->entries.size()) return plat_Fail(WERR_NO_MORE_FILES);
    if (entry) *entry = list->entries[list->next];
    ++list->next;
    return 0;
}
