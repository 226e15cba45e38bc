#include "plat_system.h"

#include "plat_error.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
std::atomic<int> g_platformOverride{0};
std::atomic<uint32_t> g_pid{0};

int readPlatformIdFromEnvironment() {
    const char *v = getenv("KVT_PLATFORM_ID");
    return (v != nullptr && strcmp(v, "1") == 0) ? 1 : 2;
}

// A forked child must not keep reporting its parent's id: shared-memory bookkeeping
// stores the low 16 bits of the pid in the segment header.
void forgetPidInChild() {
    g_pid.store(0);
}

void installForkHandler() {
    static std::once_flag once;
    std::call_once(once, [] { pthread_atfork(nullptr, nullptr, forgetPidInChild); });
}
} // namespace

int plat_PlatformId() {
    int forced = g_platformOverride.load();
    if (forced != 0) return forced;
    static const int id = readPlatformIdFromEnvironment();
    return id;
}

void plat_OverridePlatformId(int id) {
    g_platformOverride.store(id == 1 || id == 2 ? id : 0);
}

std::string plat_IpcPrefix() {
    const char *v = getenv("KVT_IPC_PREFIX");
    return (v != nullptr && *v != '\0') ? std::string(v) : std::string("kvt");
}

int plat_OsMajorVersion() {
    return 6;
}

uint32_t plat_ProcessId() {
    uint32_t pid = g_pid.load();
    if (pid == 0) {
        installForkHandler();
        pid = static_cast<uint32_t>(getpid());
        g_pid.store(pid);
    }
    return pid;
}

std::string plat_ComputerName() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return "";
    std::string name(host);
    size_t dot = name.find('.');
    if (dot != std::string::npos) name.resize(dot);
    if (name.size() > 15) name.resize(15);
    for (char &c : name)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return name;
}

std::string plat_UserName() {
    std::string name;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pw;
    struct passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr) {
        name = found->pw_name;
    } else if (const char *user = getenv("USER")) {
        name = user;
    }
    if (name.size() > 256) name.resize(256);
    return name;
}

int plat_RaiseProcessPriority() {
    // Walk down from the best value until the kernel accepts one; an unprivileged process
    // usually keeps its current value, which is fine.
    errno = 0;
    int current = getpriority(PRIO_PROCESS, 0);
    if (current == -1 && errno != 0) return 0;
    for (int nice = -20; nice < current; ++nice)
        if (setpriority(PRIO_PROCESS, 0, nice) == 0) break;
    return 0;
}

int plat_ChangeDirectory(const char *path) {
    if (path == nullptr || *path == '\0') return plat_Fail(WERR_PATH_NOT_FOUND);
    if (chdir(path) == 0) return 0;
    int e = errno;
    if (e == ENOTDIR) return plat_Fail(WERR_DIRECTORY);
    if (e == ENOENT) return plat_Fail(plat_WinErrorForPath(e, path));
    return plat_Fail(plat_WinErrorFromPosix(e));
}
