// The channel dialog through the export's body, driven by a scripted user.
#include "cfdll_fixture.h"
#include "channel.h"

namespace {

S5ChannelAddress AddressAt(const ChannelRecord &r, int offset) {
    S5ChannelAddress a;
    std::memcpy(&a, r.bytes + offset, sizeof a);
    return a;
}

class ChannelTest : public ::testing::Test {
protected:
    int run(int kind, ChannelRecord &rec, std::function<void(DialogView *)> script) {
        user_.script = std::move(script);
        int changed = 7;
        dll_ConfigChanDevSpecific(kind, &rec, &changed);
        return changed;
    }
    ScriptedUser user_;
};

TEST_F(ChannelTest, TheKindPicksTheAddressAndOkStoresTheEdits) {
    // Analogue kind: bytes 188 to 203, whatever the record's own type byte says.
    ChannelRecord rec{};
    rec.bytes[24] = 1;
    S5ChannelAddress a{9, S5_AREA_D | S5_TYPE_WORD, 0x0A05, 0, {}, 0x11223344, 0, {}};
    std::memcpy(rec.bytes + 188, &a, sizeof a);
    ChannelRecord before = rec;
    int changed = run(0, rec, [](DialogView *d) {
        EXPECT_STREQ(d->Title(), "Channel Device Specific Configuration");
        EXPECT_EQ(d->ResourceId(), 130);
        EXPECT_EQ(d->Selection(CChannel::IDC_AREA), 0);
        EXPECT_FALSE(d->Enabled(CChannel::IDC_AREA));
        EXPECT_EQ(d->Choose(CChannel::IDC_AREA, 2), -1); // disabled: no user can pick
        EXPECT_TRUE(d->Visible(CChannel::IDC_DATA_BLOCK));
        EXPECT_STREQ(d->Text(CChannel::IDC_DATA_BLOCK_LABEL), "Data Block :");
        EXPECT_STREQ(d->Text(CChannel::IDC_DATA_BLOCK), "10");
        EXPECT_STREQ(d->Text(CChannel::IDC_ADDRESS), "5");
        EXPECT_STREQ(d->Text(CChannel::IDC_ADDRESS_LABEL), "Data Address : ");
        EXPECT_STREQ(d->Text(CChannel::IDC_DATA_TYPE), "Unsigned Word");
        EXPECT_FALSE(d->Visible(CChannel::IDC_BIT_NUMBER));
        EXPECT_EQ(d->Type(CChannel::IDC_BIT_NUMBER, "3"), -1); // hidden
        d->Type(CChannel::IDC_DATA_BLOCK, "3");
        d->Type(CChannel::IDC_ADDRESS, "7");
        d->Press(PLAT_IDOK);
    });
    EXPECT_EQ(changed, 1);
    S5ChannelAddress after = AddressAt(rec, 188);
    EXPECT_EQ(after.address, 0x0307);
    EXPECT_EQ(after.station, 9);
    EXPECT_EQ(after.block_link, 0x11223344u);
    EXPECT_EQ(std::memcmp(rec.bytes + 192, before.bytes + 192, 216 - 192 - 8), 0);
    EXPECT_EQ(std::memcmp(rec.bytes, before.bytes, 188), 0);

    // Digital kind: bytes 192 to 207. A type byte 0xC7 is a signed word of area 7.
    ChannelRecord dig{};
    S5ChannelAddress c{1, 0xC7, 300, 0, {}, 0, 0, {}};
    std::memcpy(dig.bytes + 192, &c, sizeof c);
    changed = run(1, dig, [](DialogView *d) {
        EXPECT_EQ(d->Selection(CChannel::IDC_AREA), 7);
        EXPECT_STREQ(d->Text(CChannel::IDC_DATA_TYPE), "Signed Word");
        EXPECT_STREQ(d->Text(CChannel::IDC_ADDRESS_LABEL), "Counter Address : ");
        EXPECT_STREQ(d->Text(CChannel::IDC_ADDRESS), "300");
        EXPECT_FALSE(d->Visible(CChannel::IDC_DATA_BLOCK));
        EXPECT_FALSE(d->Visible(CChannel::IDC_BIT_NUMBER));
        // "Bit" keeps the signed and word bits and shows the bit number.
        ASSERT_EQ(d->Choose(CChannel::IDC_DATA_TYPE, 0), 0);
        EXPECT_TRUE(d->Visible(CChannel::IDC_BIT_NUMBER));
        d->Type(CChannel::IDC_BIT_NUMBER, "15");
        d->Press(PLAT_IDOK);
    });
    EXPECT_EQ(changed, 1);
    S5ChannelAddress dc = AddressAt(dig, 192);
    EXPECT_EQ(dc.type, 0xE7);
    EXPECT_EQ(dc.bit_number, 15);
    EXPECT_EQ(dc.address, 300);

    // Unchanged: OK leaves the flag alone.
    EXPECT_EQ(run(1, dig, [](DialogView *d) { d->Press(PLAT_IDOK); }), 7);
}

TEST_F(ChannelTest, DataTypesSetTheTypeByteAndByteSelect) {
    const struct {
        int item;
        uint8_t type;
        uint8_t byteSelect;
    } cases[] = {{1, S5_AREA_M | 0x80, 0}, {2, S5_AREA_M, 0},        {3, S5_AREA_M | 0xC0, 1},
                 {4, S5_AREA_M | 0x40, 1}, {5, S5_AREA_M | 0x80, 1}, {6, S5_AREA_M, 1}};
    for (const auto &c : cases) {
        ChannelRecord rec{};
        S5ChannelAddress a{0, S5_AREA_M | 0x40, 20, 0, {}, 0, 1, {}};
        std::memcpy(rec.bytes + 188, &a, sizeof a);
        run(0, rec, [&](DialogView *d) {
            d->Choose(CChannel::IDC_DATA_TYPE, c.item);
            d->Press(PLAT_IDOK);
        });
        S5ChannelAddress b = AddressAt(rec, 188);
        EXPECT_EQ(b.type, c.type) << c.item;
        EXPECT_EQ(b.byte_select, c.byteSelect) << c.item;
        EXPECT_EQ(b.address, 20);
    }
}

TEST_F(ChannelTest, NumbersBeyondTheRecordAreRefusedAndCancelChangesNothing) {
    const struct {
        uint8_t type;
        int id;
        const char *text;
        const char *message;
    } cases[] = {
        {S5_AREA_D | 0x40, CChannel::IDC_ADDRESS, "300",
         "Please enter an integer between 0 and 255."},
        {S5_AREA_X | 0x40, CChannel::IDC_DATA_BLOCK, "256",
         "Please enter an integer between 0 and 255."},
        {S5_AREA_E, CChannel::IDC_ADDRESS, "70000", "Please enter an integer between 0 and 65535."},
        {S5_AREA_E | 0x20, CChannel::IDC_BIT_NUMBER, "16",
         "Please enter an integer between 0 and 15."},
        {S5_AREA_E, CChannel::IDC_ADDRESS, "-1", "Please enter a positive integer."},
    };
    for (const auto &c : cases) {
        ChannelRecord rec{};
        S5ChannelAddress a{0, c.type, 5, 0, {}, 0, 0, {}};
        std::memcpy(rec.bytes + 188, &a, sizeof a);
        ChannelRecord before = rec;
        user_.messages.clear();
        int changed = run(0, rec, [&](DialogView *d) {
            ASSERT_EQ(d->Type(c.id, c.text), 0) << c.text;
            EXPECT_EQ(d->Press(PLAT_IDOK), 0);
            // A selection change reads the controls too, and stops at the same message.
            d->Choose(CChannel::IDC_DATA_TYPE, 2);
            d->Press(PLAT_IDCANCEL);
        });
        EXPECT_EQ(changed, 7);
        ASSERT_EQ(user_.messages.size(), 2u) << c.text;
        EXPECT_EQ(user_.messages[0], c.message);
        EXPECT_EQ(user_.messages[1], c.message);
        EXPECT_EQ(std::memcmp(rec.bytes, before.bytes, sizeof rec.bytes), 0);
    }
}

TEST_F(ChannelTest, AnAreaBeyondTheListKeepsItsBits) {
    ChannelRecord rec{};
    S5ChannelAddress a{0, 0x40 | 12, 77, 0, {}, 0, 0, {}};
    std::memcpy(rec.bytes + 188, &a, sizeof a);
    int changed = run(0, rec, [](DialogView *d) {
        EXPECT_EQ(d->Selection(CChannel::IDC_AREA), -1);
        EXPECT_STREQ(d->Text(CChannel::IDC_ADDRESS_LABEL), " Address : ");
        d->Type(CChannel::IDC_ADDRESS, "78");
        d->Press(PLAT_IDOK);
    });
    EXPECT_EQ(changed, 1);
    S5ChannelAddress b = AddressAt(rec, 188);
    EXPECT_EQ(b.type, 0x40 | 12);
    EXPECT_EQ(b.address, 78);
    EXPECT_EQ(user_.help.size(), 0u);
    run(0, rec, [](DialogView *d) { d->Press(PLAT_ID_HELP); });
    ASSERT_EQ(user_.help.size(), 1u);
    EXPECT_NE(user_.help[0].find("::/html/kstrnxd8.htm"), std::string::npos);
}

} // namespace
