// The command client against the runtime stand-in's pipe: the exact line each request sends
// and what it makes of the reply.
#include "pipe_server.h"
#include "plat_error.h"
#include "plat_prompt.h"
#include "reg.h"
#include "plat_system.h"
#include "srv.h"
#include "xml.h"
#include "temp_registry.h"
#include "test_ipc.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {
std::string line(const char *text) {
    return std::string(text, strlen(text) + 1);
}

class SrvRequests : public ::testing::Test {
protected:
    void SetUp() override {
        test_UseUniqueIpcPrefix("srvreq");
        ASSERT_TRUE(server_.start());
    }
    void TearDown() override {
        srv_CloseAll();
        server_.stop();
    }
    void expectSent(std::vector<std::string> lines) {
        EXPECT_EQ(server_.requests(), lines);
        server_.clearRequests();
    }
    TempRegistry registry_;
    PipeServer server_;
};

} // namespace

TEST_F(SrvRequests, ResultReplyClearsTheLastError) {
    server_.script("reply DP,P1 5");
    plat_SetLastError(77);
    EXPECT_EQ(srv_DisableProcessor(nullptr, "P1"), 5);
    EXPECT_EQ(plat_GetLastError(), 0u);
    expectSent({line("DP,P1")});
}

TEST_F(SrvRequests, ErrorRepliesSetErrnoAndTheLastError) {
    server_.script("reply EP,A -1,2");
    server_.script("reply EP,B -1");
    server_.script("reply EP,C -1,1465,Bad channel file");
    server_.script("reply EP,D -1,1465");
    xml_ClearError();
    xml_SetError(5, "an earlier local failure");
    EXPECT_EQ(srv_EnableProcessor(".", "A"), -1);
    EXPECT_EQ(errno, 2);
    EXPECT_EQ(plat_GetLastError(), 2u);
    EXPECT_EQ(srv_EnableProcessor(".", "B"), -1);
    EXPECT_EQ(errno, 0);
    // The configuration message of a 1465 that fits the 16-byte reply.
    server_.script("reply EP,C -1,1465,Bad");
    EXPECT_EQ(srv_EnableProcessor(".", "C"), -1);
    EXPECT_EQ(errno, 1465);
    EXPECT_EQ(xml_GetError(), 1465);
    EXPECT_STREQ(xml_GetErrorMessage(), "Bad");
    EXPECT_EQ(srv_EnableProcessor(".", "D"), -1);
    EXPECT_STREQ(xml_GetErrorMessage(), "");
    xml_ClearError();
}

TEST_F(SrvRequests, ErrorTextTooLongForTheReplyFailsWith234AndReopens) {
    server_.script("reply EP,C -1,1465,Bad channel file");
    EXPECT_EQ(srv_EnableProcessor(".", "C"), -1);
    EXPECT_EQ(errno, 234);
    server_.script("reply EP,C 1");
    EXPECT_EQ(srv_EnableProcessor(".", "C"), 1);
    EXPECT_EQ(server_.connections(), 2);
}

TEST_F(SrvRequests, EveryLocalSpecReachesTheLocalPipe) {
    server_.script("reply DP, 1");
    std::string computer = plat_ComputerName();
    for (const char *spec : {(const char *)nullptr, "", ".", "localhost", "127.0.0.1",
                             computer.c_str(), "https://localhost/x"})
        EXPECT_EQ(srv_DisableProcessor(spec, "P"), 1) << (spec ? spec : "null");
    EXPECT_EQ(server_.connections(), 1);
}

TEST_F(SrvRequests, ProcessorCommandsAndTheirActionLetters) {
    server_.script("reply CP, 1");
    EXPECT_EQ(srv_CommandProcessor(".", "P1", 'i'), 1);
    EXPECT_EQ(srv_CommandProcessor(".", "P1", 'R'), 1);
    EXPECT_EQ(srv_CommandProcessor(".", "P1", 300), 1);
    EXPECT_EQ(srv_CommandProcessor(".", "P1", 'c'), 1);
    errno = 5;
    EXPECT_EQ(srv_CommandProcessor(".", "P1", 'x'), -1);
    EXPECT_EQ(errno, 0);
    expectSent({line("CP,P1,I"), line("CP,P1,R"), line("CP,P1,300"), line("CP,P1,C")});
}

TEST_F(SrvRequests, LoggerCommands) {
    server_.script("reply CL, 1");
    server_.script("reply DL,LOG1, 2");
    server_.script("reply EL,LOG1, 3");
    EXPECT_EQ(srv_CommandLogger(".", "LOG1", 'f'), 1);
    EXPECT_EQ(srv_CommandLogger(".", "LOG1", 's'), 1);
    EXPECT_EQ(srv_CommandLogger(".", "LOG1", 256), 1);
    EXPECT_EQ(srv_CommandLogger(".", "LOG1", 'C'), -1);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(srv_DisableLogger(".", "LOG1"), 2);
    EXPECT_EQ(srv_EnableLogger(".", "LOG1"), 3);
    std::string user = plat_UserName();
    expectSent({line("CL,LOG1,F"), line("CL,LOG1,S"), line("CL,LOG1,256"),
                line(("DL,LOG1," + user).c_str()), line(("EL,LOG1," + user).c_str())});
}

TEST_F(SrvRequests, PairRequestsAndCounts) {
    server_.script("reply YL, 1");
    server_.script("reply ML, 2");
    server_.script("reply XL, 3");
    server_.script("reply RL, 4");
    server_.script("reply QP, 12");
    server_.script("reply QL 7");
    EXPECT_EQ(srv_SendYL(".", "a", "b"), 1);
    EXPECT_EQ(srv_SendML(".", "c", "d"), 2);
    EXPECT_EQ(srv_SendXL(".", "e", "f"), 3);
    EXPECT_EQ(srv_SendRL(".", "g"), 4);
    EXPECT_EQ(srv_CountProcessors("."), 12);
    EXPECT_EQ(srv_CountLoggers("."), 7);
    expectSent(
        {line("YL,a,b"), line("ML,c,d"), line("XL,e,f"), line("RL,g"), line("QP,"), line("QL")});
}

TEST_F(SrvRequests, LoggerNameCopiesExactlyTwentyFourCharacters) {
    server_.script("reply NL,3 1,ABCDEFGHIJKLMNOPQRSTUVWXY");
    server_.script("reply NL,4 1,SHORT");
    server_.script("reply NL,5 0");
    char name[25];
    EXPECT_EQ(srv_GetLoggerName(".", 3, name), 1);
    EXPECT_STREQ(name, "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ(srv_GetLoggerName(".", 4, name), 1);
    EXPECT_STREQ(name, "SHORT");
    EXPECT_EQ(srv_GetLoggerName(".", 5, name), 0);
    EXPECT_STREQ(name, "");
    expectSent({line("NL,3"), line("NL,4"), line("NL,5")});
}

TEST_F(SrvRequests, ProcessorList) {
    server_.script("reply IP,*,3 3,P1,PRINT ONE,AI:100,1,A;D1,,DI:5,0,D;modbus,MB,,0,A;");
    ProcessorRecord table[3];
    ASSERT_EQ(srv_GetProcessors(".", "*,3", table, 3), 3);
    EXPECT_STREQ(table[0].name, "P1");
    EXPECT_STREQ(table[0].printName, "PRINT ONE");
    EXPECT_EQ(std::string(table[0].prefix, 2), "AI");
    EXPECT_EQ(table[0].count, 100);
    EXPECT_EQ(table[0].run, 1);
    EXPECT_EQ(table[0].kind, 2);
    EXPECT_EQ(table[1].kind, 3);
    EXPECT_EQ(table[1].count, 5);
    EXPECT_EQ(table[2].kind, 6);
    EXPECT_EQ(table[2].prefix[0], '\0');
    EXPECT_EQ(table[2].count, 0);
    expectSent({line("IP,*,3")});

    // A channel count the 16-bit field cannot hold fails the list, as a short record does.
    server_.script("reply IP,max 1,P,,AI:65535,1,A;");
    ASSERT_EQ(srv_GetProcessors(".", "max", table, 3), 1);
    EXPECT_EQ(table[0].count, 65535);
    server_.script("reply IP,over 1,P,,AI:65537,1,A;");
    EXPECT_EQ(srv_GetProcessors(".", "over", table, 3), -1);
    EXPECT_EQ(errno, 13);
}

TEST_F(SrvRequests, ListsStoreNoMoreThanTheCapacityAndCutFields) {
    server_.script("reply IP,*,9 3,NAMETOOLONG12,P,,0,;B,,,0,;C,,,0,;");
    ProcessorRecord table[2];
    ASSERT_EQ(srv_GetProcessors(".", "*,9", table, 2), 2);
    EXPECT_STREQ(table[0].name, "NAMETOOLO");
    EXPECT_STREQ(table[1].name, "B");
    server_.script("reply IP,bad 1,A,B,C;");
    EXPECT_EQ(srv_GetProcessors(".", "bad", table, 2), -1);
    server_.script("reply IP,none 0");
    EXPECT_EQ(srv_GetProcessors(".", "none", table, 2), 0);
}

TEST_F(SrvRequests, TpAndTlTexts) {
    server_.script("reply TP,*,2 2,1,2,short text that is longer than thirty chars;3,4,s,LONG;");
    TpEntry tp[2];
    ASSERT_EQ(srv_QueryTP(".", "*,2", tp, 2), 2);
    EXPECT_EQ(tp[0].value1, 1);
    EXPECT_EQ(tp[0].value2, 2);
    EXPECT_STREQ(tp[0].text, "short text that is longer than");
    EXPECT_STREQ(tp[1].text, "LONG");
    server_.script("reply TL,*,2 2,LOG1,1,2,3,-40,short,;LOG2,0,0,0,9,s,Long text;");
    LoggerRecord tl[2];
    ASSERT_EQ(srv_GetLoggers(".", "*,2", tl, 2), 2);
    EXPECT_STREQ(tl[0].name, "LOG1");
    EXPECT_EQ(tl[0].enabled, 1);
    EXPECT_EQ(tl[0].value1, 2);
    EXPECT_EQ(tl[0].value2, 3);
    EXPECT_EQ(tl[0].value, -40);
    EXPECT_STREQ(tl[0].text, "short");
    EXPECT_STREQ(tl[1].text, "Long text");
    server_.script("reply TL,x 1,LOG1,1,2,3;");
    EXPECT_EQ(srv_GetLoggers(".", "x", tl, 2), -1);

    // A byte field the server fills with what a byte cannot hold fails the list.
    for (const char *bad : {"256", "-1"}) {
        SCOPED_TRACE(bad);
        server_.script(std::string("reply TP,b 1,") + bad + ",0,t;");
        EXPECT_EQ(srv_QueryTP(".", "b", tp, 2), -1);
        EXPECT_EQ(errno, 13);
        server_.script(std::string("reply TL,b 1,LOG1,1,") + bad + ",3,0,t;");
        EXPECT_EQ(srv_GetLoggers(".", "b", tl, 2), -1);
        EXPECT_EQ(errno, 13);
    }
}

TEST_F(SrvRequests, ArgumentsThatDoNotFitAreNotSent) {
    std::string longName(70, 'N');
    EXPECT_EQ(srv_DisableProcessor(".", longName.c_str()), -1);
    EXPECT_EQ(errno, 122);
    std::string loggerName(170, 'L');
    EXPECT_EQ(srv_DisableLogger(".", loggerName.c_str()), -1);
    EXPECT_EQ(errno, 122);
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(SrvRequests, EmptyAndOversizedRepliesAndBinaryReplyOfExactCapacity) {
    server_.script("reply DP,E empty");
    server_.script("reply DP,B big 100");
    server_.script("reply DP,R raw 3030303030303132333435363738 3930");
    EXPECT_EQ(srv_DisableProcessor(".", "E"), -1);
    EXPECT_EQ(errno, 8001);
    EXPECT_EQ(plat_GetLastError(), 8001u);
    EXPECT_EQ(srv_DisableProcessor(".", "B"), -1);
    EXPECT_EQ(errno, 234);
    // Sixteen digits and no NUL: read within the received bytes only.
    EXPECT_EQ(srv_DisableProcessor(".", "R"), 1234567890);
    char reply[16];
    int size = sizeof reply;
    EXPECT_EQ(srv_Command(".", "DP,R", reply, &size), 1234567890);
    EXPECT_EQ(size, 16);
    EXPECT_EQ(std::string(reply, 16), "0000001234567890");
}

TEST_F(SrvRequests, ServerClosingMidExchangeIsReopenedByTheNextRequest) {
    server_.script("reply DP,X close");
    server_.script("reply DP,Y 6");
    EXPECT_EQ(srv_DisableProcessor(".", "X"), -1);
    EXPECT_EQ(errno, 109);
    EXPECT_EQ(srv_DisableProcessor(".", "Y"), 6);
    EXPECT_EQ(server_.connections(), 2);
}

TEST_F(SrvRequests, RestartedServerIsReachedAgain) {
    server_.script("reply DP, 3");
    EXPECT_EQ(srv_DisableProcessor(".", "A"), 3);
    server_.stop();
    EXPECT_EQ(srv_DisableProcessor(".", "A"), -1);
    EXPECT_EQ(srv_DisableProcessor(".", "A"), -1);
    EXPECT_EQ(errno, 2);
    ASSERT_TRUE(server_.start());
    EXPECT_EQ(srv_DisableProcessor(".", "A"), 3);
}

TEST_F(SrvRequests, UnscriptedRequestGetsMinusOneOne) {
    EXPECT_EQ(srv_SendRL(".", "zz"), -1);
    EXPECT_EQ(errno, 1);
}

TEST_F(SrvRequests, ThreadsShareOneConnectionWithoutMixingReplies) {
    constexpr int k_threads = 8, k_each = 50;
    for (int t = 0; t < k_threads; ++t)
        server_.script("reply DP,T" + std::to_string(t) + " " + std::to_string(100 + t));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < k_threads; ++t)
        threads.emplace_back([t, &wrong] {
            std::string name = "T" + std::to_string(t);
            for (int i = 0; i < k_each; ++i)
                if (srv_DisableProcessor(".", name.c_str()) != 100 + t) wrong.fetch_add(1);
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(server_.connections(), 1);
    EXPECT_EQ(server_.requests().size(), static_cast<size_t>(k_threads * k_each));
}

TEST_F(SrvRequests, ShowRequestsListsEveryRequest) {
    server_.script("reply QL 1");
    srv_CountLoggers(".");
    EXPECT_EQ(server_.formatRequests(), "1 (3) QL\n");
}

namespace {
int g_questions = 0;
int answerNo(const char *text, const char *title) {
    ++g_questions;
    EXPECT_STREQ(text, "Do you wish to disable and re-enable loggers");
    EXPECT_STREQ(title, "Reconfigure Loggers");
    return PLAT_PROMPT_NO;
}

void setSwitch(const char *value) {
    uint32_t type = PLAT_REG_SZ;
    uint32_t size = static_cast<uint32_t>(strlen(value) + 1);
    ASSERT_EQ(reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_SET_VALUE,
                              "ReconfigureLoggers", &type, const_cast<char *>(value), &size),
              0u);
}
} // namespace

TEST_F(SrvRequests, ReconfigurationBracketsTheEnabledLoggers) {
    setSwitch("on");
    server_.script("reply QL 2");
    server_.script("reply TL,*,2 2,LOG1,1,0,0,0,a;LOG2,0,0,0,0,b;");
    server_.script("reply DL, 1");
    server_.script("reply EL, 1");
    server_.script("reply CP, 4");
    std::string user = plat_UserName();
    EXPECT_EQ(srv_CommandProcessor(".", "P1", 'T'), 4);
    expectSent({line("QL"), line("TL,*,2"), line(("DL,LOG1," + user).c_str()), line("CP,P1,T"),
                line(("EL,LOG1," + user).c_str())});
    // Answering No leaves the loggers on, yet CP is sent and EL follows.
    g_questions = 0;
    plat_SetPromptHandler(answerNo);
    EXPECT_EQ(srv_CommandProcessor(".", "P1", 'c'), 4);
    plat_SetPromptHandler(nullptr);
    EXPECT_EQ(g_questions, 1);
    expectSent({line("QL"), line("TL,*,2"), line("CP,P1,C"), line(("EL,LOG1," + user).c_str())});
    // Other actions are not bracketed.
    EXPECT_EQ(srv_CommandProcessor(".", "P1", 'R'), 4);
    expectSent({line("CP,P1,R")});
}

TEST_F(SrvRequests, ReconfigurationWithoutLoggersOrSwitch) {
    server_.script("reply CP, 4");
    server_.script("reply QL 0");
    EXPECT_EQ(srv_CommandProcessor(".", "P1", 'C'), 4);
    expectSent({line("CP,P1,C")});
    setSwitch("ON");
    EXPECT_EQ(srv_CommandProcessor(".", "P1", 'C'), 4);
    expectSent({line("QL"), line("CP,P1,C")});
    // A count that cannot be had stops the command before it is sent.
    server_.script("reply QL -1,5");
    EXPECT_EQ(srv_CommandProcessor(".", "P1", 'C'), -1);
    expectSent({line("QL")});
    setSwitch("OFF");
    EXPECT_EQ(srv_ReconfigureLoggersEnabled("."), 0);
    setSwitch("ONX");
    EXPECT_EQ(srv_ReconfigureLoggersEnabled("."), 1);
    EXPECT_EQ(srv_ReconfigureLoggersEnabled("SERVER"), 0);
}

TEST_F(SrvRequests, FailedDisableEndsTheCommand) {
    setSwitch("ON");
    server_.script("reply QL 1");
    server_.script("reply TL,*,1 1,LOG1,1,0,0,0,a;");
    server_.script("reply DL, -1,5");
    EXPECT_EQ(srv_CommandProcessor(".", "P1", 'C'), -1);
    EXPECT_EQ(errno, 5);
    std::string user = plat_UserName();
    expectSent({line("QL"), line("TL,*,1"), line(("DL,LOG1," + user).c_str())});
}

TEST_F(SrvRequests, FromDesktopSwitch) {
    uint32_t type = PLAT_REG_SZ;
    uint32_t size = 3;
    ASSERT_EQ(reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_SET_VALUE,
                              "hist From Desktop", &type, const_cast<char *>("on"), &size),
              0u);
    EXPECT_EQ(srv_IsFromDesktop(".", "hist"), 1);
    EXPECT_EQ(srv_IsFromDesktop(".", "trend"), 0);
    EXPECT_EQ(srv_IsFromDesktop("SERVER", "hist"), 0);
    EXPECT_EQ(srv_IsFromDesktop("tls://h:1", "hist"), 0);
}

TEST_F(SrvRequests, UserNameIsCutToWhatIsLeftOfTheLine) {
    server_.script("reply DL, 1");
    std::string name(160, 'L');
    EXPECT_EQ(srv_DisableLogger(".", name.c_str()), 1);
    ASSERT_EQ(server_.requests().size(), 1u);
    std::string user = plat_UserName();
    EXPECT_EQ(server_.requests()[0], line(("DL," + name + "," + user.substr(0, 1)).c_str()));
}
