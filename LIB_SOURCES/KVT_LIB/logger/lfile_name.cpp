#include "lfile.h"

#include "ldf.h"
#include "lfile_text.h"
#include "plat_error.h"
#include "plat_file.h"
#include "plat_fileops.h"
#include "plat_folder.h"

#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <vector>

namespace {
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
bool equalNoCase(const char *a, const char *b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}
int twoDigits(const char *p) {
    return (p[0] - '0') * 10 + (p[1] - '0');
}
} // namespace

int32_t lfile_StoreTime(int64_t seconds) {
    if (seconds < 0) return 0;
    if (seconds > INT64_C(0xFFFFFFFF)) return static_cast<int32_t>(UINT32_C(0xFFFFFFFF));
    return static_cast<int32_t>(static_cast<uint32_t>(seconds));
}

const char *lfile_FindTimeSuffix(const char *name, const char *extension) {
    if (name == nullptr) return nullptr;
    size_t n = strlen(name), e = extension != nullptr ? strlen(extension) : 0;
    if (n < e + 2) return nullptr;
    if (e != 0 && !equalNoCase(name + n - e, extension, e)) return nullptr;
    const char *begin = name;
    const char *pos = name + n - e;
    const char *pairStart[13] = {};
    int pairs = 0;
    while (pairs < 12) {
        const char *at = pos;
        // A separator may follow every third pair up to the ninth, when a digit stands before it.
        if (pairs > 0 && pairs % 3 == 0 && pairs <= 9 && at - begin >= 3 &&
            (at[-1] == '.' || at[-1] == '_') && isDigit(at[-2]))
            --at;
        if (at - begin < 2 || !isDigit(at[-1]) || !isDigit(at[-2])) break;
        pos = at - 2;
        pairStart[++pairs] = pos;
    }
    if (pairs == 12) return pairStart[12];
    if (pairs >= 6) return pairStart[6];
    return nullptr;
}

int lfile_HasTimeSuffix(const char *name, const char *extension) {
    return lfile_FindTimeSuffix(name, extension) != nullptr ? 1 : 0;
}

int lfile_ReadRunTime(const char *p, int64_t *seconds) {
    if (p == nullptr) return -1;
    for (int i = 0; i < 6; ++i)
        if (!isDigit(p[i])) return -1;
    const char *t = p + 6;
    // Names written here always separate the date from the time; a name without the separator
    // keeps all its digits.
    if (*t == '.' || *t == '_') ++t;
    for (int i = 0; i < 6; ++i)
        if (!isDigit(t[i])) return -1;
    struct tm tm {};
    tm.tm_year = twoDigits(p);
    if (tm.tm_year < 70) tm.tm_year += 100;
    tm.tm_mon = twoDigits(p + 2) - 1;
    tm.tm_mday = twoDigits(p + 4);
    tm.tm_hour = twoDigits(t);
    tm.tm_min = twoDigits(t + 2);
    tm.tm_sec = twoDigits(t + 4);
    int64_t s = lfile_NormalizeTm(&tm);
    if (seconds) *seconds = s;
    return 0;
}

std::string lfile_FormatRunTime(int32_t seconds) {
    struct tm tm = ts_GmTime(static_cast<uint32_t>(seconds));
    char text[32];
    snprintf(text, sizeof text, "%02d%02d%02d_%02d%02d%02d", tm.tm_year % 100, tm.tm_mon + 1,
             tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

struct LfileFolderList {
    PlatFindHandle find;
    PlatFindEntry entry;
    bool first = true;
};

LfileFolderList *lfile_OpenFolderList(const char *folder) {
    if (folder == nullptr) {
        plat_Fail(WERR_PATH_NOT_FOUND);
        return nullptr;
    }
    auto list = std::make_unique<LfileFolderList>();
    std::string pattern = std::string(folder) + "/*.*";
    list->find = plat_FindFirst(pattern.c_str(), &list->entry);
    if (!list->find) return nullptr;
    return list.release();
}

const char *lfile_NextFolderEntry(LfileFolderList *list) {
    if (list == nullptr) return nullptr;
    if (list->first) {
        list->first = false;
        return list->entry.name.c_str();
    }
    if (plat_FindNext(list->find.get(), &list->entry) != 0) return nullptr;
    return list->entry.name.c_str();
}

void lfile_CloseFolderList(LfileFolderList *list) {
    delete list;
}

int lfile_FindNewest(const char *folder, char *name, const char *extension) {
    LfileFolderList *list = lfile_OpenFolderList(folder);
    if (list == nullptr) return errno == WERR_FILE_NOT_FOUND ? 0 : -1;
    int64_t newest = -1;
    while (const char *entry = lfile_NextFolderEntry(list)) {
        if (list->entry.isFolder) continue;
        int64_t t;
        if (lfile_ReadRunTime(lfile_FindTimeSuffix(entry, extension), &t) != 0) continue;
        if (t > newest && strlen(entry) <= LFILE_MAX_PATH) {
            newest = t;
            if (name) strcpy(name, entry);
        }
    }
    lfile_CloseFolderList(list);
    return newest >= 0 ? 1 : 0;
}

int64_t lfile_GetFileSize(int fd) {
    int64_t size;
    if (plat_FileInfo(fd, &size, nullptr) != 0) return -1;
    return size;
}

int64_t lfile_GetValidLength(int fd) {
    uint8_t head[6];
    int64_t n = plat_FileReadAtMost(fd, head, sizeof head, 0);
    if (n < 0) return -1;
    if (n < 6) return plat_Fail(WERR_INVALID_DATA);
    uint32_t pos = static_cast<uint32_t>(ldf_Get32(head));
    uint16_t marker = ldf_Get16(head + 4);
    if (marker >= 0x0180 && marker <= 0x01E0) {
        marker = static_cast<uint16_t>((marker >> 8) | (marker << 8));
        pos = __builtin_bswap32(pos);
    }
    if (marker < 0x8001 || marker > 0xE001) return plat_Fail(WERR_INVALID_DATA);
    return pos;
}

int lfile_MakeDir(const char *path) {
    return plat_MakeFolder(path);
}

int lfile_Sprintf(char *buffer, size_t size, const char *format, ...) {
    if (buffer == nullptr || size == 0 || format == nullptr)
        return plat_Fail(WERR_INVALID_PARAMETER);
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    locale_t previous = cLocale != nullptr ? uselocale(cLocale) : nullptr;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, size, format, args);
    va_end(args);
    if (previous != nullptr) uselocale(previous);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        buffer[0] = '\0';
        return plat_Fail(WERR_FILENAME_EXCED_RANGE);
    }
    return n;
}

int lfile_ReadRunInfo(const char *path, LogHeader *header, uint8_t lastRecord[16], int *hasRecord) {
    if (hasRecord) *hasRecord = 0;
    int fd = plat_FileCreate(path, PLAT_GENERIC_READ, PLAT_OPEN_EXISTING, 0);
    if (fd < 0) return -1;
    LogHeader h;
    int rc = ldf_ReadHeaderFd(fd, &h);
    int64_t size = rc == 0 ? lfile_GetFileSize(fd) : -1;
    int64_t count = size >= 0 ? ldf_RecordCount(h, size) : -1;
    if (count > 0 && lastRecord != nullptr) {
        int64_t at = h.dataOffset + (count - 1) * int64_t{h.recordSize};
        memset(lastRecord, 0, 16);
        if (plat_FileReadAtMost(fd, lastRecord, std::min<int64_t>(16, h.recordSize), at) < 0)
            count = -1;
        else if (hasRecord)
            *hasRecord = 1;
    }
    plat_FileClose(fd);
    if (count < 0) return -1;
    if (header) *header = h;
    return 0;
}
