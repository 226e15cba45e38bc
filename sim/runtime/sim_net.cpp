#include "sim_net.h"

#include "sim_net_connection.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {
std::string lastSslError(const char *what) {
    char text[256];
    unsigned long e = ERR_get_error();
    ERR_error_string_n(e, text, sizeof text);
    ERR_clear_error();
    return std::string(what) + ": " + text;
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Where a whole request ends in buffered stream bytes, or npos when more must come.
size_t requestEnd(const std::string &b) {
    auto fieldsEnd = [&](char separator, int count) -> size_t {
        size_t at = 2;
        for (int i = 0; i < count; ++i) {
            at = b.find(separator, at + 1);
            if (at == std::string::npos) return std::string::npos;
        }
        return at;
    };
    auto field = [&](char separator, int index) -> long {
        size_t from = 3;
        for (int i = 0; i < index; ++i)
            from = b.find(separator, from) + 1;
        return strtol(b.c_str() + from, nullptr, 10);
    };
    long size = -1;
    size_t header = std::string::npos;
    if (b.size() >= 3 && b.compare(0, 3, "WF,") == 0) {
        // An incomplete header may still be a text request cut short by its NUL.
        header = fieldsEnd('\t', 9);
        if (header != std::string::npos) size = field('\t', 1);
    } else if (b.size() >= 3 && b.compare(0, 3, "CF,") == 0) {
        header = fieldsEnd(',', 4);
        if (header != std::string::npos) size = field(',', 2);
    }
    if (header != std::string::npos && size >= 0) {
        size_t end = header + 1 + static_cast<size_t>(size) + 1;
        return end <= b.size() ? end : std::string::npos;
    }
    size_t nul = b.find('\0');
    return nul == std::string::npos ? std::string::npos : nul + 1;
}

std::string lengthPrefix(int32_t n) {
    uint32_t u = static_cast<uint32_t>(n);
    std::string p(4, '\0');
    for (int i = 0; i < 4; ++i)
        p[static_cast<size_t>(i)] = static_cast<char>(u >> (8 * i));
    return p;
}
} // namespace

bool sim_ParseAddress(const std::string &text, std::string *address, int *port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    char *end = nullptr;
    long p = strtol(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || p < 0 || p > 65535 || colon + 1 == text.size()) return false;
    *address = text.substr(0, colon);
    *port = static_cast<int>(p);
    return true;
}

bool sim_MakeCertificate(bool rsa, std::string *certPem, std::string *keyPem) {
    EVP_PKEY *key = rsa ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256");
    X509 *cert = X509_new();
    bool ok = key != nullptr && cert != nullptr;
    if (ok) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(time(nullptr)));
        X509_gmtime_adj(X509_getm_notBefore(cert), -60);
        X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
        X509_NAME *name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char *>("kvt-runtime"), -1, -1,
                                   0);
        X509_set_issuer_name(cert, name);
        X509_set_pubkey(cert, key);
        ok = X509_sign(cert, key, EVP_sha256()) > 0;
    }
    if (ok) {
        BIO *c = BIO_new(BIO_s_mem());
        BIO *k = BIO_new(BIO_s_mem());
        ok = PEM_write_bio_X509(c, cert) == 1 &&
             PEM_write_bio_PrivateKey(k, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
        char *data = nullptr;
        long n = BIO_get_mem_data(c, &data);
        certPem->assign(data, static_cast<size_t>(n));
        n = BIO_get_mem_data(k, &data);
        keyPem->assign(data, static_cast<size_t>(n));
        BIO_free(c);
        BIO_free(k);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    ERR_clear_error();
    return ok;
}

SimNetEndpoint::SimNetEndpoint(SimNetSettings settings) : settings_(std::move(settings)) {
    if (!settings_.filesRoot.empty())
        files_ = std::make_unique<SimFileService>(settings_.filesRoot);
}

SimNetEndpoint::~SimNetEndpoint() {
    stop();
    if (ctx_ != nullptr) SSL_CTX_free(static_cast<SSL_CTX *>(ctx_));
}

const char *SimNetEndpoint::name() const {
    return settings_.kind == SimNetKind::Tls ? "tls" : "soap";
}

bool SimNetEndpoint::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) return true;
    if (settings_.kind != SimNetKind::Soap && ctx_ == nullptr) {
        if (!settings_.certPem.empty()) {
            certPem_ = settings_.certPem;
            keyPem_ = settings_.keyPem;
        } else if (settings_.certFile.empty()) {
            if (!sim_MakeCertificate(false, &certPem_, &keyPem_)) {
                error_ = "cannot make a certificate";
                return false;
            }
        } else {
            certPem_ = readFile(settings_.certFile);
            keyPem_ = readFile(settings_.keyFile.empty() ? settings_.certFile : settings_.keyFile);
        }
        SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
        BIO *c = BIO_new_mem_buf(certPem_.data(), static_cast<int>(certPem_.size()));
        BIO *k = BIO_new_mem_buf(keyPem_.data(), static_cast<int>(keyPem_.size()));
        X509 *cert = PEM_read_bio_X509(c, nullptr, nullptr, nullptr);
        EVP_PKEY *key = PEM_read_bio_PrivateKey(k, nullptr, nullptr, nullptr);
        bool ok = ctx != nullptr && cert != nullptr && key != nullptr &&
                  SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1;
        if (!ok) error_ = lastSslError("certificate or key refused");
        X509_free(cert);
        EVP_PKEY_free(key);
        BIO_free(c);
        BIO_free(k);
        if (!ok) {
            SSL_CTX_free(ctx);
            return false;
        }
        ctx_ = ctx;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(settings_.port));
    int one = 1;
    if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t len = sizeof at;
    if (fd < 0 || inet_pton(AF_INET, settings_.address.c_str(), &at.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 || listen(fd, 64) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&at), &len) != 0) {
        error_ = std::string("cannot listen on ") + settings_.address + ":" +
                 std::to_string(settings_.port) + ": " + strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    listen_ = fd;
    port_ = ntohs(at.sin_port);
    running_ = true;
    connections_ = 0;
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void SimNetEndpoint::stop() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) return;
        running_ = false;
        shutdown(listen_, SHUT_RDWR);
        for (const auto &c : clients_)
            shutdown(c->fd, SHUT_RDWR);
    }
    if (acceptThread_.joinable()) acceptThread_.join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threads.swap(threads_);
    }
    for (std::thread &t : threads)
        t.join();
    close(listen_);
    listen_ = -1;
}

bool SimNetEndpoint::script(const std::string &statement) {
    std::lock_guard<std::mutex> lock(mutex_);
    return script_.add(statement);
}

void SimNetEndpoint::clearScript() {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.clear();
}

void SimNetEndpoint::setChunk(int bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    chunk_ = bytes > 0 ? bytes : 4093;
}

std::vector<SimRequest> SimNetEndpoint::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void SimNetEndpoint::clearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

bool SimNetEndpoint::waitForRequests(size_t count, int milliseconds) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [&] { return requests_.size() >= count; });
}

std::string SimNetEndpoint::formatRequests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::ostringstream out;
    for (size_t i = 0; i < requests_.size(); ++i)
        out << (i + 1) << " " << requests_[i].endpoint << "#" << requests_[i].connection << " ("
            << requests_[i].bytes.size() << ") " << requests_[i].bytes.c_str() << "\n";
    return out.str();
}

int SimNetEndpoint::connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

void SimNetEndpoint::acceptLoop() {
    for (;;) {
        int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;
        }
        // Answers go out in several writes; without this each would wait for the last ACK.
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_shared<Connection>();
        c->fd = fd;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) return; // c closes fd
        c->number = ++connections_;
        clients_.push_back(c);
        threads_.emplace_back([this, c] { serve(c); });
    }
}

void SimNetEndpoint::serve(std::shared_ptr<Connection> c) {
    bool ok = true;
    if (ctx_ != nullptr) {
        PlatSigpipeGuard guard;
        c->ssl = SSL_new(static_cast<SSL_CTX *>(ctx_));
        ok = c->ssl != nullptr && SSL_set_fd(c->ssl, c->fd) == 1 && SSL_accept(c->ssl) == 1;
        ERR_clear_error();
    }
    if (ok) {
        if (settings_.kind == SimNetKind::Tls)
            serveTls(*c);
        else
            serveSoap(*c);
    }
    if (c->ssl != nullptr) {
        PlatSigpipeGuard guard;
        SSL_shutdown(c->ssl);
        ERR_clear_error();
    }
    shutdown(c->fd, SHUT_RDWR);
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = clients_.begin(); it != clients_.end(); ++it)
        if (it->get() == c.get()) {
            clients_.erase(it);
            break;
        }
}

void SimNetEndpoint::record(SimRequest request) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(std::move(request));
    }
    arrived_.notify_all();
}

SimReply SimNetEndpoint::replyFor(const std::string &request) {
    SimReply reply;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reply = script_.find(sim_RequestMatchText(request));
    }
    if (reply.scripted) return reply;
    if (files_ && SimFileService::handles(request))
        reply.bytes = files_->answer(request);
    else
        reply.bytes = std::string("-1,1") + '\0';
    return reply;
}

void SimNetEndpoint::serveTls(Connection &c) {
    for (;;) {
        size_t end;
        while ((end = requestEnd(c.pending)) == std::string::npos)
            if (!c.fill()) return;
        std::string request = c.pending.substr(0, end);
        c.pending.erase(0, end);
        SimRequest r;
        r.endpoint = "tls";
        r.connection = c.number;
        r.bytes = request;
        record(r);
        SimReply reply = replyFor(request);
        int chunk;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            chunk = chunk_;
        }
        std::string payload = reply.bytes;
        switch (reply.action) {
        case SimAction::Close:
            return;
        case SimAction::Stall:
            continue; // the client gives up and closes
        case SimAction::Negative:
            if (!c.write(lengthPrefix(-1))) return;
            continue;
        case SimAction::Short:
            c.write(lengthPrefix(static_cast<int32_t>(payload.size()) + 100) + payload);
            return;
        case SimAction::Big:
            payload = sim_BigAnswer(reply.number);
            break;
        case SimAction::Empty:
            payload.clear();
            break;
        case SimAction::Chunks:
            chunk = reply.number;
            break;
        case SimAction::Delay:
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.number));
            break;
        default:
            break;
        }
        std::string prefix = lengthPrefix(static_cast<int32_t>(payload.size()));
        if (reply.action == SimAction::Split) {
            if (!c.write(prefix.substr(0, 2)) || !c.write(prefix.substr(2))) return;
        } else if (!c.write(prefix)) {
            return;
        }
        for (size_t at = 0; at < payload.size(); at += static_cast<size_t>(chunk))
            if (!c.write(payload.substr(at, static_cast<size_t>(chunk)))) return;
    }
}
