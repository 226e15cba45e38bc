#include "plat_net.h"

#include "plat_error.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {
struct SocketMapping {
    int posix;
    uint32_t win;
};

constexpr SocketMapping k_socketTable[] = {
    {ETIMEDOUT, WERR_WSAETIMEDOUT},       {ECONNREFUSED, WERR_WSAECONNREFUSED},
    {ECONNRESET, WERR_WSAECONNRESET},     {EPIPE, WERR_WSAECONNRESET},
    {ECONNABORTED, WERR_WSAECONNABORTED}, {EHOSTUNREACH, WERR_WSAEHOSTUNREACH},
    {ENETUNREACH, WERR_WSAENETUNREACH},   {EADDRNOTAVAIL, WERR_WSAEADDRNOTAVAIL},
};

int failSocket(int posix_errno) {
    return plat_Fail(plat_WinErrorFromSocket(posix_errno));
}
} // namespace

int plat_NetStartup() {
    return 0;
}

uint32_t plat_WinErrorFromSocket(int posix_errno) {
    for (const SocketMapping &m : k_socketTable)
        if (m.posix == posix_errno) return m.win;
    return plat_WinErrorFromPosix(posix_errno);
}

uint32_t plat_WinErrorFromResolver(int eai_error, int posix_errno) {
    if (eai_error == EAI_AGAIN) return WERR_WSATRY_AGAIN;
    if (eai_error == EAI_SYSTEM) return plat_WinErrorFromSocket(posix_errno);
    if (eai_error == EAI_MEMORY) return WERR_NOT_ENOUGH_MEMORY;
    return WERR_WSAHOST_NOT_FOUND;
}

int64_t plat_NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

namespace {
int systemLookup(const char *host, uint32_t *address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    int rc = getaddrinfo(host, nullptr, &hints, &list);
    if (rc != 0 || list == nullptr) {
        int saved = errno;
        if (list != nullptr) freeaddrinfo(list);
        return plat_Fail(plat_WinErrorFromResolver(rc != 0 ? rc : EAI_NONAME, saved));
    }
    *address = reinterpret_cast<sockaddr_in *>(list->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(list);
    return 0;
}

std::atomic<int (*)(const char *, uint32_t *)> g_lookup{systemLookup};

// One lookup of a test's stand-in resolver, shared by the caller and the thread that runs it:
// the caller may leave at its deadline, the thread always finishes.
struct Lookup {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    int rc = -1;
    uint32_t address = 0;
    uint32_t error = 0;
};

int standInLookupBefore(int (*lookup)(const char *, uint32_t *), const char *host,
                        uint32_t *address, int64_t deadlineMs) {
    auto job = std::make_shared<Lookup>();
    std::thread worker;
    try {
        worker = std::thread([job, name = std::string(host), lookup] {
            uint32_t found = 0;
            int rc = lookup(name.c_str(), &found);
            uint32_t error = rc == 0 ? 0 : plat_GetLastError();
            std::lock_guard<std::mutex> guard(job->lock);
            job->rc = rc;
            job->address = found;
            job->error = error;
            job->done = true;
            job->finished.notify_all();
        });
    } catch (const std::system_error &) {
        return plat_Fail(WERR_NOT_ENOUGH_MEMORY);
    }
    std::unique_lock<std::mutex> guard(job->lock);
    auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs - plat_NowMs());
    bool done = job->finished.wait_until(guard, until, [&] { return job->done; });
    guard.unlock();
    if (!done) {
        worker.detach();
        return plat_Fail(WERR_WSAETIMEDOUT);
    }
    worker.join();
    if (job->rc != 0) return plat_Fail(job->error);
    *address = job->address;
    return 0;
}

// The system's lookup with a deadline. The C library's asynchronous resolver runs it on a
// thread of the library's own, so nothing of this code stays running when the caller gives up
// (the module holding it may be unloaded after that). A request that is still in progress at
// the deadline and cannot be cancelled belongs to that thread, which writes into it when it
// ends: it is left allocated.
struct AsyncLookup {
    gaicb request{};
    addrinfo hints{};
    std::string name;
};

int systemLookupBefore(const char *host, uint32_t *address, int64_t deadlineMs) {
    auto *job = new (std::nothrow) AsyncLookup;
    if (job == nullptr) return plat_Fail(WERR_NOT_ENOUGH_MEMORY);
    job->name = host;
    job->hints.ai_family = AF_INET;
    job->hints.ai_socktype = SOCK_STREAM;
    job->request.ar_name = job->name.c_str();
    job->request.ar_request = &job->hints;
    gaicb *list[1] = {&job->request};
    int rc = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr);
    if (rc != 0) {
        int saved = errno;
        delete job;
        return plat_Fail(plat_WinErrorFromResolver(rc, saved));
    }
    while ((rc = gai_error(&job->request)) == EAI_INPROGRESS) {
        int64_t left = deadlineMs - plat_NowMs();
        if (left <= 0) break;
        timespec wait{static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000};
        const gaicb *pending[1] = {&job->request};
        gai_suspend(pending, 1, &wait);
    }
    if (rc == EAI_INPROGRESS) {
        int cancelled = gai_cancel(&job->request);
        if (cancelled == EAI_ALLDONE && job->request.ar_result != nullptr)
            freeaddrinfo(job->request.ar_result);
        if (cancelled != EAI_NOTCANCELED) delete job;
        return plat_Fail(WERR_WSAETIMEDOUT);
    }
    int saved = errno;
    addrinfo *found = job->request.ar_result;
    if (rc == 0 && found != nullptr)
        *address = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr.s_addr;
    if (found != nullptr) freeaddrinfo(found);
    delete job;
    if (rc != 0 || found == nullptr)
        return plat_Fail(plat_WinErrorFromResolver(rc != 0 ? rc : EAI_NONAME, saved));
    return 0;
}
} // namespace

int plat_NetResolve(const char *host, uint32_t *address) {
    return g_lookup.load()(host, address);
}

void plat_SetNetLookupForTests(int (*lookup)(const char *host, uint32_t *address)) {
    g_lookup.store(lookup != nullptr ? lookup : systemLookup);
}

int plat_NetResolveBefore(const char *host, uint32_t *address, int64_t deadlineMs) {
    if (deadlineMs - plat_NowMs() <= 0) return plat_Fail(WERR_WSAETIMEDOUT);
    // A dotted address needs no resolver.
    in_addr literal{};
    if (inet_pton(AF_INET, host, &literal) == 1) {
        *address = literal.s_addr;
        return 0;
    }
    auto lookup = g_lookup.load();
    if (lookup != systemLookup) return standInLookupBefore(lookup, host, address, deadlineMs);
    return systemLookupBefore(host, address, deadlineMs);
}

int plat_NetServicePort(const char *name) {
    servent entry;
    servent *found = nullptr;
    char buffer[1024];
    if (getservbyname_r(name, "tcp", &entry, buffer, sizeof buffer, &found) != 0 ||
        found == nullptr)
        return 0;
    return ntohs(static_cast<uint16_t>(found->s_port));
}

int plat_NetWait(int fd, short events, int64_t deadlineMs) {
    for (;;) {
        int64_t left = deadlineMs - plat_NowMs();
        if (left <= 0) return 0;
        pollfd p{fd, events, 0};
        int rc = poll(&p, 1, static_cast<int>(left > 1000000 ? 1000000 : left));
        if (rc > 0) return 1;
        if (rc < 0 && errno != EINTR) return failSocket(errno);
    }
}

int plat_NetConnect(uint32_t address, int port, int64_t deadlineMs) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return failSocket(errno);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = address;
    if (connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS) {
            int saved = errno;
            close(fd);
            return failSocket(saved);
        }
        int ready = plat_NetWait(fd, POLLOUT, deadlineMs);
        int error = 0;
        socklen_t len = sizeof error;
        if (ready == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
        if (ready != 1 || error != 0) {
            uint32_t code = plat_GetLastError();
            close(fd);
            if (ready == 0) return plat_Fail(WERR_WSAETIMEDOUT);
            return ready < 0 ? plat_Fail(code) : failSocket(error);
        }
    }
    return fd;
}

long plat_NetSend(int fd, const void *data, unsigned long length) {
    return send(fd, data, length, MSG_NOSIGNAL);
}

PlatSigpipeGuard::PlatSigpipeGuard() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old_);
    wasBlocked_ = sigismember(&old_, SIGPIPE) == 1;
}

PlatSigpipeGuard::~PlatSigpipeGuard() {
    if (wasBlocked_) return;
    int saved = errno;
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    // A SIGPIPE raised by a write in the scope is pending now; unblocking would deliver it.
    timespec zero{0, 0};
    while (sigtimedwait(&pipe, nullptr, &zero) == SIGPIPE) {
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    errno = saved;
}
