#include "evlog.h"
#include "reg.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <regex>
#include <string>

namespace {

class EvlogTest : public ::testing::Test {
protected:
    void SetUp() override { reg_ForgetProductNames(); }
    void TearDown() override {
        unsetenv("KVT_");
        reg_ForgetProductNames();
    }
    TempRegistry reg_;
};

TEST_F(EvlogTest, ReportsAreAppendedToTheProductLogInTheRoot) {
    setenv("KVT_", reg_.folder().path().c_str(), 1);
    evlog_ReportEvent(".", EVLOG_ERROR, "Can't Parse config.xml");
    evlog_ReportEvent(nullptr, EVLOG_INFORMATION, "second");

    std::ifstream in(reg_.folder() / "Trellane.log");
    std::string first, second, none;
    ASSERT_TRUE(std::getline(in, first));
    ASSERT_TRUE(std::getline(in, second));
    EXPECT_FALSE(std::getline(in, none));
    std::regex stamp(R"(\d\d:\d\d:\d\d \d\d/\d\d/\d\d (.*))");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(first, m, stamp)) << first;
    EXPECT_EQ("Can't Parse config.xml", m[1].str());
    ASSERT_TRUE(std::regex_match(second, m, stamp)) << second;
    EXPECT_EQ("second", m[1].str());
}

TEST_F(EvlogTest, UnwritableLogIsDroppedWithoutDisturbingErrno) {
    setenv("KVT_", "/proc/kvt-no-such-folder/", 1);
    errno = 1465;
    evlog_ReportEvent(".", EVLOG_ERROR, "lost");
    EXPECT_EQ(1465, errno);
}

} // namespace
