// Network endpoints of the runtime stand-in: the TLS request socket and the SOAP service
// (plain HTTP or HTTPS), both on an IPv4 loopback address, answering from the reply script
// (sim_replies.h) and, for requests it does not script, from the remote file service.
//
// TLS socket: a request ends at its NUL (WF: header up to the 9th TAB after "WF,", the count
// bytes, the NUL; CF: header up to the 5th comma, the size bytes, the NUL). The answer is an
// int32 little-endian length and the payload, written in chunks (4093 bytes by default).
//
// SOAP: HTTP/1.1 with keep-alive; requests need Content-Length. The envelope is read with
// libxml2, independently of any SOAP library, so that the client's element names are checked:
// SendRequest in "urn:service" with Host, Request (base64) and ResultSize. With credentials
// set, a request without the matching Basic credential gets "401 Unauthorized".
//
// Without a certificate file the endpoint makes a self-signed EC P-256 certificate with CN
// "kvt-runtime", valid one day, and hands its PEM out through certificatePem().
#pragma once

#include "sim_files.h"
#include "sim_replies.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class SimNetKind { Tls, Soap, SoapTls };

struct SimNetSettings {
    SimNetKind kind = SimNetKind::Tls;
    std::string address = "127.0.0.2";
    int port = 0;
    std::string certFile; // PEM; with keyFile
    std::string keyFile;
    std::string certPem; // or the PEMs themselves
    std::string keyPem;
    std::string user; // SOAP credentials; empty: none asked for
    std::string password;
    std::string filesRoot; // the file service's folder; empty: none
};

// "ADDR:PORT" into address and port; false when malformed.
bool sim_ParseAddress(const std::string &text, std::string *address, int *port);

// A self-signed certificate with CN "kvt-runtime", valid one day: EC P-256, or RSA 2048.
bool sim_MakeCertificate(bool rsa, std::string *certPem, std::string *keyPem);

// The SOAP endpoint's HTTP answers: the SendRequestResponse carrying a reply's bytes, a SOAP
// fault (500), and any other status with its body.
std::string sim_SoapAnswer(const std::string &payload);
std::string sim_SoapFaultAnswer(const std::string &text, const std::string &detail);
std::string sim_HttpAnswer(int status, const char *reason, const std::string &type,
                           const std::string &body);

class SimNetEndpoint {
public:
    explicit SimNetEndpoint(SimNetSettings settings);
    ~SimNetEndpoint();
    SimNetEndpoint(const SimNetEndpoint &) = delete;
    SimNetEndpoint &operator=(const SimNetEndpoint &) = delete;

    // Binds and listens; false with error() set.
    bool start();
    // Closes the socket and every connection and waits for the threads.
    void stop();
    int port() const { return port_; }
    const std::string &certificatePem() const { return certPem_; }
    const std::string &error() const { return error_; }
    const char *name() const;

    bool script(const std::string &statement);
    void clearScript();
    // Chunk size of TLS answers.
    void setChunk(int bytes);

    std::vector<SimRequest> requests() const;
    void clearRequests();
    bool waitForRequests(size_t count, int milliseconds) const;
    // One line per request: number, endpoint, connection, length, text up to the NUL.
    std::string formatRequests() const;
    int connections() const;

    struct Connection; // one accepted client (sim_net_connection.h)

private:
    void acceptLoop();
    void serve(std::shared_ptr<Connection> c);
    void serveTls(Connection &c);
    void serveSoap(Connection &c);
    SimReply replyFor(const std::string &request);
    void record(SimRequest request);

    SimNetSettings settings_;
    std::unique_ptr<SimFileService> files_;
    std::string certPem_;
    std::string keyPem_;
    std::string error_;
    void *ctx_ = nullptr; // SSL_CTX
    int listen_ = -1;
    int port_ = 0;
    int chunk_ = 4093;

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    SimReplyScript script_;
    std::vector<SimRequest> requests_;
    std::vector<std::shared_ptr<Connection>> clients_;
    std::vector<std::thread> threads_;
    std::thread acceptThread_;
    bool running_ = false;
    int connections_ = 0;
};
