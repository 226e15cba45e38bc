// A logger save whose XML rename fails names the logger's own step, and its XML stays.
#include "../config/config_fixture.h"
#include "rename_seam.h"

#include "lgr.h"
#include "xml.h"

#include <string>
#include <vector>

namespace {
class LoggerCommit : public ConfigFixture {
protected:
    void TearDown() override { renameseam::failTo.clear(); }
};
} // namespace

TEST_F(LoggerCommit, AFailedRenameNamesTheLoggerAndKeepsItsXml) {
    const std::string loggers = root_ + "/LOGGERS";
    ASSERT_EQ(mkdir(loggers.c_str(), 0777), 0);
    const std::string xml = loggers + "/resub_4.xml";
    std::vector<uint8_t> record(static_cast<size_t>(lgr_KindSize(LGR_KIND_RESUB)), 0);
    ASSERT_EQ(lgr_WriteLoggerFile(loggers.c_str(), nullptr, "resub", 4, record.data(),
                                  static_cast<int>(record.size())),
              0)
        << xml_GetErrorText();
    const std::string before = readFile(xml);
    record[1] = 'X';
    renameseam::failTo = xml;
    EXPECT_EQ(lgr_WriteLoggerFile(loggers.c_str(), nullptr, "resub", 4, record.data(),
                                  static_cast<int>(record.size())),
              -1);
    renameseam::failTo.clear();
    EXPECT_EQ(std::string(xml_GetErrorText()),
              "Logger resub_4 - Save XML File (" + xml + ") failed, Access Denied 0x80070005");
    EXPECT_EQ(readFile(xml), before);
}
