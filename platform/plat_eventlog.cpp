#include "plat_eventlog.h"

#include "plat_error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

namespace {
std::mutex g_syslogLock;
std::string g_ident; // openlog keeps the pointer, so the text must outlive the call
} // namespace

void plat_EventLogReport(const char *source, int type, uint16_t category, uint32_t eventId,
                         const char *text) {
    (void)category;
    (void)eventId;
    int priority = type == PLAT_EVENT_ERROR     ? LOG_ERR
                   : type == PLAT_EVENT_WARNING ? LOG_WARNING
                                                : LOG_INFO;
    std::lock_guard<std::mutex> guard(g_syslogLock);
    g_ident = source != nullptr ? source : "";
    openlog(g_ident.c_str(), LOG_PID, LOG_USER);
    syslog(priority, "%s", text != nullptr ? text : "");
    closelog();
}

int plat_EventLogAppend(const char *path, const char *line) {
    if (path == nullptr || line == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return plat_FailFromPosixPath(path);
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size == 0) fchmod(fd, 0666);
    size_t len = strlen(line);
    ssize_t n;
    do {
        n = write(fd, line, len);
    } while (n < 0 && errno == EINTR);
    int e = errno;
    close(fd);
    if (n < 0) {
        errno = e;
        return plat_FailFromPosix();
    }
    return 0;
}
