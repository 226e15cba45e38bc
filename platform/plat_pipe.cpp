#include "plat_pipe.h"

#include "plat_error.h"
#include "plat_sock.h"
#include "plat_system.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// Splits "\\computer\pipe\name" into its computer and pipe name.
bool splitPipePath(const char *path, std::string *computer, std::string *name) {
    if (path == nullptr || !isSeparator(path[0]) || !isSeparator(path[1])) return false;
    const char *p = path + 2;
    const char *end = p;
    while (*end != '\0' && !isSeparator(*end))
        ++end;
    computer->assign(p, end);
    if (*end == '\0') return false;
    p = end + 1;
    if (strncasecmp(p, "pipe", 4) != 0 || !isSeparator(p[4])) return false;
    name->assign(p + 5);
    return !name->empty() && name->find_first_of("\\/") == std::string::npos;
}

// Maps a failure of a send or receive on a connection: a peer that has gone is a broken pipe.
int failConnection() {
    if (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN)
        return plat_Fail(WERR_BROKEN_PIPE);
    return plat_FailFromPosix();
}

// After an empty read: true when the peer has closed rather than sent an empty packet.
bool peerHasGone(int fd) {
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    if (poll(&p, 1, 0) <= 0) return false;
    return (p.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0;
}
} // namespace

std::string plat_PipeAddress(const char *name) {
    return plat_IpcPrefix() + "/pipe/" + (name != nullptr ? name : "");
}

int plat_PipeOpen(const char *path) {
    std::string computer, name;
    if (!splitPipePath(path, &computer, &name)) {
        // Anything but this computer is refused before the shape of the rest matters.
        bool unc = path != nullptr && isSeparator(path[0]) && isSeparator(path[1]);
        if (unc && computer != ".") return plat_Fail(WERR_BAD_NETPATH);
        return plat_Fail(WERR_INVALID_NAME);
    }
    if (computer != ".") return plat_Fail(WERR_BAD_NETPATH);
    return plat_SockConnect(plat_PipeAddress(name.c_str()), SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
}

int plat_PipeTransact(int pipe, const void *request, int length, void *reply, int *size) {
    if (length < 0 || size == nullptr || *size < 0) return plat_Fail(WERR_INVALID_PARAMETER);
    for (;;) {
        ssize_t sent = send(pipe, request, static_cast<size_t>(length), MSG_NOSIGNAL);
        if (sent == length) break;
        if (sent >= 0) return plat_Fail(WERR_WRITE_FAULT);
        if (errno == EINTR) continue;
        return failConnection();
    }
    int capacity = *size;
    for (;;) {
        ssize_t got = recv(pipe, reply, static_cast<size_t>(capacity), MSG_TRUNC);
        if (got < 0) {
            if (errno == EINTR) continue;
            *size = 0;
            return failConnection();
        }
        if (got == 0 && peerHasGone(pipe)) {
            *size = 0;
            return plat_Fail(WERR_BROKEN_PIPE);
        }
        if (got > capacity) {
            *size = capacity;
            return plat_Fail(WERR_MORE_DATA);
        }
        *size = static_cast<int>(got);
        return 0;
    }
}

void plat_PipeClose(int pipe) {
    if (pipe >= 0) close(pipe);
}

int plat_PipeServerCreate(PlatPipeServer *server, const char *name) {
    return plat_SockBind(plat_PipeAddress(name), SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 64,
                         &server->sock, &server->wake);
}

int plat_PipeServerAccept(PlatPipeServer *server) {
    for (;;) {
        if (plat_SockWaitReadable(server->sock, server->wake) != 0) return -1;
        // The listening socket does not block (a client may give up between poll and
        // accept); the accepted one does, as accept4 does not pass O_NONBLOCK on.
        int fd = accept4(server->sock, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) return fd;
        if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED) continue;
        return plat_FailFromPosix();
    }
}

void plat_PipeServerWake(PlatPipeServer *server) {
    plat_SockWake(server->wake);
}

void plat_PipeServerDestroy(PlatPipeServer *server) {
    plat_SockClose(&server->sock, &server->wake);
}

int plat_PipeReceive(int pipe, void *buffer, int size) {
    for (;;) {
        ssize_t got = recv(pipe, buffer, size > 0 ? static_cast<size_t>(size) : 0, MSG_TRUNC);
        if (got > 0) return static_cast<int>(got);
        if (got == 0) {
            // Requests are never empty: an empty read is the end of the connection, unless
            // a client really sent an empty packet and is still there.
            if (peerHasGone(pipe)) return plat_Fail(WERR_BROKEN_PIPE);
            return 0;
        }
        if (errno == EINTR) continue;
        return failConnection();
    }
}

int plat_PipeSend(int pipe, const void *buffer, int length) {
    if (length < 0) return plat_Fail(WERR_INVALID_PARAMETER);
    for (;;) {
        ssize_t sent = send(pipe, buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
        if (sent == length) return length;
        if (sent >= 0) return plat_Fail(WERR_WRITE_FAULT);
        if (errno == EINTR) continue;
        return failConnection();
    }
}

void plat_PipeShutdown(int pipe) {
    if (pipe >= 0) shutdown(pipe, SHUT_RDWR);
}
