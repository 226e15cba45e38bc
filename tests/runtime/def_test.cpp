#include "def.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

class DefFileTest : public ::testing::Test {
protected:
    void TearDown() override { def_Close(); }

    std::string writeFile(const std::string &text, const char *name = "DATPROC.TXT") {
        std::string path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    // Opens the text as DATPROC.TXT and parses its records into a table; the result of the
    // last record parsed.
    int parseAll(const std::string &text, std::vector<ProcessorRecord> *table) {
        EXPECT_GE(def_Open(writeFile(text).c_str()), 0);
        table->assign(16, ProcessorRecord{});
        char *fields[8];
        int offsets[8];
        int n = 0;
        int i = 0;
        int r = 0;
        while ((n = def_NextFields(fields, offsets, 8)) > 0) {
            r = def_ParseProcessor(".", &(*table)[static_cast<size_t>(i)], fields, offsets, n,
                                   table->data());
            if (r != 1) break;
            ++i;
        }
        table->resize(static_cast<size_t>(i));
        return r;
    }

    // The message for the last record of the text, which must fail.
    std::string failure(const std::string &text) {
        std::vector<ProcessorRecord> table;
        EXPECT_EQ(-2, parseAll(text, &table));
        return def_MessageText();
    }

    TempFolder dir_;
};

TEST_F(DefFileTest, CommentsAreSkippedButCounted) {
    std::string path = writeFile("* processors\r\n"
                                 "LOGST,LOGGER STATS,A-LS:64,run\r\n"
                                 "\n"
                                 "   \t\n"
                                 "  * not this one\n"
                                 "CALC1,,D-C1:10\n"
                                 "alarm");
    EXPECT_EQ(3, def_Open(path.c_str()));
    EXPECT_EQ(1, def_NextRecord());
    EXPECT_EQ(2, def_LineNumber());
    EXPECT_EQ("LOGST,LOGGER STATS,A-LS:64,run", def_CurrentLine());
    EXPECT_EQ(1, def_NextRecord());
    EXPECT_EQ(6, def_LineNumber());
    EXPECT_EQ(1, def_NextRecord());
    EXPECT_EQ(7, def_LineNumber());
    EXPECT_EQ(0, def_NextRecord()); // the end rewinds
    EXPECT_EQ(0, def_LineNumber());
    EXPECT_EQ(1, def_NextRecord());
    EXPECT_EQ(2, def_LineNumber());
}

TEST_F(DefFileTest, FieldsAreSplitAtCommasWithoutTrimming) {
    def_Open(writeFile("a, b ,,d\n").c_str());
    char *fields[8];
    int offsets[8];
    ASSERT_EQ(4, def_NextFields(fields, offsets, 8));
    EXPECT_STREQ(" b ", fields[1]);
    EXPECT_STREQ("", fields[2]);
    EXPECT_EQ(7, offsets[3]);
    EXPECT_EQ("a, b ,,d", def_CurrentLine()); // the record stays whole for messages
    EXPECT_EQ(0, def_NextFields(fields, offsets, 8));
}

TEST_F(DefFileTest, NameWithoutFolderIsTakenFromTheCurrentFolder) {
    writeFile("X\n");
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    ASSERT_EQ(0, chdir(dir_.path().c_str()));
    EXPECT_EQ(1, def_Open("DATPROC.TXT"));
    EXPECT_EQ(dir_ / "DATPROC.TXT", def_FileName());
    EXPECT_EQ(-1, def_Open("LOGCAP.TXT"));
    EXPECT_EQ(2, errno);
    // A folder of the file's name is no file.
    ASSERT_EQ(0, mkdir("LOGCAP.TXT", 0777));
    errno = 0;
    EXPECT_EQ(-1, def_Open("LOGCAP.TXT"));
    EXPECT_EQ(5, errno);
    EXPECT_EQ(-1, def_NextRecord());
    ASSERT_EQ(0, chdir(cwd));
}

TEST_F(DefFileTest, WithoutAnOpenFileTheReaderReportsNothing) {
    def_Close();
    char *fields[2];
    int offsets[2];
    EXPECT_EQ(-1, def_NextRecord());
    EXPECT_EQ(-1, def_NextFields(fields, offsets, 2));
    EXPECT_EQ(-1, def_LineNumber());
    EXPECT_EQ("", def_MessageText());
}

TEST_F(DefFileTest, OverlongLineKeepsItsFirst500Characters) {
    std::string longLine(700, 'x');
    def_Open(writeFile(longLine + "\nNEXT\n").c_str());
    ASSERT_EQ(1, def_NextRecord());
    EXPECT_EQ(std::string(500, 'x'), def_CurrentLine());
    ASSERT_EQ(1, def_NextRecord());
    EXPECT_EQ("NEXT", def_CurrentLine());
    EXPECT_EQ(2, def_LineNumber());
}

TEST_F(DefFileTest, GoodFileParsesToTheRecords) {
    std::vector<ProcessorRecord> t;
    ASSERT_EQ(1, parseAll("logst,Logger stats,a-LS:64,RUN\n"
                          "CALC1,,D-CA:62500,stop\n"
                          "modbus1,,x-MB:5\n"
                          "USERA,,D-UA:1\n"
                          "NOSPEC,,XYZW:3\n"
                          "ALARM,,,run\n"
                          "alarm2,,,\n",
                          &t));
    ASSERT_EQ(7u, t.size());
    EXPECT_STREQ("LOGST", t[0].name);
    EXPECT_STREQ("LOGGER STATS", t[0].printName);
    EXPECT_EQ(0, memcmp("LS", t[0].prefix, 2));
    EXPECT_EQ(64, t[0].count);
    EXPECT_EQ(1, t[0].run);
    EXPECT_EQ(2, t[0].kind);

    EXPECT_STREQ("CALC1", t[1].printName);
    EXPECT_EQ(62500, t[1].count);
    EXPECT_EQ(0, t[1].run);
    EXPECT_EQ(3, t[1].kind);

    EXPECT_EQ(6, t[2].kind); // any letter for a modb processor
    EXPECT_EQ(2, t[3].kind); // USERA is analogue whatever its kind letter
    EXPECT_EQ(3, t[4].kind);
    EXPECT_EQ(0, memcmp("ZW", t[4].prefix, 2));
    EXPECT_EQ(3, t[4].count);

    EXPECT_EQ(256, t[5].count); // ALARM: the default queue size
    EXPECT_EQ(1, t[5].run);
    EXPECT_EQ('\0', t[5].prefix[0]);
}

TEST_F(DefFileTest, AlarmWithoutRunFieldHasNoPrefixCountOrRun) {
    std::vector<ProcessorRecord> t;
    ASSERT_EQ(1, parseAll("alarm,,A-AL:50\n", &t));
    EXPECT_EQ('\0', t[0].prefix[0]);
    EXPECT_EQ(0, t[0].count);
    EXPECT_EQ(0, t[0].run);
    ASSERT_EQ(1, parseAll("ALARM,,500,run\n", &t));
    EXPECT_EQ(500, t[0].count);
}

TEST_F(DefFileTest, OneLetterPrefixEndsAtTheColon) {
    std::vector<ProcessorRecord> t;
    ASSERT_EQ(1, parseAll("P1,,A-Q:7\n", &t));
    EXPECT_EQ('Q', t[0].prefix[0]);
    EXPECT_EQ('\0', t[0].prefix[1]);
    EXPECT_EQ(7, t[0].count);
}

TEST_F(DefFileTest, EachBadFieldGivesItsMessageWithLineAndMarker) {
    std::string p = dir_ / "DATPROC.TXT";
    auto msg = [&](int line, const char *text, const std::string &marked) {
        return "Can't Parse " + p + "\nLine " + std::to_string(line) + " : **** " + text +
               " ****\n" + marked + "\nError : 1\n";
    };
    EXPECT_EQ(msg(2, "no processor name specified", ",X,A-AI:1"), failure("* head\n,X,A-AI:1\n"));
    EXPECT_EQ(msg(1, "processor name too long", ">NINECHARS<,X"), failure("NINECHARS,X\n"));
    EXPECT_EQ(msg(1, "processor print name too long", "P,>ABCDEFGHIJKLMNOPQRSTUVWXY<,A-AI:1"),
              failure("P,ABCDEFGHIJKLMNOPQRSTUVWXY,A-AI:1\n"));
    EXPECT_EQ(msg(3, "duplicate processor name", ">p1<,OTHER"), failure("P1\n*\np1,OTHER\n"));
    EXPECT_EQ(msg(2, "duplicate processor print name", "P2,>p1<"), failure("P1\nP2,p1\n"));
    EXPECT_EQ(msg(1, "channel type must be A or D", "P,,>X-AI:1<"), failure("P,,X-AI:1\n"));
    EXPECT_EQ(msg(1, "invalid channel prefix", "P,,>A-1I:1<,run"), failure("P,,A-1I:1,run\n"));
    EXPECT_EQ(msg(1, "invalid channel prefix", "P,,>A-A1:1<"), failure("P,,A-A1:1\n"));
    EXPECT_EQ(msg(1, "invalid number of channels", "P,,>d-AB:62501<"), failure("P,,d-AB:62501\n"));
    EXPECT_EQ(msg(1, "invalid number of channels", "P,,>A-AI<"), failure("P,,A-AI\n"));
    EXPECT_EQ(msg(1, "invalid number of alarm queue entries", "ALARM,,>1001<,RUN"),
              failure("ALARM,,1001,RUN\n"));
}

TEST_F(DefFileTest, NegativeAndHugeCountsAreRejected) {
    for (const char *line : {"P,,A-AI:-3\n", "P,,A-AI:99999999999999999999\n", "P,,A-AI:0\n",
                             "P,,A-AI:-99999999999999999999\n"}) {
        EXPECT_NE(std::string::npos, failure(line).find("invalid number of channels")) << line;
    }
    EXPECT_NE(std::string::npos,
              failure("ALARM,,-5,run\n").find("invalid number of alarm queue entries"));
    std::vector<ProcessorRecord> t;
    ASSERT_EQ(1, parseAll("P,,A-AI:12abc\n", &t)); // the count ends at the first non-digit
    EXPECT_EQ(12, t[0].count);
}

TEST_F(DefFileTest, LoggerTypesAreStoredLowerCase) {
    def_Open(writeFile("* types\nStand\n\nTOOLONGNAME\n,x\n", "LOGCAP.TXT").c_str());
    char *fields[4];
    int offsets[4];
    char type[DEF_LOGGER_TYPE_SIZE];
    int n = def_NextFields(fields, offsets, 4);
    ASSERT_EQ(1, def_ParseLogger(type, n, fields));
    EXPECT_STREQ("stand", type);
    n = def_NextFields(fields, offsets, 4);
    EXPECT_EQ(-2, def_ParseLogger(type, n, fields));
    EXPECT_NE(std::string::npos, def_MessageText().find("Line 4 : **** logger type name too long"));
    n = def_NextFields(fields, offsets, 4);
    EXPECT_EQ(-2, def_ParseLogger(type, n, fields));
    EXPECT_NE(std::string::npos, def_MessageText().find("**** no logger name specified ****"));
}

TEST_F(DefFileTest, MessageCanBeExtendedAndStaysWhole) {
    std::string longName(480, 'N');
    failure(longName + "\n");
    std::string message = def_MessageText();
    EXPECT_GT(message.size(), 520u); // never cut to an old fixed size
    int len = def_SetMessage("more");
    EXPECT_EQ(static_cast<int>(message.size()) + 4, len);
    EXPECT_EQ(message + "more", def_MessageText());
}

TEST_F(DefFileTest, EachThreadHasItsOwnReader) {
    def_Open(writeFile("A\nB\n").c_str());
    ASSERT_EQ(1, def_NextRecord());
    int otherLine = 0;
    std::thread other([&] {
        otherLine = def_LineNumber();
        def_Close();
    });
    other.join();
    EXPECT_EQ(-1, otherLine);
    ASSERT_EQ(1, def_NextRecord());
    EXPECT_EQ("B", def_CurrentLine());
}

} // namespace
