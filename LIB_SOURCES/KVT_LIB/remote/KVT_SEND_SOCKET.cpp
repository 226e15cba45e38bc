// Kind 2: requests over a TLS socket. The request goes out as it is; the reply is an int32
// little-endian length and the payload.
//
// Every step (name lookup, connect, handshake, each write and read) waits for what is left of
// one deadline, so that a dead resolver, a host that drops packets or a peer that stalls ends
// in 10060, never in a hang. All but the lookup run on the caller's thread on a non-blocking
// socket with poll; the lookup runs on the C library's resolver thread, which touches
// nothing of the caller's once the call has returned.
#include "dbg.h"
#include "plat_error.h"
#include "plat_net.h"
#include "plat_system.h"
#include "srv_kinds.h"
#include "srv_remote.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <unistd.h>

namespace {
constexpr int k_exchangeMs = 15000;
constexpr int k_defaultPort = 11234;
// Payload bytes taken per read, as the server writes them.
constexpr int k_readPiece = 4093;

std::atomic<int> g_timeoutForTests{0};

int limitMs() {
    int t = g_timeoutForTests.load();
    return t > 0 ? t : k_exchangeMs;
}

struct CtxFree {
    void operator()(SSL_CTX *c) const { SSL_CTX_free(c); }
};
struct SslFree {
    void operator()(SSL *s) const { SSL_free(s); }
};

// What an open kind-2 entry holds.
struct TlsSession {
    std::unique_ptr<SSL_CTX, CtxFree> ctx;
    std::unique_ptr<SSL, SslFree> ssl;
    int fd = -1;
    ~TlsSession() {
        if (fd >= 0) close(fd);
    }
};

void initOnce() {
    static std::once_flag once;
    std::call_once(once, [] { OPENSSL_init_ssl(0, nullptr); });
}

// Turns a finished TLS call into a wait, or into the failure's Windows number.
// 1 go on, 0 failed with the last error set.
int waitFor(SSL *ssl, int rc, int fd, int64_t deadline) {
    int error = SSL_get_error(ssl, rc);
    int sysErrno = errno;
    short events = 0;
    if (error == SSL_ERROR_WANT_READ)
        events = POLLIN;
    else if (error == SSL_ERROR_WANT_WRITE)
        events = POLLOUT;
    ERR_clear_error();
    if (events == 0) {
        // A clean close, an end of stream without one, and a protocol error all mean the
        // peer is gone for this connection.
        uint32_t code = WERR_WSAECONNRESET;
        if (error == SSL_ERROR_SYSCALL && sysErrno != 0) code = plat_WinErrorFromSocket(sysErrno);
        plat_SetLastError(code);
        return 0;
    }
    int ready = plat_NetWait(fd, events, deadline);
    if (ready == 0) plat_SetLastError(WERR_WSAETIMEDOUT);
    return ready == 1 ? 1 : 0;
}

void printCertificate(SSL *ssl) {
    X509 *cert = SSL_get1_peer_certificate(ssl);
    if (cert == nullptr) return;
    char *subject = X509_NAME_oneline(X509_get_subject_name(cert), nullptr, 0);
    char *issuer = X509_NAME_oneline(X509_get_issuer_name(cert), nullptr, 0);
    printf("Server certificate:\n");
    printf("\t subject: %s\n", subject != nullptr ? subject : "");
    printf("\t issuer: %s\n", issuer != nullptr ? issuer : "");
    fflush(stdout);
    OPENSSL_free(subject);
    OPENSSL_free(issuer);
    X509_free(cert);
}

// The lookups count against the connect's deadline: a resolver that does not answer ends the
// open as a peer that does not answer would.
int resolve(const char *host, uint32_t *address, int64_t deadline) {
    if (strcmp(host, ".") != 0) return plat_NetResolveBefore(host, address, deadline);
    if (plat_NetResolveBefore("localhost", address, deadline) == 0) return 0;
    if (plat_GetLastError() == WERR_WSAETIMEDOUT) return -1;
    return plat_NetResolveBefore(plat_ComputerName().c_str(), address, deadline);
}
} // namespace

void srv_SetRemoteTimeoutForTests(int milliseconds) {
    g_timeoutForTests.store(milliseconds > 0 ? milliseconds : 0);
}

int srv_RemoteTimeoutForTests() {
    return g_timeoutForTests.load();
}

int tls_Connect(ServerConnection *entry) {
    int64_t deadline = plat_NowMs() + limitMs();
    initOnce();
    char line[SRV_SPEC_SIZE + 64];
    snprintf(line, sizeof line, ">>%s Opening socket connection\r\n", entry->name);
    dbg_WriteTrace(line);

    char scheme[32], host[256], user[128], password[128];
    PlatUrlParts parts{};
    parts.scheme = scheme;
    parts.schemeSize = sizeof scheme;
    parts.host = host;
    parts.hostSize = sizeof host;
    parts.user = user;
    parts.userSize = sizeof user;
    parts.password = password;
    parts.passwordSize = sizeof password;
    plat_SetLastError(0);
    if (srv_CrackServerUrl(entry->name, 0, 0, &parts) == 0) {
        if (plat_GetLastError() == 0) plat_SetLastError(WERR_INTERNET_INVALID_URL);
        return 0;
    }
    plat_NetStartup();
    uint32_t address = 0;
    if (resolve(host, &address, deadline) != 0) return 0;
    int port = parts.port;
    if (port == 0) port = plat_NetServicePort(scheme);
    if (port == 0) port = k_defaultPort;

    auto session = std::make_unique<TlsSession>();
    session->fd = plat_NetConnect(address, port, deadline);
    if (session->fd < 0) return 0;
    session->ctx.reset(SSL_CTX_new(TLS_client_method()));
    if (session->ctx) {
        // The server's certificate is not checked: plants use self-made ones.
        SSL_CTX_set_verify(session->ctx.get(), SSL_VERIFY_NONE, nullptr);
        session->ssl.reset(SSL_new(session->ctx.get()));
    }
    if (!session->ssl || SSL_set_fd(session->ssl.get(), session->fd) != 1) {
        ERR_clear_error();
        plat_SetLastError(WERR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    for (;;) {
        PlatSigpipeGuard guard;
        errno = 0;
        int rc = SSL_connect(session->ssl.get());
        if (rc == 1) break;
        if (waitFor(session->ssl.get(), rc, session->fd, deadline) == 0) return 0;
    }
    printCertificate(session->ssl.get());
    entry->handle = session.release();
    return 1;
}

int tls_Transact(ServerConnection *entry, const char *request, int length, char *reply, int *size) {
    int64_t deadline = plat_NowMs() + limitMs();
    auto *session = static_cast<TlsSession *>(entry->handle);
    int capacity = *size;
    *size = 0;
    if (session == nullptr || length < 0) {
        plat_SetLastError(WERR_INVALID_HANDLE);
        return 0;
    }
    SSL *ssl = session->ssl.get();
    for (int sent = 0; sent < length;) {
        PlatSigpipeGuard guard;
        errno = 0;
        int rc = SSL_write(ssl, request + sent, length - sent);
        if (rc > 0) {
            sent += rc;
            continue;
        }
        if (waitFor(ssl, rc, session->fd, deadline) == 0) return 0;
    }
    // The length may arrive split over records; the reply starts only when all four are in.
    unsigned char prefix[4];
    // Reads are guarded as writes are: a TLS read may answer the peer.
    PlatSigpipeGuard guard;
    for (int got = 0; got < 4;) {
        errno = 0;
        int rc = SSL_read(ssl, prefix + got, 4 - got);
        if (rc > 0) {
            got += rc;
            continue;
        }
        if (waitFor(ssl, rc, session->fd, deadline) == 0) return 0;
    }
    int32_t total = static_cast<int32_t>(
        static_cast<uint32_t>(prefix[0]) | static_cast<uint32_t>(prefix[1]) << 8 |
        static_cast<uint32_t>(prefix[2]) << 16 | static_cast<uint32_t>(prefix[3]) << 24);
    if (total < 0) {
        plat_SetLastError(WERR_INVALID_DATA);
        return 0;
    }
    if (total > capacity) {
        plat_SetLastError(WERR_MORE_DATA);
        return 0;
    }
    for (int got = 0; got < total;) {
        int want = total - got < k_readPiece ? total - got : k_readPiece;
        errno = 0;
        int rc = SSL_read(ssl, reply + got, want);
        if (rc > 0) {
            got += rc;
            continue;
        }
        if (waitFor(ssl, rc, session->fd, deadline) == 0) return 0;
    }
    *size = total;
    plat_SetLastError(0);
    return 1;
}

void tls_Close(ServerConnection *entry) {
    auto *session = static_cast<TlsSession *>(entry->handle);
    entry->handle = nullptr;
    if (session == nullptr) return;
    uint32_t error = plat_GetLastError();
    {
        // One close_notify, without waiting for the peer's.
        PlatSigpipeGuard guard;
        SSL_shutdown(session->ssl.get());
        ERR_clear_error();
    }
    delete session;
    plat_SetLastError(error);
}
