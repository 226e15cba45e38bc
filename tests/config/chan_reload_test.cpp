#include "chan.h"

#include "chfile.h"
#include "chrec.h"
#include "dm.h"
#include "plat_clock.h"
#include "shm.h"
#include "test_ipc.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
// A table "C1" of three channels whose configuration segment holds `capacity` records,
// with the current folder a fresh device folder.
class ChanReloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        prefix = test_UseUniqueIpcPrefix("chan");
        folder = std::filesystem::temp_directory_path() / ("kvt-chan-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        previous = std::filesystem::current_path();
        std::filesystem::current_path(folder);
    }
    void TearDown() override {
        plat_ClearFakeClock();
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(folder);
        test_RemoveIpcObjects(prefix);
    }
    void createTable(const char *id, uint16_t count, int capacity) {
        std::string name = std::string("dm_") + id;
        SegmentHeader *data = shm_OpenOrCreateSegment(name.c_str(), 20 + 8 * count);
        ASSERT_NE(data, SHM_NO_SEGMENT);
        header = reinterpret_cast<ChannelTableHeader *>(shm_Payload(data));
        memcpy(header->tableId, id, 2);
        header->channelCount = count;
        conf = shm_OpenOrCreateSegment((name + "_conf").c_str(), 216 * capacity);
        ASSERT_NE(conf, SHM_NO_SEGMENT);
    }
    void writeChannels(int count) {
        std::vector<ChannelRecord> records(static_cast<size_t>(count));
        for (int c = 0; c < count; ++c)
            memset(records[c].bytes, 'a' + c, sizeof records[c].bytes);
        ASSERT_EQ(chfile_WriteChannels("ai", records.data(), 0, count), 0);
    }
    std::string prefix;
    std::filesystem::path folder, previous;
    ChannelTableHeader *header = nullptr;
    SegmentHeader *conf = nullptr;
};
} // namespace

TEST_F(ChanReloadTest, ChangedFileIsLoadedOnceAndStamped) {
    createTable("C1", 3, 3);
    writeChannels(3);
    EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header), 3 * 216);
    uint8_t *records = shm_Payload(conf);
    EXPECT_EQ(records[0], 'a');
    EXPECT_EQ(records[2 * 216 + 215], 'c');
    EXPECT_NE(header->fileTime.seconds, 0);
    // Once the file's time lies well back, the next reload settles it and the one after
    // finds nothing new.
    struct stat st;
    ASSERT_EQ(stat("ai", &st), 0);
    plat_SetFakeClock(static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + 60000);
    EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header), 3 * 216);
    EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header), 0);
    // A changed stamp in the header (another loader) makes the file load again.
    header->fileTime.milliseconds =
        static_cast<int16_t>((header->fileTime.milliseconds + 1) % 1000);
    EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header), 3 * 216);
}

TEST_F(ChanReloadTest, MissingFileFailsWithFileNotFound) {
    createTable("C2", 3, 3);
    EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_DI, header), -1);
    EXPECT_EQ(errno, 2);
}

TEST_F(ChanReloadTest, MoreChannelsThanTheSegmentHoldsFailWithoutTouchingIt) {
    createTable("C3", 4, 3);
    writeChannels(4);
    memset(shm_Payload(conf), 'z', 3 * 216);
    EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header), -1);
    EXPECT_EQ(errno, 67);
    EXPECT_EQ(shm_Payload(conf)[0], 'z');
    EXPECT_EQ(header->fileTime.seconds, 0);

    // A stamp that is current does not let the records through either.
    createTable("C5", 3, 3);
    writeChannels(3);
    ASSERT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header), 3 * 216);
    header->channelCount = 4;
    EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header), -1);
    EXPECT_EQ(errno, 67);
}

TEST_F(ChanReloadTest, FileShorterThanTheTableFails) {
    createTable("C4", 5, 5);
    writeChannels(2);
    EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header), -1);
    EXPECT_EQ(header->fileTime.seconds, 0);
}
