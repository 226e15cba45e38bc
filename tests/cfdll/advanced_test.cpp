// The advanced device dialog through the export's body, driven by a scripted user.
#include "advanced.h"
#include "cfdll_fixture.h"

namespace {

constexpr int OK = PLAT_IDOK, CANCEL = PLAT_IDCANCEL;

struct DeviceRecord {
    uint8_t bytes[HOST_DEVICE_RECORD_SIZE] = {};
    S5PortSettings get() const {
        S5PortSettings s;
        std::memcpy(&s, bytes + HOST_DEVICE_PORT_SETTINGS, sizeof s);
        return s;
    }
    void set(const S5PortSettings &s) {
        std::memcpy(bytes + HOST_DEVICE_PORT_SETTINGS, &s, sizeof s);
    }
};

std::string PortText(const S5PortSettings &s) {
    return std::string(s.port_name, strnlen(s.port_name, 8));
}

class AdvancedTest : public ::testing::Test {
protected:
    void SetUp() override {
        mkdir((tmp_.path() + "/ports").c_str(), 0777);
        setenv("KVT_SERIAL_DIR", (tmp_.path() + "/ports").c_str(), 1);
        for (const char *p : {"COM3", "COM1000", "COM1"})
            std::ofstream(tmp_.path() + "/ports/" + p) << "";
    }
    void TearDown() override { unsetenv("KVT_SERIAL_DIR"); }

    // Runs the dialog with the script; the changed flag starts at 7 so that an untouched flag
    // shows.
    int run(DeviceRecord &rec, std::function<void(DialogView *)> script) {
        user_.script = std::move(script);
        int changed = 7;
        dll_ConfigAdvanDevSpecific(rec.bytes, &changed);
        return changed;
    }

    TempFolder tmp_;
    ScriptedUser user_;
};

TEST_F(AdvancedTest, DefaultsOfAnEmptyRecordAreSavedOnOk) {
    DeviceRecord rec;
    user_.port = 4;
    std::vector<std::string> ports;
    int changed = run(rec, [&](DialogView *d) {
        EXPECT_STREQ(d->Title(), "Advanced Device Specific Configuration");
        EXPECT_EQ(d->ResourceId(), 129);
        EXPECT_STREQ(d->Text(CAdvanced::IDC_PORT), "COM4");
        EXPECT_STREQ(d->Text(CAdvanced::IDC_BAUD), "9600");
        EXPECT_EQ(d->Selection(CAdvanced::IDC_PARITY), 2);
        EXPECT_STREQ(d->Text(CAdvanced::IDC_CHAR_DELAY), "220");
        EXPECT_STREQ(d->Text(CAdvanced::IDC_BLOCK_WAIT), "4000");
        EXPECT_STREQ(d->Text(CAdvanced::IDC_TIMEOUT), "2000");
        EXPECT_STREQ(d->Text(CAdvanced::IDC_RETRIES), "6");
        for (int i = 0; i < d->ItemCount(CAdvanced::IDC_PORT); ++i)
            ports.push_back(d->Item(CAdvanced::IDC_PORT, i));
        EXPECT_EQ(d->Press(OK), 1);
    });
    EXPECT_EQ(changed, 1);
    S5PortSettings s = rec.get();
    EXPECT_EQ(PortText(s), "COM4");
    EXPECT_EQ(s.baud_rate, 9600u);
    EXPECT_EQ(s.parity, 2);
    EXPECT_EQ(s.protocol_mode, 1);
    EXPECT_EQ(s.data_format, 1);
    EXPECT_EQ(s.char_delay_ms, 220);
    EXPECT_EQ(s.ack_timeout_ms, 2000);
    EXPECT_EQ(s.block_wait_ms, 4000);
    EXPECT_EQ(s.priority, 0);
    EXPECT_EQ(s.retries, 6);
    // The initial item, the folder's short names in order, the machine's ports, and the stored
    // port that no entry matched; COM1000 is too long to be offered.
    ASSERT_GE(ports.size(), 5u);
    EXPECT_EQ(ports[0], "COM88");
    EXPECT_EQ(ports[1], "COM1");
    EXPECT_EQ(ports[2], "COM3");
    EXPECT_EQ(ports.back(), "COM4");
    EXPECT_EQ(std::count(ports.begin(), ports.end(), "COM1000"), 0);
}

TEST_F(AdvancedTest, StoredValuesOpenAsThePartSaysAndOkWithoutChangeKeepsTheFlag) {
    DeviceRecord rec;
    S5PortSettings s = test_PortSettings();
    std::memset(s.port_name, 0, 8);
    s.baud_rate = 19200;
    s.priority = 1;
    s.spare1 = 0x5A;
    rec.set(s);
    // Empty port with a baud rate: only the port text is filled in, which counts as a change.
    EXPECT_EQ(run(rec, [](DialogView *d) { d->Press(OK); }), 1);
    S5PortSettings after = rec.get();
    EXPECT_EQ(PortText(after), "COM1");
    std::memset(after.port_name, 0, 8);
    EXPECT_EQ(std::memcmp(&after, &s, sizeof s), 0);

    // Now nothing differs: the flag stays as it was.
    EXPECT_EQ(run(rec, [](DialogView *d) { d->Press(OK); }), 7);

    // A stored COM1000 is offered; an odd baud rate is added and selected; priority 2 opens
    // LOW and saves 0.
    s = test_PortSettings();
    std::memcpy(s.port_name, "COM1000", 7);
    s.baud_rate = 12345;
    s.priority = 2;
    rec.set(s);
    EXPECT_EQ(run(rec,
                  [](DialogView *d) {
                      EXPECT_STREQ(d->Text(CAdvanced::IDC_PORT), "COM1000");
                      int baud = d->Selection(CAdvanced::IDC_BAUD);
                      EXPECT_STREQ(d->Item(CAdvanced::IDC_BAUD, baud), "12345");
                      EXPECT_EQ(d->ItemCount(CAdvanced::IDC_BAUD), 18);
                      EXPECT_EQ(d->Selection(CAdvanced::IDC_PRIORITY), 0);
                      d->Press(OK);
                  }),
              1);
    EXPECT_EQ(rec.get().priority, 0);
    EXPECT_EQ(rec.get().baud_rate, 12345u);

    // A parity beyond the list selects nothing and is kept, not turned into 255.
    s = rec.get();
    s.parity = 9;
    rec.set(s);
    EXPECT_EQ(run(rec,
                  [](DialogView *d) {
                      EXPECT_EQ(d->Selection(CAdvanced::IDC_PARITY), -1);
                      d->Press(OK);
                  }),
              7);
    EXPECT_EQ(rec.get().parity, 9);
    EXPECT_EQ(PortText(rec.get()), "COM1000");
}

TEST_F(AdvancedTest, TypedEntriesAreStoredAndBadOnesKeepTheDialogOpen) {
    DeviceRecord rec;
    rec.set(test_PortSettings()); // priority HIGH
    const DeviceRecord before = rec;
    struct Case {
        int id;
        const char *text;
        const char *message;
    } cases[] = {
        {CAdvanced::IDC_PORT, "COM123456", "Please enter no more than 8 characters."},
        {CAdvanced::IDC_BAUD, "fast", "Please enter a positive integer."},
        {CAdvanced::IDC_BAUD, "-9600", "Please enter a positive integer."},
        {CAdvanced::IDC_PROTOCOL_MODE, "3", "Please enter an integer between 1 and 2."},
        {CAdvanced::IDC_DATA_FORMAT, "9", "Please enter an integer between 0 and 8."},
        {CAdvanced::IDC_RETRIES, "256", "Please enter an integer between 0 and 255."},
        {CAdvanced::IDC_CHAR_DELAY, "70000", "Please enter an integer between 0 and 65535."},
        {CAdvanced::IDC_BLOCK_WAIT, "4294967296", "Please enter a positive integer."},
        {CAdvanced::IDC_TIMEOUT, "70000", "Please enter an integer between 0 and 65535."},
    };
    for (const Case &c : cases) {
        user_.messages.clear();
        int changed = run(rec, [&](DialogView *d) {
            ASSERT_EQ(d->Type(c.id, c.text), 0);
            EXPECT_EQ(d->Press(OK), 0) << c.text;
            EXPECT_FALSE(d->Ended());
        });
        EXPECT_EQ(changed, 7) << c.text;
        ASSERT_EQ(user_.messages.size(), 1u) << c.text;
        EXPECT_EQ(user_.messages[0], c.message);
        EXPECT_EQ(std::memcmp(rec.bytes, before.bytes, sizeof rec.bytes), 0) << c.text;
    }

    // Typed port and baud, blanks and '+' as MFC takes them, and the check boxes. The priority
    // is a list like the parity: it takes no typed text, so what it shows is what is stored.
    user_.messages.clear();
    int changed = run(rec, [](DialogView *d) {
        EXPECT_EQ(d->ControlKind(CAdvanced::IDC_PRIORITY), PLAT_CTL_DROPLIST);
        EXPECT_EQ(d->Type(CAdvanced::IDC_PRIORITY, "LOW"), -1);
        EXPECT_STREQ(d->Text(CAdvanced::IDC_PRIORITY), "HIGH");
        d->Type(CAdvanced::IDC_PORT, "COM12345");
        d->Type(CAdvanced::IDC_BAUD, " +38400 ");
        d->Choose(CAdvanced::IDC_PARITY, 1);
        d->Type(CAdvanced::IDC_TIMEOUT, "65535");
        d->SetCheck(CAdvanced::IDC_READ_FIRST, 0);
        d->SetCheck(CAdvanced::IDC_READ_BACK, 1);
        d->Press(OK);
    });
    EXPECT_TRUE(user_.messages.empty());
    EXPECT_EQ(changed, 1);
    S5PortSettings s = rec.get();
    EXPECT_EQ(std::string(s.port_name, 8), "COM12345"); // all 8 bytes, no NUL
    EXPECT_EQ(s.baud_rate, 38400u);
    EXPECT_EQ(s.parity, 1);
    EXPECT_EQ(s.ack_timeout_ms, 65535);
    EXPECT_EQ(s.read_outputs_first, 0);
    EXPECT_EQ(s.read_back_outputs, 1);
    EXPECT_EQ(s.priority, 1);
}

TEST_F(AdvancedTest, CancelHelpAndNoDriverChangeNothing) {
    DeviceRecord rec;
    const DeviceRecord before = rec;
    void *resources = plat_SetResourceModule(&rec);
    EXPECT_EQ(run(rec,
                  [](DialogView *d) {
                      EXPECT_EQ(plat_ResourceModule(), dll_ResourceModule());
                      d->Type(CAdvanced::IDC_RETRIES, "9");
                      EXPECT_EQ(d->Press(PLAT_ID_HELP), 0);
                      EXPECT_EQ(d->Press(CANCEL), 1);
                  }),
              7);
    EXPECT_EQ(std::memcmp(rec.bytes, before.bytes, sizeof rec.bytes), 0);
    ASSERT_EQ(user_.help.size(), 1u);
    EXPECT_NE(user_.help[0].find("_Guide.chm ::/html/toveltgk.htm"), std::string::npos);
    // The driver that returns with the dialog open cancels it.
    EXPECT_EQ(run(rec, [](DialogView *d) { d->Type(CAdvanced::IDC_RETRIES, "9"); }), 7);
    EXPECT_EQ(std::memcmp(rec.bytes, before.bytes, sizeof rec.bytes), 0);
    // The resource module is the host's again after each dialog.
    EXPECT_EQ(plat_ResourceModule(), &rec);
    plat_SetResourceModule(resources);
    // Without a host driver the dialog is cancelled at once.
    dll_SetHostServices(nullptr);
    int changed = 7;
    dll_ConfigAdvanDevSpecific(rec.bytes, &changed);
    EXPECT_EQ(changed, 7);
    EXPECT_EQ(std::memcmp(rec.bytes, before.bytes, sizeof rec.bytes), 0);
}

} // namespace
