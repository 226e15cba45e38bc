#include "cfg.h"
#include "chan.h"
#include "cfg_internal.h"
#include "plat_system.h"
#include "reg.h"
#include "structs_chan.h"
#include "structs_type_boolean.h"
#include "structs_type_float.h"
#include "structs_type_int.h"
#include "xml.h"
#include "tag.h"
#include "temp_registry.h"

#include <cerrno>
#include <cmath>
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

namespace {
// A module's type whose text does not read back: a byte shown as a number and taken back halved.
char *halvedAscify(const structs_type *, const char *mtype, const void *data) {
    char buf[8];
    snprintf(buf, sizeof buf, "%u", *static_cast<const uint8_t *>(data));
    return typed_mem_strdup(mtype, buf);
}
int halvedBinify(const structs_type *, const char *ascii, void *data, char *, size_t) {
    *static_cast<uint8_t *>(data) = static_cast<uint8_t>(atoi(ascii) / 2);
    return 0;
}
// One that refuses every text without saying why.
int muteBinify(const structs_type *, const char *, void *, char *, size_t) {
    return -1;
}
const structs_type k_halved = {1,
                               "halved",
                               STRUCTS_TYPE_PRIMITIVE,
                               structs_region_init,
                               structs_region_copy,
                               structs_region_equal,
                               halvedAscify,
                               halvedBinify,
                               structs_region_encode,
                               structs_region_decode,
                               structs_nothing_free,
                               {{.i = 0}, {.i = 0}, {.i = 0}}};
const structs_type k_mute = {1,
                             "mute",
                             STRUCTS_TYPE_PRIMITIVE,
                             structs_region_init,
                             structs_region_copy,
                             structs_region_equal,
                             halvedAscify,
                             muteBinify,
                             structs_region_encode,
                             structs_region_decode,
                             structs_nothing_free,
                             {{.i = 0}, {.i = 0}, {.i = 0}}};
} // namespace

// A field saved and read back in one step: the text, what the reader's record gets, and the
// failures of the save check and of the reader, for numbers (their own bytes) and for the
// types that reach outside their bytes or belong to a module.
TEST(ChannelTypes, SavedFieldReadsBackAsTheReaderReadsIt) {
    struct Case {
        const char *what;
        StructsLeaf leaf;
        std::vector<uint8_t> source;
        int targetSize;
        int result;
        const char *text;
        std::vector<uint8_t> target; // the target's first bytes after the call
        const char *error;
    };
    const uint32_t nanBits = 0x7FA00001u, quietNan = 0x7FC00000u;
    auto bytesOf = [](uint32_t v) {
        std::vector<uint8_t> b(4);
        memcpy(b.data(), &v, 4);
        return b;
    };
    const std::vector<StructsLeaf> analog = structs_Leaves(&structs_chan_analog_type);
    const std::vector<uint8_t> flags(CHANNEL_RECORD_SIZE, 0xFF);
    const StructsLeaf &enable = leaf(analog, "Enable");
    const Case cases[] = {
        {"float NaN with a payload",
         {"F", &structs_type_float, 0},
         bytesOf(nanBits),
         4,
         0,
         "NaN",
         bytesOf(quietNan),
         ""},
        {"boolean int of 2",
         {"B", &structs_type_boolean_int, 0},
         bytesOf(2),
         4,
         0,
         "True",
         bytesOf(1),
         ""},
        {"number outside the target",
         {"N", &structs_type_uint16, 2},
         {1, 2, 0x34, 0x12},
         3,
         -1,
         "4660",
         {0, 0, 0},
         "<N> " CFG_OUTSIDE_RECORD},
        {"module type that does not read back",
         {"H", &k_halved, 0},
         {7},
         1,
         -1,
         "7",
         {},
         "<H> value \"7\" does not read back as written"},
        {"module type that refuses without a word",
         {"M", &k_mute, 0},
         {7},
         1,
         -1,
         "7",
         {},
         "<M> value \"7\" does not read back as written"},
        {"flag bit", enable, flags, static_cast<int>(CHANNEL_RECORD_SIZE), 0, "On", {}, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> source = c.source;
        if (c.leaf.type == enable.type) source.resize(CHANNEL_RECORD_SIZE);
        std::vector<uint8_t> target(static_cast<size_t>(c.targetSize), 0);
        std::string saved;
        xml_ClearError();
        EXPECT_EQ(cfg_SaveAndReadField(c.leaf, source.data(), static_cast<int>(source.size()),
                                       target.data(), c.targetSize, "<%s> %s", &saved),
                  c.result);
        if (c.result == 0) {
            EXPECT_EQ(saved, c.text);
        }
        EXPECT_EQ(std::string(c.result < 0 ? xml_GetErrorMessage() : ""), c.error);
        for (size_t i = 0; i < c.target.size(); ++i)
            EXPECT_EQ(target[i], c.target[i]) << i;
        if (c.leaf.type == enable.type) {
            EXPECT_EQ(text(enable, *reinterpret_cast<ChannelRecord *>(target.data())), "On");
        }
    }
    xml_ClearError();
}

// A field is there when the list of names read holds it whole, between two commas.
TEST(ChannelTypes, RequiredFieldsAreFoundWhole) {
    const char *names = ",Enable,AlarmEnable,Tag,";
    const struct {
        const char *field;
        int found;
    } cases[] = {{"Enable", 1}, {"AlarmEnable", 1}, {"Tag", 1},     {"Alarm", 0},
                 {"Ta", 0},     {"ag", 0},          {"Enable,", 0}, {"", 0}};
    for (const auto &c : cases) {
        xml_ClearError();
        EXPECT_EQ(chan_CheckRequired(names, c.field), c.found) << c.field;
        EXPECT_EQ(std::string(c.found ? "" : xml_GetErrorMessage()),
                  c.found ? "" : std::string("<") + c.field + "> Required");
    }
    xml_ClearError();
    EXPECT_EQ(chan_CheckRequired(nullptr, "Tag"), 0);
    xml_ClearError();
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
