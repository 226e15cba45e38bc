#include "plat_sock.h"

#include "plat_error.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
bool makeAddress(const std::string &text, sockaddr_un *addr, socklen_t *len) {
    if (text.size() + 1 > sizeof addr->sun_path) return false;
    memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    memcpy(addr->sun_path + 1, text.data(), text.size());
    *len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + text.size());
    return true;
}

// Closes sock without losing the errno of the failure that made it useless.
int failClosing(int sock) {
    int e = errno;
    close(sock);
    errno = e;
    return plat_FailFromPosix();
}
} // namespace

int plat_SockBind(const std::string &text, int type, int backlog, int *sock, int *wake) {
    *sock = -1;
    *wake = -1;
    sockaddr_un addr;
    socklen_t len;
    if (!makeAddress(text, &addr, &len)) return plat_Fail(WERR_FILENAME_EXCED_RANGE);
    int s = socket(AF_UNIX, type, 0);
    if (s < 0) return plat_FailFromPosix();
    if (bind(s, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
        (backlog > 0 && listen(s, backlog) != 0))
        return failClosing(s);
    int w = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w < 0) return failClosing(s);
    *sock = s;
    *wake = w;
    return 0;
}

int plat_SockWaitReadable(int sock, int wake) {
    for (;;) {
        pollfd fds[2] = {{sock, POLLIN, 0}, {wake, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return plat_FailFromPosix();
        }
        if (fds[1].revents != 0) return plat_Fail(WERR_OPERATION_ABORTED);
        if (fds[0].revents & (POLLERR | POLLNVAL)) return plat_Fail(WERR_INVALID_HANDLE);
        return 0;
    }
}

void plat_SockWake(int wake) {
    if (wake >= 0) {
        uint64_t one = 1;
        ssize_t ignored = write(wake, &one, sizeof one);
        (void)ignored;
    }
}

void plat_SockClose(int *sock, int *wake) {
    if (*sock >= 0) close(*sock);
    if (*wake >= 0) close(*wake);
    *sock = -1;
    *wake = -1;
}

int plat_SockConnect(const std::string &text, int type, int sendTimeoutMs) {
    sockaddr_un addr;
    socklen_t len;
    if (!makeAddress(text, &addr, &len)) return plat_Fail(WERR_FILENAME_EXCED_RANGE);
    int sock = socket(AF_UNIX, type, 0);
    if (sock < 0) return plat_FailFromPosix();
    if (sendTimeoutMs > 0) {
        timeval tv{sendTimeoutMs / 1000, (sendTimeoutMs % 1000) * 1000};
        setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    }
    while (connect(sock, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
        if (errno == EINTR) continue;
        int e = errno;
        close(sock);
        // Nobody bound the name: the mailslot or pipe does not exist.
        if (e == ECONNREFUSED || e == ENOENT) return plat_Fail(WERR_FILE_NOT_FOUND);
        errno = e;
        return plat_FailFromPosix();
    }
    return sock;
}
