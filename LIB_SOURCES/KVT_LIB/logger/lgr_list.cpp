// The runtime's logger table and the logger list ("IL", with LOGCAP.TXT and the LOGGERS
// files as the fall-back when no server answers).
#include "lgr.h"
#include "lgr_internal.h"

#include "def.h"
#include "dm.h"
#include "plat_error.h"
#include "srv.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

namespace {
constexpr int k_replySize = 32768;
// The reply has room for this many loggers; a longer list is read from the files.
constexpr int64_t k_bytesPerLogger = 150;

void copyBounded(char *field, size_t size, const char *text, size_t max) {
    size_t n = strnlen(text, max < size - 1 ? max : size - 1);
    memcpy(field, text, n);
    memset(field + n, 0, size - n);
}

std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

bool allDigits(const char *s) {
    if (*s == '\0') return false;
    for (; *s != '\0'; ++s)
        if (!isdigit(static_cast<unsigned char>(*s))) return false;
    return true;
}

// n of "*,<n>", saturated so that a huge n stays huge.
int64_t countOf(const char *digits) {
    int64_t n = 0;
    for (; *digits != '\0'; ++digits) {
        n = n * 10 + (*digits - '0');
        if (n > INT32_MAX) return INT32_MAX;
    }
    return n;
}

int parseReply(const char *reply, int length, LoggerInfo *table, int capacity) {
    std::string text(reply, strnlen(reply, static_cast<size_t>(length)));
    size_t comma = text.find(',');
    if (comma == std::string::npos) return plat_Fail(WERR_INVALID_DATA);
    int count = 0;
    for (const std::string &record : split(text.substr(comma + 1), ';')) {
        if (record.empty()) continue;
        std::vector<std::string> f = split(record, ',');
        if (f.size() < 3) return plat_Fail(WERR_INVALID_DATA);
        if (count >= capacity) break;
        // A logger number the 16-bit field cannot hold names no logger of this list.
        errno = 0;
        long long number = strtoll(f[1].c_str(), nullptr, 10);
        if (errno == ERANGE || number < INT16_MIN || number > INT16_MAX)
            return plat_Fail(WERR_INVALID_DATA);
        LoggerInfo *e = &table[count++];
        copyBounded(e->kind, sizeof e->kind, f[0].c_str(), 9);
        e->number = static_cast<int16_t>(number);
        copyBounded(e->name, sizeof e->name, f[2].c_str(), 129);
    }
    return count;
}

int fromFiles(const char *server, const char *selector, LoggerInfo *table, int capacity) {
    std::string config = srv_ResolveFolder(server, "KVT_CURRENT_CONFIG");
    std::string loggers = lgr_Join(config.c_str(), "LOGGERS");
    int records = def_Open(lgr_Join(config.c_str(), "LOGCAP.TXT").c_str());
    if (records < 0) return 0;
    constexpr int k_maxFields = 16;
    char *fields[k_maxFields];
    int offsets[k_maxFields];
    char kind[DEF_LOGGER_TYPE_SIZE];
    int result = 0;
    if (strncmp(selector, "*,", 2) == 0 && allDigits(selector + 2)) {
        int64_t n = countOf(selector + 2);
        if (n > records) n = records;
        int filled = 0;
        for (int b = 1; b <= n; ++b) {
            int count = def_NextFields(fields, offsets, k_maxFields);
            if (count <= 0) break;
            int parsed = def_ParseLogger(kind, count, fields);
            if (parsed == -2) {
                filled = -2;
                break;
            }
            if (parsed == -3) continue;
            if (filled >= capacity) break;
            if (lgr_FillLoggerInfo(loggers.c_str(), kind, b, &table[filled]) == -1) {
                filled = -1;
                break;
            }
            ++filled;
        }
        result = filled;
    } else if (allDigits(selector)) {
        int64_t k = countOf(selector);
        for (int64_t b = 1; b <= k; ++b) {
            int count = def_NextFields(fields, offsets, k_maxFields);
            if (count <= 0) break;
            if (b < k) continue;
            if (def_ParseLogger(kind, count, fields) != 1)
                result = -2;
            else if (capacity < 1)
                result = 0;
            else
                result = lgr_FillLoggerInfo(loggers.c_str(), kind, static_cast<int>(b), table);
        }
    } else if (capacity > 0) {
        for (int b = 1;; ++b) {
            int count = def_NextFields(fields, offsets, k_maxFields);
            if (count <= 0) {
                result = 0;
                break;
            }
            result = def_ParseLogger(kind, count, fields);
            if (result == -2) break;
            if (result == -3) continue;
            result = lgr_FillLoggerInfo(loggers.c_str(), kind, b, table);
            if (result == -1) break;
            if (strcasecmp(table->name, selector) == 0) break;
        }
    }
    def_Close();
    return result;
}
} // namespace

int lgr_AttachLoggerTable() {
    return dm_MapLoggerTable();
}

LoggerEntry *lgr_GetLoggerEntry(int number) {
    if (number <= 0) return nullptr;
    return dm_GetLogger(number - 1);
}

namespace {
// The kind of a logger of the table, bounded by its field; false with errno set.
bool entryKind(int number, char kind[10]) {
    LoggerEntry *e = lgr_GetLoggerEntry(number);
    if (e == nullptr) {
        uint32_t last = plat_GetLastError();
        plat_Fail(last != 0 ? last : WERR_NOT_FOUND);
        return false;
    }
    copyBounded(kind, 10, e->typeName, sizeof e->typeName);
    return true;
}
} // namespace

int lgr_ReadLoggerFileByNumber(int number, void *buffer, int size) {
    char kind[10];
    if (!entryKind(number, kind)) return -1;
    return lgr_ReadLoggerFile(nullptr, kind, number, buffer, size);
}

int lgr_WriteLoggerFileByNumber(int number, const void *record, int size) {
    char kind[10];
    if (!entryKind(number, kind)) return -1;
    return lgr_WriteLoggerFile(nullptr, nullptr, kind, number, record, size);
}

int lgr_FillLoggerInfo(const char *folder, const char *kind, int number, LoggerInfo *out) {
    uint8_t head[131] = {};
    if (out == nullptr || kind == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    if (number < INT16_MIN || number > INT16_MAX) return plat_Fail(WERR_INVALID_DATA);
    if (lgr_ReadLoggerFile(folder, kind, number, head, sizeof head) != 0) return -1;
    memset(out, 0, sizeof *out);
    copyBounded(out->kind, sizeof out->kind, kind, 9);
    out->number = static_cast<int16_t>(number);
    copyBounded(out->name, sizeof out->name, reinterpret_cast<const char *>(head + 1), 24);
    return 1;
}

int lgr_GetLoggers(const char *server, const char *selector, LoggerInfo *table, int capacity) {
    const char *sel = selector != nullptr ? selector : "";
    if (capacity < 0 || (table == nullptr && capacity > 0))
        return plat_Fail(WERR_INVALID_PARAMETER);
    bool countForm = strncmp(sel, "*,", 2) == 0 && allDigits(sel + 2);
    bool tooLong = countForm && countOf(sel + 2) * k_bytesPerLogger >= 32767;
    if (!tooLong) {
        std::string request = std::string("IL,") + sel;
        std::vector<char> reply(k_replySize, '\0');
        int size = k_replySize;
        int result = srv_Command(server, request.c_str(), reply.data(), &size);
        if (result == 0) return 0;
        if (result != -1) {
            if (size < 0) size = 0;
            if (size > k_replySize) size = k_replySize;
            return parseReply(reply.data(), size, table, capacity);
        }
    }
    return fromFiles(server, sel, table, capacity);
}
