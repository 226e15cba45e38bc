#include "ldf.h"
#include "lfile.h"
#include "lstore_file.h"
#include "plat_file.h"
#include "plat_fileops.h"
#include "store_fixture.h"
#include "temp_registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <sys/stat.h>

namespace {

std::vector<uint8_t> fileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Little-endian fields read straight from the bytes, independent of the production structs.
uint32_t u16(const std::vector<uint8_t> &b, size_t at) {
    return b.at(at) | (b.at(at + 1) << 8);
}
int64_t i32(const std::vector<uint8_t> &b, size_t at) {
    return static_cast<int32_t>(b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) |
                                (static_cast<uint32_t>(b.at(at + 3)) << 24));
}

TEST(DataFile, RunWrittenClosedReopenedAndReadBack) {
    TempFolder dir;
    std::string path = dir / "LINE12_240517_083000.odl";
    LogHeader h = fx::twoBlockHeader(1715934600);
    EXPECT_EQ(h.recordSize, 62);
    EXPECT_EQ(h.blocks[0].valuesOffset, 18);
    EXPECT_EQ(h.blocks[1].valuesOffset, 44);
    {
        CLogFileStore store;
        ASSERT_EQ(fx::createRun(store, path, &h), 0);
        EXPECT_EQ(h.extOffset, 900 + (4 + 216 * 3) + (4 + 216 * 2));
        EXPECT_EQ(h.dataOffset, h.extOffset + 3504);
        std::vector<uint8_t> recs = fx::records(h, 0, 250, 1715934600);
        for (int batch = 0; batch < 5; ++batch)
            ASSERT_EQ(store.WriteLog(&h, recs.data() + batch * 50 * 62, 50), 0);
        store.Close();
    }
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);

    // The bytes, read by hand against the layout.
    std::vector<uint8_t> b = fileBytes(path);
    const int64_t ext = 1988, data = 1988 + 3504;
    ASSERT_EQ(static_cast<int64_t>(b.size()), data + 250 * 62);
    EXPECT_EQ(i32(b, 0), data + 250 * 62); // write position saved on close
    EXPECT_EQ(u16(b, 4), 0x8001u);
    EXPECT_EQ(u16(b, 6), 2u);
    EXPECT_EQ(i32(b, 12), 1715934600);
    EXPECT_EQ(i32(b, 20), 0);
    EXPECT_EQ(i32(b, 28), data);
    EXPECT_EQ(i32(b, 32), 62);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 38), "ai");
    EXPECT_EQ(u16(b, 36 + 2), 1u);
    EXPECT_EQ(u16(b, 36 + 4), 3u);
    EXPECT_EQ(u16(b, 36 + 8), 18u);
    EXPECT_EQ(std::string(b.begin() + 88, b.begin() + 90), "di");
    EXPECT_EQ(u16(b, 88 + 8), 44u);
    EXPECT_EQ(i32(b, 892), 3504);
    EXPECT_EQ(i32(b, 896), ext);
    EXPECT_EQ(u16(b, 900), 0x8002u);
    EXPECT_EQ(b[902], 0x10);
    EXPECT_EQ(b[902 + 216 * 2], 0x12);
    EXPECT_EQ(u16(b, 902 + 648), 0x8003u);
    EXPECT_EQ(u16(b, 1552), 0x8002u);
    EXPECT_EQ(b[1554 + 216], 0x41);
    EXPECT_EQ(u16(b, 1554 + 432), 0x8003u);
    EXPECT_EQ(u16(b, ext), 2u);
    EXPECT_EQ(u16(b, ext + 2 + 52 + 8), 44u);
    EXPECT_EQ(b[ext + 3332 + 84], 0x3C);
    const size_t r7 = data + 7 * 62;
    EXPECT_EQ(u16(b, r7), 0x8004u);
    EXPECT_EQ(i32(b, r7 + 4), 1715934607);
    EXPECT_EQ(u16(b, r7 + 16), 0x8005u);
    EXPECT_EQ(i32(b, r7 + 18), 0x80);
    EXPECT_EQ(u16(b, r7 + 42), 0x8005u);
    EXPECT_EQ(u16(b, r7 + 60), 0x8006u);

    // Reopened and read back record for record.
    CLogFileStore reader;
    ASSERT_EQ(reader.Open(nullptr, path.c_str(), LSTORE_READ), 0);
    LogHeader r;
    ASSERT_EQ(reader.ReadHeader(&r), 0);
    EXPECT_EQ(r.recordCount, 250);
    EXPECT_EQ(r.writePos, data + 250 * 62);
    EXPECT_EQ(r.carried[84], 0x3C);
    EXPECT_EQ(memcmp(r.blocks, h.blocks, sizeof h.blocks), 0);
    std::vector<uint8_t> back(250 * 62);
    EXPECT_EQ(reader.ReadLogs(0, &r, back.data(), 250), 250);
    EXPECT_EQ(back, fx::records(h, 0, 250, 1715934600));
    EXPECT_EQ(reader.ReadLogs(240, &r, back.data(), 50), 10); // whole records up to the end
    std::vector<uint8_t> one(62);
    EXPECT_EQ(reader.ReadLog(249, &r, one.data(), 62), 0);
    EXPECT_EQ(reader.ReadLog(250, &r, one.data(), 62), -1);
    std::vector<uint8_t> channels(216 * 2);
    EXPECT_EQ(reader.ReadChannelInfo(&r, channels.data(), 1, 0, 2), 0);
    EXPECT_EQ(channels[216], 0x41);
    EXPECT_EQ(reader.ReadChannelInfo(&r, channels.data(), 2, 0, 1), -1); // block index = count
    EXPECT_EQ(reader.ReadChannelInfo(&r, channels.data(), 0, 2, 2), -1);
    EXPECT_EQ(reader.ReadChannelInfo(&r, channels.data(), 0, -1, 1), -1);
    EXPECT_EQ(reader.ReadLogs(-1, &r, back.data(), 1), 0);
    EXPECT_EQ(errno, 87);
    EXPECT_EQ(reader.GetNoValidLogs(&r), 0);            // no significant-change flag
    EXPECT_EQ(ldf_RecordCount(r, r.dataOffset - 1), 0); // shorter than the data offset
    LogHeader before = r;
    before.dataOffset = -2000000000; // records before the file's start: none
    EXPECT_EQ(ldf_RecordCount(before, r.dataOffset + 62), 0);
    LogHeader zero = r;
    zero.recordSize = 0;
    EXPECT_EQ(reader.GetNoLogs(&zero), -1);
    EXPECT_EQ(errno, 13);
}

TEST(DataFile, NonFiniteValuesAreMarkedInvalidWithinBounds) {
    LogHeader h = fx::twoBlockHeader(0);
    std::vector<uint8_t> rec = fx::records(h, 0, 1, 0);
    ldf_PutFloat(rec.data() + 18 + 12 + 4, std::numeric_limits<float>::quiet_NaN()); // ai channel 1
    ldf_PutFloat(rec.data() + 44 + 8 + 4, std::numeric_limits<float>::infinity());   // di channel 1
    ldf_Put32(rec.data() + 18 + 8, 0x01); // ai 2: no number
    ldf_PutFloat(rec.data() + 18 + 12 + 8, std::numeric_limits<float>::infinity());
    ldf_MarkInvalidValues(h, rec.data());
    EXPECT_EQ(ldf_Get32(rec.data() + 18), 0x80);
    EXPECT_EQ(ldf_Get32(rec.data() + 22), 0xA0);
    EXPECT_EQ(ldf_Get32(rec.data() + 26), 0x01);
    EXPECT_EQ(ldf_Get32(rec.data() + 48), 0xA0);
    // A descriptor whose values would reach the end marker is skipped, never read past.
    LogHeader bad = h;
    bad.blocks[1].last = 60;
    std::vector<uint8_t> copy = fx::records(h, 0, 1, 0);
    ldf_PutFloat(copy.data() + 44 + 8 + 4, std::numeric_limits<float>::infinity());
    ldf_MarkInvalidValues(bad, copy.data());
    EXPECT_EQ(ldf_Get32(copy.data() + 48), 0x80);
    bad.blocks[1].last = 4; // fewer than one channel
    ldf_MarkInvalidValues(bad, copy.data());
    EXPECT_EQ(ldf_Get32(copy.data() + 48), 0x80);
}

// Writes the damage into a copy of a good run and opens it.
class DamagedHeader : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_ / "240517_083000.odl";
        LogHeader h = fx::twoBlockHeader(1715934600);
        CLogFileStore store;
        ASSERT_EQ(fx::createRun(store, path_, &h), 0);
        std::vector<uint8_t> recs = fx::records(h, 0, 3, 0);
        ASSERT_EQ(store.WriteLog(&h, recs.data(), 3), 0);
        extOffset_ = h.extOffset;
    }
    void poke32(int64_t at, int32_t v) {
        int fd = plat_FileOpen(path_.c_str(), PLAT_FILE_READ_WRITE);
        ASSERT_EQ(plat_FileWriteAt(fd, &v, 4, at), 0);
        plat_FileClose(fd);
    }
    void poke16(int64_t at, uint16_t v) {
        int fd = plat_FileOpen(path_.c_str(), PLAT_FILE_READ_WRITE);
        ASSERT_EQ(plat_FileWriteAt(fd, &v, 2, at), 0);
        plat_FileClose(fd);
    }
    int readHeader(LogHeader *out) {
        CLogFileStore store;
        if (store.Open(nullptr, path_.c_str(), LSTORE_READ) != 0) return -2;
        int rc = store.ReadHeader(out);
        int err = errno;
        uint8_t last[16];
        int has;
        EXPECT_EQ(lfile_ReadRunInfo(path_.c_str(), out, last, &has), rc);
        errno = err;
        return rc;
    }
    TempFolder dir_;
    std::string path_;
    int32_t extOffset_ = 0;
};

TEST_F(DamagedHeader, CountsAndLengthsOutsideTheLayoutAreRefused) {
    LogHeader h;
    poke16(6, 65);
    poke16(extOffset_, 65);
    EXPECT_EQ(readHeader(&h), -1);
    EXPECT_EQ(errno, 13);
    poke32(892, 0);
    EXPECT_EQ(readHeader(&h), -1); // the header's own count, without an extension
    EXPECT_EQ(errno, 13);
    poke32(892, 3504);
    poke16(6, 2);
    EXPECT_EQ(readHeader(&h), -1); // the extension's count
    EXPECT_EQ(errno, 13);
    poke16(extOffset_, 2);
    ASSERT_EQ(readHeader(&h), 0);
    poke32(32, 0);
    EXPECT_EQ(readHeader(&h), -1);
    EXPECT_EQ(errno, 13);
    poke32(32, -62);
    EXPECT_EQ(readHeader(&h), -1);
    poke32(32, 62);
    poke32(892, -1);
    EXPECT_EQ(readHeader(&h), -1);
    EXPECT_EQ(errno, 13);

    // A length above 3504 reads 3504 bytes; no extension leaves the file header's count and
    // blocks 16..63 zero.
    poke32(892, 5000);
    ASSERT_EQ(readHeader(&h), 0);
    EXPECT_EQ(h.blockCount, 2);
    EXPECT_EQ(h.carried[84], 0x3C);
    poke32(892, 0);
    poke16(6, 17);
    ASSERT_EQ(readHeader(&h), 0);
    EXPECT_EQ(h.blockCount, 17);
    EXPECT_EQ(h.blocks[16].last, 0);
    EXPECT_EQ(h.carried[84], 0);
    // A short extension: the rest reads as zeros.
    poke32(892, 56);
    poke16(6, 2);
    ASSERT_EQ(readHeader(&h), 0);
    EXPECT_EQ(h.blocks[0].last, 3);
    EXPECT_EQ(h.blocks[1].last, 0);
}

TEST(DataFile, OpenCheckAcceptsOtherByteOrderAndRefusesForeignMarkers) {
    TempFolder dir;
    std::string path = dir / "x.odl";
    auto check = [&](std::vector<uint8_t> head) {
        int fd = plat_FileCreate(path.c_str(), PLAT_GENERIC_READ | PLAT_GENERIC_WRITE,
                                 PLAT_CREATE_ALWAYS, 0);
        EXPECT_EQ(plat_FileWriteAt(fd, head.data(), head.size(), 0), 0);
        int64_t v = lfile_GetValidLength(fd);
        plat_FileClose(fd);
        return v;
    };
    EXPECT_EQ(check({0x00, 0x00, 0x10, 0x00, 0x80, 0x01}), 0x1000);
    EXPECT_EQ(check({0x00, 0x10, 0x00, 0x00, 0x01, 0x80}), 0x1000);
    EXPECT_EQ(check({0x00, 0x10, 0x00, 0x00, 0x01, 0xE0}), 0x1000);
    EXPECT_EQ(check({0x00, 0x10, 0x00, 0x00, 0x00, 0x80}), -1);
    EXPECT_EQ(errno, 13);
    EXPECT_EQ(check({0x00, 0x10, 0x00, 0x00, 0x02, 0xE0}), -1);
    EXPECT_EQ(check({0x00, 0x10, 0x00}), -1);
    CLogFileStore store;
    EXPECT_EQ(store.Open(nullptr, path.c_str(), LSTORE_READ), -1);
}

} // namespace
