#include "plat_error.h"
#include "plat_pipe.h"
#include "test_ipc.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {
class PipeTest : public ::testing::Test {
protected:
    void SetUp() override {
        test_UseUniqueIpcPrefix("pipe");
        ASSERT_EQ(plat_PipeServerCreate(&server_, "trellane"), 0);
    }
    void TearDown() override {
        if (client_ >= 0) plat_PipeClose(client_);
        if (served_ >= 0) plat_PipeClose(served_);
        plat_PipeServerDestroy(&server_);
    }
    void connect() {
        client_ = plat_PipeOpen("\\\\.\\pipe\\trellane");
        ASSERT_GE(client_, 0);
        served_ = plat_PipeServerAccept(&server_);
        ASSERT_GE(served_, 0);
    }
    // Serves one request with the given reply bytes in a thread of its own.
    std::thread answer(std::string reply) {
        return std::thread([this, reply] {
            char buffer[256];
            if (plat_PipeReceive(served_, buffer, sizeof buffer) > 0)
                plat_PipeSend(served_, reply.data(), static_cast<int>(reply.size()));
        });
    }
    PlatPipeServer server_{-1, -1};
    int client_ = -1;
    int served_ = -1;
};
} // namespace

TEST_F(PipeTest, OneRequestOnePacketEachWay) {
    connect();
    std::thread t = answer(std::string("5\0", 2));
    char reply[16];
    int size = sizeof reply;
    ASSERT_EQ(plat_PipeTransact(client_, "QL", 3, reply, &size), 0);
    t.join();
    EXPECT_EQ(size, 2);
    EXPECT_STREQ(reply, "5");
}

TEST_F(PipeTest, ReplyLargerThanBufferFailsWith234AndKeepsItsStart) {
    connect();
    std::thread t = answer(std::string(40, 'A'));
    char reply[16];
    int size = sizeof reply;
    EXPECT_EQ(plat_PipeTransact(client_, "QL", 3, reply, &size), -1);
    t.join();
    EXPECT_EQ(errno, 234);
    EXPECT_EQ(plat_GetLastError(), 234u);
    EXPECT_EQ(size, 16);
    EXPECT_EQ(std::string(reply, 16), std::string(16, 'A'));
}

TEST_F(PipeTest, EmptyPacketIsAnEmptyReplyButAClosedServerIsABrokenPipe) {
    connect();
    std::thread t = answer("");
    char reply[16];
    int size = sizeof reply;
    ASSERT_EQ(plat_PipeTransact(client_, "QL", 3, reply, &size), 0);
    t.join();
    EXPECT_EQ(size, 0);

    std::thread closer([this] {
        char buffer[16];
        plat_PipeReceive(served_, buffer, sizeof buffer);
        plat_PipeShutdown(served_);
    });
    size = sizeof reply;
    EXPECT_EQ(plat_PipeTransact(client_, "QL", 3, reply, &size), -1);
    closer.join();
    EXPECT_EQ(errno, 109);
    size = sizeof reply;
    EXPECT_EQ(plat_PipeTransact(client_, "QL", 3, reply, &size), -1);
    EXPECT_EQ(errno, 109);
}

TEST_F(PipeTest, OpenRulesForComputerAndListener) {
    EXPECT_EQ(plat_PipeOpen("\\\\SERVER\\pipe\\trellane"), -1);
    EXPECT_EQ(errno, 53);
    EXPECT_EQ(plat_PipeOpen("\\\\\\\\SERVER\\pipe\\trellane"), -1);
    EXPECT_EQ(errno, 53);
    EXPECT_EQ(plat_PipeOpen("\\\\.\\pipe\\nobody"), -1);
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(plat_PipeOpen("\\\\.\\mailslot\\trellane"), -1);
    EXPECT_EQ(errno, 123);
    int fd = plat_PipeOpen("//./pipe/trellane");
    EXPECT_GE(fd, 0);
    plat_PipeClose(fd);
}

TEST_F(PipeTest, SecondServerOnTheSameNameIsRefused) {
    PlatPipeServer other;
    EXPECT_EQ(plat_PipeServerCreate(&other, "trellane"), -1);
    EXPECT_EQ(errno, 183);
}

TEST_F(PipeTest, WakeEndsAnAcceptThatWaits) {
    std::thread t([this] { plat_PipeServerWake(&server_); });
    EXPECT_EQ(plat_PipeServerAccept(&server_), -1);
    EXPECT_EQ(errno, 995);
    t.join();
}
