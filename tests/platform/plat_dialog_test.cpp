// The headless dialog model: MFC's parse rules and texts, what a user may do, the modal run.
#include "plat_dialog.h"
#include "plat_serial.h"
#include "temp_registry.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_messages;
int Record(const char *text, const char *, unsigned style) {
    g_messages.push_back(text);
    return (style & PLAT_MB_TYPEMASK) == PLAT_MB_YESNO ? PLAT_IDNO : PLAT_IDOK;
}

class Sample : public PlatDialog {
public:
    Sample() : PlatDialog(300, "Sample") {
        AddControl(-1, PLAT_CTL_STATIC, "Label:");
        AddControl(10, PLAT_CTL_EDIT);
        AddControl(11, PLAT_CTL_EDIT);
        AddControl(12, PLAT_CTL_EDIT).visible = false;
        AddControl(13, PLAT_CTL_COMBO).items = {"COM1", "COM10"};
        AddControl(14, PLAT_CTL_DROPLIST).items = {"A", "B"};
        AddControl(15, PLAT_CTL_CHECK, "Box");
        AddControl(16, PLAT_CTL_EDIT).enabled = false;
        OnSelChange(14, [this] { changes++; });
    }
    uint8_t byte = 7;
    unsigned number = 70000;
    int integer = -5;
    std::string text = "abc";
    int check = 1;
    int changes = 0;

protected:
    void DoDataExchange(PlatDataExchange *dx) override {
        DDX_Text(dx, 10, byte);
        DDV_MinMaxByte(dx, byte, 1, 9);
        DDX_Text(dx, 11, number);
        DDX_Text(dx, 12, integer);
        DDX_Text(dx, 13, text);
        DDV_MaxChars(dx, text, 4);
        DDX_Check(dx, 15, check);
    }
};

int g_driverRuns = 0;
int Driver(void *context, DialogView *d) {
    ++g_driverRuns;
    auto *script = static_cast<std::vector<std::pair<int, std::string>> *>(context);
    for (auto &step : *script)
        d->Type(step.first, step.second.c_str());
    d->Press(PLAT_IDOK);
    return 0;
}

TEST(PlatDialogTest, NumbersParseAsMfcParsesThem) {
    unsigned u = 0;
    EXPECT_TRUE(plat_ParseUnsigned("  +42 ", &u));
    EXPECT_EQ(u, 42u);
    EXPECT_TRUE(plat_ParseUnsigned("4294967295", &u));
    EXPECT_FALSE(plat_ParseUnsigned("4294967296", &u));
    EXPECT_FALSE(plat_ParseUnsigned("-1", &u));
    EXPECT_FALSE(plat_ParseUnsigned("", &u));
    EXPECT_FALSE(plat_ParseUnsigned("1 2", &u));
    EXPECT_FALSE(plat_ParseUnsigned("0x10", &u));
    int i = 0;
    EXPECT_TRUE(plat_ParseInt(" -2147483648", &i));
    EXPECT_EQ(i, INT32_MIN);
    EXPECT_FALSE(plat_ParseInt("2147483648", &i));
    EXPECT_EQ(plat_RangeMessage(1, 2), "Please enter an integer between 1 and 2.");
    EXPECT_EQ(plat_MaxCharsMessage(8), "Please enter no more than 8 characters.");
}

TEST(PlatDialogTest, ExchangeStopsAtTheFirstFailure) {
    PlatMessageBoxHandler old = plat_SetMessageBoxHandler(Record);
    g_messages.clear();
    Sample s;
    s.UpdateData(false);
    EXPECT_STREQ(s.Text(10), "7");
    EXPECT_STREQ(s.Text(11), "70000");
    EXPECT_STREQ(s.Text(12), "-5");
    EXPECT_EQ(s.Check(15), 1);
    s.Type(10, "10");
    s.Type(11, "x");
    EXPECT_FALSE(s.UpdateData(true));
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0], "Please enter an integer between 1 and 9.");
    s.Type(10, "300");
    EXPECT_FALSE(s.UpdateData(true));
    EXPECT_EQ(g_messages.back(), "Please enter an integer between 0 and 255.");
    s.Type(10, "3");
    EXPECT_FALSE(s.UpdateData(true));
    EXPECT_EQ(g_messages.back(), "Please enter a positive integer.");
    s.Type(11, "5");
    s.Type(13, "COM100");
    EXPECT_FALSE(s.UpdateData(true));
    EXPECT_EQ(g_messages.back(), "Please enter no more than 4 characters.");
    EXPECT_EQ(g_messages.size(), 4u);
    s.Type(13, "COM3");
    EXPECT_TRUE(s.UpdateData(true));
    EXPECT_EQ(s.byte, 3);
    EXPECT_EQ(s.number, 5u);
    EXPECT_EQ(s.text, "COM3");
    // A Yes/No box gets the handler's answer; without a handler the prompt's (Yes).
    EXPECT_EQ(plat_MessageBox("q", "t", PLAT_MB_YESNO), PLAT_IDNO);
    plat_SetMessageBoxHandler(nullptr);
    EXPECT_EQ(plat_MessageBox("q", "t", PLAT_MB_YESNO), PLAT_IDYES);
    EXPECT_EQ(plat_MessageBox("q", "t", PLAT_MB_OK), PLAT_IDOK);
    plat_SetMessageBoxHandler(old);
}

TEST(PlatDialogTest, OnlyWhatAUserCouldDoIsDone) {
    Sample s;
    EXPECT_EQ(s.Type(-1, "x"), -1); // label
    EXPECT_EQ(s.Type(12, "x"), -1); // hidden
    EXPECT_EQ(s.Type(16, "x"), -1); // disabled
    EXPECT_EQ(s.Type(14, "A"), -1); // a list has no edit part
    EXPECT_EQ(s.SetCheck(10, 1), -1);
    EXPECT_EQ(s.Choose(13, 1), 0);
    EXPECT_STREQ(s.Text(13), "COM10");
    EXPECT_EQ(s.Type(13, "COM7"), 0);
    EXPECT_EQ(s.Selection(13), -1);
    EXPECT_EQ(s.ComboFindExact(13, "com1"), 0); // whole text, any case: not COM10
    EXPECT_EQ(s.Choose(14, 1), 0);
    EXPECT_EQ(s.changes, 1);
    EXPECT_EQ(s.Choose(14, 2), -1);
    EXPECT_EQ(s.Press(99), -1);
    EXPECT_EQ(s.Press(PLAT_IDCANCEL), 1);
    EXPECT_EQ(s.Type(10, "1"), -1); // ended
    EXPECT_EQ(s.TextAt(0), std::string("Label:"));
}

TEST(PlatDialogTest, ModalRunThroughTheDriver) {
    PlatMessageBoxHandler old = plat_SetMessageBoxHandler(Record);
    plat_SetModalDriver(nullptr, nullptr);
    Sample none;
    EXPECT_EQ(none.DoModal(), PLAT_IDCANCEL);

    std::vector<std::pair<int, std::string>> good = {{10, "4"}};
    plat_SetModalDriver(Driver, &good);
    Sample ok;
    EXPECT_EQ(ok.DoModal(), PLAT_IDOK);
    EXPECT_EQ(ok.byte, 4);

    // OK refused by a check, and the driver returns: the dialog is cancelled.
    std::vector<std::pair<int, std::string>> bad = {{10, "0"}};
    plat_SetModalDriver(Driver, &bad);
    Sample refused;
    EXPECT_EQ(refused.DoModal(), PLAT_IDCANCEL);
    EXPECT_EQ(g_driverRuns, 2);
    plat_SetModalDriver(nullptr, nullptr);
    plat_SetMessageBoxHandler(old);

    int a, b;
    void *saved = plat_SetResourceModule(&a);
    {
        PlatResourceScope scope(&b);
        EXPECT_EQ(plat_ResourceModule(), &b);
    }
    EXPECT_EQ(plat_ResourceModule(), &a);
    plat_SetResourceModule(saved);
}

TEST(PlatDialogTest, SerialPortsOfTheFolderComeFirstInNameOrder) {
    TempFolder tmp;
    for (const char *p : {"COM9", "COM10", "ttyPLC"})
        std::ofstream(tmp.path() + "/" + p) << "";
    setenv("KVT_SERIAL_DIR", tmp.path().c_str(), 1);
    std::vector<std::string> names;
    ASSERT_GE(plat_SerialEnumPorts(names), 3);
    EXPECT_EQ(names[0], "COM10");
    EXPECT_EQ(names[1], "COM9");
    EXPECT_EQ(names[2], "ttyPLC");
    for (size_t i = 3; i < names.size(); ++i)
        EXPECT_EQ(names[i].compare(0, 3, "COM"), 0);
    unsetenv("KVT_SERIAL_DIR");
}

} // namespace
