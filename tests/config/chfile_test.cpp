#include "chfile.h"
#include "tag.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace A = ChannelAnalog;
namespace D = ChannelDigital;

using Bytes = std::vector<uint8_t>;

Bytes readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string &path, const Bytes &data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

void put(Bytes &b, size_t at, const std::string &text) {
    std::memcpy(&b[at], text.data(), text.size());
}
void put(Bytes &b, size_t at, std::initializer_list<uint8_t> raw) {
    std::copy(raw.begin(), raw.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

class ChannelFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        ts_SetTimeZone();
        // 2024-03-05 06:07:08.009 local.
        plat_SetFakeClock(1709618828009LL);
        char tmpl[] = "/tmp/kvt_chfile_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        plat_ClearFakeClock();
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }

    std::string dir_;
};

// Seconds 1709618828 = 0x65E6B68C, milliseconds 9.
const Bytes k_header = {0x8C, 0xB6, 0xE6, 0x65, 0x09, 0x00, 0x00, 0x00};

TEST_F(ChannelFileTest, WrittenFileMatchesTheFormatByteForByte) {
    ChannelRecord recs[2] = {};
    // Channel 0: analogue input with tag, description, units, flags, limits, scaling.
    ChannelRecord &ai = recs[0];
    chrec_SetType(&ai, CHANNEL_TYPE_AI);
    tag_SetTag(&ai, "TANK_LEVEL_001");
    tag_SetDescription(&ai, "Level of the storage tank north");
    tag_SetUnits(&ai, "m3/hour");
    chrec_SetFlag(&ai, A::Enable, 1);
    chrec_SetFlag(&ai, A::HighAlarmEnable, 1);
    chrec_SetFlag(&ai, A::ScalingEnable, 1);
    chrec_Set(&ai, A::Gain, 0.5f);
    chrec_Set(&ai, A::Offset, -2.0f);
    chrec_Set(&ai, A::HighAlarmLimit, 100.0f);
    chrec_Set(&ai, A::LowWarningLimit, 1.0f);
    chrec_Set(&ai, A::HighAlarmPriority, uint8_t{3});
    chrec_Set(&ai, A::ErrorAlarmDelay, uint16_t{500});
    chrec_SetText(&ai, A::HighAlarmText, "TOO HIGH");
    const uint8_t address[16] = {1, 0, 10, 0, 0x20, 0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::memcpy(chrec_DevicePart(&ai), address, sizeof address);
    ai.bytes[25] = 0x77; // a byte no field names travels unchanged

    // Channel 1: digital output.
    ChannelRecord &dout = recs[1];
    chrec_SetType(&dout, CHANNEL_TYPE_DO);
    tag_SetTag(&dout, "VALVE");
    tag_SetDescription(&dout, "Inlet valve");
    chrec_SetFlag(&dout, D::AlarmState, 1);
    chrec_SetFlag(&dout, D::Enable, 1);
    chrec_SetText(&dout, D::HighStateText, "OPEN");
    chrec_SetText(&dout, D::LowStateText, "CLOSED");
    chrec_Set(&dout, D::AlarmDelay, uint16_t{0x0102});
    dout.bytes[192] = 0xD5;
    dout.bytes[215] = 0x5D;

    std::string path = chfile_Path(dir_.c_str(), CHANNEL_KIND_AI);
    ASSERT_EQ(chfile_WriteChannels(path.c_str(), recs, 0, 2), 0);

    Bytes expected(8 + 2 * 216, 0);
    put(expected, 0,
        std::initializer_list<uint8_t>{0x8C, 0xB6, 0xE6, 0x65, 0x09, 0x00, 0x00, 0x00});
    size_t r = 8;
    put(expected, r + 0, "TANK_LEV");
    put(expected, r + 138, "EL_0");
    put(expected, r + 158, "01");
    put(expected, r + 8, "Level of the sto");
    put(expected, r + 142, "rage tank north");
    put(expected, r + 32, "m3/h");
    put(expected, r + 161, "our");
    put(expected, r + 24, {0x00, 0x77});
    put(expected, r + 28, {0x05, 0x04});              // bits 5 and 7; bit 13
    put(expected, r + 36, {0x00, 0x00, 0x00, 0x3F});  // 0.5
    put(expected, r + 40, {0x00, 0x00, 0x00, 0xC0});  // -2.0
    put(expected, r + 52, {0x00, 0x00, 0xC8, 0x42});  // 100.0
    put(expected, r + 180, {0x00, 0x00, 0x80, 0x3F}); // 1.0
    put(expected, r + 72, {3});
    put(expected, r + 166, {0xF4, 0x01});
    put(expected, r + 74, "TOO HIGH");
    put(expected, r + 188, {1, 0, 10, 0, 0x20, 0, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    r = 8 + 216;
    put(expected, r + 0, "VALVE");
    put(expected, r + 8, "Inlet valve");
    put(expected, r + 24, {0x03});
    put(expected, r + 28, {0x21});
    put(expected, r + 32, "OPEN");
    put(expected, r + 64, "CLOSED");
    put(expected, r + 190, {0x02, 0x01});
    put(expected, r + 192, {0xD5});
    put(expected, r + 215, {0x5D});

    EXPECT_EQ(path, dir_ + "/ai");
    EXPECT_EQ(readFile(path), expected);

    ChannelRecord back[2];
    std::memset(back, 0xEE, sizeof back);
    ASSERT_EQ(chfile_ReadChannels(path.c_str(), back, 0, 2), 0);
    EXPECT_EQ(std::memcmp(back, recs, sizeof recs), 0);
    EXPECT_EQ(tag_GetTag(back[0]), "TANK_LEVEL_001");
    EXPECT_EQ(chrec_Get(back[0], A::Offset), -2.0f);

    ChannelFileHeader header{};
    ASSERT_EQ(chfile_ReadHeader(path.c_str(), &header), 0);
    EXPECT_EQ(header.written.seconds, 1709618828);
    EXPECT_EQ(header.written.milliseconds, 9);
}

TEST_F(ChannelFileTest, PartialWriteKeepsTheRestAndRewritesTheHeader) {
    std::string path = chfile_Path(dir_.c_str(), CHANNEL_KIND_DO);
    Bytes original(8 + 3 * 216);
    for (size_t i = 0; i < original.size(); ++i)
        original[i] = static_cast<uint8_t>(i * 7);
    writeFile(path, original);

    ChannelRecord one{};
    std::memset(one.bytes, 0x42, sizeof one.bytes);
    ASSERT_EQ(chfile_WriteChannels(path.c_str(), &one, 1, 1), 0);
    Bytes expected = original;
    put(expected, 0,
        std::initializer_list<uint8_t>{0x8C, 0xB6, 0xE6, 0x65, 0x09, 0x00, 0x00, 0x00});
    std::fill(expected.begin() + 8 + 216, expected.begin() + 8 + 432, 0x42);
    EXPECT_EQ(readFile(path), expected);

    // A write of no channels still stamps the header.
    plat_AdvanceFakeClock(1000);
    ASSERT_EQ(chfile_WriteChannels(path.c_str(), nullptr, 0, 0), 0);
    Bytes after = readFile(path);
    EXPECT_EQ(after.size(), expected.size());
    EXPECT_EQ(after[0], 0x8D);
    EXPECT_TRUE(std::equal(after.begin() + 8, after.end(), expected.begin() + 8));
}

TEST_F(ChannelFileTest, WritingPastTheEndExtendsWithZeros) {
    std::string path = chfile_Path(dir_.c_str(), CHANNEL_KIND_DI);
    ChannelRecord five[5];
    std::memset(five, 0x11, sizeof five);
    ASSERT_EQ(chfile_WriteChannels(path.c_str(), five, 0, 5), 0);
    ChannelRecord ten[10];
    std::memset(ten, 0x22, sizeof ten);
    ASSERT_EQ(chfile_WriteChannels(path.c_str(), ten, 10, 10), 0);

    EXPECT_EQ(readFile(path).size(), 8u + 20 * 216);
    ChannelRecord gap[5];
    std::memset(gap, 0xEE, sizeof gap);
    ASSERT_EQ(chfile_ReadChannels(path.c_str(), gap, 5, 5), 0);
    for (const ChannelRecord &g : gap)
        for (uint8_t b : g.bytes)
            ASSERT_EQ(b, 0);
    ChannelRecord last{};
    ASSERT_EQ(chfile_ReadChannels(path.c_str(), &last, 19, 1), 0);
    EXPECT_EQ(last.bytes[100], 0x22);
}

TEST_F(ChannelFileTest, MissingOrShortFilesAreRefused) {
    ChannelRecord recs[3];
    std::memset(recs, 0xEE, sizeof recs);
    std::string path = chfile_Path(dir_.c_str(), CHANNEL_KIND_AO);
    EXPECT_EQ(chfile_ReadChannels(path.c_str(), recs, 0, 1), -1);
    EXPECT_EQ(errno, 2);
    std::string noFolder = chfile_Path((dir_ + "/nodevice").c_str(), CHANNEL_KIND_AO);
    EXPECT_EQ(chfile_ReadChannels(noFolder.c_str(), recs, 0, 1), -1);
    EXPECT_EQ(errno, 3);
    EXPECT_EQ(chfile_WriteChannels(noFolder.c_str(), recs, 0, 1), -1);
    EXPECT_EQ(errno, 3);

    // Two whole channels and half a third: reading three fails and changes nothing.
    Bytes data(8 + 2 * 216 + 100, 0x33);
    writeFile(path, data);
    EXPECT_EQ(chfile_ReadChannels(path.c_str(), recs, 0, 3), -1);
    EXPECT_EQ(errno, 38);
    EXPECT_EQ(recs[0].bytes[0], 0xEE);
    EXPECT_EQ(chfile_ReadChannels(path.c_str(), recs, 2, 1), -1);
    EXPECT_EQ(errno, 38);
    ASSERT_EQ(chfile_ReadChannels(path.c_str(), recs, 0, 2), 0);
    EXPECT_EQ(recs[1].bytes[215], 0x33);
    EXPECT_EQ(recs[2].bytes[0], 0xEE);

    // A header alone is too short for any channel; count 0 reads nothing.
    writeFile(path, Bytes(4, 0));
    ChannelFileHeader header;
    EXPECT_EQ(chfile_ReadHeader(path.c_str(), &header), -1);
    EXPECT_EQ(errno, 38);
    EXPECT_EQ(chfile_ReadChannels(path.c_str(), recs, 0, 0), 0);
}

TEST_F(ChannelFileTest, NegativeRangesAreRefusedBeforeTheFileIsTouched) {
    std::string path = chfile_Path(dir_.c_str(), CHANNEL_KIND_CI);
    ChannelRecord rec{};
    EXPECT_EQ(chfile_WriteChannels(path.c_str(), &rec, -1, 1), -1);
    EXPECT_EQ(errno, 87);
    EXPECT_EQ(chfile_WriteChannels(path.c_str(), &rec, 0, -1), -1);
    EXPECT_EQ(errno, 87);
    EXPECT_TRUE(readFile(path).empty()); // never created
    EXPECT_EQ(chfile_ReadChannels(path.c_str(), &rec, -5, 1), -1);
    EXPECT_EQ(errno, 87);
    EXPECT_EQ(chfile_ChannelOffset(20000000), 8 + 216LL * 20000000);
}

TEST_F(ChannelFileTest, PathsAcceptBothSeparatorsAndNameTheKind) {
    EXPECT_EQ(chfile_Path("cfg\\dev01", CHANNEL_KIND_DC2), "cfg/dev01/dc");
    EXPECT_EQ(chfile_Path("cfg/dev01/", CHANNEL_KIND_CI), "cfg/dev01/ci");
    EXPECT_EQ(chfile_Path(nullptr, CHANNEL_KIND_DI), "di");
    EXPECT_EQ(chfile_Path("", CHANNEL_KIND_AO), "ao");
    EXPECT_EQ(chfile_Path("cfg", 9), "");
}

TEST_F(ChannelFileTest, ExtraFileIsReadWholeOrAsZeros) {
    std::string path = dir_ + "/extra.bin";
    uint8_t buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(chfile_ReadExtra(path.c_str(), buf, sizeof buf), 0);
    for (uint8_t b : buf)
        EXPECT_EQ(b, 0);

    const uint8_t block[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(chfile_WriteExtra(path.c_str(), block, sizeof block), 0);
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(chfile_ReadExtra(path.c_str(), buf, sizeof buf), 0);
    EXPECT_EQ(buf[5], 6);
    EXPECT_EQ(buf[6], 0);

    // A longer file fills the buffer only.
    uint8_t small[4] = {};
    EXPECT_EQ(chfile_ReadExtra(path.c_str(), small, 3), 0);
    EXPECT_EQ(small[2], 3);
    EXPECT_EQ(small[3], 0);

    EXPECT_EQ(chfile_ReadExtra(path.c_str(), buf, -1), -1);
    EXPECT_EQ(errno, 87);
    // A folder in the way is another failure, not a missing file.
    EXPECT_EQ(chfile_ReadExtra(dir_.c_str(), buf, sizeof buf), -1);
    EXPECT_EQ(errno, 5);
}

} // namespace
