#include "lgr_site.h"

#include "lstore_filecoll.h"
#include "plat_error.h"

#include <cerrno>

int lgr_FindSiteLoggers(const char *connection, const char *folder, const char *prefix, char *name,
                        LogTimePair *start, LogTimePair *stop) {
    if (connection != nullptr && *connection != '\0') {
        // The database collection of a site is not served by this build yet.
        plat_SetLastError(WERR_NOT_SUPPORTED);
        errno = WERR_NOT_SUPPORTED;
        return -1;
    }
    CLogFileCollection collection;
    if (collection.Open(nullptr, folder, "", prefix, LSTORE_READ) != 0) return -1;
    int size = 256;
    return collection.FindLogger(name, &size, start, stop, 0);
}
