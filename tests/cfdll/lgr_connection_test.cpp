// The request server reached through the connection table as kind 3.
#include "dll.h"
#include "ldf.h"
#include "lfile.h"
#include "lgr_server.h"
#include "lstore_file.h"
#include "plat_error.h"
#include "srv.h"
#include "srv_kinds.h"
#include "temp_registry.h"
#include "test_ipc.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace {

void writeRun(const std::string &folder, uint32_t start) {
    LogHeader h{};
    h.blockCount = 1;
    memcpy(h.blocks[0].prefix, "AI", 2);
    h.blocks[0].first = 1;
    h.blocks[0].last = 1;
    ldf_LayoutRecord(&h);
    h.start = static_cast<int32_t>(start);
    std::vector<uint8_t> channels(216, 0);
    const void *arrays[1] = {channels.data()};
    CLogFileStore store;
    std::string path = folder + "/RUN_" + lfile_FormatRunTime(static_cast<int32_t>(start)) + ".odl";
    ASSERT_EQ(store.Create(path.c_str(), 0, &h, nullptr, arrays), 0);
    std::vector<uint8_t> record(static_cast<size_t>(h.recordSize), 0);
    ldf_Put16(record.data(), LDF_RECORD_MARKER);
    ldf_Put32(record.data() + 4, static_cast<int32_t>(start));
    ldf_Put16(record.data() + 16, LDF_VALUES_MARKER);
    ldf_Put16(record.data() + h.recordSize - 2, LDF_RECORD_END);
    ASSERT_EQ(store.WriteLog(&h, record.data(), 1), 0);
    store.Close();
}

class LgrConnection : public ::testing::Test {
protected:
    void SetUp() override {
        prefix_ = test_UseUniqueIpcPrefix("lgrconn");
        srv_SetLocalDataCloseDelay(0);
        // The module's load-time set-up registers the kinds and installs the factory.
        dll_WireServices();
    }
    void TearDown() override {
        srv_CloseAll();
        srv_SetLocalDataServerFactory(nullptr);
        srv_SetLocalDataCloseDelay(-1);
        test_RemoveIpcObjects(prefix_);
    }
    TempFolder root_;
    std::string prefix_;
};

} // namespace

TEST_F(LgrConnection, AFolderSpecReachesTheServerThatTheModuleWires) {
    std::string folder = root_.path() + "/LINE";
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    writeRun(folder, 1700000000);
    char reply[256];
    int size = sizeof reply;
    srv_SetLocalDataServerFactory(nullptr);
    EXPECT_EQ(srv_Command(folder.c_str(), "QE", reply, &size), -1);
    EXPECT_EQ(errno, 50);

    dll_WireServices();
    size = sizeof reply;
    // The result is the number the reply begins with.
    EXPECT_EQ(srv_Command(folder.c_str(), "QE", reply, &size), 0);
    EXPECT_EQ(std::string(reply, static_cast<size_t>(size)), std::string("0\0", 2));
    size = sizeof reply;
    EXPECT_EQ(srv_Command(folder.c_str(), "TS", reply, &size), 1700000000);
    EXPECT_EQ(std::string(reply), "1700000000,0");
    EXPECT_EQ(size, 13 + 172);
    // A reply larger than the buffer: 234, and the connection stays.
    size = 100;
    EXPECT_EQ(srv_Command(folder.c_str(), "TS", reply, &size), -1);
    EXPECT_EQ(errno, 234);
    size = sizeof reply;
    EXPECT_EQ(srv_Command(folder.c_str(), "QP", reply, &size), 2);
    EXPECT_EQ(std::string(reply), "2");

    // A connection string reaches the server too: without its LoggerName item the open fails
    // with no error, which the table reports as 31, not the 50 of a missing factory.
    size = sizeof reply;
    errno = 50;
    plat_SetLastError(50);
    EXPECT_EQ(srv_Command("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb", "QE", reply, &size),
              -1);
    EXPECT_EQ(plat_GetLastError(), 31u);

    // A folder without runs: the open fails and the request with it.
    std::string empty = root_.path() + "/EMPTY";
    ASSERT_EQ(mkdir(empty.c_str(), 0777), 0);
    size = sizeof reply;
    EXPECT_EQ(srv_Command(empty.c_str(), "QE", reply, &size), -1);
}
