#include "chrec.h"
#include "plat_error.h"
#include "sv.h"
#include "tag.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <vector>

namespace {

class SavedValuesTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = tmp_ / "saved";
        mkdir(folder_.c_str(), 0777);
        setenv("KVT_SAVED_VALUES", folder_.c_str(), 1);
    }
    void TearDown() override { unsetenv("KVT_SAVED_VALUES"); }

    static ChannelRecord channel(uint8_t type, const char *tag, bool enabled = true) {
        ChannelRecord r{};
        chrec_SetType(&r, type);
        tag_SetTag(&r, tag);
        chrec_SetFlag(&r, ChannelDigital::Enable, enabled ? 1 : 0);
        return r;
    }
    std::vector<uint8_t> file(const char *name) {
        std::ifstream in(folder_ + "/" + name, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    TempFolder tmp_;
    std::string folder_;
};

TEST_F(SavedValuesTest, FileBytesOfASave) {
    ChannelRecord recs[3] = {channel(CHANNEL_TYPE_AO, "PUMP_SPEED_SETPOINT"),
                             channel(CHANNEL_TYPE_AO, "OFF", false), channel(CHANNEL_TYPE_AO, "V")};
    float values[3] = {1.5f, 2.0f, -3.0f};
    EXPECT_EQ(15, sv_SaveValues("dev1", CHANNEL_KIND_AO, values, recs, 3));

    auto bin = file("dev1_ao.bin");
    ASSERT_EQ(48u, bin.size());
    EXPECT_EQ(0, memcmp(bin.data(), "PUMP_SPEED_S", 12)); // 12 characters, no terminator
    EXPECT_EQ(0, memcmp(bin.data() + 12, &values[0], 4));
    for (int i = 16; i < 28; ++i)
        EXPECT_EQ(0, bin[i]) << "disabled channel's tag byte " << i;
    EXPECT_EQ(0, memcmp(bin.data() + 28, &values[1], 4));
    auto tag = file("dev1_ao.tag");
    ASSERT_EQ(45u, tag.size());
    EXPECT_EQ(0, memcmp(tag.data(), "PUMP_SPEED_SETP", 15));
    EXPECT_EQ(0, memcmp(tag.data() + 30, "V\0\0", 3));

    struct stat st;
    ASSERT_EQ(0, stat((folder_ + "/dev1_ao.bin").c_str(), &st));
    EXPECT_EQ(0666u, st.st_mode & 0777);
}

TEST_F(SavedValuesTest, EmptyTableAndErrors) {
    EXPECT_EQ(0, sv_SaveValues("dev1", CHANNEL_KIND_DO, nullptr, nullptr, 0));
    EXPECT_EQ(0, sv_LoadValues("dev1", CHANNEL_KIND_DO, 1, nullptr, nullptr, 0));

    uint32_t out[1] = {7};
    ChannelRecord rec = channel(CHANNEL_TYPE_DO, "A");
    EXPECT_EQ(-1, sv_LoadValues("nodev", CHANNEL_KIND_DO, 0, out, &rec, 1));
    EXPECT_EQ(WERR_FILE_NOT_FOUND, static_cast<uint32_t>(errno));

    setenv("KVT_SAVED_VALUES", (folder_ + "/missing").c_str(), 1);
    EXPECT_EQ(-1, sv_SaveValues("dev1", CHANNEL_KIND_DO, out, &rec, 1));
    EXPECT_EQ(WERR_PATH_NOT_FOUND, static_cast<uint32_t>(errno));
}

TEST_F(SavedValuesTest, ByPositionShortFileKeepsWhatWasRead) {
    ChannelRecord recs[3] = {channel(CHANNEL_TYPE_AO, "A"), channel(CHANNEL_TYPE_AO, "B"),
                             channel(CHANNEL_TYPE_AO, "C")};
    float saved[2] = {4.0f, 5.0f};
    ASSERT_EQ(15, sv_SaveValues("d", CHANNEL_KIND_AO, saved, recs, 2));
    float out[3] = {9, 9, 9};
    EXPECT_EQ(-1, sv_LoadValues("d", CHANNEL_KIND_AO, 0, out, recs, 3));
    EXPECT_EQ(WERR_HANDLE_EOF, static_cast<uint32_t>(errno));
    EXPECT_EQ(4.0f, out[0]);
    EXPECT_EQ(5.0f, out[1]);
    EXPECT_EQ(0.0f, out[2]);
    EXPECT_EQ(4, sv_LoadValues("d", CHANNEL_KIND_AO, 0, out, recs, 2));
}

TEST_F(SavedValuesTest, DigitalChannelsGetOnlyTheState) {
    ChannelRecord recs[2] = {channel(CHANNEL_TYPE_DO, "D1"), channel(CHANNEL_TYPE_DO, "D2")};
    uint32_t words[2] = {0x0821u, 0x0080u};
    ASSERT_EQ(15, sv_SaveValues("d", CHANNEL_KIND_DO, words, recs, 2));
    uint32_t out[2];
    EXPECT_EQ(4, sv_LoadValues("d", CHANNEL_KIND_DO, 0, out, recs, 2));
    EXPECT_EQ(1u, out[0]);
    EXPECT_EQ(0u, out[1]);
}

TEST_F(SavedValuesTest, ByTagAfterReorderAndRename) {
    ChannelRecord before[3] = {channel(CHANNEL_TYPE_AO, "FLOW"), channel(CHANNEL_TYPE_AO, "LEVEL"),
                               channel(CHANNEL_TYPE_AO, "TEMP")};
    float saved[3] = {1.0f, 2.0f, 3.0f};
    ASSERT_EQ(15, sv_SaveValues("d", CHANNEL_KIND_AO, saved, before, 3));

    ChannelRecord after[3] = {channel(CHANNEL_TYPE_AO, "temp"),
                              channel(CHANNEL_TYPE_AO, "FLOW_NEW"),
                              channel(CHANNEL_TYPE_AO, "LEVEL")};
    float out[3];
    EXPECT_EQ(15, sv_LoadValues("d", CHANNEL_KIND_AO, 1, out, after, 3));
    EXPECT_EQ(3.0f, out[0]);
    EXPECT_EQ(0.0f, out[1]); // renamed: nothing restored
    EXPECT_EQ(2.0f, out[2]);
}

TEST_F(SavedValuesTest, DuplicateTagsPreferTheOwnPosition) {
    ChannelRecord recs[3] = {channel(CHANNEL_TYPE_AO, "X"), channel(CHANNEL_TYPE_AO, "Y"),
                             channel(CHANNEL_TYPE_AO, "X")};
    float saved[3] = {1.0f, 2.0f, 3.0f};
    ASSERT_EQ(15, sv_SaveValues("d", CHANNEL_KIND_AO, saved, recs, 3));
    float out[3];
    EXPECT_EQ(15, sv_LoadValues("d", CHANNEL_KIND_AO, 1, out, recs, 3));
    EXPECT_EQ(1.0f, out[0]);
    EXPECT_EQ(3.0f, out[2]);

    // The channel at position 2 now carries another tag: its saved "X" lands on the first X.
    recs[2] = channel(CHANNEL_TYPE_AO, "Z");
    EXPECT_EQ(15, sv_LoadValues("d", CHANNEL_KIND_AO, 1, out, recs, 3));
    EXPECT_EQ(3.0f, out[0]);
    EXPECT_EQ(0.0f, out[2]);
}

TEST_F(SavedValuesTest, WithoutTagFileLongTagsDoNotMatchOnTheirPrefix) {
    ChannelRecord recs[2] = {channel(CHANNEL_TYPE_AO, "SETPOINT_0001A"),
                             channel(CHANNEL_TYPE_AO, "SHORT")};
    float saved[2] = {1.0f, 2.0f};
    ASSERT_EQ(15, sv_SaveValues("d", CHANNEL_KIND_AO, saved, recs, 2));
    ASSERT_EQ(0, remove((folder_ + "/d_ao.tag").c_str()));
    // A channel that shares the first 12 characters must not receive the value.
    ChannelRecord now[2] = {channel(CHANNEL_TYPE_AO, "SETPOINT_0001B"),
                            channel(CHANNEL_TYPE_AO, "SHORT")};
    float out[2];
    EXPECT_EQ(4, sv_LoadValues("d", CHANNEL_KIND_AO, 1, out, now, 2));
    EXPECT_EQ(0.0f, out[0]);
    EXPECT_EQ(2.0f, out[1]);
}

TEST_F(SavedValuesTest, LongerFileKeepsItsStaleTail) {
    ChannelRecord recs[3] = {channel(CHANNEL_TYPE_AO, "A"), channel(CHANNEL_TYPE_AO, "B"),
                             channel(CHANNEL_TYPE_AO, "C")};
    float saved[3] = {1.0f, 2.0f, 3.0f};
    ASSERT_EQ(15, sv_SaveValues("d", CHANNEL_KIND_AO, saved, recs, 3));
    float fewer[1] = {7.0f};
    ASSERT_EQ(15, sv_SaveValues("d", CHANNEL_KIND_AO, fewer, recs, 1));
    auto bin = file("d_ao.bin");
    ASSERT_EQ(48u, bin.size());
    EXPECT_EQ(0, memcmp(bin.data() + 44, &saved[2], 4));
    EXPECT_EQ(45u, file("d_ao.tag").size());
}

TEST_F(SavedValuesTest, UpdateRewritesOnlyChangedValues) {
    ChannelRecord recs[2] = {channel(CHANNEL_TYPE_AO, "A"), channel(CHANNEL_TYPE_AO, "B")};
    float first[2] = {1.0f, 2.0f};
    float second[2] = {1.0f, 8.0f};
    // No file yet: written whole.
    EXPECT_EQ(15, sv_UpdateValues("d", CHANNEL_KIND_AO, first, first, recs, 2));
    // Tags are left alone, so a renamed channel keeps its saved tag until the next save.
    recs[1] = channel(CHANNEL_TYPE_AO, "RENAMED");
    EXPECT_EQ(1, sv_UpdateValues("d", CHANNEL_KIND_AO, second, first, recs, 2));
    auto bin = file("d_ao.bin");
    EXPECT_EQ(0, memcmp(bin.data() + 28, &second[1], 4));
    EXPECT_EQ('B', bin[16]);
}

} // namespace
