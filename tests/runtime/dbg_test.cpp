#include "dbg.h"
#include "plat_debugout.h"
#include "reg.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_sent;
void capture(const char *text) {
    g_sent.emplace_back(text);
}

class DebugTraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        reg_ForgetProductNames();
        g_sent.clear();
        previous_ = plat_SetDebugOutputHook(capture);
    }
    void TearDown() override {
        dbg_DeleteTrace();
        plat_SetDebugOutputHook(previous_);
        reg_ForgetProductNames();
    }
    void set(const char *name, const char *text) {
        uint32_t type = PLAT_REG_SZ;
        uint32_t size = static_cast<uint32_t>(strlen(text) + 1);
        ASSERT_EQ(0u, reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_SET_VALUE,
                                      name, &type, const_cast<char *>(text), &size));
    }
    static size_t fileSize(const std::string &path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
    }
    static std::string readFile(const std::string &path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    TempRegistry reg_;
    PlatDebugOutputHook previous_ = nullptr;
};

TEST_F(DebugTraceTest, SwitchesOnAndOffWhileRunning) {
    dbg_CreateTrace("PLC1");
    dbg_WriteTrace("before\n");
    EXPECT_TRUE(g_sent.empty());

    set("PLC1_Debug", "on please");
    dbg_WriteTrace("now\n");
    ASSERT_EQ(1u, g_sent.size());
    EXPECT_EQ("PLC1 : now\n", g_sent[0]);

    set("PLC1_Debug", "OFF");
    dbg_WriteTrace("gone\n");
    EXPECT_EQ(1u, g_sent.size());
    EXPECT_EQ(0, dbg_GetTrace()->IsEnabled());
}

TEST_F(DebugTraceTest, PiecesMakeOneDebuggerLine) {
    set("PLC1_Debug", "ON");
    dbg_CreateTrace("PLC1");
    dbg_WriteTrace("a");
    dbg_WriteTrace("b");
    EXPECT_TRUE(g_sent.empty());
    dbg_WriteTrace("c\n");
    ASSERT_EQ(1u, g_sent.size());
    EXPECT_EQ("PLC1 : abc\n", g_sent[0]);
}

TEST_F(DebugTraceTest, HexDumpAndOverlongLine) {
    set("D_Debug", "ON");
    dbg_CreateTrace("D");
    const unsigned char bytes[] = {0x02, 0xff, 0x10};
    dbg_HexDump(bytes, 3);
    dbg_WriteTrace("\n");
    ASSERT_EQ(1u, g_sent.size());
    EXPECT_EQ("D : 0x02 0xff 0x10 \n", g_sent[0]);

    // The buffer keeps at most 4999 characters; the line still goes out at the newline.
    std::string big(6000, 'x');
    dbg_WriteTrace(big.c_str());
    dbg_WriteTrace("tail\n");
    ASSERT_EQ(2u, g_sent.size());
    EXPECT_EQ(4999u, g_sent[1].size());
    EXPECT_EQ("D : xxx", g_sent[1].substr(0, 7));
}

TEST_F(DebugTraceTest, FileIsCreatedTruncatedAtEachSwitchOn) {
    std::string path = reg_.folder() / "trace.txt";
    {
        std::ofstream old(path);
        old << "stale content";
    }
    set("PLC1_DebugType", "FILE");
    set("PLC1_DebugFile", path.c_str());
    set("PLC1_Debug", "ON");
    dbg_CreateTrace("PLC1");
    EXPECT_EQ(DBG_OUT_FILE | DBG_OUT_DEBUGGER, dbg_GetTrace()->Outputs());
    dbg_WriteTrace("first\n");
    EXPECT_EQ("first\n", readFile(path));

    // A changed file name waits for the next off-on; the switch-on truncates again.
    std::string other = reg_.folder() / "other.txt";
    set("PLC1_DebugFile", other.c_str());
    dbg_WriteTrace("second\n");
    EXPECT_EQ("first\nsecond\n", readFile(path));
    set("PLC1_Debug", "OFF");
    dbg_WriteTrace("dropped\n");
    set("PLC1_Debug", "ON");
    dbg_WriteTrace("third\n");
    EXPECT_EQ("third\n", readFile(other));
    EXPECT_EQ("first\nsecond\n", readFile(path));
}

TEST_F(DebugTraceTest, MissingTraceFileLeavesOtherOutputs) {
    set("PLC1_DebugType", "FILE CON");
    set("PLC1_DebugFile", (reg_.folder() / "no/such/folder/t.txt").c_str());
    set("PLC1_Debug", "ON");
    dbg_CreateTrace("PLC1");
    dbg_WriteTrace("x\n");
    EXPECT_EQ(1u, g_sent.size());
}

TEST_F(DebugTraceTest, TypeWordsAreCaseSensitive) {
    set("P_DebugType", "con file");
    set("P_Debug", "On");
    dbg_CreateTrace("P");
    EXPECT_EQ(DBG_OUT_DEBUGGER, dbg_GetTrace()->Outputs());
}

TEST_F(DebugTraceTest, WithoutTraceNothingIsWritten) {
    dbg_WriteTrace("x\n");
    dbg_HexDump("ab", 2);
    EXPECT_TRUE(g_sent.empty());
}

TEST(DebugCounterLocation, ParseRules) {
    DebugCounterLocation c;
    EXPECT_EQ(0, DebugTrace::ParseCounterLocation("ab123", &c));
    EXPECT_STREQ("AB", c.code);
    EXPECT_EQ(123, c.number);
    EXPECT_EQ(0, DebugTrace::ParseCounterLocation("Q10000", &c));
    EXPECT_EQ(10000, c.number);
    for (const char *bad : {"A0", "ABC1", "A10001", "1A", "AB", "AB12x", "AB12345", ""}) {
        EXPECT_EQ(-1, DebugTrace::ParseCounterLocation(bad, &c)) << bad;
        EXPECT_STREQ("", c.code) << bad;
        EXPECT_EQ(0, c.number) << bad;
    }
}

TEST_F(DebugTraceTest, CounterLocationsAreReadWhenSwitchedOn) {
    set("P_DebugRxCount", "RX5");
    set("P_DebugTxGoodPacketCount", "ABC1");
    set("P_Debug", "ON");
    dbg_CreateTrace("P");
    EXPECT_STREQ("RX", dbg_GetTrace()->CounterLocation(0).code);
    EXPECT_EQ(5, dbg_GetTrace()->CounterLocation(0).number);
    EXPECT_STREQ("", dbg_GetTrace()->CounterLocation(9).code);
}

} // namespace

// Each of two threads dumps its own 16 distinct bytes while a third takes the trace away and
// brings it back 20 times: what reached the file between two deletions is whole dumps,
// each in one piece.
TEST_F(DebugTraceTest, DumpsOfSeveralThreadsStayWholeWhileTheTraceIsReplaced) {
    const std::string path = reg_.folder() / "threads.txt";
    set("PLC1_Debug", "ON");
    set("PLC1_DebugType", "FILE");
    set("PLC1_DebugFile", path.c_str());
    dbg_CreateTrace("PLC1");
    std::string dumps[2];
    uint8_t bytes[2][16];
    for (int t = 0; t < 2; ++t)
        for (int i = 0; i < 16; ++i) {
            bytes[t][i] = static_cast<uint8_t>(0xA0 + 0x10 * t + i);
            char text[8];
            snprintf(text, sizeof text, "0x%02x ", bytes[t][i]);
            dumps[t] += text;
        }
    const size_t dumpLength = dumps[0].size();
    // The writers dump until the trace has been replaced enough times: writers that ran out of
    // dumps while the trace was away would leave nothing to check.
    std::atomic<bool> stop{false};
    auto writer = [&](int t) {
        while (!stop.load())
            dbg_HexDump(bytes[t], 16);
    };
    std::thread a(writer, 0), b(writer, 1);
    size_t seen[2] = {0, 0};
    std::string broken;
    auto check = [&] {
        std::string text = readFile(path);
        for (size_t at = 0; at < text.size() && broken.empty(); at += dumpLength) {
            std::string piece = text.substr(at, dumpLength);
            if (piece == dumps[0])
                ++seen[0];
            else if (piece == dumps[1])
                ++seen[1];
            else
                broken = piece;
        }
    };
    for (int replaced = 0; replaced < 20 && broken.empty(); ++replaced) {
        dbg_DeleteTrace();
        // Nobody writes the file now.
        check();
        dbg_CreateTrace("PLC1");
        // Lets a good number of dumps into the new file before it is taken away again.
        while (fileSize(path) < 200 * dumpLength)
            std::this_thread::yield();
    }
    stop = true;
    a.join();
    b.join();
    dbg_DeleteTrace();
    check();
    EXPECT_EQ(broken, "");
    EXPECT_GT(seen[0], 0u);
    EXPECT_GT(seen[1], 0u);
}
