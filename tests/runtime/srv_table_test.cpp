// The table's limit: a process talks to at most 100 servers, and entries are never freed.
#include "plat_error.h"
#include "srv.h"
#include "test_ipc.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>

namespace {
int openAlways(ServerConnection *) {
    return 1;
}
int answerOne(ServerConnection *, const char *, int, char *reply, int *size) {
    reply[0] = '1';
    reply[1] = '\0';
    *size = 2;
    return 1;
}
void closeNothing(ServerConnection *) {}
const ServerTransport k_fake = {openAlways, answerOne, closeNothing, 0};
} // namespace

TEST(SrvTable, HundredServersFillTheTable) {
    test_UseUniqueIpcPrefix("srvtable");
    srv_RegisterTransport(2, &k_fake);
    char reply[16];
    for (int i = 0; i < SRV_TABLE_SIZE; ++i) {
        std::string spec = "tls://server" + std::to_string(i) + ":1";
        int size = sizeof reply;
        ASSERT_EQ(srv_Command(spec.c_str(), "QL", reply, &size), 1) << i;
    }
    int size = sizeof reply;
    EXPECT_EQ(srv_Command("tls://one-too-many:1", "QL", reply, &size), -1);
    EXPECT_EQ(errno, 4);
    EXPECT_EQ(plat_GetLastError(), 4u);
    // Closed entries keep their names: a known server is still served.
    srv_CloseAll();
    size = sizeof reply;
    EXPECT_EQ(srv_Command("tls://server7:1", "QL", reply, &size), 1);
    srv_RegisterTransport(2, nullptr);
}
