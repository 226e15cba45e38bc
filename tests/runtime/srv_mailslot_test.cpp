// Platform id 1: requests go to the server's request mailslot and replies come back in
// acknowledged chunks. The server here is the test's own, sending with srv_WriteChunked.
#include "plat_error.h"
#include "plat_mailslot.h"
#include "plat_system.h"
#include "srv.h"
#include "test_ipc.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {
// Serves one request per call of serveOne: reads it, answers with the reply given.
class MailslotServer {
public:
    MailslotServer() {
        EXPECT_EQ(plat_MailslotCreate(&requests_, SRV_REQUEST_MAILSLOT), 0);
        EXPECT_EQ(plat_MailslotCreate(&acks_, SRV_ACK_MAILSLOT), 0);
    }
    ~MailslotServer() {
        plat_MailslotDestroy(&requests_);
        plat_MailslotDestroy(&acks_);
    }
    // The request text and the reply mailslot it named; the reply sent in chunks.
    void serveOne(const std::string &reply) {
        std::vector<char> buffer(4096);
        int got = plat_MailslotReceive(&requests_, buffer.data(), 4096);
        ASSERT_GE(got, 8);
        request = std::string(buffer.data(), static_cast<size_t>(got - 8));
        int32_t ids[2];
        memcpy(ids, buffer.data() + got - 8, 8);
        char name[32];
        snprintf(name, sizeof name, "%X\\%X", static_cast<uint32_t>(ids[0]),
                 static_cast<uint32_t>(ids[1]));
        replySlot = name;
        int out = plat_MailslotConnect(name);
        ASSERT_GE(out, 0);
        int written = 0;
        EXPECT_EQ(
            srv_WriteChunked(out, &acks_, reply.data(), static_cast<int>(reply.size()), &written),
            1);
        EXPECT_EQ(written, static_cast<int>(reply.size()));
        plat_MailslotDisconnect(out);
    }
    std::string request;
    std::string replySlot;

private:
    PlatMailslot requests_{-1, -1};
    PlatMailslot acks_{-1, -1};
};

class SrvMailslot : public ::testing::Test {
protected:
    void SetUp() override {
        test_UseUniqueIpcPrefix("srvmsl");
        plat_OverridePlatformId(1);
    }
    void TearDown() override {
        srv_CloseAll();
        plat_OverridePlatformId(0);
    }
};
} // namespace

TEST_F(SrvMailslot, RequestAndReplyThroughTheMailslots) {
    MailslotServer server;
    std::thread t([&] { server.serveOne(std::string("7\0", 2)); });
    EXPECT_EQ(srv_CountLoggers("."), 7);
    t.join();
    EXPECT_EQ(server.request, std::string("QL\0", 3));
    char expected[32];
    snprintf(expected, sizeof expected, "%X\\%X", plat_ProcessId(), plat_ThreadId());
    EXPECT_EQ(server.replySlot, expected);
}

TEST_F(SrvMailslot, LongReplyArrivesInThreeChunks) {
    MailslotServer server;
    std::string reply = "1,";
    reply.append(9997, 'x');
    reply += '\0'; // 10000 bytes: 4089 + 4093 + 1818
    std::thread t([&] { server.serveOne(reply); });
    std::vector<char> buffer(SRV_MAILSLOT_REPLY_SIZE);
    int size = SRV_MAILSLOT_REPLY_SIZE;
    EXPECT_EQ(srv_Command(".", "TL,*,1", buffer.data(), &size), 1);
    t.join();
    EXPECT_EQ(size, 10000);
    EXPECT_EQ(std::string(buffer.data(), 10000), reply);
}

TEST_F(SrvMailslot, ReplyLargerThanTheCapacityIsDrainedAndFailsWith234) {
    MailslotServer server;
    std::string big(9000, '5');
    std::thread t([&] { server.serveOne(big); });
    std::vector<char> buffer(4200, 'z');
    int size = 100;
    EXPECT_EQ(srv_Command(".", "QP,", buffer.data(), &size), -1);
    t.join();
    EXPECT_EQ(errno, 234);
    EXPECT_EQ(buffer[100], 'z');
    // The connection was closed and opens again for the next request.
    std::thread again([&] { server.serveOne(std::string("3\0", 2)); });
    EXPECT_EQ(srv_CountLoggers("."), 3);
    again.join();
}

TEST_F(SrvMailslot, ChunkSizes) {
    PlatMailslot out, ack;
    ASSERT_EQ(plat_MailslotCreate(&out, "chunks"), 0);
    ASSERT_EQ(plat_MailslotCreate(&ack, "chunkack"), 0);
    int endpoint = plat_MailslotConnect("chunks");
    int ackEndpoint = plat_MailslotConnect("chunkack");
    std::vector<int> sizes;
    std::thread reader([&] {
        std::vector<char> buffer(8192);
        int total = 0, want = -1;
        while (want < 0 || total < want) {
            int got = plat_MailslotReceive(&out, buffer.data(), 8192);
            sizes.push_back(got);
            if (want < 0) {
                memcpy(&want, buffer.data(), 4);
                total += got - 4;
            } else {
                total += got;
            }
            plat_MailslotSend(ackEndpoint, " ", 1);
        }
    });
    std::string data(10000, 'd');
    int written = 0;
    EXPECT_EQ(srv_WriteChunked(endpoint, &ack, data.data(), 10000, &written), 1);
    reader.join();
    EXPECT_EQ(sizes, (std::vector<int>{4093, 4093, 1818}));
    plat_MailslotDisconnect(endpoint);
    plat_MailslotDisconnect(ackEndpoint);
    plat_MailslotDestroy(&out);
    plat_MailslotDestroy(&ack);
}

TEST_F(SrvMailslot, NoServerMailslotFailsWith2) {
    EXPECT_EQ(srv_DisableProcessor(".", "P"), -1);
    EXPECT_EQ(errno, 2);
}
