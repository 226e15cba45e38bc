// The logger-status table as the runtime stand-in publishes it (put, stamp, conf), and the
// request server's status channels.
#include "chrec.h"
#include "dm.h"
#include "shm.h"
#include "sim_runtime.h"
#include "tag.h"
#include "temp_registry.h"
#include "test_ipc.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace {

class LgrStatus : public ::testing::Test {
protected:
    void start(const std::string &tag, const std::string &statements) {
        prefix_ = test_UseUniqueIpcPrefix(tag.c_str());
        dm_ResetForTests();
        std::string error;
        ASSERT_EQ(sim_ParseDescription("root " + root_.path() + "\n" + statements, &d_, &error), 0)
            << error;
        rt_ = std::make_unique<SimRuntime>(d_);
        ASSERT_EQ(rt_->create(), 0) << rt_->lastError();
    }
    int run(const std::string &line) {
        std::istringstream in(line + "\n");
        std::ostringstream out;
        std::atomic<bool> stop{false};
        return rt_->runScript(in, out, stop);
    }
    void TearDown() override {
        rt_.reset();
        test_RemoveIpcObjects(prefix_);
    }
    TempRegistry registry_;
    TempFolder root_;
    std::string prefix_;
    SimDescription d_;
    std::unique_ptr<SimRuntime> rt_;
};

} // namespace

TEST_F(LgrStatus, TheStandInWritesFlagsValuesStampAndRecords) {
    start("lgrstput", "process logst id=LS\ntable LS 8 64\n");
    ASSERT_EQ(run("put LS 33 129 7.5"), 0) << rt_->lastError();
    ASSERT_EQ(run("stamp LS 2200000000 250"), 0) << rt_->lastError();
    ASSERT_EQ(run("conf LS 33 0002_STATUS"), 0) << rt_->lastError();
    ASSERT_EQ(run("conf LS 45 0002_NO_READ"), 0) << rt_->lastError();
    EXPECT_NE(run("put LS 65 0 1"), 0);
    EXPECT_NE(run("put LS 1 x 1"), 0);
    EXPECT_NE(run("stamp LS 5"), 0);
    EXPECT_NE(run("conf XX 1 T"), 0);

    uint8_t *data = dm_GetData("LS");
    ASSERT_NE(data, nullptr);
    ChannelTableHeader table;
    memcpy(&table, data, sizeof table);
    EXPECT_EQ(table.tableType, 8);
    EXPECT_EQ(table.channelCount, 64);
    EXPECT_EQ(static_cast<uint32_t>(table.fileTime.seconds), 2200000000u);
    EXPECT_EQ(table.fileTime.milliseconds, 250);
    int32_t flag;
    float value;
    memcpy(&flag, data + 20 + 4 * 32, 4);
    memcpy(&value, data + 20 + 4 * 64 + 4 * 32, 4);
    EXPECT_EQ(flag, 129);
    EXPECT_EQ(value, 7.5f);

    uint8_t *conf = dm_GetConfData("LS");
    ASSERT_NE(conf, nullptr);
    ChannelRecord first, later;
    memcpy(&first, conf + 216 * 32, 216);
    memcpy(&later, conf + 216 * 44, 216);
    EXPECT_EQ(tag_GetTag(first), "0002_STATUS");
    EXPECT_EQ(chrec_GetType(first), 3); // channel 1 of logger 2
    EXPECT_EQ(chrec_GetType(later), 2); // channel 13 of logger 2
    EXPECT_EQ(chrec_TestFlag(first, ChannelDigital::Enable), 1);
    EXPECT_EQ(chrec_TestFlag(later, ChannelAnalog::Enable), 1);
}
