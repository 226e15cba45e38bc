#include "plat_mailslot.h"

#include "plat_error.h"
#include "plat_sock.h"
#include "plat_system.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// A reader that stopped draining must not hang the sender: after this the send fails.
constexpr int k_sendTimeoutMs = 2000;
} // namespace

std::string plat_MailslotAddress(const char *name) {
    return plat_IpcPrefix() + "/mailslot/" + (name != nullptr ? name : "");
}

int plat_MailslotCreate(PlatMailslot *slot, const char *name) {
    return plat_SockBind(plat_MailslotAddress(name), SOCK_DGRAM | SOCK_CLOEXEC, 0, &slot->sock,
                         &slot->wake);
}

int plat_MailslotReceive(PlatMailslot *slot, void *buffer, int size) {
    for (;;) {
        if (plat_SockWaitReadable(slot->sock, slot->wake) != 0) return -1;
        ssize_t got = recv(slot->sock, buffer, size > 0 ? static_cast<size_t>(size) : 0,
                           MSG_TRUNC | MSG_DONTWAIT);
        if (got >= 0) return static_cast<int>(got);
        if (errno == EINTR || errno == EAGAIN) continue;
        return plat_FailFromPosix();
    }
}

void plat_MailslotWake(PlatMailslot *slot) {
    plat_SockWake(slot->wake);
}

void plat_MailslotDestroy(PlatMailslot *slot) {
    plat_SockClose(&slot->sock, &slot->wake);
}

int plat_MailslotConnect(const char *name) {
    return plat_SockConnect(plat_MailslotAddress(name), SOCK_DGRAM | SOCK_CLOEXEC, k_sendTimeoutMs);
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
