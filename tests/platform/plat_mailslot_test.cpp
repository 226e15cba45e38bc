#include "plat_error.h"
#include "plat_mailslot.h"
#include "test_ipc.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>

namespace {
class PlatMailslotTest : public ::testing::Test {
protected:
    void SetUp() override { test_UseUniqueIpcPrefix("mailslot"); }
    void TearDown() override { plat_MailslotDestroy(&slot); }
    PlatMailslot slot{-1, -1};
};
} // namespace

TEST_F(PlatMailslotTest, AddressCarriesPrefixAndName) {
    setenv("KVT_IPC_PREFIX", "abc", 1);
    EXPECT_EQ(plat_MailslotAddress("dm_12.slt"), "abc/mailslot/dm_12.slt");
    unsetenv("KVT_IPC_PREFIX");
    EXPECT_EQ(plat_MailslotAddress("x"), "kvt/mailslot/x");
}

TEST_F(PlatMailslotTest, SecondReaderOfANameFailsWithAlreadyExists) {
    ASSERT_EQ(plat_MailslotCreate(&slot, "twice"), 0);
    PlatMailslot other{-1, -1};
    EXPECT_EQ(plat_MailslotCreate(&other, "twice"), -1);
    EXPECT_EQ(errno, 183);
    EXPECT_EQ(other.sock, -1);
}

TEST_F(PlatMailslotTest, ConnectWithoutReaderFailsWithFileNotFound) {
    EXPECT_EQ(plat_MailslotConnect("nobody"), -1);
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(plat_GetLastError(), 2u);
}

TEST_F(PlatMailslotTest, EachSendIsOneWholeMessage) {
    ASSERT_EQ(plat_MailslotCreate(&slot, "whole"), 0);
    int endpoint = plat_MailslotConnect("whole");
    ASSERT_GE(endpoint, 0);
    char big[PLAT_MAILSLOT_MAX_MESSAGE];
    for (int i = 0; i < PLAT_MAILSLOT_MAX_MESSAGE; ++i)
        big[i] = static_cast<char>(i);
    int32_t code = 300;
    EXPECT_EQ(plat_MailslotSend(endpoint, &code, 4), 4);
    EXPECT_EQ(plat_MailslotSend(endpoint, big, sizeof big), PLAT_MAILSLOT_MAX_MESSAGE);
    EXPECT_EQ(plat_MailslotSend(endpoint, big, 7), 7);

    char got[PLAT_MAILSLOT_MAX_MESSAGE] = {};
    EXPECT_EQ(plat_MailslotReceive(&slot, got, sizeof got), 4);
    EXPECT_EQ(memcmp(got, &code, 4), 0);
    EXPECT_EQ(plat_MailslotReceive(&slot, got, sizeof got), PLAT_MAILSLOT_MAX_MESSAGE);
    EXPECT_EQ(memcmp(got, big, sizeof big), 0);
    // A message larger than the buffer reports its true length, so the reader can drop it.
    EXPECT_EQ(plat_MailslotReceive(&slot, got, 4), 7);
    plat_MailslotDisconnect(endpoint);
}

TEST_F(PlatMailslotTest, WakeEndsABlockedReceive) {
    ASSERT_EQ(plat_MailslotCreate(&slot, "wake"), 0);
    int result = 0, error = 0;
    std::thread reader([&] {
        char buffer[8];
        result = plat_MailslotReceive(&slot, buffer, sizeof buffer);
        error = errno;
    });
    plat_MailslotWake(&slot);
    reader.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error, 995);
}

TEST_F(PlatMailslotTest, NameIsFreeAgainOnceTheReaderIsGone) {
    ASSERT_EQ(plat_MailslotCreate(&slot, "again"), 0);
    plat_MailslotDestroy(&slot);
    EXPECT_EQ(plat_MailslotConnect("again"), -1);
    ASSERT_EQ(plat_MailslotCreate(&slot, "again"), 0);
}

TEST_F(PlatMailslotTest, SendToAFullQueueTimesOutWithSemaphoreTimeout) {
    ASSERT_EQ(plat_MailslotCreate(&slot, "full"), 0);
    int endpoint = plat_MailslotConnect("full");
    ASSERT_GE(endpoint, 0);
    char block[PLAT_MAILSLOT_MAX_MESSAGE] = {};
    int result = 0;
    // Nobody reads: the queue fills up and the send gives up after its time-out.
    for (int i = 0; i < 100000 && result >= 0; ++i)
        result = plat_MailslotSend(endpoint, block, sizeof block);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(errno, 121);
    plat_MailslotDisconnect(endpoint);
}
