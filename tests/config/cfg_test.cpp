#include "config_fixture.h"
#include "def.h"
#include "exdll.h"

#include "../../Scanners/Siemens/scanner/s5types.h"
#include "structs_type_float.h"
#include "structs_type_int.h"
#include "structs_type_struct.h"
#include "xml.h"
#include "xsd.h"
#include "xsd_check.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {
struct DeviceConfig {
    uint8_t bytes[704];
};

DeviceConfig sampleConfig() {
    DeviceConfig c = {};
    uint32_t interval = 250;
    memcpy(c.bytes, &interval, 4);
    S5PortSettings p = {};
    memcpy(p.port_name, "COM12345", 8); // the full width, no NUL
    p.baud_rate = 19200;
    p.read_outputs_first = 1;
    p.data_format = 3;
    p.parity = 2;
    p.protocol_mode = 1;
    p.char_delay_ms = 220;
    p.ack_timeout_ms = 2000;
    p.block_wait_ms = 4000;
    p.priority = 1;
    p.retries = 6;
    memcpy(c.bytes + 4, &p, sizeof p);
    return c;
}

class DeviceConfigTest : public ConfigFixture {
protected:
    int save(const DeviceConfig &c, uint8_t autoEnable = 1, uint8_t saveOutputs = 1,
             uint8_t saveByTag = 0, int32_t rate = 5000) {
        return cfg_WriteDeviceConfig("tester", device_.c_str(), c.bytes, sizeof c.bytes, nullptr, 0,
                                     nullptr, &autoEnable, &saveOutputs, &saveByTag, &rate);
    }
    std::string configXml() const { return device_ + "/config.xml"; }
    // Replaces the first occurrence of a text in config.xml.
    void editXml(const std::string &from, const std::string &to) {
        std::string text = readFile(configXml());
        size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        writeFile(configXml(), text);
    }
    // A read that must fail as an XML error with the given message, outputs untouched.
    void expectXmlFailure(const std::string &message) {
        DeviceConfig out;
        memset(out.bytes, 0xAA, sizeof out.bytes);
        int32_t rate = -7;
        errno = 0;
        EXPECT_EQ(cfg_ReadDeviceConfig(device_.c_str(), out.bytes, sizeof out.bytes, nullptr, 0,
                                       nullptr, nullptr, nullptr, nullptr, &rate),
                  -1);
        EXPECT_EQ(errno, 1465);
        EXPECT_EQ(plat_GetLastError(), 1465u);
        std::string text = xml_GetErrorText();
        EXPECT_EQ(text, "KSTRN_01Dev/Proc Config - " + message);
        EXPECT_NE(eventLog().find(text), std::string::npos);
        EXPECT_EQ(rate, -7);
        for (uint8_t b : out.bytes)
            ASSERT_EQ(b, 0xAA);
    }
};
} // namespace

TEST_F(DeviceConfigTest, BinaryToXmlToBinaryKeepsEveryByte) {
    DeviceConfig c = sampleConfig();
    ASSERT_EQ(save(c, 1, 0, 1, 1234), 0);
    ASSERT_TRUE(exists(device_ + "/config"));
    ASSERT_TRUE(exists(configXml()));
    EXPECT_EQ(run("xmllint --noout " + configXml()), 0);
    EXPECT_EQ(readFile(configXml()).rfind("<?xml version='1.0' encoding='UTF-8'?>\n", 0), 0u);

    DeviceConfig fromXml;
    memset(fromXml.bytes, 0x55, sizeof fromXml.bytes);
    uint8_t a = 9, so = 9, sbt = 9;
    int32_t rate = 0;
    ASSERT_EQ(cfg_ReadDeviceConfig(device_.c_str(), fromXml.bytes, 704, nullptr, 0, nullptr, &a,
                                   &so, &sbt, &rate),
              0)
        << xml_GetErrorText();
    EXPECT_EQ(memcmp(fromXml.bytes, c.bytes, 704), 0);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(so, 0);
    EXPECT_EQ(sbt, 1);
    EXPECT_EQ(rate, 1234);

    // The XML form written back as binary only gives the same files.
    setSwitch("WriteXML", "BIN");
    std::string before = readFile(device_ + "/config");
    ASSERT_EQ(save(fromXml, 1, 0, 1, 1234), 0);
    EXPECT_EQ(readFile(device_ + "/config"), before);
    setSwitch("ReadXML", "OFF");
    DeviceConfig fromBinary = {};
    ASSERT_EQ(cfg_LoadDeviceConfigFrom(device_.c_str(), fromBinary.bytes, 704, nullptr, 0, nullptr),
              0);
    EXPECT_EQ(memcmp(fromBinary.bytes, c.bytes, 704), 0);
}

TEST_F(DeviceConfigTest, XmlCarriesTheFieldTextsInTheirOrder) {
    ASSERT_EQ(save(sampleConfig()), 0);
    std::string text = readFile(configXml());
    const char *order[] = {"<AutoEnable>On</AutoEnable>",
                           "<SaveOutputs>On</SaveOutputs>",
                           "<SaveByTag>Off</SaveByTag>",
                           "<SaveRate>5000</SaveRate>",
                           "<ScanInterval>250</ScanInterval>",
                           "<Port>COM12345</Port>",
                           "<BaudRate>19200</BaudRate>",
                           "<ReadOutputsFirstScan>On</ReadOutputsFirstScan>",
                           "<Parity>EVEN</Parity>",
                           "<Retries>6</Retries>"};
    size_t last = 0;
    for (const char *piece : order) {
        size_t at = text.find(piece);
        ASSERT_NE(at, std::string::npos) << piece;
        EXPECT_GT(at, last) << piece;
        last = at;
    }
    EXPECT_NE(text.find("xsi:schemaLocation=\"http://www.tallowbrook.com/KSTRN "
                        "../SCHEMA/KSTRN.xsd\""),
              std::string::npos);
    EXPECT_NE(text.find("<!--Created Automatically by Corvane.-->"), std::string::npos);
}

TEST_F(DeviceConfigTest, TheSchemaValidatesTheFileWrittenBesideIt) {
    const std::string xsd = root_ + "/SCHEMA/KSTRN.xsd";
    // Without and with the module's extra block, whose fields follow the device's.
    for (const char *options : {"", "extra"}) {
        SCOPED_TRACE(options);
        setenv("KVT_EX_OPTIONS", options, 1);
        uint32_t extra[2] = {42, 7};
        uint8_t on = 1;
        int32_t rate = 5000;
        ASSERT_EQ(cfg_WriteDeviceConfig(nullptr, device_.c_str(), sampleConfig().bytes, 704,
                                        *options ? extra : nullptr, *options ? 8 : 0,
                                        *options ? "extra" : nullptr, &on, &on, &on, &rate),
                  0)
            << xml_GetErrorText();
        EXPECT_EQ(xsdcheck::Validate(configXml(), xsd), "");
    }
    std::string schema = readFile(xsd);
    EXPECT_NE(schema.find("<xs:maxLength value=\"8\"/>"), std::string::npos);
    EXPECT_NE(schema.find("maxOccurs=\"2\""), std::string::npos);
}

// A field whose type has no schema type of its own (an integer of another width code, a float
// of another kind, a type of a module's own) is a restriction of xs:string: the schema compiles
// and takes any text there, while the types the table names keep theirs.
TEST_F(DeviceConfigTest, SchemaTypesWithoutABaseOfTheirOwnAreTexts) {
    structs_type oddInt = structs_type_uint16, oddFloat = structs_type_float,
                 own = structs_type_uint16;
    oddInt.args[0].i = 9;
    oddFloat.args[0].i = 2;
    own.name = "module_own";
    const structs_field fields[] = {{"OddInt", &oddInt, 2, 0},
                                    {"OddFloat", &oddFloat, 4, 4},
                                    {"Own", &own, 2, 8},
                                    {"Plain", &structs_type_uint16, 2, 10},
                                    STRUCTS_STRUCT_FIELD_END};
    structs_type record = structs_type_uint16;
    record.size = 12;
    record.tclass = STRUCTS_TYPE_STRUCTURE;
    record.args[0].v = fields;

    XmlDocument *doc = xml_CreateDocument();
    XmlNode *schema = xml_CreateElement(doc, "xs:schema");
    xml_AppendChildToParent(schema, xml_DocumentNode(doc));
    xml_CreateAndAddAttributeNode(doc, "xmlns:xs", "http://www.w3.org/2001/XMLSchema", schema);
    XmlNode *root = xml_AddChildElement(doc, "xs:element", schema);
    xml_CreateAndAddAttributeNode(doc, "name", "R", root);
    XmlNode *complex = xml_AddChildElement(doc, "xs:complexType", root);
    XmlNode *sequence = xml_AddChildElement(doc, "xs:sequence", complex);
    ASSERT_EQ(xsd_AddFieldElement(doc, sequence, &record, 0, 0), 0) << xml_GetErrorText();
    const std::string xsd = root_ + "/own.xsd";
    ASSERT_EQ(xml_SaveFile(doc, xsd.c_str()), 0) << xml_GetErrorText();
    xml_ReleaseDocument(doc);

    const std::string texts = root_ + "/texts.xml", number = root_ + "/number.xml";
    writeFile(texts, "<R><OddInt>x</OddInt><OddFloat>y</OddFloat><Own>z</Own><Plain>7</Plain></R>");
    writeFile(number,
              "<R><OddInt>1</OddInt><OddFloat>1</OddFloat><Own>1</Own><Plain>q</Plain></R>");
    EXPECT_EQ(xsdcheck::Validate(texts, xsd), "");
    EXPECT_NE(xsdcheck::Validate(number, xsd), "") << "Plain keeps xs:unsignedShort";
}

TEST_F(DeviceConfigTest, MissingDeviceFieldStaysZeroButMissingSaveRateFails) {
    DeviceConfig c = sampleConfig();
    ASSERT_EQ(save(c), 0);
    editXml("<BaudRate>19200</BaudRate>", "");
    DeviceConfig out = {};
    ASSERT_EQ(cfg_LoadDeviceConfigFrom(device_.c_str(), out.bytes, 704, nullptr, 0, nullptr), 0);
    uint32_t baud = 1;
    memcpy(&baud, out.bytes + 12, 4);
    EXPECT_EQ(baud, 0u);
    editXml("<SaveRate>5000</SaveRate>", "");
    expectXmlFailure("<SaveRate> tag not found");
}

TEST_F(DeviceConfigTest, DamagedFilesAreRefusedWithTheirMessages) {
    ASSERT_EQ(save(sampleConfig()), 0);
    std::string good = readFile(configXml());

    editXml("<DataFormat>3</DataFormat>", "<DataFormat>three</DataFormat>");
    DeviceConfig out;
    memset(out.bytes, 0xAA, 704);
    ASSERT_EQ(cfg_LoadDeviceConfigFrom(device_.c_str(), out.bytes, 704, nullptr, 0, nullptr), -1);
    EXPECT_EQ(errno, 1465);
    EXPECT_EQ(std::string(xml_GetErrorMessage()).rfind("<DataFormat> ", 0), 0u);

    writeFile(configXml(), good);
    editXml("<Parity>EVEN</Parity>", "<Parity>even</Parity>");
    expectXmlFailure("<Parity> invalid value \"even\"");

    writeFile(configXml(), good.substr(0, good.size() / 2));
    DeviceConfig junk;
    EXPECT_EQ(cfg_LoadDeviceConfigFrom(device_.c_str(), junk.bytes, 704, nullptr, 0, nullptr), -1);
    EXPECT_EQ(errno, 1465);
    EXPECT_EQ(std::string(xml_GetErrorMessage()).rfind("Xml Load Failed (", 0), 0u);

    writeFile(configXml(), "<?xml version='1.0'?><Other/>");
    expectXmlFailure("Root Element <Configs> not found");
    writeFile(configXml(), "<?xml version='1.0'?><Configs><Other/></Configs>");
    expectXmlFailure("<Config> tag not found");

    writeFile(configXml(), good);
    editXml("<Port>COM12345</Port>", "<Port>CO&#1;M</Port>");
    DeviceConfig bad;
    EXPECT_EQ(cfg_LoadDeviceConfigFrom(device_.c_str(), bad.bytes, 704, nullptr, 0, nullptr), -1);
    EXPECT_EQ(errno, 1465);
}

TEST_F(DeviceConfigTest, ModuleValidationRefusesTheRecord) {
    DeviceConfig c = sampleConfig();
    ASSERT_EQ(save(c), 0);
    editXml("<DataFormat>3</DataFormat>", "<DataFormat>9</DataFormat>");
    expectXmlFailure("DataFormat 9 out of range 0..8");
    editXml("<DataFormat>9</DataFormat>", "<DataFormat>3</DataFormat>");
    editXml("<Parity>EVEN</Parity>", "<Parity>EVEN</Parity>");
    setenv("KVT_EX_OPTIONS", "fail", 1);
    expectXmlFailure("refused by test option");
}

TEST_F(DeviceConfigTest, AModuleFieldOutsideTheRecordIsNeitherWrittenNorRead) {
    DeviceConfig c = sampleConfig();
    ASSERT_EQ(save(c), 0);
    setenv("KVT_EX_OPTIONS", "outside", 1);
    // The module describes a field that ends 2 bytes past the record; the caller's buffer goes
    // on with bytes that are not the record's.
    std::vector<uint8_t> buffer(704 + 8, 0xAA);
    memcpy(buffer.data(), c.bytes, 704);
    std::string before = readFile(configXml());
    EXPECT_EQ(
        cfg_SaveDeviceConfigTo(nullptr, device_.c_str(), buffer.data(), 704, nullptr, 0, nullptr),
        -1);
    EXPECT_NE(std::string(xml_GetErrorText()).find("<Beyond> field lies outside the record"),
              std::string::npos)
        << xml_GetErrorText();
    EXPECT_EQ(readFile(configXml()).find("Beyond"), std::string::npos);

    editXml("<Retries>6</Retries>", "<Retries>6</Retries><Beyond>7</Beyond>");
    EXPECT_EQ(cfg_LoadDeviceConfigFrom(device_.c_str(), buffer.data(), 704, nullptr, 0, nullptr),
              -1);
    EXPECT_NE(std::string(xml_GetErrorText()).find("field lies outside the record"),
              std::string::npos)
        << xml_GetErrorText();
    for (size_t i = 704; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], 0xAA) << i;
    unsetenv("KVT_EX_OPTIONS");
}

TEST_F(DeviceConfigTest, WriteXmlSwitchChoosesTheFiles) {
    setSwitch("WriteXML", "XML");
    ASSERT_EQ(save(sampleConfig()), 0);
    EXPECT_TRUE(exists(configXml()));
    EXPECT_FALSE(exists(device_ + "/config"));
    EXPECT_FALSE(exists(device_ + "/saveconfig"));

    std::string other = root_ + "/KSTRN_03";
    mkdir(other.c_str(), 0777);
    setSwitch("WriteXML", "bin");
    DeviceConfig c = sampleConfig();
    ASSERT_EQ(cfg_SaveDeviceConfigTo(nullptr, other.c_str(), c.bytes, 704, nullptr, 0, nullptr), 0);
    EXPECT_TRUE(exists(other + "/config"));
    EXPECT_FALSE(exists(other + "/config.xml"));
}

TEST_F(DeviceConfigTest, DeviceWithoutDoXmlAlwaysUsesBinaryFiles) {
    std::string folder = binaryOnlyDevice();
    setSwitch("WriteXML", "XML");
    DeviceConfig c = sampleConfig();
    uint8_t a = 1, so = 0, sbt = 1;
    int32_t rate = 77;
    ASSERT_EQ(cfg_WriteDeviceConfig(nullptr, folder.c_str(), c.bytes, 704, nullptr, 0, nullptr, &a,
                                    &so, &sbt, &rate),
              0);
    EXPECT_FALSE(exists(folder + "/config.xml"));
    EXPECT_EQ(cfg_HasDoXml(folder.c_str()), 0);
    DeviceConfig out = {};
    rate = 0;
    ASSERT_EQ(cfg_ReadDeviceConfig(folder.c_str(), out.bytes, 704, nullptr, 0, nullptr, &a, &so,
                                   &sbt, &rate),
              0);
    EXPECT_EQ(memcmp(out.bytes, c.bytes, 704), 0);
    EXPECT_EQ(rate, 77);
}

TEST_F(DeviceConfigTest, BinaryReadsReportMissingAndShortFiles) {
    setSwitch("ReadXML", "OFF");
    DeviceConfig out;
    EXPECT_EQ(cfg_LoadDeviceConfigFrom(device_.c_str(), out.bytes, 704, nullptr, 0, nullptr), -1);
    EXPECT_EQ(errno, 2);
    EXPECT_FALSE(exists(device_ + "/config")); // a read creates nothing
    writeFile(device_ + "/saveconfig", std::string(3, '\1'));
    uint8_t so;
    EXPECT_EQ(cfg_ReadDeviceConfig(device_.c_str(), nullptr, 0, nullptr, 0, nullptr, nullptr, &so,
                                   nullptr, nullptr),
              -1);
    EXPECT_EQ(errno, 38);
    // A short record part leaves the rest of the caller's record.
    writeFile(device_ + "/config", std::string("\1\2\3", 3));
    memset(out.bytes, 0xEE, 704);
    ASSERT_EQ(cfg_LoadDeviceConfigFrom(device_.c_str(), out.bytes, 704, nullptr, 0, nullptr), 0);
    EXPECT_EQ(out.bytes[0], 2);
    EXPECT_EQ(out.bytes[1], 3);
    EXPECT_EQ(out.bytes[2], 0xEE);
}

TEST_F(DeviceConfigTest, ExtraBlockTravelsThroughBothForms) {
    setenv("KVT_EX_OPTIONS", "extra", 1);
    DeviceConfig c = sampleConfig();
    uint32_t extra[2] = {42, 7};
    ASSERT_EQ(cfg_SaveDeviceConfigTo(nullptr, device_.c_str(), c.bytes, 704, extra, 8, "extra"), 0);
    std::string file = readFile(device_ + "/extra");
    ASSERT_EQ(file.size(), 12u); // at the module's offset 4
    EXPECT_NE(readFile(configXml()).find("<ExtraA>42</ExtraA>"), std::string::npos);
    uint32_t back[2] = {};
    ASSERT_EQ(cfg_LoadDeviceConfigFrom(device_.c_str(), c.bytes, 704, back, 8, "extra"), 0);
    EXPECT_EQ(back[0], 42u);
    EXPECT_EQ(back[1], 7u);
    setSwitch("ReadXML", "OFF");
    uint32_t binary[2] = {};
    ASSERT_EQ(cfg_LoadDeviceConfigFrom(device_.c_str(), c.bytes, 704, binary, 8, "extra"), 0);
    EXPECT_EQ(binary[1], 7u);
}

TEST_F(DeviceConfigTest, HistoryRecordsOnlyChangedFields) {
    DeviceConfig c = sampleConfig();
    ASSERT_EQ(save(c), 0);
    cfg_SetHistoryFlag(1);
    ASSERT_EQ(save(c), 0);
    EXPECT_FALSE(exists(root_ + "/recent_history.txt"));
    S5PortSettings p;
    memcpy(&p, c.bytes + 4, sizeof p);
    p.baud_rate = 9600;
    memcpy(c.bytes + 4, &p, sizeof p);
    ASSERT_EQ(save(c, 0, 1, 0, 6000), 0);
    std::string history = readFile(root_ + "/recent_history.txt");
    EXPECT_NE(history.find("\ttester\tKSTRN_01.AutoEnable ON -> OFF\r\n"), std::string::npos)
        << history;
    EXPECT_NE(history.find("\ttester\tKSTRN_01.SaveRate 5000 -> 6000\r\n"), std::string::npos);
    EXPECT_NE(history.find("\ttester\tKSTRN_01.BaudRate 19200 -> 9600\r\n"), std::string::npos);
    EXPECT_EQ(history.find("Port"), std::string::npos);
    cfg_SetHistoryFlag(0);
}

TEST_F(DeviceConfigTest, EveryChangeIsOneHistoryLineWhateverItsTextsHold) {
    // Texts with line and field separators of their own, one of them near the longest line.
    const std::string forged = "x\r\n2020/01/01\t00:00:00\tadmin\tKSTRN_01.Port 1 -> 2";
    ASSERT_EQ(cfg_OpenHistoryIn(device_.c_str(), 0), 1);
    cfg_AppendHistory("ev\til", 0, "Tag", forged.c_str(), "new\nline");
    cfg_AppendHistory("tester", 3, "Desc\r", "a", std::string(4900, 'b').c_str());
    cfg_CloseHistory();
    std::string history = readFile(root_ + "/recent_history.txt");
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = history.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(history.substr(at, end - at));
    ASSERT_EQ(lines.size(), 2u) << history;
    EXPECT_EQ(lines[0].substr(20),
              "ev il\tKSTRN_01.Tag x  2020/01/01 00:00:00 admin KSTRN_01.Port 1 -> 2 -> new line");
    EXPECT_EQ(lines[1].substr(20), "tester\tKSTRN_01.3.Desc  a -> " + std::string(4900, 'b'));
    for (const std::string &line : lines)
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 3) << line;
}

TEST_F(DeviceConfigTest, HistoryOnRefusesASaveOverAConfigXmlThatDoesNotParse) {
    DeviceConfig c = sampleConfig();
    ASSERT_EQ(save(c), 0);
    const std::string damaged = "<DeviceConfig><AutoEnable>On</Auto";
    writeFile(configXml(), damaged);
    std::string binary = readFile(device_ + "/config");
    cfg_SetHistoryFlag(1);
    errno = 0;
    // The old values cannot be known, and the only copy of the damaged file is not replaced.
    EXPECT_EQ(save(c, 0, 0, 1, 6000), -1);
    EXPECT_EQ(errno, static_cast<int>(WERR_XML_PARSE_ERROR));
    EXPECT_EQ(readFile(configXml()), damaged);
    EXPECT_TRUE(readFile(device_ + "/config") == binary) << "the binary record was written";
    EXPECT_FALSE(exists(root_ + "/recent_history.txt"));
    cfg_SetHistoryFlag(0);
}

// Every check that can refuse a save runs before the first file is written, the history line
// included: the old binary files, config.xml and its schema stay byte for byte as they were.
TEST_F(DeviceConfigTest, ARefusedSaveLeavesEveryFileAsItWas) {
    struct Case {
        const char *name;
        int offset; // a byte of the record set to value (-1: none)
        uint8_t value;
        const char *options; // KVT_EX_OPTIONS
        const char *folder;  // as the save is given it ("": the device's full path)
        bool noRoot;         // the root's "config" is missing
        std::string message; // in the error text ("": an errno failure)
        int readOnly = -1;   // the file of `files` marked read-only before the save
        int error = 1465;    // errno
    } cases[] = {
        {"a text that does not read back", 20, 7, "", "", false, "<Parity> invalid value"},
        {"a record the module refuses", 19, 9, "", "", false, "DataFormat 9 out of range 0..8"},
        {"a field outside the record", -1, 0, "outside", "", false,
         "<Beyond> field lies outside the record"},
        {"a folder no schema can be placed for", -1, 0, "", "KSTRN_01", false,
         "Creating Schema - Invalid Pathname"},
        {"a root whose config cannot be touched", -1, 0, "", "", true, "", -1, 2},
        {"a read-only config", -1, 0, "", "", false, "", 0, 5},
        {"a read-only saveconfig", -1, 0, "", "", false, "", 1, 5},
        {"a read-only config.xml", -1, 0, "", "", false,
         "Dev/Proc Config - Save XML File (" + configXml() + ") failed, Access Denied", 2},
        {"a read-only device schema", -1, 0, "", "", false,
         "Creating Schema - Save XML File (" + root_ + "/SCHEMA/KSTRN.xsd) failed, Access Denied",
         3},
    };
    const std::vector<std::string> files = {device_ + "/config", device_ + "/saveconfig",
                                            configXml(), root_ + "/SCHEMA/KSTRN.xsd"};
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        unsetenv("KVT_EX_OPTIONS");
        cfg_SetHistoryFlag(0);
        writeFile(root_ + "/config", std::string(705, '\0'));
        remove((root_ + "/recent_history.txt").c_str());
        ASSERT_EQ(save(sampleConfig()), 0) << xml_GetErrorText();
        std::vector<std::string> before;
        for (const std::string &f : files) {
            ASSERT_TRUE(exists(f)) << f;
            before.push_back(readFile(f));
        }

        DeviceConfig changed = sampleConfig();
        changed.bytes[12] ^= 0x40; // the baud rate, so the history has a line to write
        if (c.offset >= 0) changed.bytes[c.offset] = c.value;
        std::vector<uint8_t> buffer(changed.bytes, changed.bytes + 704);
        buffer.resize(704 + 8, 0); // the module option "outside" reads past the record
        if (*c.options) setenv("KVT_EX_OPTIONS", c.options, 1);
        if (c.noRoot) remove((root_ + "/config").c_str());
        if (c.readOnly >= 0) {
            ASSERT_EQ(chmod(files[c.readOnly].c_str(), 0444), 0);
        }
        if (!c.noRoot) {
            const struct timespec old[2] = {{946684800, 0}, {946684800, 0}};
            ASSERT_EQ(utimensat(AT_FDCWD, (root_ + "/config").c_str(), old, 0), 0);
        }
        if (*c.folder) {
            ASSERT_EQ(chdir(root_.c_str()), 0);
        }
        cfg_SetHistoryFlag(1);
        uint8_t on = 0, off = 1, tag = 1;
        int32_t rate = 6000;
        errno = 0;
        int r =
            cfg_WriteDeviceConfig("tester", *c.folder ? c.folder : device_.c_str(), buffer.data(),
                                  704, nullptr, 0, nullptr, &on, &off, &tag, &rate);
        int err = errno;
        ASSERT_EQ(chdir(cwd), 0);
        cfg_SetHistoryFlag(0);
        EXPECT_EQ(r, -1);
        EXPECT_EQ(err, c.error);
        if (!c.message.empty()) {
            EXPECT_NE(std::string(xml_GetErrorText()).find(c.message), std::string::npos)
                << xml_GetErrorText();
        }
        for (size_t i = 0; i < files.size(); ++i)
            EXPECT_TRUE(readFile(files[i]) == before[i]) << files[i] << " was written";
        if (c.readOnly >= 0) {
            ASSERT_EQ(chmod(files[c.readOnly].c_str(), 0644), 0);
        }
        struct stat rootAfter {};
        if (!c.noRoot) {
            ASSERT_EQ(stat((root_ + "/config").c_str(), &rootAfter), 0);
            EXPECT_EQ(rootAfter.st_mtime, 946684800) << "the root's config was touched";
        }
        EXPECT_FALSE(exists(root_ + "/recent_history.txt"));
    }
    unsetenv("KVT_EX_OPTIONS");
}

TEST_F(DeviceConfigTest, TheHistorySwitchIsReadFromTheRootWithoutLeavingTheDeviceFolder) {
    // The device folder's own "config" starts with 0x5A; the root's record (behind its first
    // byte) starts with the switch.
    std::string record(705, '\0');
    record[0] = 0x5A;
    writeFile(device_ + "/config", record);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(device_.c_str()), 0);
    for (char flag : {0, 1}) {
        std::string root(705, '\0');
        root[1] = flag;
        writeFile(root_ + "/config", root);
        // Meanwhile another thread keeps reading "config" relative to the current folder.
        std::atomic<bool> reading{true};
        std::atomic<int> opened{0}, foreign{0};
        std::thread other([&] {
            while (reading.load()) {
                int fd = open("config", O_RDONLY);
                char first = 0;
                if (fd < 0 || read(fd, &first, 1) != 1 || first != 0x5A) ++foreign;
                if (fd >= 0) close(fd);
                ++opened;
            }
        });
        while (opened.load() == 0)
            std::this_thread::yield();
        for (int i = 0; i < 2000; ++i) {
            cfg_ForgetHistoryFlag();
            EXPECT_EQ(cfg_GetHistoryFlag(), flag);
        }
        reading = false;
        other.join();
        EXPECT_EQ(foreign.load(), 0) << "of " << opened.load() << " opens";
        char now[4096];
        ASSERT_NE(getcwd(now, sizeof now), nullptr);
        EXPECT_EQ(std::string(now), device_);
    }
    ASSERT_EQ(chdir(cwd), 0);
    cfg_SetHistoryFlag(0);
}

TEST_F(DeviceConfigTest, SaveFailsWhenTheRootConfigCannotBeTouched) {
    remove((root_ + "/config").c_str());
    DeviceConfig c = sampleConfig();
    EXPECT_EQ(cfg_SaveDeviceConfigTo(nullptr, device_.c_str(), c.bytes, 704, nullptr, 0, nullptr),
              -1);
    EXPECT_EQ(errno, 2);
}

// The current folder's AutoEnable byte and save settings change alone, in both file forms.
TEST_F(DeviceConfigTest, CurrentFolderAccessTouchesOnlyItsParts) {
    DeviceConfig c = sampleConfig();
    ASSERT_EQ(save(c, 1, 1, 0, 5000), 0);
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(device_.c_str()), 0);

    uint8_t a = 9;
    EXPECT_EQ(cfg_ReadAutoEnableInCwd(&a), 0) << xml_GetErrorText();
    EXPECT_EQ(a, 1);
    EXPECT_EQ(cfg_WriteAutoEnableInCwd(0), 0) << xml_GetErrorText();
    EXPECT_EQ(cfg_WriteSaveSettingsInCwd(0, 1, 250), 0) << xml_GetErrorText();
    char now[PATH_MAX];
    ASSERT_NE(getcwd(now, sizeof now), nullptr);
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(device_, now);

    for (const char *readXml : {"ON", "OFF"}) {
        setSwitch("ReadXML", readXml);
        DeviceConfig out = {};
        uint8_t so = 9, sbt = 9;
        int32_t rate = 0;
        ASSERT_EQ(cfg_ReadDeviceConfig(device_.c_str(), out.bytes, 704, nullptr, 0, nullptr, &a,
                                       &so, &sbt, &rate),
                  0)
            << readXml;
        EXPECT_EQ(memcmp(out.bytes, c.bytes, 704), 0) << readXml;
        EXPECT_EQ(a, 0) << readXml;
        EXPECT_EQ(so, 0) << readXml;
        EXPECT_EQ(sbt, 1) << readXml;
        EXPECT_EQ(rate, 250) << readXml;
    }
}

// A user process's module is found through DATPROC.TXT while a definition file is open, whose
// position and message the search leaves alone.
TEST_F(DeviceConfigTest, UserModuleSearchLeavesAnOpenDefinitionFileAlone) {
    std::string bin = tmp_ / "userbin";
    mkdir(bin.c_str(), 0777);
    ASSERT_EQ(symlink((bin_ + "/KSTRN_ex.so").c_str(), (bin + "/usera_ex.so").c_str()), 0);
    setenv("KVT_BIN", bin.c_str(), 1);
    writeFile(root_ + "/DATPROC.TXT", "MYPRC,,A-MP:10,stop\n");
    std::string folder = root_ + "/MYPRC_01";
    mkdir(folder.c_str(), 0777);
    std::string logcap = tmp_ / "LOGCAP.TXT";
    writeFile(logcap, "* loggers\nstand,1\nrepub,2\n");
    ASSERT_EQ(def_Open(logcap.c_str()), 2);
    ASSERT_EQ(def_NextRecord(), 1);
    void *module = cfg_LoadExtensionDll(folder.c_str());
    EXPECT_NE(module, nullptr);
    if (module != nullptr) exdll_Free(module);
    EXPECT_EQ(def_LineNumber(), 2);
    EXPECT_EQ(def_NextRecord(), 1);
    EXPECT_EQ(def_CurrentLine(), "repub,2");
    def_Close();
}
