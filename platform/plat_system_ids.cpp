#include "plat_system.h"

#include <sys/syscall.h>
#include <unistd.h>

uint32_t plat_ThreadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

std::string plat_HostShortName() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return "";
    std::string name(host);
    size_t dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
    return name;
}
