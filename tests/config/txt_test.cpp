#include "txt.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

// A text table read while a definition file is open on the same thread: each keeps its own
// position, line number and message.
TEST(TextTable, ReadsBesideAnOpenDefinitionFileAndReportsItsOwnLine) {
    TempFolder dir;
    std::string logcap = dir / "LOGCAP.TXT";
    std::ofstream(logcap) << "* loggers\nstand,1\nrepub,2\n";
    std::string datproc = dir / "DATPROC.TXT";
    std::ofstream(datproc)
        << "* processors\nLOGST,LOGGER STATS,A-LS:64,run\n* user\nUSERA,,A-A1:10\n";

    ASSERT_EQ(2, def_Open(logcap.c_str()));
    ASSERT_EQ(1, def_NextRecord());
    ASSERT_EQ(2, def_LineNumber());

    ASSERT_EQ(2, txt_Open(datproc.c_str()));
    char *fields[8];
    int offsets[8];
    ProcessorRecord table[2] = {};
    int n = txt_NextLine(fields, offsets, 8);
    ASSERT_EQ(4, n);
    EXPECT_EQ(1, txt_ParseProcessor(&table[0], fields, offsets, n, table));
    n = txt_NextLine(fields, offsets, 8);
    ASSERT_EQ(3, n);
    EXPECT_EQ(-2, txt_ParseProcessor(&table[1], fields, offsets, n, table));
    EXPECT_EQ(4, txt_LineNumber());
    EXPECT_EQ("Can't Parse " + datproc +
                  "\nLine 4 : **** invalid channel prefix ****\nUSERA,,>A-A1:10<\nError : 1\n",
              txt_MessageText());
    EXPECT_EQ(0, txt_NextRecord());
    txt_Close();
    EXPECT_EQ(-1, txt_NextRecord());

    // The definition file was neither moved nor given the table's message.
    EXPECT_EQ(2, def_LineNumber());
    EXPECT_EQ("", def_MessageText());
    EXPECT_EQ(1, def_NextRecord());
    EXPECT_EQ("repub,2", def_CurrentLine());
    def_Close();
}

} // namespace
