// Socket error numbers, deadlines of a connect, and writes to a vanished peer that never
// raise SIGPIPE.
#include "plat_error.h"
#include "plat_net.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>
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
