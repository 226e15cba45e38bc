#include "plat_mailslot.h"

#include "plat_error.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// A reader that stopped draining must not hang the sender: after this the send fails.
constexpr int k_sendTimeoutMs = 2000;

std::string ipcPrefix() {
    const char *p = getenv("KVT_IPC_PREFIX");
    return (p != nullptr && *p != '\0') ? std::string(p) : std::string("kvt");
}

// Fills an abstract address; the length covers the leading NUL and the name only.
bool makeAddress(const char *name, sockaddr_un *addr, socklen_t *len) {
    std::string text = plat_MailslotAddress(name);
    if (text.size() + 1 > sizeof addr->sun_path) return false;
    memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    memcpy(addr->sun_path + 1, text.data(), text.size());
    *len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + text.size());
    return true;
}
} // namespace

std::string plat_MailslotAddress(const char *name) {
    return ipcPrefix() + "/mailslot/" + (name != nullptr ? name : "");
}

int plat_MailslotCreate(PlatMailslot *slot, const char *name) {
    slot->sock = -1;
    slot->wake = -1;
    sockaddr_un addr;
    socklen_t len;
    if (!makeAddress(name, &addr, &len)) return plat_Fail(WERR_FILENAME_EXCED_RANGE);
    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) return plat_FailFromPosix();
    if (bind(sock, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
        int e = errno;
        close(sock);
        errno = e;
        return plat_FailFromPosix();
    }
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        int e = errno;
        close(sock);
        errno = e;
        return plat_FailFromPosix();
    }
    slot->sock = sock;
    slot->wake = wake;
    return 0;
}

int plat_MailslotReceive(PlatMailslot *slot, void *buffer, int size) {
    for (;;) {
        pollfd fds[2] = {{slot->sock, POLLIN, 0}, {slot->wake, POLLIN, 0}};
        int n = poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return plat_FailFromPosix();
        }
        if (fds[1].revents != 0) return plat_Fail(WERR_OPERATION_ABORTED);
        if (fds[0].revents & (POLLERR | POLLNVAL)) return plat_Fail(WERR_INVALID_HANDLE);
        ssize_t got = recv(slot->sock, buffer, size > 0 ? static_cast<size_t>(size) : 0,
                           MSG_TRUNC | MSG_DONTWAIT);
        if (got >= 0) return static_cast<int>(got);
        if (errno == EINTR || errno == EAGAIN) continue;
        return plat_FailFromPosix();
    }
}

void plat_MailslotWake(PlatMailslot *slot) {
    if (slot->wake >= 0) {
        uint64_t one = 1;
        ssize_t ignored = write(slot->wake, &one, sizeof one);
        (void)ignored;
    }
}

void plat_MailslotDestroy(PlatMailslot *slot) {
    if (slot->sock >= 0) close(slot->sock);
    if (slot->wake >= 0) close(slot->wake);
    slot->sock = -1;
    slot->wake = -1;
}

int plat_MailslotConnect(const char *name) {
    sockaddr_un addr;
    socklen_t len;
    if (!makeAddress(name, &addr, &len)) return plat_Fail(WERR_FILENAME_EXCED_RANGE);
    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) return plat_FailFromPosix();
    timeval tv{k_sendTimeoutMs / 1000, (k_sendTimeoutMs % 1000) * 1000};
    setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    while (connect(sock, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
        if (errno == EINTR) continue;
        int e = errno;
        close(sock);
        // Nobody bound the name: the mailslot does not exist.
        if (e == ECONNREFUSED || e == ENOENT) return plat_Fail(WERR_FILE_NOT_FOUND);
        errno = e;
        return plat_FailFromPosix();
    }
    return sock;
}

int plat_MailslotSend(int endpoint, const void *buffer, int length) {
    if (length < 0) return plat_Fail(WERR_INVALID_PARAMETER);
    for (;;) {
        ssize_t sent = send(endpoint, buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
        if (sent == length) return length;
        if (sent >= 0) return plat_Fail(WERR_WRITE_FAULT);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return plat_Fail(WERR_SEM_TIMEOUT);
        // The reader went away after the connect.
        if (errno == ECONNREFUSED || errno == ENOTCONN) return plat_Fail(WERR_FILE_NOT_FOUND);
        return plat_FailFromPosix();
    }
}

void plat_MailslotDisconnect(int endpoint) {
    if (endpoint >= 0) close(endpoint);
}
