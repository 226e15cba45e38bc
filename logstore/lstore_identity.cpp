#include "lstore.h"
#include "lstore_db.h"
#include "lstore_dbcoll.h"
#include "lstore_filecoll.h"
#include "lstore_file.h"
#include "lstore_mysql.h"

#include "plat_error.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {
char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool startsNoCase(const char *text, const char *prefix) {
    for (; *prefix != '\0'; ++text, ++prefix)
        if (*text == '\0' || upper(*text) != upper(*prefix)) return false;
    return true;
}

char *findNoCase(char *text, const char *key) {
    for (; *text != '\0'; ++text)
        if (startsNoCase(text, key)) return text;
    return nullptr;
}

// Cuts [from, to) out of the string; the text after it moves up.
void cut(char *from, char *to) {
    memmove(from, to, strlen(to) + 1);
}
} // namespace

int lstore_GetProviderType(const char *connection) {
    if (connection == nullptr || !startsNoCase(connection, "PROVIDER=")) return -1;
    const char *rest = connection + 9;
    if (startsNoCase(rest, "MYSQL")) return 1;
    if (startsNoCase(rest, "WITSML")) return 2;
    if (startsNoCase(rest, "OSDU")) return 3;
    return 0;
}

int lstore_TakeKeyValue(const char *key, char *string, int *size, char *out) {
    if (key == nullptr || string == nullptr || size == nullptr) return 0;
    char *item = findNoCase(string, key);
    if (item == nullptr) return 0;
    char *value = item + strlen(key);
    char *end = strchr(value, ';');
    if (end == nullptr) end = value + strlen(value);
    size_t length = static_cast<size_t>(end - value);
    if (out != nullptr) {
        if (*size < 0 || length + 1 > static_cast<size_t>(*size)) return 0;
        memcpy(out, value, length);
        out[length] = '\0';
    } else {
        *size = static_cast<int>(length);
    }
    cut(item, end);
    return 1;
}

int lstore_TakeLoggerName(char *string, int *size, char *out) {
    return lstore_TakeKeyValue(";LoggerName=", string, size, out);
}

int lstore_TakeLoggerSeq(char *string, int32_t *seq) {
    if (string == nullptr) return 0;
    char *item = findNoCase(string, ";LoggerSeq=");
    if (item == nullptr) return 0;
    char *p = item + 11;
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (*p < '0' || *p > '9') return 0;
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT64_C(0x80000000)) return 0; // past int32 whatever the sign
    }
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return 0;
    if (seq) *seq = static_cast<int32_t>(value);
    char *end = strchr(item + 1, ';');
    cut(item, end != nullptr ? end : item + strlen(item));
    return 1;
}

void lstore_SanitizeName(char *text) {
    if (text == nullptr) return;
    for (; *text != '\0'; ++text)
        if (strchr(" #&*=+?!^(){}~<>:-", *text) != nullptr) *text = '_';
}

int lstore_ParseHeaderChannels(const char *name) {
    if (name == nullptr || *name == '\0') return 1;
    for (const char *bad : {"END", "DT", "MS", "TX", "TP", "LL", "LV"})
        if (strcmp(name, bad) == 0) return 1;
    return 0;
}

int lstore_CountLines(const char *text) {
    if (text == nullptr) return 0;
    int count = 0;
    const char *last = text;
    for (const char *p = strstr(text, "\r\n"); p != nullptr; p = strstr(p + 2, "\r\n")) {
        ++count;
        last = p + 2;
    }
    return *last != '\0' ? count + 1 : count;
}

CLogStore *lstore_CreateStore(const char *connection) {
    switch (lstore_GetProviderType(connection)) {
    case -1:
        return new (std::nothrow) CLogFileStore;
    case 0:
        return new (std::nothrow) CLogDbStore;
    case 1:
        return new (std::nothrow) CLogDbMySQLStore;
    default:
        return nullptr;
    }
}

CLogCollection *lstore_CreateCollection(const char *connection) {
    switch (lstore_GetProviderType(connection)) {
    case -1:
        return new CLogFileCollection;
    case 0:
        return new (std::nothrow) CLogDbCollection;
    case 1:
        return new (std::nothrow) CLogDbMySQLCollection;
    default:
        return nullptr;
    }
}

void lstore_PutName(const std::string &name, char *buffer, int *length) {
    if (buffer != nullptr) {
        size_t room = length != nullptr && *length > 0 ? static_cast<size_t>(*length)
                                                       : static_cast<size_t>(LSTORE_NAME_SIZE);
        size_t n = std::min(name.size(), room - 1);
        memcpy(buffer, name.data(), n);
        buffer[n] = '\0';
    }
    if (length != nullptr) *length = static_cast<int>(name.size() + 1);
}

std::string lstore_MakeIdentity(const char *connection) {
    return lstore_MakeIdentityWith(connection, lstore_CreateCollection);
}

std::string lstore_MakeIdentityWith(const char *connection,
                                    CLogCollection *(*make)(const char *connection)) {
    if (connection == nullptr || strlen(connection) > 1284) return "";
    std::string rest(connection);
    if (findNoCase(rest.data(), ";LoggerSeq=") != nullptr) return rest;
    char logger[260] = {};
    int size = sizeof logger;
    lstore_TakeLoggerName(rest.data(), &size, logger);
    rest.resize(strlen(rest.c_str()));
    std::unique_ptr<CLogCollection> collection(make(rest.c_str()));
    if (!collection || collection->Open(rest.c_str(), "", logger, "", LSTORE_READ) != 0) return "";
    char run[1285] = {};
    int runSize = sizeof run;
    LogTimePair start{}, stop{};
    if (collection->FindLogger(run, &runSize, &start, &stop, 1) != 1) return "";
    return rest + ";LoggerName=" + logger + ";" + run;
}
