// One accepted client of a SimNetEndpoint: its socket, its TLS session, and the bytes read
// but not yet used. Shared by the TLS and SOAP halves of the endpoint.
#pragma once

#include "plat_net.h"
#include "sim_net.h"

#include <openssl/ssl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

struct SimNetEndpoint::Connection {
    int fd = -1;
    SSL *ssl = nullptr;
    int number = 0;
    std::string pending; // bytes read but not yet used

    ~Connection() {
        if (ssl != nullptr) SSL_free(ssl);
        if (fd >= 0) close(fd);
    }
    // Reads more bytes into pending: false at the end of the stream or on an error.
    bool fill() {
        char buffer[16384];
        int n;
        // A TLS read may write too (session tickets, alerts) to a peer that has gone.
        PlatSigpipeGuard guard;
        if (ssl != nullptr)
            n = SSL_read(ssl, buffer, sizeof buffer);
        else
            n = static_cast<int>(recv(fd, buffer, sizeof buffer, 0));
        if (n <= 0) return false;
        pending.append(buffer, static_cast<size_t>(n));
        return true;
    }
    bool write(const char *data, size_t length) {
        while (length > 0) {
            long n;
            if (ssl != nullptr) {
                PlatSigpipeGuard guard;
                n = SSL_write(ssl, data, static_cast<int>(length));
            } else {
                n = plat_NetSend(fd, data, length);
            }
            if (n <= 0) return false;
            data += n;
            length -= static_cast<size_t>(n);
        }
        return true;
    }
    bool write(const std::string &bytes) { return write(bytes.data(), bytes.size()); }
};
