#include "exdll.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {
// The build's bin folder holds the sample module KSTRN_ex.so.
class ExDllTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char *bin = getenv("KVT_BUILD_BIN");
        ASSERT_NE(bin, nullptr);
        setenv("KVT_BIN", bin, 1);
    }
};

struct Module {
    explicit Module(const char *prefix) : handle(exdll_Load(prefix)) {}
    ~Module() { exdll_Free(handle); }
    void *handle;
};

void setSlotPort(unsigned char *slot, const char *port, uint32_t baud, uint16_t number) {
    memcpy(slot + 34, &number, sizeof number);
    memset(slot + 64, 0, 8);
    memcpy(slot + 64, port, strnlen(port, 8));
    memcpy(slot + 72, &baud, sizeof baud);
}
} // namespace

TEST_F(ExDllTest, ModuleNameTakesFiveCharactersOfThePrefix) {
    EXPECT_EQ(exdll_ModuleName("KSTRN"), "KSTRN_ex.so");
    EXPECT_EQ(exdll_ModuleName("KSTRNXYZ"), "KSTRN_ex.so");
    EXPECT_EQ(exdll_ModuleName("ab"), "ab_ex.so");
}

TEST_F(ExDllTest, ModuleIsFoundInTheBinFolderAlsoUnderALowerCasePrefix) {
    Module exact("KSTRN");
    EXPECT_NE(exact.handle, nullptr);
    Module lower("kstrn_sc");
    EXPECT_NE(lower.handle, nullptr);
}

TEST_F(ExDllTest, MissingModuleFailsWithModNotFound) {
    Module none("NOSUCH");
    EXPECT_EQ(none.handle, nullptr);
    EXPECT_EQ(errno, 126);
    unsetenv("KVT_BIN");
    Module withoutBin("KSTRN");
    EXPECT_EQ(withoutBin.handle, nullptr);
}

TEST_F(ExDllTest, EntryPointsThatTheModuleLacksAreNull) {
    Module m("KSTRN");
    ASSERT_NE(m.handle, nullptr);
    EXPECT_NE(exdll_Symbol(m.handle, "Ex_Validate_Chan"), nullptr);
    EXPECT_EQ(exdll_Symbol(m.handle, "Ex_Get_Channel_Extra_Struct"), nullptr);
    EXPECT_EQ(exdll_Symbol(m.handle, "Ex_Get_Config_Extra_FileName"), nullptr);
    auto mixed = exdll_Entry<Ex_Get_Mixed_Channel_Type_fn>(m.handle, "Ex_Get_Mixed_Channel_Type");
    ASSERT_NE(mixed, nullptr);
    EXPECT_EQ(mixed(), 0);
}

TEST_F(ExDllTest, PortTextComesFromTheSlotWithDefaults) {
    unsigned char slot[788] = {};
    char text[20];
    setSlotPort(slot, "ttyS5", 19200, 3);
    ASSERT_EQ(exdll_GetConfigPort("KSTRN", slot, text, sizeof text), 0);
    EXPECT_STREQ(text, "ttyS5 19200");
    setSlotPort(slot, "", 0, 4);
    ASSERT_EQ(exdll_GetConfigPort("KSTRN", slot, text, sizeof text), 0);
    EXPECT_STREQ(text, "COM4 9600");
    // Eight characters of port name fill the field without a NUL; the text is still cut.
    setSlotPort(slot, "ABCDEFGH", 1234567890, 1);
    ASSERT_EQ(exdll_GetConfigPort("KSTRN", slot, text, sizeof text), 0);
    EXPECT_STREQ(text, "ABCDEFGH 1234567890");
    char small[6];
    ASSERT_EQ(exdll_GetConfigPort("KSTRN", slot, small, sizeof small), 0);
    EXPECT_STREQ(small, "ABCDE");
    EXPECT_EQ(exdll_GetConfigPort("NOSUCH", slot, text, sizeof text), -1);
    EXPECT_STREQ(text, "");
}

TEST_F(ExDllTest, DeviceAndChannelChecksNameTheField) {
    Module m("KSTRN");
    ASSERT_NE(m.handle, nullptr);
    auto device = exdll_Entry<Ex_Validate_Device_fn>(m.handle, "Ex_Validate_Device");
    auto chan = exdll_Entry<Ex_Validate_Chan_fn>(m.handle, "Ex_Validate_Chan");
    ASSERT_NE(device, nullptr);
    ASSERT_NE(chan, nullptr);
    unsigned char config[704] = {};
    char err[EX_MESSAGE_SIZE];
    config[19] = 8;
    config[20] = 4;
    EXPECT_EQ(device(",", config, err, sizeof err), 0);
    config[19] = 9;
    exdll_BeginText(err, sizeof err);
    EXPECT_EQ(device(",", config, err, sizeof err), -1);
    EXPECT_NE(strstr(err, "DataFormat"), nullptr);
    config[19] = 0;
    config[20] = 5;
    EXPECT_EQ(device(",", config, err, sizeof err), -1);
    EXPECT_NE(strstr(err, "Parity"), nullptr);

    unsigned char record[216] = {};
    record[24] = 1; // digital: device part at 192
    record[192 + 4] = 16;
    EXPECT_EQ(chan(",", record, err, sizeof err), -1);
    EXPECT_NE(strstr(err, "BitNumber"), nullptr);
    record[192 + 4] = 15;
    record[192 + 1] = 0xE0 | 11; // only the low five bits are the area
    EXPECT_EQ(chan(",", record, err, sizeof err), -1);
    EXPECT_NE(strstr(err, "Area"), nullptr);
    record[192 + 1] = 0xE0 | 10;
    EXPECT_EQ(chan(",", record, err, sizeof err), 0);
    record[24] = 0; // analogue: device part at 188, which is clear
    EXPECT_EQ(chan(",", record, err, sizeof err), 0);
}

TEST_F(ExDllTest, EditableFormEqualsTheStoredForm) {
    Module m("KSTRN");
    ASSERT_NE(m.handle, nullptr);
    auto size = exdll_Entry<Ex_Decorated_Config_Size_fn>(m.handle, "Ex_Decorated_Config_Size");
    auto decorate = exdll_Entry<Ex_Decorate_Config_fn>(m.handle, "Ex_Decorate_Config");
    ASSERT_NE(size, nullptr);
    ASSERT_NE(decorate, nullptr);
    EXPECT_EQ(size(704), 704);
    unsigned char editable[704], record[704] = {};
    memset(editable, 0x5A, sizeof editable);
    ExBuffer buffer{704, editable, 0};
    EXPECT_EQ(decorate(&buffer, record), 0);
    EXPECT_EQ(memcmp(editable, record, sizeof record), 0);
    EXPECT_EQ(exdll_TakeBlock(&buffer, record, sizeof record), -1);
}

TEST(ExDllBlock, OnlyAWellFormedOwnedBlockIsTakenAndNeverCopiedPastTheTarget) {
    char target[8] = {};
    ExBuffer notOwned{4, target, 0};
    EXPECT_EQ(exdll_TakeBlock(&notOwned, target, sizeof target), -1);
    ExBuffer nullData{4, nullptr, 1};
    EXPECT_EQ(exdll_TakeBlock(&nullData, target, sizeof target), -1);
    char *negative = static_cast<char *>(malloc(4));
    ExBuffer negativeSize{-1, negative, 1};
    EXPECT_EQ(exdll_TakeBlock(&negativeSize, target, sizeof target), -1);
    free(negative);

    char *block = static_cast<char *>(malloc(32));
    memset(block, 'x', 32);
    ExBuffer big{32, block, 1};
    EXPECT_EQ(exdll_TakeBlock(&big, target, 6), 6);
    EXPECT_EQ(std::string(target, 7), std::string("xxxxxx\0", 7));
    EXPECT_EQ(big.data, target);
    EXPECT_EQ(big.owned, 0);
}

TEST(ExDllText, BuffersAreClearedBeforeAndEndedAfterTheCall) {
    char text[4];
    memset(text, 'y', sizeof text);
    exdll_BeginText(text, sizeof text);
    EXPECT_EQ(text[0], '\0');
    memset(text, 'z', sizeof text);
    exdll_EndText(text, sizeof text);
    EXPECT_EQ(std::string(text), "zzz");
}
