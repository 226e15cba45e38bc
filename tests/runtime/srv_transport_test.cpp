// Connection kinds other than the pipe, the table's life rules, and what requests fall back
// on when no server runs.
#include "env.h"
#include "plat_debugout.h"
#include "plat_error.h"
#include "srv.h"
#include "temp_registry.h"
#include "test_ipc.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {
std::vector<std::string> g_opened;
std::vector<std::string> g_sent;
int g_closed = 0;
bool g_failNext = false;

int fakeOpen(ServerConnection *entry) {
    g_opened.push_back(entry->name);
    entry->handle = &g_closed;
    return 1;
}

int fakeTransact(ServerConnection *, const char *request, int length, char *reply, int *size) {
    g_sent.emplace_back(request, static_cast<size_t>(length));
    if (g_failNext) {
        g_failNext = false;
        plat_SetLastError(10054);
        return 0;
    }
    const char answer[] = "42";
    if (*size < 3) return 0;
    memcpy(reply, answer, 3);
    *size = 3;
    return 1;
}

void fakeClose(ServerConnection *entry) {
    ++g_closed;
    entry->handle = nullptr;
}

const ServerTransport k_fake = {fakeOpen, fakeTransact, fakeClose, 0};
const ServerTransport k_keeping = {fakeOpen, fakeTransact, fakeClose, 1};

std::vector<std::string> g_debug;
void captureDebug(const char *text) {
    g_debug.push_back(text);
}

class SrvTransport : public ::testing::Test {
protected:
    void SetUp() override {
        test_UseUniqueIpcPrefix("srvkind");
        g_opened.clear();
        g_sent.clear();
        g_closed = 0;
        g_failNext = false;
        setenv("KVT_CURRENT_CONFIG", registry_.folder().path().c_str(), 1);
    }
    void TearDown() override {
        srv_CloseAll();
        srv_RegisterTransport(2, nullptr);
        unsetenv("KVT_CURRENT_CONFIG");
    }
    void writeConfig(const char *name, const char *text) {
        std::ofstream(registry_.folder() / name) << text;
    }
    TempRegistry registry_;
};
} // namespace

TEST_F(SrvTransport, RegisteredKindTwoGetsTheSpecAndTheRequest) {
    srv_RegisterTransport(2, &k_fake);
    char reply[16];
    int size = sizeof reply;
    EXPECT_EQ(srv_Command("tls://127.0.0.2:1", "QL", reply, &size), 42);
    ASSERT_EQ(g_opened.size(), 1u);
    EXPECT_EQ(g_opened[0], "tls://127.0.0.2:1");
    EXPECT_EQ(g_sent, std::vector<std::string>{std::string("QL", 3)});
    // The same server, spelt in another case, is the same connection.
    size = sizeof reply;
    EXPECT_EQ(srv_Command("TLS://127.0.0.2:1", "QL", reply, &size), 42);
    EXPECT_EQ(g_opened.size(), 1u);
}

TEST_F(SrvTransport, UnregisteredKindFailsWith50WithoutTryingToConnect) {
    char reply[16];
    int size = sizeof reply;
    EXPECT_EQ(srv_Command("tls://127.0.0.2:1", "QL", reply, &size), -1);
    EXPECT_EQ(errno, 50);
    EXPECT_EQ(plat_GetLastError(), 50u);
    EXPECT_TRUE(g_opened.empty());
    EXPECT_EQ(srv_IsReachable("tls://127.0.0.2:1"), 0);
}

TEST_F(SrvTransport, FailedExchangeClosesUnlessTheKindKeepsIt) {
    srv_RegisterTransport(2, &k_fake);
    char reply[16];
    int size = sizeof reply;
    g_failNext = true;
    EXPECT_EQ(srv_Command("tls://h:1", "QL", reply, &size), -1);
    EXPECT_EQ(errno, 10054);
    EXPECT_EQ(g_closed, 1);
    size = sizeof reply;
    EXPECT_EQ(srv_Command("tls://h:1", "QL", reply, &size), 42);
    EXPECT_EQ(g_opened.size(), 2u);

    srv_RegisterTransport(2, &k_keeping);
    g_failNext = true;
    size = sizeof reply;
    EXPECT_EQ(srv_Command("tls://h:1", "QL", reply, &size), -1);
    EXPECT_EQ(g_closed, 1);
    size = sizeof reply;
    EXPECT_EQ(srv_Command("tls://h:1", "QL", reply, &size), 42);
    EXPECT_EQ(g_opened.size(), 2u);
}

TEST_F(SrvTransport, AbsentServerIsTracedAndFailsWith2) {
    g_debug.clear();
    PlatDebugOutputHook old = plat_SetDebugOutputHook(captureDebug);
    EXPECT_EQ(srv_DisableProcessor(nullptr, "P1"), -1);
    EXPECT_EQ(errno, 2);
    plat_SetDebugOutputHook(old);
    ASSERT_EQ(g_debug.size(), 1u);
    EXPECT_EQ(g_debug[0], ">>. Opening pipe connection\r\n");
}

TEST_F(SrvTransport, RemoteComputerCannotBeReached) {
    EXPECT_EQ(srv_DisableProcessor("Local", "P1"), -1);
    EXPECT_EQ(errno, 53);
}

TEST_F(SrvTransport, CountsFallBackOnTheDefinitionFiles) {
    writeConfig("DATPROC.TXT", "* processors\nP1,ONE,A-AI:10,run\nP2\n\nP3,,D-DI:4\n");
    writeConfig("LOGCAP.TXT", "hist\ntrend\n");
    EXPECT_EQ(srv_CountProcessors("."), 3);
    EXPECT_EQ(srv_CountLoggers("."), 2);
    // Requests without a fallback just fail.
    EXPECT_EQ(srv_SendRL(".", "x"), -1);
}

TEST_F(SrvTransport, ProcessorSelectorsFallBackOnTheDefinitionFile) {
    writeConfig("DATPROC.TXT", "P1,ONE,A-AI:10,run\nP2,,X-AI:3\nPROCESS3,THIRD,D-DI:4\n");
    ProcessorRecord table[4];
    // Records that fail the checks are stored and counted by "*,<n>".
    EXPECT_EQ(srv_GetProcessors(".", "*,9", table, 4), 3);
    EXPECT_STREQ(table[0].printName, "ONE");
    EXPECT_EQ(table[0].count, 10);
    EXPECT_EQ(srv_GetProcessors(".", "*,2", table, 4), 2);
    EXPECT_EQ(srv_GetProcessors(".", "*,9", table, 1), 1);
    // ... while "<k>" and a name return the checks' result.
    EXPECT_EQ(srv_GetProcessors(".", "2", table, 4), -2);
    EXPECT_EQ(srv_GetProcessors(".", "3", table, 4), 1);
    EXPECT_STREQ(table[0].name, "PROCESS3");
    EXPECT_EQ(srv_GetProcessors(".", "third", table, 4), 1);
    EXPECT_STREQ(table[0].name, "PROCESS3");
    EXPECT_EQ(srv_GetProcessors(".", "processXYZ", table, 4), 1);
    EXPECT_STREQ(table[0].name, "PROCESS3");
    EXPECT_EQ(srv_GetProcessors(".", "nothing", table, 4), 0);
}

TEST_F(SrvTransport, NoDefinitionFileNoFallback) {
    EXPECT_EQ(srv_CountProcessors("."), -1);
    ProcessorRecord table[1];
    EXPECT_EQ(srv_GetProcessors(".", "*,1", table, 1), -1);
}

TEST_F(SrvTransport, FolderOfARemoteServer) {
    setenv("KVT_TRANSLATIONS", "/from/env", 1);
    EXPECT_EQ(srv_ResolveFolder("SERVER", "KVT_TRANSLATIONS"), "/from/env");
    unsetenv("KVT_TRANSLATIONS");
    std::string path = srv_ResolveFolder("SERVER", "KVT_TRANSLATIONS");
    EXPECT_EQ(path.rfind("\\\\SERVER\\", 0), 0u) << path;
    EXPECT_EQ(path.substr(path.size() - 13), "\\TRANSLATIONS");
    EXPECT_EQ(srv_ResolveFolder("SERVER", "WEBDATA"), "\\\\SERVER\\WEBDATA");
    EXPECT_EQ(srv_ResolveFolder(".", "KVT_CURRENT_CONFIG"), registry_.folder().path());
}

TEST_F(SrvTransport, FolderBesideAnInProcessServer) {
    std::string base = registry_.folder().path();
    std::string loggers = base + "/LOGGERS";
    ASSERT_EQ(mkdir(loggers.c_str(), 0777), 0);
    std::ofstream(loggers + "/a.xml") << "x";
    ASSERT_EQ(mkdir((base + "/db").c_str(), 0777), 0);
    // As the configuration library classifies a path: an in-process server.
    srv_SetSpecClassifier(
        [](const char *spec) { return spec != nullptr && spec[0] == '/' ? 3 : 0; });
    std::string spec = base + "/db/store.mdb";
    EXPECT_EQ(srv_ResolveFolder(spec.c_str(), "KVT_LOGGERS"), loggers);
    EXPECT_EQ(srv_ResolveFolder(spec.c_str(), "KVT_LOGGED_DATA"), spec);
    // No level holds the folder: the local one.
    EXPECT_EQ(srv_ResolveFolder(spec.c_str(), "KVT_WEBHMI"), env_GetFolder("KVT_WEBHMI"));
    srv_SetSpecClassifier(nullptr);
}
