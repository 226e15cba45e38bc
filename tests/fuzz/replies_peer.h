// A loopback server for the reply programs: each request it reads gets the next of the input's
// replies, written in pieces of a given size; the connection is closed after a reply that is
// not one whole TLS frame, and when a request finds no reply left. With a TLS context the
// bytes go through a TLS session (a self-made certificate), otherwise as they are.
#pragma once

#include "replies_readers.h"
#include "sim_net.h"

#include <arpa/inet.h>
#include <csignal>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fuzz {

class ReplyPeer {
    static constexpr size_t k_splitHead = 256;
    static constexpr size_t k_restPiece = 4096;

public:
    enum class Request { UpToNul, Http };

    // Listens on 127.0.0.2 (127.0.0.1 would name this computer, which is read locally); aborts when
    // it cannot, as the program could test nothing.
    ReplyPeer(bool tls, Request request) : request_(request) {
        signal(SIGPIPE, SIG_IGN);
        if (tls) ctx_ = makeContext();
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(0x7F000002);
        socklen_t length = sizeof at;
        if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 ||
            listen(listen_, 16) != 0 ||
            getsockname(listen_, reinterpret_cast<sockaddr *>(&at), &length) != 0)
            abort();
        port_ = ntohs(at.sin_port);
        // Serves until the process ends.
        thread_ = new std::thread([this] { serve(); });
    }
    int port() const { return port_; }

    // The replies of the next input and the size of the pieces they are written in (0: whole).
    void feed(std::vector<std::string> replies, size_t piece) {
        std::lock_guard<std::mutex> guard(lock_);
        replies_ = std::move(replies);
        next_ = 0;
        piece_ = piece;
    }

private:
    static SSL_CTX *makeContext() {
        std::string certPem, keyPem;
        if (!sim_MakeCertificate(false, &certPem, &keyPem)) abort();
        SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
        BIO *cert = BIO_new_mem_buf(certPem.data(), static_cast<int>(certPem.size()));
        BIO *key = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
        X509 *x = PEM_read_bio_X509(cert, nullptr, nullptr, nullptr);
        EVP_PKEY *k = PEM_read_bio_PrivateKey(key, nullptr, nullptr, nullptr);
        if (ctx == nullptr || x == nullptr || k == nullptr ||
            SSL_CTX_use_certificate(ctx, x) != 1 || SSL_CTX_use_PrivateKey(ctx, k) != 1)
            abort();
        X509_free(x);
        EVP_PKEY_free(k);
        BIO_free(cert);
        BIO_free(key);
        return ctx;
    }

    void serve() {
        for (;;) {
            int c = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            // A client that stops sending never keeps the peer from the next connection.
            timeval limit{1, 0};
            setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
            int one = 1;
            setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            converse(c);
            close(c);
        }
    }

    // One connection: each request gets the next reply, until there is none or one leaves the
    // stream where the client cannot tell the next reply from it.
    void converse(int c) {
        SSL *ssl = nullptr;
        if (ctx_ != nullptr) {
            ssl = SSL_new(ctx_);
            SSL_set_fd(ssl, c);
            if (SSL_accept(ssl) != 1) {
                SSL_free(ssl);
                ERR_clear_error();
                return;
            }
        }
        while (readRequest(c, ssl)) {
            std::string reply;
            size_t piece = 0;
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (next_ == replies_.size()) break;
                reply = replies_[next_++];
                piece = piece_;
            }
            if (!write(c, ssl, reply, piece) || !wholeFrame(reply)) break;
        }
        if (ssl != nullptr) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
            ERR_clear_error();
        }
    }

    bool write(int c, SSL *ssl, const std::string &reply, size_t piece) {
        for (size_t at = 0; at < reply.size();) {
            // The pieces split the reply's head (the length prefix, the result and the first
            // fields); the rest goes in larger ones, as a sender's buffer gives it.
            size_t size = at < k_splitHead && piece != 0 ? piece : k_restPiece;
            size_t n = reply.size() - at < size ? reply.size() - at : size;
            int sent = ssl != nullptr ? SSL_write(ssl, reply.data() + at, static_cast<int>(n))
                                      : static_cast<int>(send(c, reply.data() + at, n, 0));
            if (sent <= 0) return false;
            at += static_cast<size_t>(sent);
        }
        return true;
    }

    // A TLS reply that is exactly its length prefix and payload keeps the connection, as a
    // server's would; anything else (and every HTTP reply) is followed by the close, so that
    // the client's wait ends with the input's bytes.
    bool wholeFrame(const std::string &reply) const {
        if (request_ != Request::UpToNul || reply.size() < 4) return false;
        uint32_t length = 0;
        for (int i = 3; i >= 0; --i)
            length = length << 8 | static_cast<uint8_t>(reply[static_cast<size_t>(i)]);
        return length < 0x80000000u && reply.size() == 4 + size_t{length};
    }

    // The request whole: up to its NUL, or an HTTP head and the body its Content-Length gives.
    bool readRequest(int c, SSL *ssl) {
        std::string in;
        char buffer[4096];
        for (;;) {
            int n = ssl != nullptr ? SSL_read(ssl, buffer, sizeof buffer)
                                   : static_cast<int>(recv(c, buffer, sizeof buffer, 0));
            if (n <= 0) return false;
            in.append(buffer, static_cast<size_t>(n));
            if (request_ == Request::UpToNul) {
                if (in.find('\0') != std::string::npos) return true;
                continue;
            }
            size_t head = in.find("\r\n\r\n");
            if (head == std::string::npos) continue;
            size_t field = in.find("Content-Length:");
            size_t body =
                field == std::string::npos ? 0 : strtoul(in.c_str() + field + 15, nullptr, 10);
            if (in.size() >= head + 4 + body) return true;
        }
    }

    Request request_;
    std::thread *thread_ = nullptr;
    SSL_CTX *ctx_ = nullptr;
    int listen_ = -1;
    int port_ = 0;
    std::mutex lock_;
    std::vector<std::string> replies_;
    size_t next_ = 0;
    size_t piece_ = 0;
};

// The replies of an input: a little-endian length word and that many bytes, each.
inline std::vector<std::string> splitReplies(Reader in) {
    std::vector<std::string> replies;
    while (in.size >= 2) {
        size_t length = in.word();
        if (length > in.size) length = in.size;
        replies.emplace_back(reinterpret_cast<const char *>(in.data), length);
        in.data += length;
        in.size -= length;
    }
    return replies;
}

} // namespace fuzz
