// Kind 2 against the stand-in's TLS endpoint: the bytes both ways, replies in pieces, faults
// of the peer, time-outs, certificates and threads sharing one connection.
#include "plat_error.h"
#include "plat_net.h"
#include "sim_net.h"
#include "srv.h"
#include "srv_kinds.h"
#include "temp_registry.h"
#include "test_ipc.h"
#include "trace_capture.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
// A loopback socket of 127.0.0.2 that listens (and never accepts) or is bound only.
int boundSocket(int port, bool listening, int *boundPort) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.2", &at.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0 ||
        (listening && listen(fd, 4) != 0)) {
        close(fd);
        return -1;
    }
    socklen_t len = sizeof at;
    getsockname(fd, reinterpret_cast<sockaddr *>(&at), &len);
    *boundPort = ntohs(at.sin_port);
    return fd;
}

class TlsKind : public ::testing::Test {
protected:
    void SetUp() override {
        test_UseUniqueIpcPrefix("tls");
        srv_RegisterServerKinds();
        start(SimNetSettings{});
    }
    void TearDown() override {
        srv_CloseAll();
        srv_SetRemoteTimeoutForTests(0);
    }
    void start(SimNetSettings settings) {
        if (server_) server_->stop();
        srv_CloseAll();
        server_ = std::make_unique<SimNetEndpoint>(settings);
        ASSERT_TRUE(server_->start()) << server_->error();
        spec_ = "tls://127.0.0.2:" + std::to_string(server_->port());
    }
    // The result of one text request; the reply bytes in *text.
    int ask(const char *request, std::string *text = nullptr, int capacity = 32768) {
        std::vector<char> reply(static_cast<size_t>(capacity) + 16, '#');
        int size = capacity;
        int rc = srv_Command(spec_.c_str(), request, reply.data(), &size);
        if (text != nullptr)
            text->assign(reply.data(),
                         rc == -1 ? static_cast<size_t>(capacity) + 16 : static_cast<size_t>(size));
        return rc;
    }
    std::unique_ptr<SimNetEndpoint> server_;
    std::string spec_;
};
} // namespace

TEST_F(TlsKind, RequestAndReplyBytes) {
    ASSERT_TRUE(server_->script("QL 5,abc"));
    TraceCapture trace;
    testing::internal::CaptureStdout();
    std::string text;
    EXPECT_EQ(ask("QL", &text), 5);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text, std::string("5,abc", 6));
    ASSERT_EQ(server_->requests().size(), 1u);
    EXPECT_EQ(server_->requests()[0].bytes, std::string("QL", 3));
    EXPECT_EQ(server_->requests()[0].endpoint, "tls");
    EXPECT_EQ(trace.text(), ">>" + spec_ + " Opening socket connection\r\n");
    // The certificate is shown, not checked: the stand-in's is self-signed.
    EXPECT_EQ(out,
              "Server certificate:\n\t subject: /CN=kvt-runtime\n\t issuer: /CN=kvt-runtime\n");

    // Binary requests go out as given, zero bytes included.
    const char binary[] = "WF,x\t3\t0\t0\t0\t0\t0\t0\t0\t\0\1\0";
    char reply[64];
    int size = sizeof reply;
    ASSERT_TRUE(server_->script("WF,x 1"));
    EXPECT_EQ(srv_Transact(spec_.c_str(), binary, sizeof binary, reply, &size), 1);
    EXPECT_EQ(server_->requests()[1].bytes, std::string(binary, sizeof binary));
    EXPECT_EQ(server_->connections(), 1);
}

TEST_F(TlsKind, RepliesInPiecesAreAssembled) {
    ASSERT_TRUE(server_->script("A1 split 7,split"));
    ASSERT_TRUE(server_->script("A2 chunks 1 8,onebyone"));
    ASSERT_TRUE(server_->script("A3 big 10000"));
    std::string text;
    EXPECT_EQ(ask("A1", &text), 7);
    EXPECT_EQ(text, std::string("7,split", 8));
    EXPECT_EQ(ask("A2", &text), 8);
    EXPECT_EQ(text, std::string("8,onebyone", 11));
    EXPECT_EQ(ask("A3", &text), 1);
    EXPECT_EQ(text.size(), 10000u);
    EXPECT_EQ(text.substr(0, 4), "1,XX");
    server_->setChunk(7);
    EXPECT_EQ(ask("A3", &text), 1);
    EXPECT_EQ(text.size(), 10000u);
    EXPECT_EQ(server_->connections(), 1);
}

TEST_F(TlsKind, FaultsOfThePeerFailAndTheNextRequestReconnects) {
    ASSERT_TRUE(server_->script("OK 1"));
    ASSERT_TRUE(server_->script("BIG big 1000"));
    ASSERT_TRUE(server_->script("CL close"));
    ASSERT_TRUE(server_->script("NE negative"));
    ASSERT_TRUE(server_->script("SH short 1,cut"));
    struct Case {
        const char *request;
        int error;
    } cases[] = {{"BIG", 234}, {"CL", 10054}, {"NE", 13}, {"SH", 10054}};
    int expectedConnections = 1;
    for (const Case &c : cases) {
        std::string text;
        EXPECT_EQ(ask(c.request, &text, 256), -1) << c.request;
        EXPECT_EQ(errno, c.error) << c.request;
        EXPECT_EQ(plat_GetLastError(), static_cast<uint32_t>(c.error)) << c.request;
        // Nothing is written past the capacity, nor anything of a refused reply.
        EXPECT_EQ(text.substr(256), std::string(16, '#')) << c.request;
        EXPECT_EQ(ask("OK"), 1) << c.request;
        EXPECT_EQ(server_->connections(), ++expectedConnections) << c.request;
    }
}

TEST_F(TlsKind, StalledPeerTimesOut) {
    ASSERT_TRUE(server_->script("ST stall"));
    ASSERT_TRUE(server_->script("OK 1"));
    srv_SetRemoteTimeoutForTests(300);
    auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(ask("ST"), -1);
    EXPECT_EQ(errno, 10060);
    EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(290));
    EXPECT_EQ(ask("OK"), 1);
    EXPECT_EQ(server_->connections(), 2);

    // A peer that takes the connection and never speaks TLS.
    int port = 0;
    int mute = boundSocket(0, true, &port);
    ASSERT_GE(mute, 0);
    spec_ = "tls://127.0.0.2:" + std::to_string(port);
    EXPECT_EQ(ask("OK"), -1);
    EXPECT_EQ(errno, 10060);
    close(mute);
}

TEST_F(TlsKind, FailedHandshakeEndsTheOpen) {
    int port = 0;
    int fd = boundSocket(0, true, &port);
    ASSERT_GE(fd, 0);
    // A peer that takes the connection and drops it at the first bytes of the handshake.
    std::thread peer([fd] {
        int c = accept(fd, nullptr, nullptr);
        char hello[16];
        if (c >= 0 && recv(c, hello, sizeof hello, 0) > 0) close(c);
    });
    spec_ = "tls://127.0.0.2:" + std::to_string(port);
    EXPECT_EQ(ask("OK"), -1);
    EXPECT_EQ(errno, 10054);
    peer.join();
    close(fd);
}

TEST_F(TlsKind, RefusedAndUnknownHosts) {
    int port = 0;
    int fd = boundSocket(0, false, &port); // bound, not listening: connections are refused
    ASSERT_GE(fd, 0);
    spec_ = "tls://127.0.0.2:" + std::to_string(port);
    EXPECT_EQ(ask("OK"), -1);
    EXPECT_EQ(errno, 10061);
    close(fd);
    spec_ = "tls://no-such-host.invalid:5";
    EXPECT_EQ(ask("OK"), -1);
    EXPECT_TRUE(errno == 11001 || errno == 11002) << errno;
}

TEST_F(TlsKind, RsaCertificateFromFiles) {
    TempFolder folder;
    std::string cert, key;
    ASSERT_TRUE(sim_MakeCertificate(true, &cert, &key));
    std::ofstream(folder / "c.pem") << cert;
    std::ofstream(folder / "k.pem") << key;
    SimNetSettings settings;
    settings.certFile = folder / "c.pem";
    settings.keyFile = folder / "k.pem";
    start(settings);
    ASSERT_TRUE(server_->script("OK 3"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(ask("OK"), 3);
    testing::internal::GetCapturedStdout();
}

TEST_F(TlsKind, ThreadsShareTheConnection) {
    ASSERT_TRUE(server_->script("Q 2,ab"));
    testing::internal::CaptureStdout();
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                char reply[16];
                int size = sizeof reply;
                if (srv_Command(spec_.c_str(), "Q", reply, &size) == 2 &&
                    memcmp(reply, "2,ab", 5) == 0)
                    good.fetch_add(1);
            }
        });
    for (std::thread &t : threads)
        t.join();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(good.load(), 200);
    EXPECT_EQ(server_->connections(), 1);
}

TEST_F(TlsKind, WithoutRegistrationKindTwoFailsWith50) {
    srv_RegisterTransport(2, nullptr);
    EXPECT_EQ(ask("OK"), -1);
    EXPECT_EQ(errno, 50);
    EXPECT_EQ(server_->connections(), 0);
    srv_RegisterServerKinds();
}

TEST_F(TlsKind, DefaultPortIs11234) {
    SimNetSettings settings;
    settings.port = 11234;
    auto server = std::make_unique<SimNetEndpoint>(settings);
    // Only this test binds 127.0.0.2:11234; a server that cannot start there is a failure.
    ASSERT_TRUE(server->start()) << "port 11234: " << server->error();
    ASSERT_TRUE(server->script("OK 4"));
    spec_ = "tls://127.0.0.2";
    testing::internal::CaptureStdout();
    EXPECT_EQ(ask("OK"), 4);
    testing::internal::GetCapturedStdout();
}

namespace {
// A resolver that answers 127.0.0.2 at once for "answering", and for any other name only when
// the test lets it, or after its own time-outs (here 5 s) with "host not found".
std::mutex g_resolverLock;
std::condition_variable g_resolverGo;
bool g_resolverMayAnswer = false;

int standInLookup(const char *host, uint32_t *address) {
    std::unique_lock<std::mutex> guard(g_resolverLock);
    if (strcmp(host, "answering") != 0 &&
        !g_resolverGo.wait_for(guard, std::chrono::seconds(5), [] { return g_resolverMayAnswer; }))
        return plat_Fail(11001);
    inet_pton(AF_INET, "127.0.0.2", address);
    return 0;
}
} // namespace

TEST_F(TlsKind, NameLookupCountsAgainstTheConnectDeadline) {
    ASSERT_TRUE(server_->script("OK 1"));
    plat_SetNetLookupForTests(standInLookup);
    srv_SetRemoteTimeoutForTests(300);
    std::string port = std::to_string(server_->port());
    spec_ = "tls://silent:" + port;
    EXPECT_EQ(ask("OK"), -1);
    EXPECT_EQ(errno, 10060);
    EXPECT_EQ(server_->connections(), 0);
    {
        std::lock_guard<std::mutex> guard(g_resolverLock);
        g_resolverMayAnswer = true;
    }
    g_resolverGo.notify_all();
    spec_ = "tls://answering:" + port;
    EXPECT_EQ(ask("OK"), 1);
    plat_SetNetLookupForTests(nullptr);
}
