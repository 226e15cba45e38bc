// The runtime's logger table and the logger list, against the runtime stand-in run in this
// process, and from LOGCAP.TXT and the LOGGERS files when no server answers.
#include "lgr.h"

#include "dm.h"
#include "sim_runtime.h"
#include "srv.h"
#include "temp_registry.h"
#include "test_ipc.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {
class LoggerList : public ::testing::Test {
protected:
    void start(const std::string &tag, const std::string &statements) {
        prefix_ = test_UseUniqueIpcPrefix(tag.c_str());
        dm_ResetForTests();
        std::string error;
        ASSERT_EQ(sim_ParseDescription("root " + root_.path() + "\n" + statements, &d_, &error), 0)
            << error;
        rt_ = std::make_unique<SimRuntime>(d_);
        ASSERT_EQ(rt_->create(), 0) << rt_->lastError();
        config_ = root_.path() + "/CURRENT_CONFIG";
        setenv("KVT_CURRENT_CONFIG", config_.c_str(), 1);
        mkdir((config_ + "/LOGGERS").c_str(), 0777);
    }
    void TearDown() override {
        srv_CloseAll();
        rt_.reset();
        test_RemoveIpcObjects(prefix_);
    }
    void writeFile(const std::string &name, const std::string &bytes) {
        std::ofstream out(config_ + "/" + name, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    // A "stand" record's first bytes: Autostart, then the name.
    void writeLogger(const std::string &kind, int number, const std::string &name) {
        std::string record(LGR_STAND_SIZE, '\0');
        record.replace(1, name.size(), name);
        writeFile("LOGGERS/" + kind + "_" + std::to_string(number), record);
    }
    bool sent(const std::string &request) const {
        for (const std::string &r : rt_->pipe().requests())
            if (std::string(r.c_str()) == request) return true;
        return false;
    }

    TempRegistry registry_;
    TempFolder root_;
    std::string prefix_, config_;
    SimDescription d_;
    std::unique_ptr<SimRuntime> rt_;
};

const std::string k_longName(200, 'n');
} // namespace

TEST_F(LoggerList, RepliesOfTheServerFillTheTable) {
    start("lgrreply", "reply IL,*,10 2,stand,1,BOILER;repub,2,PUB;\n"
                      "reply IL,*,3 3,resubscriber,40000,Copy;;stand,5," +
                          k_longName +
                          ",extra;\n"
                          "reply IL,1 1,stand,1,BOILER\n"
                          "reply IL,none 0\n"
                          "reply IL,short 1,stand,1;\n"
                          "reply IL,plain 5\n");
    LoggerInfo table[4];
    memset(table, 0x7F, sizeof table);
    ASSERT_EQ(lgr_GetLoggers(nullptr, "*,10", table, 4), 2);
    EXPECT_STREQ(table[0].kind, "stand");
    EXPECT_EQ(table[0].number, 1);
    EXPECT_STREQ(table[0].name, "BOILER");
    EXPECT_STREQ(table[1].kind, "repub");
    EXPECT_EQ(table[1].number, 2);
    EXPECT_STREQ(table[1].name, "PUB");
    EXPECT_EQ(table[2].number, 0x7F7F) << "only the entries filled are touched";
    EXPECT_EQ(lgr_GetLoggers(nullptr, "*,10", table, 1), 1);

    // A logger number the 16-bit entry cannot hold fails the list, as a short record does.
    EXPECT_EQ(lgr_GetLoggers(nullptr, "*,3", table, 4), -1);
    EXPECT_EQ(errno, 13);

    EXPECT_EQ(lgr_GetLoggers(nullptr, "1", table, 4), 1);
    EXPECT_EQ(lgr_GetLoggers(nullptr, "none", table, 4), 0);
    EXPECT_EQ(lgr_GetLoggers(nullptr, "short", table, 4), -1);
    EXPECT_EQ(lgr_GetLoggers(nullptr, "plain", table, 4), -1);
    EXPECT_TRUE(sent("IL,*,10"));
    EXPECT_TRUE(sent("IL,plain"));

    // 219 loggers do not fit a reply: the files are read instead, and nothing is sent.
    writeFile("LOGCAP.TXT", "stand\n");
    writeLogger("stand", 1, "FROM-FILE");
    rt_->pipe().clearRequests();
    EXPECT_EQ(lgr_GetLoggers(nullptr, "*,300", table, 4), 1);
    EXPECT_STREQ(table[0].name, "FROM-FILE");
    EXPECT_EQ(lgr_GetLoggers(nullptr, "*,219", table, 4), 1);
    EXPECT_EQ(lgr_GetLoggers(nullptr, "*,99999999999999999999", table, 4), 1);
    EXPECT_TRUE(rt_->pipe().requests().empty());
    EXPECT_EQ(lgr_GetLoggers(nullptr, "*,218", table, 4), 1) << "a failed request reads the files";
    EXPECT_TRUE(sent("IL,*,218"));
}

TEST_F(LoggerList, WithoutAServerTheFilesGiveTheList) {
    start("lgrfiles", "");
    rt_->pipe().stop();
    LoggerInfo table[4] = {};
    EXPECT_EQ(lgr_GetLoggers(nullptr, "*,5", table, 4), 0) << "no LOGCAP.TXT";

    writeFile("LOGCAP.TXT", "* loggers\nstand\nresub\nstand\n");
    writeLogger("stand", 1, "BOILER-HOUSE-NUMBER-ONE-AND-MORE");
    writeLogger("resub", 2, "Copy");
    writeLogger("stand", 3, "Third");
    ASSERT_EQ(lgr_GetLoggers(nullptr, "*,10", table, 4), 3);
    EXPECT_STREQ(table[0].kind, "stand");
    EXPECT_EQ(table[0].number, 1);
    EXPECT_STREQ(table[0].name, "BOILER-HOUSE-NUMBER-ONE-") << "24 characters of the name";
    EXPECT_STREQ(table[1].kind, "resub");
    EXPECT_EQ(table[1].number, 2);
    EXPECT_EQ(table[2].number, 3);
    EXPECT_EQ(lgr_GetLoggers(nullptr, "*,10", table, 2), 2);
    EXPECT_EQ(lgr_GetLoggers(nullptr, "*,1", table, 4), 1);

    memset(table, 0, sizeof table);
    EXPECT_EQ(lgr_GetLoggers(nullptr, "2", table, 4), 1);
    EXPECT_STREQ(table[0].name, "Copy");
    EXPECT_EQ(lgr_GetLoggers(nullptr, "third", table, 4), 1);
    EXPECT_EQ(table[0].number, 3);
    EXPECT_EQ(lgr_GetLoggers(nullptr, "nobody", table, 4), 0);
    EXPECT_EQ(lgr_GetLoggers(nullptr, "9", table, 4), 0);

    // A logger without its file ends the list with -1; a bad line with -2.
    remove((config_ + "/LOGGERS/resub_2").c_str());
    EXPECT_EQ(lgr_GetLoggers(nullptr, "*,10", table, 4), -1);
    writeFile("LOGCAP.TXT", "stand\nTOOLONGNAME\n");
    EXPECT_EQ(lgr_GetLoggers(nullptr, "*,10", table, 4), -2);
    EXPECT_EQ(lgr_GetLoggers(nullptr, "2", table, 4), -2);
}

TEST_F(LoggerList, TheLoggerTableWithItsSecondTable) {
    start("lgrlong", "loggers-long\n"
                     "logger stand BOILER active=1 state=7 rtlog=12 folder=/data/boiler "
                     "conn=Provider=SQLite; Data Source=x y.db \n"
                     "logger resub " +
                         std::string(140, 'r').substr(0, 130) + " state=255\n");
    EXPECT_EQ(lgr_GetLoggerEntry(1), nullptr) << "not attached";
    ASSERT_EQ(lgr_AttachLoggerTable(), 0);
    ASSERT_EQ(lgr_AttachLoggerTable(), 0);
    EXPECT_EQ(lgr_GetLoggerEntry(0), nullptr);
    EXPECT_EQ(lgr_GetLoggerEntry(3), nullptr);
    LoggerEntry *boiler = lgr_GetLoggerEntry(1);
    ASSERT_NE(boiler, nullptr);
    EXPECT_STREQ(boiler->typeName, "stand");
    EXPECT_STREQ(boiler->name, "BOILER");
    EXPECT_EQ(boiler->state, 7);
    EXPECT_EQ(boiler->realTimeLog, 12);
    LoggerEntry *copy = lgr_GetLoggerEntry(2);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(strnlen(copy->name, sizeof copy->name), 130u) << "a long name keeps the number";
    EXPECT_EQ(copy->state, 255);
    EXPECT_EQ(copy->realTimeLog, 0);

    LoggerSecondEntry *second = dm_GetLoggerSecond(0);
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second->folder, "/data/boiler");
    EXPECT_STREQ(second->connection, "Provider=SQLite; Data Source=x y.db ");
    LoggerSecondEntry *empty = dm_GetLoggerSecond(1);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->folder[0], 0);
    EXPECT_EQ(empty->connection[0], 0);
    EXPECT_EQ(dm_GetLoggerSecond(2), nullptr);
    EXPECT_EQ(dm_GetLoggerSecond(-1), nullptr);

    // The files of a logger by its number: its kind from the table, the current directory.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(root_.path().c_str()), 0);
    std::vector<uint8_t> record(LGR_RESUB_SIZE, 0);
    memcpy(record.data() + 1, "Copy", 4);
    EXPECT_EQ(lgr_WriteLoggerFileByNumber(2, record.data(), LGR_RESUB_SIZE), 0);
    std::vector<uint8_t> back(LGR_RESUB_SIZE, 0xFF);
    EXPECT_EQ(lgr_ReadLoggerFileByNumber(2, back.data(), LGR_RESUB_SIZE), 0);
    EXPECT_TRUE(back == record);
    struct stat st;
    EXPECT_EQ(stat((root_.path() + "/resub_2").c_str(), &st), 0);
    EXPECT_EQ(lgr_ReadLoggerFileByNumber(3, back.data(), LGR_RESUB_SIZE), -1);
    EXPECT_NE(errno, 0);
    ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(LoggerList, WithoutTheLongStatementThereIsNoSecondTable) {
    start("lgrshort", "logger stand BOILER\nlogger stand OTHER active=0\n");
    ASSERT_EQ(lgr_AttachLoggerTable(), 0);
    ASSERT_NE(lgr_GetLoggerEntry(2), nullptr);
    EXPECT_EQ(dm_GetLoggerSecond(0), nullptr);
    EXPECT_EQ(dm_GetLoggerSecond(1), nullptr);

    SimDescription d;
    std::string error;
    EXPECT_EQ(sim_ParseDescription("logger stand X folder=/a\n", &d, &error), -1);
    EXPECT_EQ(sim_ParseDescription("logger stand X conn=a b\n", &d, &error), -1);
    EXPECT_EQ(sim_ParseDescription("loggers-long\nlogger stand X state=256\n", &d, &error), -1);
    EXPECT_EQ(sim_ParseDescription("loggers-long\nlogger stand X bogus=1\n", &d, &error), -1);
    ASSERT_EQ(sim_ParseDescription("loggers-long\nlogger stand X conn=a # b\n", &d, &error), 0);
    EXPECT_EQ(d.loggers[0].connection, "a # b");
}
