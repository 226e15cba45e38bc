#include "s5_channels.h"
#include "station.h"

#include <gtest/gtest.h>

using namespace s5test;

namespace {

constexpr uint8_t D = S5_AREA_D, X = S5_AREA_X, E = S5_AREA_E, M = S5_AREA_M, T = S5_AREA_T;
constexpr uint8_t WORD = S5_TYPE_WORD, BIT = S5_TYPE_BIT, SIGNED = S5_TYPE_SIGNED;

class PlanTest : public ::testing::Test {
protected:
    void SetUp() override {
        s5_ResetPlanner();
        scan_ResetStations();
    }
    void TearDown() override {
        s5_ReleaseBlocks(&list);
        s5_ResetPlanner();
    }

    std::vector<std::string> Plan(const std::vector<Ch> &channels) {
        records = Records(channels);
        planned = s5_PlanBlocks(static_cast<int>(records.size()), records.data(), &list);
        EXPECT_EQ(planned, list.count);
        return Describe(list);
    }
    std::vector<uint32_t> Links() const {
        std::vector<uint32_t> out;
        for (const ChannelRecord &r : records)
            out.push_back(Link(r));
        return out;
    }
    // Every linked channel's block covers it, and it is the first block that does.
    void ExpectLinksCoverTheirChannels() const {
        for (size_t i = 0; i < records.size(); ++i) {
            S5ChannelAddress a = s5_ChannelAddress(records[i]);
            if (a.block_link == 0) continue;
            ASSERT_LE(a.block_link, static_cast<uint32_t>(list.count)) << "channel " << i;
            EXPECT_TRUE(s5_FindBlock(a, list.blocks[a.block_link - 1])) << "channel " << i;
            for (uint32_t b = 1; b < a.block_link; ++b)
                EXPECT_FALSE(s5_FindBlock(a, list.blocks[b - 1])) << "channel " << i;
        }
    }

    S5BlockList list;
    std::vector<ChannelRecord> records;
    int planned = -1;
};

using Blocks = std::vector<std::string>;
using LinkList = std::vector<uint32_t>;

TEST_F(PlanTest, NearbyWordsShareABlockAndDistantOnesDoNot) {
    EXPECT_EQ((Blocks{"1 D 0x050a 3"}), Plan({{1, D | WORD, Db(5, 10)}, {1, D | WORD, Db(5, 12)}}));
    EXPECT_EQ((LinkList{1, 1}), Links());
    EXPECT_EQ(6, list.blocks[0].size);

    EXPECT_EQ((Blocks{"1 D 0x050a 1", "1 D 0x0546 1"}),
              Plan({{1, D | WORD, Db(5, 10)}, {1, D | WORD, Db(5, 70)}}));
    EXPECT_EQ((LinkList{1, 2}), Links());
}

TEST_F(PlanTest, WordBlocksGrowTo51DownwardAnd50Upward) {
    // Down from 60: 10 makes 51 elements, 9 would make 52.
    EXPECT_EQ((Blocks{"1 T 0x000a 51", "1 T 0x0009 1"}),
              Plan({{1, T | WORD, 60}, {1, T | WORD, 10}, {1, T | WORD, 9}}));
    EXPECT_EQ((LinkList{1, 1, 2}), Links());
    // Up from 10: 59 makes 50 elements, 60 would make 51.
    EXPECT_EQ((Blocks{"1 T 0x000a 50", "1 T 0x003c 1"}),
              Plan({{1, T | WORD, 10}, {1, T | WORD, 59}, {1, T | WORD, 60}}));
    EXPECT_EQ(100, list.blocks[0].size);
}

TEST_F(PlanTest, ByteBlocksGrowTo101DownwardAnd100Upward) {
    EXPECT_EQ((Blocks{"1 M 0x0000 101"}), Plan({{1, M, 100}, {1, M, 0}}));
    EXPECT_EQ((Blocks{"1 M 0x0000 100", "1 M 0x0064 1"}),
              Plan({{1, M, 0}, {1, M, 99}, {1, M, 100}}));
    // A 16-bit value counts its second byte: 98 and 99 still fit, 99 and 100 do not.
    EXPECT_EQ((Blocks{"1 M 0x0000 100"}), Plan({{1, M, 0}, {1, M | WORD, 98}}));
    EXPECT_EQ((Blocks{"1 M 0x0000 1", "1 M 0x0063 2"}), Plan({{1, M, 0}, {1, M | WORD, 99}}));
}

TEST_F(PlanTest, SixteenBitValueInAByteAreaTakesTwoElements) {
    EXPECT_EQ((Blocks{"1 M 0x0007 2"}), Plan({{1, M | WORD | SIGNED, 7}}));
    EXPECT_EQ((Blocks{"1 M 0x0007 3"}), Plan({{1, M | WORD, 7}, {1, M, 9}}));
    EXPECT_EQ((Blocks{"1 M 0x0006 3"}), Plan({{1, M | WORD, 7}, {1, M, 6}}));
    // The byte at 8 lies inside the 16-bit value at 7.
    EXPECT_EQ((Blocks{"1 M 0x0007 2"}), Plan({{1, M | WORD, 7}, {1, M, 8}}));
    EXPECT_EQ((LinkList{1, 1}), Links());
}

TEST_F(PlanTest, BitsOfTheSecondByteInAByteAreaNeedTheNextElement) {
    EXPECT_EQ((Blocks{"1 E 0x0004 1"}), Plan({{1, E | BIT, 4, 7}}));
    EXPECT_EQ((Blocks{"1 E 0x0004 2"}), Plan({{1, E | BIT, 4, 8}}));
    EXPECT_EQ((Blocks{"1 E 0x0004 2"}), Plan({{1, E | BIT, 4, 3}, {1, E | BIT, 4, 15}}));
    // In a word area bits 8..15 are in the same word.
    EXPECT_EQ((Blocks{"1 D 0x0102 1"}), Plan({{1, D | BIT, Db(1, 2), 15}}));
    ExpectLinksCoverTheirChannels();
}

TEST_F(PlanTest, StationsAndAreasNeverShareABlock) {
    EXPECT_EQ((Blocks{"1 D 0x0100 3", "2 D 0x0100 1", "1 X 0x0100 1", "1 M 0x0100 1"}),
              Plan({{1, D | WORD, Db(1, 0)},
                    {2, D | WORD, Db(1, 0)},
                    {1, X | WORD, Db(1, 0)},
                    {1, M, 256},
                    {1, D | WORD, Db(1, 2)}, // joins the first block
                    {2, D | WORD, Db(1, 0)}}));
    EXPECT_EQ((LinkList{1, 2, 3, 4, 1, 2}), Links());
    // The planner registers every station it meets.
    EXPECT_EQ(0, scan_IsStationFailed(1));
    EXPECT_EQ(0, scan_IsStationFailed(2));
}

TEST_F(PlanTest, BlocksStayInsideOneDataBlock) {
    EXPECT_EQ((Blocks{"1 D 0x05fa 1", "1 D 0x0603 1"}),
              Plan({{1, D | WORD, Db(5, 250)}, {1, D | WORD, Db(6, 3)}}));
    EXPECT_EQ((Blocks{"1 X 0x06ff 1", "1 X 0x0700 1"}),
              Plan({{1, X | WORD, Db(6, 255)}, {1, X | WORD, Db(7, 0)}}));
    EXPECT_EQ(
        (Blocks{"1 D 0x06ce 50", "1 D 0x0700 1"}),
        Plan({{1, D | WORD, Db(6, 206)}, {1, D | WORD, Db(6, 255)}, {1, D | WORD, Db(7, 0)}}));
    // Other word areas are one address space.
    EXPECT_EQ((Blocks{"1 T 0x05fa 10"}), Plan({{1, T | WORD, 0x05FA}, {1, T | WORD, 0x0603}}));
}

TEST_F(PlanTest, ScatteredAddressesTakeTheFirstBlockThatAccepts) {
    // 100 first; 40 is too far below; 70 joins 100 (31 elements); 45 joins 40 (first fit
    // tries 70..100 first: 56 elements, too many); 80 is covered by the first block.
    EXPECT_EQ((Blocks{"1 T 0x0046 31", "1 T 0x0028 6"}), Plan({{1, T | WORD, 100},
                                                               {1, T | WORD, 40},
                                                               {1, T | WORD, 70},
                                                               {1, T | WORD, 45},
                                                               {1, T | WORD, 80}}));
    EXPECT_EQ((LinkList{1, 2, 1, 2, 1}), Links());
    ExpectLinksCoverTheirChannels();
}

TEST_F(PlanTest, DisabledAndUnservableChannelsAreNotPlanned) {
    Ch disabled{1, D | WORD, Db(1, 1)};
    disabled.enabled = false;
    EXPECT_EQ((Blocks{"1 D 0x0100 1"}), Plan({{1, D | WORD, Db(1, 0)},
                                              disabled,
                                              {1, 11, 5},                    // no such area
                                              {1, 0x1F | WORD, 5},           // nor this
                                              {1, M | BIT, 5, 16},           // no bit 16
                                              {1, M | WORD, 0xFFFF},         // past the end
                                              {1, E | BIT, 0xFFFF, 8},       // past the end
                                              {1, D | BIT, Db(1, 0), 15}})); // fine
    EXPECT_EQ((LinkList{1, 0, 0, 0, 0, 0, 0, 1}), Links());
    // The last byte of the space itself is fine.
    EXPECT_EQ((Blocks{"1 M 0xfffe 2"}), Plan({{1, M, 0xFFFF}, {1, M | WORD, 0xFFFE}}));
}

TEST_F(PlanTest, BlockDataStartZeroedWithRoomForTheDirtyBits) {
    Plan({{1, M, 0}, {1, M, 15}, {1, T | WORD, 3}});
    ASSERT_EQ(2, list.count);
    EXPECT_EQ(16, list.blocks[0].size);
    EXPECT_EQ(2, list.blocks[1].size);
    for (int b = 0; b < list.count; ++b) {
        const S5RequestBlock &block = list.blocks[b];
        for (int i = 0; i < block.size + block.count / 8 + 1; ++i)
            ASSERT_EQ(0, block.data[i]);
        EXPECT_EQ(block.data + block.size, s5_DirtyBits(block));
    }
}

TEST_F(PlanTest, WorkListGrowsPastItsFirstCapacity) {
    std::vector<Ch> channels;
    for (int i = 0; i < 300; ++i)
        channels.push_back({static_cast<uint8_t>(i % 3), M, static_cast<uint16_t>(i / 3 * 200)});
    Plan(channels);
    EXPECT_EQ(300, planned);
    ExpectLinksCoverTheirChannels();
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(i + 1, Link(records[i]));
}

TEST_F(PlanTest, ReplanningReplacesTheListAndItsLinks) {
    Plan({{1, M, 0}, {1, M, 500}});
    Plan({{1, M, 500}});
    EXPECT_EQ((Blocks{"1 M 0x01f4 1"}), Describe(list));
    EXPECT_EQ((LinkList{1}), Links());
    Plan({});
    EXPECT_EQ(0, list.count);
}

TEST_F(PlanTest, FailedPlanKeepsTheOldListAndLinksIntoIt) {
    Plan({{1, M, 0}, {1, M, 500}});
    // New channels: one covered by an old block, one not, one disabled.
    Ch disabled{1, M, 0};
    disabled.enabled = false;
    for (int after : {0, 1, 2}) { // the work list, its first and its second block's data
        s5_FailPlanAllocations(after);
        records = Records({{1, M, 900}, {1, M, 500}, disabled, {1, M, 0}});
        EXPECT_EQ(0, s5_PlanBlocks(4, records.data(), &list)) << after;
        EXPECT_EQ((Blocks{"1 M 0x0000 1", "1 M 0x01f4 1"}), Describe(list));
        EXPECT_EQ((LinkList{0, 2, 0, 1}), Links()) << after;
    }
    // Growing the work list fails.
    std::vector<Ch> many;
    for (int i = 0; i < 200; ++i)
        many.push_back({1, M, static_cast<uint16_t>(i * 200)});
    s5_FailPlanAllocations(1);
    records = Records(many);
    EXPECT_EQ(0, s5_PlanBlocks(200, records.data(), &list));
    EXPECT_EQ(2, list.count);
    EXPECT_EQ(1u, Link(records[0]));
    EXPECT_EQ(0u, Link(records[1]));
    s5_FailPlanAllocations(-1);
    EXPECT_EQ(200, s5_PlanBlocks(200, records.data(), &list));
    // 128 are kept as capacity after the failure; the next plan grows again.
}

TEST_F(PlanTest, StaleLinksNeverReachABlock) {
    Plan({{1, M, 0}, {1, M, 500}});
    S5ChannelAddress a = s5_ChannelAddress(records[1]);
    EXPECT_EQ(&list.blocks[1], s5_LinkedBlock(list, a));
    a.block_link = 3;
    EXPECT_EQ(nullptr, s5_LinkedBlock(list, a));
    a.block_link = 1; // a block that does not cover the channel
    EXPECT_EQ(nullptr, s5_LinkedBlock(list, a));
    a.block_link = 0;
    EXPECT_EQ(nullptr, s5_LinkedBlock(list, a));
}

TEST(S5Bits, SetReportsChangesAndTestReadsLsbFirst) {
    uint8_t map[3] = {};
    EXPECT_EQ(1, s5_SetBit(map, 9, 1));
    EXPECT_EQ(0x02, map[1]);
    EXPECT_EQ(0, s5_SetBit(map, 9, 1));
    EXPECT_EQ(1, s5_TestBit(map, 9));
    EXPECT_EQ(0, s5_TestBit(map, 8));
    EXPECT_EQ(1, s5_SetBit(map, 9, 0));
    EXPECT_EQ(0, s5_SetBit(map, 23, 0));
    EXPECT_EQ(1, s5_SetBit(map, 23, 1));
    EXPECT_EQ(0x80, map[2]);
}

} // namespace
