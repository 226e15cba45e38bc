// IPv4 TCP clients with one deadline per operation, socket error numbers, and writes that
// never raise SIGPIPE.
//
// Socket failures carry their own Windows numbers (10054 reset, 10060 time-out, 10061
// refused, ...), apart from the pipe's and the mailslots' meanings of the same POSIX errors.
#pragma once

#include <csignal>
#include <cstdint>

// Windows sockets start-up: nothing to do here. 0.
int plat_NetStartup();

// Windows number of a socket failure (anything unknown goes through plat_WinErrorFromPosix).
uint32_t plat_WinErrorFromSocket(int posix_errno);
// Windows number of a getaddrinfo failure: 11001, or 11002 for a temporary one.
uint32_t plat_WinErrorFromResolver(int eai_error, int posix_errno);

// Monotonic milliseconds, for deadlines.
int64_t plat_NowMs();

// Resolves an IPv4 host (name or dotted address) to its first address, network order.
// 0, or -1 with errno and the last error.
int plat_NetResolve(const char *host, uint32_t *address);

// plat_NetResolve that gives up when the deadline passes (10060), so that a resolver that does
// not answer costs no more than the time the caller has. The lookup runs on the C library's
// own resolver thread, which ends it later by itself (a test's stand-in lookup, on a thread
// of its own).
int plat_NetResolveBefore(const char *host, uint32_t *address, int64_t deadlineMs);

// Replaces the name lookup that both resolvers run (null restores getaddrinfo), for tests:
// 0 with the address, or -1 with errno and the last error.
void plat_SetNetLookupForTests(int (*lookup)(const char *host, uint32_t *address));

// The port of a service name for "tcp" (/etc/services), or 0.
int plat_NetServicePort(const char *name);

// Connects a non-blocking socket to address (network order) and port before the deadline.
// The descriptor (non-blocking, close-on-exec), or -1 with errno and the last error (10060
// when the deadline passed).
int plat_NetConnect(uint32_t address, int port, int64_t deadlineMs);

// Waits until fd has the events (POLLIN, POLLOUT) or the deadline passes. 1 ready, 0 the
// deadline passed, -1 with errno and the last error.
int plat_NetWait(int fd, short events, int64_t deadlineMs);

// Sends on a socket without SIGPIPE: bytes sent, or -1 with the POSIX errno.
long plat_NetSend(int fd, const void *data, unsigned long length);

// Runs a scope with SIGPIPE blocked on the calling thread, for writes made by libraries
// (OpenSSL, gSOAP). A SIGPIPE raised meanwhile is taken before the signal is unblocked, so
// the process's signal settings never change and the process never sees it.
class PlatSigpipeGuard {
public:
    PlatSigpipeGuard();
    ~PlatSigpipeGuard();
    PlatSigpipeGuard(const PlatSigpipeGuard &) = delete;
    PlatSigpipeGuard &operator=(const PlatSigpipeGuard &) = delete;

private:
    sigset_t old_;
    bool wasBlocked_ = false;
};
