// Requests per second of the command client over the runtime pipe and over a TLS socket on
// loopback, against a plain TCP socket that carries the same bytes (the request, then an
// int32 length and the reply) with no protocol around them. Both ratios come from one run.
#include "pipe_server.h"
#include "plat_net.h"
#include "sim_net.h"
#include "srv.h"
#include "srv_kinds.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
const char k_request[] = "CV,A1:1,A1:2,A1:3,D1:1";
const char k_reply[] = "4,1.5,2.5,3.5,1";

// The plain socket: one client, echoing the framing of the TLS endpoint.
class PlainEcho {
public:
    PlainEcho() {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        inet_pton(AF_INET, "127.0.0.2", &at.sin_addr);
        socklen_t len = sizeof at;
        if (bind(listen_, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 ||
            ::listen(listen_, 1) != 0 ||
            getsockname(listen_, reinterpret_cast<sockaddr *>(&at), &len) != 0) {
            perror("plain echo");
            exit(1);
        }
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~PlainEcho() {
        shutdown(listen_, SHUT_RDWR);
        if (client_ >= 0) shutdown(client_, SHUT_RDWR);
        thread_.join();
        close(listen_);
    }
    int port() const { return port_; }

private:
    void serve() {
        int fd = accept(listen_, nullptr, nullptr);
        if (fd < 0) return;
        client_ = fd;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::string answer(4, '\0');
        int32_t n = sizeof k_reply;
        memcpy(answer.data(), &n, 4);
        answer.append(k_reply, sizeof k_reply);
        char buffer[4096];
        std::string pending;
        for (;;) {
            size_t nul;
            while ((nul = pending.find('\0')) == std::string::npos) {
                ssize_t got = recv(fd, buffer, sizeof buffer, 0);
                if (got <= 0) {
                    close(fd);
                    return;
                }
                pending.append(buffer, static_cast<size_t>(got));
            }
            pending.erase(0, nul + 1);
            if (plat_NetSend(fd, answer.data(), answer.size()) < 0) break;
        }
        close(fd);
    }
    int listen_ = -1;
    int client_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// One exchange on the plain socket, as the TLS client makes it: write, read the length, read.
bool plainExchange(int fd) {
    if (plat_NetSend(fd, k_request, sizeof k_request) < 0) return false;
    char reply[256];
    int32_t total = 0;
    for (size_t got = 0; got < 4;) {
        ssize_t n = recv(fd, reinterpret_cast<char *>(&total) + got, 4 - got, 0);
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    for (int32_t got = 0; got < total;) {
        ssize_t n = recv(fd, reply + got, static_cast<size_t>(total - got), 0);
        if (n <= 0) return false;
        got += static_cast<int32_t>(n);
    }
    return true;
}

double perSecond(int count, std::chrono::steady_clock::duration d) {
    return count / std::chrono::duration<double>(d).count();
}

void BM_RequestsPerSecond(benchmark::State &state) {
    setenv("KVT_IPC_PREFIX", ("kvtb-remote-" + std::to_string(getpid())).c_str(), 1);
    srv_RegisterServerKinds();
    std::string script = std::string("CV ") + k_reply;
    PipeServer pipe;
    if (!pipe.start() || !pipe.script(script)) {
        state.SkipWithError("pipe");
        return;
    }
    SimNetEndpoint tls(SimNetSettings{});
    if (!tls.start() || !tls.script(script)) {
        state.SkipWithError(tls.error().c_str());
        return;
    }
    std::string tlsSpec = "tls://127.0.0.2:" + std::to_string(tls.port());
    PlainEcho echo;
    uint32_t address = 0;
    plat_NetResolve("127.0.0.2", &address);
    int plain = plat_NetConnect(address, echo.port(), plat_NowMs() + 5000);
    if (plain < 0) {
        state.SkipWithError("plain socket");
        return;
    }
    // Blocking from here on, as a plain client would be.
    int fl = fcntl(plain, F_GETFL);
    fcntl(plain, F_SETFL, fl & ~O_NONBLOCK);
    // Open both connections before timing.
    char reply[256];
    int size = sizeof reply;
    srv_Command(".", k_request, reply, &size);
    size = sizeof reply;
    srv_Command(tlsSpec.c_str(), k_request, reply, &size);

    const int n = static_cast<int>(state.range(0));
    double pipeRate = 0, tlsRate = 0, plainRate = 0;
    int failed = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i) {
            size = sizeof reply;
            if (srv_Command(".", k_request, reply, &size) != 4) ++failed;
        }
        auto t1 = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i) {
            size = sizeof reply;
            if (srv_Command(tlsSpec.c_str(), k_request, reply, &size) != 4) ++failed;
        }
        auto t2 = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i)
            if (!plainExchange(plain)) ++failed;
        auto t3 = std::chrono::steady_clock::now();
        pipeRate = perSecond(n, t1 - t0);
        tlsRate = perSecond(n, t2 - t1);
        plainRate = perSecond(n, t3 - t2);
    }
    close(plain);
    srv_CloseAll();
    state.counters["pipe_per_s"] = pipeRate;
    state.counters["tls_per_s"] = tlsRate;
    state.counters["plain_per_s"] = plainRate;
    state.counters["pipe_vs_plain"] = pipeRate / plainRate;
    state.counters["tls_vs_plain"] = tlsRate / plainRate;
    state.counters["failed"] = failed;
}
BENCHMARK(BM_RequestsPerSecond)->Arg(2000)->Iterations(3)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
