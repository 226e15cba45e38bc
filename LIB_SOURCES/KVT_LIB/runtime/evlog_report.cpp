#include "evlog.h"

#include "env.h"
#include "plat_error.h"
#include "plat_eventlog.h"
#include "reg.h"

#include <cerrno>
#include <ctime>
#include <string>

namespace {
constexpr uint32_t k_eventId = 102;
constexpr uint16_t k_category = 0;

// "HH:MM:SS MM/DD/YY ", the time and date as the suite has always stamped its log.
std::string timeAndDate() {
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char buf[32];
    strftime(buf, sizeof buf, "%H:%M:%S %m/%d/%y ", &local);
    return buf;
}
} // namespace

void evlog_ReportEvent(const char *server, int type, const char *text) {
    (void)server;
    // A report must not disturb the failure it reports.
    int savedErrno = errno;
    uint32_t savedLastError = plat_GetLastError();
    if (text == nullptr) text = "";
    const std::string &product = reg_GetProductName();
    plat_EventLogReport(product.c_str(), type, k_category, k_eventId, text);

    std::string root = env_ResolveFolder("KVT_");
    if (!root.empty()) {
        if (root.back() != '/' && root.back() != '\\') root += '/';
        std::string line = timeAndDate() + text + "\n";
        plat_EventLogAppend((root + product + ".log").c_str(), line.c_str());
    }
    errno = savedErrno;
    plat_SetLastError(savedLastError);
}
