#include "lgr_site.h"

#include "lgr.h"
#include "lstore_dbcoll.h"
#include "lstore_filecoll.h"
#include "plat_error.h"

#include <cerrno>
#include <string>

int lgr_FindSiteLoggers(const char *connection, const char *folder, const char *prefix, char *name,
                        LogTimePair *start, LogTimePair *stop) {
    if (connection != nullptr && *connection != '\0') {
        CLogDbCollection db;
        if (db.Open(connection, folder, "", prefix, LSTORE_READ) != 0) return -1;
        int size = 256;
        return db.FindLogger(name, &size, start, stop, 0);
    }
    CLogFileCollection collection;
    if (collection.Open(nullptr, folder, "", prefix, LSTORE_READ) != 0) return -1;
    int size = 256;
    return collection.FindLogger(name, &size, start, stop, 0);
}

int lgr_FindSiteResubLogger(const char *server, const char *sitePath, LoggerInfo *out) {
    std::string code = lgr_MakeSiteCode(sitePath);
    if (code.empty()) {
        plat_SetLastError(WERR_INVALID_PARAMETER);
        errno = WERR_INVALID_PARAMETER;
        return -1;
    }
    LoggerInfo info{};
    int found = lgr_GetLoggers(server, code.c_str(), &info, 1);
    if (found < 0) return -1;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    const char *resub = "resub";
    for (int i = 0; i < 5; ++i)
        if (found == 0 || lower(info.kind[i]) != resub[i]) return 0;
    if (out != nullptr) *out = info;
    return 1;
}
