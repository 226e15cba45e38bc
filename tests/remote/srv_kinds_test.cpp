// How the configuration library classifies server specs, registers its connection kinds and
// talks to an in-process request server.
#include "plat_error.h"
#include "srv.h"
#include "srv_kinds.h"
#include "test_ipc.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {
// A scripted in-process server: records what it is given and answers by the request text.
struct FakeLog {
    std::mutex lock;
    std::vector<std::string> opened;
    std::vector<std::string> requests;
    std::vector<int> capacities;
    int created = 0;
    int closed = 0;
    int destroyed = 0;
    std::atomic<int> inside{0};
    std::atomic<int> overlapped{0};
};
FakeLog *g_log = nullptr;

class FakeServer : public LocalDataServer {
public:
    ~FakeServer() override {
        std::lock_guard<std::mutex> guard(g_log->lock);
        ++g_log->destroyed;
    }
    int Open(const char *spec) override {
        std::lock_guard<std::mutex> guard(g_log->lock);
        g_log->opened.push_back(spec);
        if (strstr(spec, "missing") != nullptr) {
            plat_SetLastError(WERR_PATH_NOT_FOUND);
            return -1;
        }
        return 0;
    }
    int HandleRequest(const char *request, int requestLength, char *reply, int capacity,
                      int *replyLength) override {
        if (g_log->inside.fetch_add(1) != 0) g_log->overlapped.fetch_add(1);
        std::string text(request, static_cast<size_t>(requestLength));
        {
            std::lock_guard<std::mutex> guard(g_log->lock);
            g_log->requests.push_back(text);
            g_log->capacities.push_back(capacity);
        }
        std::this_thread::yield();
        g_log->inside.fetch_sub(1);
        std::string answer;
        if (text.rfind("NO", 0) == 0) return 0;
        if (text.rfind("BAD", 0) == 0) {
            plat_SetLastError(WERR_FILE_NOT_FOUND);
            return -1;
        }
        if (text.rfind("LIE", 0) == 0) {
            // Claims more than it may write: the transport must not trust it.
            *replyLength = capacity + 10;
            return 1;
        }
        answer = text.rfind("BIG", 0) == 0 ? std::string(40, '7') : std::string("5,ok", 5);
        if (static_cast<int>(answer.size()) > capacity) {
            plat_SetLastError(WERR_MORE_DATA);
            return -1;
        }
        memcpy(reply, answer.data(), answer.size());
        *replyLength = static_cast<int>(answer.size());
        return 1;
    }
    void Close() override {
        std::lock_guard<std::mutex> guard(g_log->lock);
        ++g_log->closed;
    }
};

LocalDataServer *makeFake() {
    std::lock_guard<std::mutex> guard(g_log->lock);
    ++g_log->created;
    return new FakeServer;
}

class SrvKinds : public ::testing::Test {
protected:
    void SetUp() override {
        test_UseUniqueIpcPrefix("srvkinds");
        g_log = &log_;
        srv_SetLocalDataCloseDelay(0);
    }
    void TearDown() override {
        srv_RegisterServerKinds();
        srv_SetLocalDataServerFactory(makeFake);
        srv_CloseAll();
        srv_SetLocalDataServerFactory(nullptr);
        srv_SetLocalDataCloseDelay(-1);
        for (int kind = 2; kind <= 4; ++kind)
            srv_RegisterTransport(kind, nullptr);
        srv_SetSpecClassifier(nullptr);
        g_log = nullptr;
    }
    FakeLog log_;
};
} // namespace

TEST_F(SrvKinds, SpecsAreClassifiedInTheConfigurationLibraryOrder) {
    struct Case {
        const char *spec;
        int withClassifier;
        int without;
    } cases[] = {
        {"PROVIDER=SQLOLEDB;Data Source=x", 3, 1},
        {"provider=sqlite;x", 3, 1},
        {"C:\\data\\LINE", 3, 1},
        {"x://h", 3, 2},            // a one-letter scheme reads as a drive
        {"\\\\SERVER\\data", 3, 1}, // UNC
        {"/data/LINE", 3, 1},       // a folder of this system
        {"file:///data/LINE", 3, 3},
        {"http://h:8080", 4, 4},
        {"https://user:p@ss@127.0.0.2:443/app", 4, 4},
        {"tls://127.0.0.2:5", 2, 2},
        {"https://localhost/x", 1, 1},
        {"tls://127.0.0.1:9", 1, 1},
        {"PLANT7", 1, 1},
        {".", 1, 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(srv_ServerKind(c.spec), c.without) << c.spec;
    srv_RegisterServerKinds();
    srv_RegisterServerKinds(); // repeating it changes nothing
    for (const Case &c : cases)
        EXPECT_EQ(srv_ServerKind(c.spec), c.withClassifier) << c.spec;
}

TEST_F(SrvKinds, KindThreeNeedsTheRegistrationAndAFactory) {
    srv_SetSpecClassifier(srv_ClassifySpec);
    char reply[32];
    int size = sizeof reply;
    EXPECT_EQ(srv_Command("/data/LINE", "QL", reply, &size), -1);
    EXPECT_EQ(errno, 50);
    srv_RegisterServerKinds();
    size = sizeof reply;
    EXPECT_EQ(srv_Command("/data/LINE", "QL", reply, &size), -1);
    EXPECT_EQ(errno, 50);
    EXPECT_EQ(plat_GetLastError(), 50u);
    srv_SetLocalDataServerFactory(makeFake);
    size = sizeof reply;
    EXPECT_EQ(srv_Command("/data/LINE", "QL", reply, &size), 5);
    EXPECT_EQ(log_.created, 1);
}

TEST_F(SrvKinds, InProcessExchanges) {
    srv_RegisterServerKinds();
    srv_SetLocalDataServerFactory(makeFake);
    const char *spec = "/data/LINE";
    char reply[32];
    memset(reply, '#', sizeof reply);
    int size = 20;
    // The exact bytes both ways, and the caller's capacity.
    const char request[] = "RF,a\0b";
    EXPECT_EQ(srv_Transact(spec, request, sizeof request, reply, &size), 5);
    EXPECT_EQ(size, 5);
    EXPECT_EQ(std::string(reply, 6), std::string("5,ok\0#", 6));
    ASSERT_EQ(log_.requests.size(), 1u);
    EXPECT_EQ(log_.requests[0], std::string(request, sizeof request));
    EXPECT_EQ(log_.capacities[0], 20);
    EXPECT_EQ(log_.opened, std::vector<std::string>{spec});

    // A reply beyond the capacity: 234, nothing written past it, and the server stays.
    memset(reply, '#', sizeof reply);
    size = 20;
    EXPECT_EQ(srv_Command(spec, "BIG", reply, &size), -1);
    EXPECT_EQ(errno, 234);
    EXPECT_EQ(reply[0], '#');
    size = 20;
    EXPECT_EQ(srv_Command(spec, "LIE", reply, &size), -1);
    EXPECT_EQ(errno, 234);

    // 0 and -1 are failed exchanges; the server's error, else 232.
    size = 20;
    EXPECT_EQ(srv_Command(spec, "BAD", reply, &size), -1);
    EXPECT_EQ(errno, 2);
    size = 20;
    EXPECT_EQ(srv_Command(spec, "NO", reply, &size), -1);
    EXPECT_EQ(errno, 232);
    EXPECT_EQ(plat_GetLastError(), 232u);
    EXPECT_EQ(log_.created, 1);
    EXPECT_EQ(log_.closed, 0);

    // A file URL goes to the server unchanged; one that fails to open leaves nothing open.
    size = 20;
    EXPECT_EQ(srv_Command("file:///missing/x", "QL", reply, &size), -1);
    EXPECT_EQ(errno, 3);
    EXPECT_EQ(log_.opened.back(), "file:///missing/x");
    EXPECT_EQ(log_.created, 2);
    EXPECT_EQ(log_.destroyed, 1);

    srv_Close(spec);
    EXPECT_EQ(log_.closed, 1);
    EXPECT_EQ(log_.destroyed, 2);
}

TEST_F(SrvKinds, ThreadsShareOneServerPerSpec) {
    srv_RegisterServerKinds();
    srv_SetLocalDataServerFactory(makeFake);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&good] {
            for (int i = 0; i < 50; ++i) {
                char reply[16];
                int size = sizeof reply;
                if (srv_Command("C:\\data", "QL", reply, &size) == 5) good.fetch_add(1);
            }
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(good.load(), 400);
    EXPECT_EQ(log_.created, 1);
    // The entry lock keeps exchanges apart.
    EXPECT_EQ(log_.overlapped.load(), 0);
}
