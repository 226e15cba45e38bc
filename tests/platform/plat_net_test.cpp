// Socket error numbers, deadlines of a connect, and writes to a vanished peer that never
// raise SIGPIPE.
#include "plat_error.h"
#include "plat_net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(PlatNet, SocketErrorsHaveTheirOwnNumbers) {
    struct Case {
        int posix;
        uint32_t win;
    } cases[] = {{ETIMEDOUT, 10060},   {ECONNREFUSED, 10061},  {ECONNRESET, 10054},
                 {EPIPE, 10054},       {ECONNABORTED, 10053},  {EHOSTUNREACH, 10065},
                 {ENETUNREACH, 10051}, {EADDRNOTAVAIL, 10049}, {ENOENT, 2}};
    for (const Case &c : cases)
        EXPECT_EQ(plat_WinErrorFromSocket(c.posix), c.win) << c.posix;
    // The pipe's meanings stay as they were.
    EXPECT_EQ(plat_WinErrorFromPosix(ECONNREFUSED), 2u);
    EXPECT_EQ(plat_WinErrorFromPosix(ETIMEDOUT), 121u);
    EXPECT_EQ(plat_WinErrorFromResolver(EAI_NONAME, 0), 11001u);
    EXPECT_EQ(plat_WinErrorFromResolver(EAI_FAIL, 0), 11001u);
    EXPECT_EQ(plat_WinErrorFromResolver(EAI_AGAIN, 0), 11002u);
    EXPECT_EQ(plat_NetStartup(), 0);
    EXPECT_EQ(plat_NetServicePort("http"), 80);
    EXPECT_EQ(plat_NetServicePort("tls"), 0);
    uint32_t address = 0;
    ASSERT_EQ(plat_NetResolve("127.0.0.2", &address), 0);
    EXPECT_EQ(address, htonl(0x7F000002u));
    // The lookup with a deadline, through the system's resolver (the hosts file answers).
    address = 0;
    ASSERT_EQ(plat_NetResolveBefore("localhost", &address, plat_NowMs() + 10000), 0);
    EXPECT_EQ(address, htonl(0x7F000001u));
    EXPECT_EQ(plat_NetResolveBefore("localhost", &address, plat_NowMs() - 1), -1);
    EXPECT_EQ(errno, 10060);
}

TEST(PlatNet, GuardedWriteToAGonePeerRaisesNothing) {
    struct sigaction before {};
    sigaction(SIGPIPE, nullptr, &before);
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    close(pair[1]);
    {
        PlatSigpipeGuard guard;
        // A library's write, without MSG_NOSIGNAL.
        EXPECT_EQ(write(pair[0], "x", 1), -1);
        EXPECT_EQ(errno, EPIPE);
    }
    EXPECT_EQ(plat_NetSend(pair[0], "x", 1), -1);
    close(pair[0]);
    sigset_t pending, mask;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    EXPECT_EQ(sigismember(&mask, SIGPIPE), 0);
    struct sigaction after {};
    sigaction(SIGPIPE, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

namespace {
bool writeFile(const std::string &path, const char *text) {
    FILE *f = fopen(path.c_str(), "w");
    if (f == nullptr) return false;
    bool ok = fputs(text, f) >= 0;
    return fclose(f) == 0 && ok;
}

// The child's own network, holding only its loopback, and its own view of the resolver's
// files: whatever the lookup does, nothing leaves this machine.
int isolateResolver(const std::string &dir) {
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) return 10;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 11;
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq lo{};
    snprintf(lo.ifr_name, sizeof lo.ifr_name, "lo");
    if (s < 0 || ioctl(s, SIOCGIFFLAGS, &lo) != 0) return 12;
    lo.ifr_flags |= IFF_UP;
    if (ioctl(s, SIOCSIFFLAGS, &lo) != 0) return 13;
    close(s);
    const std::string resolv = dir + "/resolv.conf", nss = dir + "/nsswitch.conf";
    if (!writeFile(resolv, "nameserver 127.0.0.1\noptions timeout:5 attempts:1\n") ||
        !writeFile(nss, "hosts: dns\n"))
        return 14;
    if (mount(resolv.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0) return 15;
    if (mount(nss.c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) != 0) return 16;
    return 0;
}
// The lookup of the test below, in a process of its own from its start: the C library's
// resolver threads do not survive a fork, so a forked child of a process that has resolved
// before would queue its question for a thread that is not there.
int lookupWithSilentNameServer(const std::string &dir) {
    alarm(60); // a lookup that waits for the resolver's own time-outs ends here, failed
    if (int rc = isolateResolver(dir)) return rc;
    // A name server that takes every question and answers none.
    int stub = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(53);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (stub < 0 || bind(stub, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) return 20;
    uint32_t address = 0;
    errno = 0;
    if (plat_NetResolveBefore("kvt-silent.invalid", &address, plat_NowMs() + 300) != -1) return 21;
    if (errno != 10060 || plat_GetLastError() != 10060) return 22;
    // The question reached the stub: the system's resolver was the one that waited.
    pollfd asked{stub, POLLIN, 0};
    return poll(&asked, 1, 10000) == 1 ? 0 : 23;
}

const char k_resolverChild[] = "KVT_TEST_SILENT_RESOLVER_DIR";

// Runs before main in the test program started again by the test below.
[[maybe_unused]] const int k_resolverChildRun = [] {
    if (const char *dir = getenv(k_resolverChild)) _exit(lookupWithSilentNameServer(dir));
    return 0;
}();
} // namespace

TEST(PlatNet, SystemResolverThatNeverAnswersEndsAtTheDeadline) {
    char tmpl[] = "/tmp/kvt_resolver_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setenv(k_resolverChild, dir.c_str(), 1);
        execl("/proc/self/exe", "test_plat_net", static_cast<char *>(nullptr));
        _exit(30);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    std::string cmd = "rm -rf '" + dir + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}
