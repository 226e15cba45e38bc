#include "cfg.h"
#include "plat_system.h"
#include "reg.h"
#include "structs_chan.h"
#include "structs_type_int.h"
#include "tag.h"
#include "temp_registry.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {
const StructsLeaf &leaf(const std::vector<StructsLeaf> &leaves, const char *name) {
    for (const StructsLeaf &l : leaves)
        if (l.name == name) return l;
    static StructsLeaf none{"", nullptr, 0};
    ADD_FAILURE() << name;
    return none;
}

std::string text(const StructsLeaf &l, const ChannelRecord &r) {
    char *t = l.type->ascify(l.type, "test", r.bytes + l.offset);
    std::string s = t;
    typed_mem_free("test", t);
    return s;
}

int set(const StructsLeaf &l, ChannelRecord *r, const char *value, std::string *message = nullptr) {
    char ebuf[128] = {};
    int result = l.type->binify(l.type, value, r->bytes + l.offset, ebuf, sizeof ebuf);
    if (message != nullptr) *message = ebuf;
    return result;
}

std::vector<std::string> names(const structs_type *type) {
    std::vector<std::string> v;
    for (const StructsLeaf &l : structs_Leaves(type))
        v.push_back(l.name);
    return v;
}
} // namespace

TEST(ChannelTypes, FlagBitsReadAndWriteExactly) {
    auto leaves = structs_Leaves(&structs_chan_analog_type);
    ChannelRecord r = {};
    r.bytes[28] = 0x01;
    EXPECT_EQ(text(leaf(leaves, "Enable"), r), "On");
    EXPECT_EQ(text(leaf(leaves, "LowAlarmDriveCommon"), r), "Off");
    std::string message;
    errno = 0;
    EXPECT_EQ(set(leaf(leaves, "Enable"), &r, "on", &message), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(message, "invalid value \"on\"");
    EXPECT_EQ(set(leaf(leaves, "SigChangeEnable"), &r, "On"), 0);
    EXPECT_EQ(r.bytes[29], 0x01);
    EXPECT_EQ(set(leaf(leaves, "Enable"), &r, "Off"), 0);
    EXPECT_EQ(r.bytes[28], 0x00);

    auto digital = structs_Leaves(&structs_chan_digital_type);
    ChannelRecord d = {};
    d.bytes[28] = 0x10; // bit 3: EventState
    EXPECT_EQ(text(leaf(digital, "EventState"), d), "High");
    EXPECT_EQ(text(leaf(digital, "AlarmState"), d), "Low");
}

TEST(ChannelTypes, FixedTextsUseTheFullWidth) {
    auto leaves = structs_Leaves(&structs_chan_digital_type);
    ChannelRecord r = {};
    std::string forty(40, 'x');
    EXPECT_EQ(set(leaf(leaves, "AlarmText"), &r, forty.c_str()), 0);
    EXPECT_EQ(chrec_GetText(r, ChannelDigital::AlarmText), std::string(32, 'x'));
    EXPECT_NE(r.bytes[97 + 31], 0); // no NUL
    EXPECT_EQ(text(leaf(leaves, "AlarmText"), r), std::string(32, 'x'));
    EXPECT_EQ(structs_fixedstring_equal(&structs_chan_fixedstring32, r.bytes + 97, r.bytes + 97),
              1);
}

TEST(ChannelTypes, TypeTagAndPiecesConvert) {
    auto leaves = structs_Leaves(&structs_chan_analog_type);
    ChannelRecord r = {};
    r.bytes[24] = 4;
    EXPECT_EQ(text(leaf(leaves, "Type"), r), "CI");
    EXPECT_EQ(set(leaf(leaves, "Tag"), &r, "ABCDEFGH"), 0);
    EXPECT_EQ(r.bytes[138], 0);
    EXPECT_EQ(r.bytes[158], 0);
    EXPECT_EQ(set(leaf(leaves, "Tag"), &r, "ABCDEFGHIJKLMNOPQ"), 0);
    EXPECT_EQ(text(leaf(leaves, "Tag"), r), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(r.bytes[160], 'O');
    EXPECT_EQ(set(leaf(leaves, "Units"), &r, "kg/h"), 0);
    EXPECT_EQ(tag_GetUnits(r), "kg/h");
    EXPECT_EQ(text(leaf(leaves, "Analogue"), r), std::string(32, '0'));
}

TEST(ChannelTypes, FieldOrderIsTheXmlOrder) {
    auto analog = names(&structs_chan_analog_type);
    ASSERT_EQ(analog.size(), 41u);
    EXPECT_EQ(analog[0], "Enable");
    EXPECT_EQ(analog[8], "EventEnable");
    EXPECT_EQ(analog[9], "LowEventLimit");
    EXPECT_EQ(analog[29], "LowAlarmText");
    EXPECT_EQ(analog[40], "Analogue");
    auto digital = names(&structs_chan_digital_type);
    ASSERT_EQ(digital.size(), 19u);
    EXPECT_EQ(digital[9], "EventState");
    EXPECT_EQ(digital[18], "Digital");
    for (int i = 0; i < STRUCTS_CHAN_COMMON_FIELDS; ++i)
        EXPECT_EQ(analog[static_cast<size_t>(i)], digital[static_cast<size_t>(i)]);
    EXPECT_EQ(names(&structs_savesettings_type),
              (std::vector<std::string>{"AutoEnable", "SaveOutputs", "SaveByTag", "SaveRate"}));
}

TEST(ChannelTypes, PerUseLayoutReplacesOnlyTheDevicePart) {
    static const structs_type part = structs_type_uint8;
    ChanLayout layout;
    chan_MakeLayout(&layout, 1, &part);
    auto leaves = structs_Leaves(&layout.type);
    EXPECT_EQ(leaves.back().type, &part);
    EXPECT_EQ(leaves.back().offset, 192u);
    EXPECT_EQ(names(&structs_chan_digital_type).back(), "Digital");
    EXPECT_STREQ(structs_Leaves(&structs_chan_digital_type).back().type->name, "fixeddata");
}

namespace {
class SwitchTest : public ::testing::Test {
protected:
    void set(const char *name, const char *value) {
        uint32_t type = PLAT_REG_SZ;
        uint32_t size = static_cast<uint32_t>(strlen(value) + 1);
        ASSERT_EQ(reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_SET_VALUE,
                                  name, &type, const_cast<char *>(value), &size),
                  0u);
    }
    TempRegistry registry_;
};
} // namespace

TEST_F(SwitchTest, TextsAndDefaults) {
    reg_ForgetProductNames();
    EXPECT_EQ(cfg_GetReadXml("/x"), 0); // Trellane: binary by default
    EXPECT_EQ(cfg_GetWriteXml("/x"), 0);
    EXPECT_EQ(cfg_GetExcelCompatibleXsd("/x"), 1u);
    set("ReadXML", "on");
    EXPECT_EQ(cfg_GetReadXml("/x"), 1);
    set("ReadXML", "yes");
    EXPECT_EQ(cfg_GetReadXml("/x"), 0);
    set("WriteXML", "both");
    EXPECT_EQ(cfg_GetWriteXml("/x"), 1);
    set("WriteXML", "XML");
    EXPECT_EQ(cfg_GetWriteXml("/x"), 2);
    set("WriteXML", "maybe");
    EXPECT_EQ(cfg_GetWriteXml("/x"), 0);
    // Another computer's registry cannot be reached: its defaults apply.
    set("ReadXML", "ON");
    EXPECT_EQ(cfg_GetReadXml("//NOSUCHHOST/cfg/KSTRN_01"), 0);
    EXPECT_EQ(cfg_GetReadXml("\\\\NOSUCHHOST\\cfg\\KSTRN_01"), 0);
    // This computer under its other names is read from the local registry.
    set("WriteXML", "BOTH");
    const std::string computer = plat_ComputerName();
    for (const char *host : {".", "localhost", "127.0.0.1", computer.c_str()}) {
        for (std::string folder :
             {std::string("//") + host + "/cfg/KSTRN_01", std::string("\\\\") + host + "\\cfg"}) {
            EXPECT_EQ(cfg_GetReadXml(folder.c_str()), 1) << folder;
            EXPECT_EQ(cfg_GetWriteXml(folder.c_str()), 1) << folder;
        }
    }
}

TEST(Folders, PrefixAndCurrentConfig) {
    EXPECT_EQ(cfg_DevicePrefix("/cfg/KSTRN_01"), "KSTRN");
    EXPECT_EQ(cfg_DevicePrefix("C:\\cfg\\calc_12_3"), "calc_12");
    EXPECT_EQ(cfg_FolderName("/cfg/KSTRN_01/"), "KSTRN_01");
    EXPECT_EQ(cfg_IsCurrentConfig("/x/current_config"), 1);
    EXPECT_EQ(cfg_IsCurrentConfig("/x/CURRENT_CONFIG2"), 0);
    EXPECT_EQ(cfg_ParentFolder("/cfg/KSTRN_01"), "/cfg");
}
