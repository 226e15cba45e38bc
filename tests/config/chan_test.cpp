#include "config_fixture.h"

#include "chan.h"
#include "chfile.h"
#include "dm.h"
#include "ipc_prefix.h"
#include "plat_clock.h"
#include "plat_error.h"
#include "shm.h"
#include "tag.h"
#include "xsd_check.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
namespace A = ChannelAnalog;
namespace D = ChannelDigital;

const uint8_t k_typeOfKind[] = {CHANNEL_TYPE_AI, CHANNEL_TYPE_DI, CHANNEL_TYPE_AO, CHANNEL_TYPE_DO,
                                CHANNEL_TYPE_CI};

// A record that uses every field of its layout, with zero unnamed bytes and text tails.
ChannelRecord sampleRecord(uint8_t type, int n) {
    ChannelRecord r = {};
    chrec_SetType(&r, type);
    std::string tag = "TAG" + std::to_string(n) + "_ABCDEFGHIJK";
    tag_SetTag(&r, tag.substr(0, 15).c_str());
    tag_SetDescription(&r, ("Pump " + std::to_string(n) + " pressure \x80").c_str());
    chrec_SetFlag(&r, A::Enable, 1);
    uint8_t *part = chrec_DevicePart(&r);
    part[0] = static_cast<uint8_t>(n);      // station
    part[1] = 0x40;                         // data block word
    part[2] = 0x12, part[3] = 0x05;         // address
    part[4] = static_cast<uint8_t>(n % 16); // bit
    part[12] = 1;                           // byte select
    if (type & 1) {
        chrec_SetFlag(&r, D::ErrorAlarmEnable, 1);
        chrec_SetFlag(&r, D::EventEnable, 1);
        chrec_SetFlag(&r, D::EventState, 1);
        chrec_SetFlag(&r, D::AlarmEnable, 1);
        chrec_SetText(&r, D::HighStateText, "OPEN");
        chrec_SetText(&r, D::LowStateText, "CLOSED & <shut>");
        chrec_SetText(&r, D::AlarmText, "12345678901234567890123456789012");
        chrec_Set<uint8_t>(&r, D::AlarmPriority, 3);
        chrec_Set<uint8_t>(&r, D::ErrorAlarmPriority, 2);
        chrec_Set<uint16_t>(&r, D::AlarmDelay, 500);
        chrec_Set<uint16_t>(&r, D::ErrorAlarmDelay, 65535);
    } else {
        for (int bit : {A::ErrorAlarmEnable, A::EventEnable, A::ScalingEnable, A::LowAlarmEnable,
                        A::LowWarningEnable, A::HighAlarmEnable, A::HighAlarmDeadbandEnable})
            chrec_SetFlag(&r, bit, 1);
        tag_SetUnits(&r, "bar/min");
        chrec_Set(&r, A::Gain, 0.1f);
        chrec_Set(&r, A::Offset, -273.15f);
        chrec_Set(&r, A::LowEventLimit, 1.0f / 3.0f);
        chrec_Set(&r, A::HighEventLimit, 1e30f);
        chrec_Set(&r, A::HighAlarmLimit, 99.5f);
        chrec_Set(&r, A::LowAlarmLimit, -1.5e-7f);
        chrec_Set(&r, A::MaximumUnits, 100.0f);
        chrec_Set(&r, A::MinimumUnits, -100.0f);
        chrec_Set<uint8_t>(&r, A::HighAlarmPriority, 9);
        chrec_Set<uint16_t>(&r, A::HighAlarmDelay, 1000);
        chrec_SetText(&r, A::HighAlarmText, "Too high");
        chrec_SetText(&r, A::LowAlarmText, "Too low");
    }
    return r;
}

std::vector<ChannelRecord> sampleRecords(int kind, int count) {
    std::vector<ChannelRecord> v;
    for (int i = 0; i < count; ++i)
        v.push_back(sampleRecord(k_typeOfKind[kind], i + 1));
    return v;
}

class ChannelTest : public ConfigFixture {
protected:
    int write(int kind, const std::vector<ChannelRecord> &records, int first = 0) {
        return chan_WriteChannels("tester", device_.c_str(), kind, records.data(), first,
                                  static_cast<int>(records.size()), nullptr, 0, nullptr);
    }
    int read(int kind, std::vector<ChannelRecord> &records, int first = 0) {
        return chan_ReadChannels(device_.c_str(), kind, records.data(), first,
                                 static_cast<int>(records.size()), nullptr, 0, nullptr);
    }
    std::string xmlPath(int kind) const { return device_ + "/" + chrec_KindName(kind) + ".xml"; }
    void editXml(int kind, const std::string &from, const std::string &to) {
        std::string text = readFile(xmlPath(kind));
        size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        writeFile(xmlPath(kind), text);
    }
    // Removes the whole Channel element of an id.
    void dropChannel(int kind, int id) {
        std::string text = readFile(xmlPath(kind));
        size_t start = text.find("<Channel id=\"" + std::to_string(id) + "\">");
        ASSERT_NE(start, std::string::npos);
        size_t end = text.find("</Channel>", start) + strlen("</Channel>");
        text.erase(start, end - start);
        writeFile(xmlPath(kind), text);
    }
    void expectFailure(int kind, int first, int count, const std::string &text) {
        std::vector<ChannelRecord> out(static_cast<size_t>(count));
        memset(out.data(), 0xAA, out.size() * sizeof(ChannelRecord));
        errno = 0;
        EXPECT_EQ(read(kind, out, first), -1);
        EXPECT_EQ(errno, 1465);
        EXPECT_EQ(std::string(xml_GetErrorText()), text);
        EXPECT_NE(eventLog().find(text), std::string::npos);
        for (const ChannelRecord &r : out)
            for (uint8_t b : r.bytes)
                ASSERT_EQ(b, 0xAA);
    }
};
} // namespace

TEST_F(ChannelTest, EveryKindSurvivesBinaryToXmlToBinary) {
    for (int kind = 0; kind <= 4; ++kind) {
        SCOPED_TRACE(chrec_KindName(kind));
        std::vector<ChannelRecord> records = sampleRecords(kind, 3);
        ASSERT_EQ(write(kind, records), 0) << xml_GetErrorText();
        EXPECT_EQ(run("xmllint --noout " + xmlPath(kind)), 0);
        std::string binary = readFile(device_ + "/" + chrec_KindName(kind));

        std::vector<ChannelRecord> back(3);
        ASSERT_EQ(read(kind, back), 0) << xml_GetErrorText();
        EXPECT_EQ(memcmp(back.data(), records.data(), 3 * sizeof(ChannelRecord)), 0);

        setSwitch("WriteXML", "BIN");
        ASSERT_EQ(write(kind, back), 0);
        EXPECT_EQ(readFile(device_ + "/" + chrec_KindName(kind)).substr(8), binary.substr(8));
        setSwitch("WriteXML", "BOTH");
    }
}

TEST_F(ChannelTest, XmlShowsTheFieldsInTheirOrderAndTexts) {
    ASSERT_EQ(write(CHANNEL_KIND_DI, sampleRecords(CHANNEL_KIND_DI, 2)), 0);
    std::string text = readFile(xmlPath(CHANNEL_KIND_DI));
    const char *order[] = {"<Channel id=\"1\">",
                           "<Enable>On</Enable>",
                           "<Tag>TAG1_ABCDEFGHIJ</Tag>",
                           "<Type>DI</Type>",
                           "<EventState>High</EventState>",
                           "<LowStateText>CLOSED &amp; &lt;shut&gt;</LowStateText>",
                           "<AlarmState>Low</AlarmState>",
                           "<AlarmText>12345678901234567890123456789012</AlarmText>",
                           "<Digital.Station>1</Digital.Station>",
                           "<Digital.ByteSelect>1</Digital.ByteSelect>",
                           "<Channel id=\"2\">"};
    size_t last = 0;
    for (const char *piece : order) {
        size_t at = text.find(piece);
        ASSERT_NE(at, std::string::npos) << piece;
        EXPECT_GE(at, last) << piece;
        last = at;
    }
    EXPECT_NE(text.find("pressure \xE2\x82\xAC</Description>"), std::string::npos);
    EXPECT_NE(text.find("xsi:schemaLocation=\"http://www.tallowbrook.com/KSTRN_di "
                        "../SCHEMA/KSTRN_di.xsd\""),
              std::string::npos);
}

TEST_F(ChannelTest, TheSchemaValidatesTheFileWrittenBesideItWholeAndInPart) {
    struct Case {
        int kind;
        const char *options;
        std::vector<uint8_t> types; // of channels 1-3
    };
    const uint8_t AI = CHANNEL_TYPE_AI, DI = CHANNEL_TYPE_DI;
    const Case cases[] = {
        {CHANNEL_KIND_AI, "", {AI, AI, AI}},
        {CHANNEL_KIND_DI, "", {DI, DI, DI}},
        {CHANNEL_KIND_AO, "", {CHANNEL_TYPE_AO, CHANNEL_TYPE_AO, CHANNEL_TYPE_AO}},
        {CHANNEL_KIND_DO, "", {CHANNEL_TYPE_DO, CHANNEL_TYPE_DO, CHANNEL_TYPE_DO}},
        {CHANNEL_KIND_CI, "", {CHANNEL_TYPE_CI, CHANNEL_TYPE_CI, CHANNEL_TYPE_CI}},
        // Both indexes of the "dc" table hold digital records.
        {CHANNEL_KIND_DC, "", {DI, DI, DI}},
        {CHANNEL_KIND_DC2, "", {DI, DI, DI}},
        // A mixed module's analog file holds either layout, channel by channel.
        {CHANNEL_KIND_AI, "mixed", {AI, DI, AI}},
        {CHANNEL_KIND_AI, "mixed", {DI, AI, DI}},
        {CHANNEL_KIND_DI, "extra", {DI, DI, DI}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(chrec_KindName(c.kind)) + "/" + std::to_string(c.kind) + " " +
                     c.options + " " + std::to_string(c.types[0]));
        setenv("KVT_EX_OPTIONS", c.options, 1);
        const std::string xsd = root_ + "/SCHEMA/KSTRN_" + chrec_KindName(c.kind) + ".xsd";
        remove(xsd.c_str());
        remove(xmlPath(c.kind).c_str());
        remove((device_ + "/" + chrec_KindName(c.kind)).c_str());
        std::vector<ChannelRecord> records;
        for (size_t i = 0; i < c.types.size(); ++i)
            records.push_back(sampleRecord(c.types[i], static_cast<int>(i) + 1));
        std::vector<uint8_t> extra(3 * 8, 0);
        ASSERT_EQ(chan_WriteChannels("tester", device_.c_str(), c.kind, records.data(), 0, 3,
                                     extra.data(), static_cast<int>(extra.size()), "chextra"),
                  0)
            << xml_GetErrorText();
        EXPECT_EQ(xsdcheck::Validate(xmlPath(c.kind), xsd), "");

        // Channels 2 and 3 saved again: the schema made for two still takes the file's three.
        remove(xsd.c_str());
        records[1] = sampleRecord(c.types[1], 7);
        ASSERT_EQ(chan_WriteChannels("tester", device_.c_str(), c.kind, &records[1], 1, 2,
                                     extra.data(), 16, "chextra"),
                  0)
            << xml_GetErrorText();
        EXPECT_EQ(xsdcheck::Validate(xmlPath(c.kind), xsd), "");
    }
    unsetenv("KVT_EX_OPTIONS");

    std::string schema = readFile(root_ + "/SCHEMA/KSTRN_ai.xsd");
    EXPECT_NE(schema.find("<xs:group ref=\"KSTRN_ai:Channel_a\"/>"), std::string::npos);
    EXPECT_NE(schema.find("<xs:group ref=\"KSTRN_ai:Channel_d\"/>"), std::string::npos);
    ASSERT_EQ(write(CHANNEL_KIND_AI, sampleRecords(CHANNEL_KIND_AI, 4)), 0);
    schema = readFile(root_ + "/SCHEMA/KSTRN_ai.xsd");
    EXPECT_NE(schema.find("<xs:group name=\"Channel_a\">"), std::string::npos);
    EXPECT_EQ(schema.find("Channel_d"), std::string::npos);
    remove((root_ + "/SCHEMA/KSTRN_ai.xsd").c_str());
    ASSERT_EQ(write(CHANNEL_KIND_AI, sampleRecords(CHANNEL_KIND_AI, 1)), 0);
    EXPECT_FALSE(exists(root_ + "/SCHEMA/KSTRN_ai.xsd")); // one channel changes no layout
}

TEST_F(ChannelTest, MissingChannelsFailAtTheFirstPositionOnly) {
    ASSERT_EQ(write(CHANNEL_KIND_AI, sampleRecords(CHANNEL_KIND_AI, 10)), 0);
    std::string good = readFile(xmlPath(CHANNEL_KIND_AI));
    dropChannel(CHANNEL_KIND_AI, 6);
    expectFailure(CHANNEL_KIND_AI, 5, 5, "KSTRN_01 - Channel id=6 Not Found");

    writeFile(xmlPath(CHANNEL_KIND_AI), good);
    dropChannel(CHANNEL_KIND_AI, 8);
    std::vector<ChannelRecord> out(5);
    ASSERT_EQ(read(CHANNEL_KIND_AI, out, 5), 0) << xml_GetErrorText();
    std::vector<ChannelRecord> expected = sampleRecords(CHANNEL_KIND_AI, 10);
    for (int i = 0; i < 5; ++i) {
        ChannelRecord want = i == 2 ? ChannelRecord{} : expected[static_cast<size_t>(5 + i)];
        EXPECT_EQ(memcmp(&out[static_cast<size_t>(i)], &want, sizeof want), 0) << i;
    }
}

TEST_F(ChannelTest, ChannelsAreFoundByNumericIdInAnyOrder) {
    ASSERT_EQ(write(CHANNEL_KIND_DO, sampleRecords(CHANNEL_KIND_DO, 3)), 0);
    editXml(CHANNEL_KIND_DO, "<Channel id=\"2\">", "<Channel id=\"02\">");
    std::vector<ChannelRecord> out(3);
    ASSERT_EQ(read(CHANNEL_KIND_DO, out), 0) << xml_GetErrorText();
    EXPECT_EQ(tag_GetTag(out[1]), "TAG2_ABCDEFGHIJ");
    // A number no id can hold is no id: channel 3 is then missing and reads as a gap.
    for (const char *id : {"1e300", "-1e300", "nan", "inf"}) {
        editXml(CHANNEL_KIND_DO, "<Channel id=\"3\">", std::string("<Channel id=\"") + id + "\">");
        ASSERT_EQ(read(CHANNEL_KIND_DO, out), 0) << xml_GetErrorText();
        EXPECT_EQ(tag_GetTag(out[2]), "") << id;
        editXml(CHANNEL_KIND_DO, std::string("<Channel id=\"") + id + "\">", "<Channel id=\"3\">");
    }
}

TEST_F(ChannelTest, ValidationRulesGiveTheirTexts) {
    std::vector<ChannelRecord> di = sampleRecords(CHANNEL_KIND_DI, 1);
    ASSERT_EQ(write(CHANNEL_KIND_DI, di), 0);
    editXml(CHANNEL_KIND_DI, "<ErrorAlarmPriority>2</ErrorAlarmPriority>", "");
    expectFailure(CHANNEL_KIND_DI, 0, 1, "KSTRN_01di Channel #1 - <ErrorAlarmPriority> Required");

    // The writer refuses such limits itself; a file edited by hand has them.
    std::vector<ChannelRecord> ai = sampleRecords(CHANNEL_KIND_AI, 1);
    chrec_Set(&ai[0], A::LowEventLimit, 5.0f);
    chrec_Set(&ai[0], A::HighEventLimit, 10.0f);
    ASSERT_EQ(write(CHANNEL_KIND_AI, ai), 0);
    editXml(CHANNEL_KIND_AI, "<HighEventLimit>10<", "<HighEventLimit>5<");
    editXml(CHANNEL_KIND_AI, "<LowEventLimit>5<", "<LowEventLimit>10<");
    expectFailure(CHANNEL_KIND_AI, 0, 1, "KSTRN_01ai Channel #1 - LowEventLimiit > HighEventLimit");

    ASSERT_EQ(write(CHANNEL_KIND_AI, sampleRecords(CHANNEL_KIND_AI, 1)), 0);
    editXml(CHANNEL_KIND_AI, "<Gain>", "<Gain>x");
    std::vector<ChannelRecord> out(1);
    EXPECT_EQ(read(CHANNEL_KIND_AI, out), -1) << xml_GetErrorText();
    EXPECT_EQ(std::string(xml_GetErrorMessage()).rfind(" <Gain> ", 0), 0u);

    ASSERT_EQ(write(CHANNEL_KIND_AI, sampleRecords(CHANNEL_KIND_AI, 1)), 0);
    editXml(CHANNEL_KIND_AI, "<Enable>On</Enable>", "<Enable>on</Enable>");
    expectFailure(CHANNEL_KIND_AI, 0, 1, "KSTRN_01ai Channel #1 -  <Enable> invalid value \"on\"");

    ASSERT_EQ(write(CHANNEL_KIND_AI, sampleRecords(CHANNEL_KIND_AI, 1)), 0);
    editXml(CHANNEL_KIND_AI, "<Analogue.BitNumber>1</Analogue.BitNumber>",
            "<Analogue.BitNumber>16</Analogue.BitNumber>");
    expectFailure(CHANNEL_KIND_AI, 0, 1, "KSTRN_01ai Channel #1 - BitNumber 16 out of range 0..15");

    // A disabled channel needs nothing but its Enable.
    writeFile(xmlPath(CHANNEL_KIND_AI),
              "<Channels><Channel id=\"1\"><Enable>Off</Enable></Channel></Channels>");
    ASSERT_EQ(read(CHANNEL_KIND_AI, out), 0) << xml_GetErrorText();
    writeFile(xmlPath(CHANNEL_KIND_AI),
              "<Channels><Channel id=\"1\"><Tag>x</Tag></Channel></Channels>");
    expectFailure(CHANNEL_KIND_AI, 0, 1, "KSTRN_01ai Channel #1 - <Enable> Required");
}

TEST_F(ChannelTest, DamagedFilesAreRefusedWholly) {
    ASSERT_EQ(write(CHANNEL_KIND_AO, sampleRecords(CHANNEL_KIND_AO, 3)), 0);
    std::string good = readFile(xmlPath(CHANNEL_KIND_AO));
    writeFile(xmlPath(CHANNEL_KIND_AO), good.substr(0, good.size() - 40));
    std::vector<ChannelRecord> out(3);
    EXPECT_EQ(read(CHANNEL_KIND_AO, out), -1);
    EXPECT_EQ(errno, 1465);
    EXPECT_EQ(std::string(xml_GetErrorMessage()).rfind("Xml Load Failed (", 0), 0u);
    writeFile(xmlPath(CHANNEL_KIND_AO), "<Other/>");
    expectFailure(CHANNEL_KIND_AO, 0, 3, "KSTRN_01 - Root Element <Channels> not found");
    writeFile(xmlPath(CHANNEL_KIND_AO), good);
    editXml(CHANNEL_KIND_AO, "<Type>AO</Type>", "<Type>XX</Type>");
    EXPECT_EQ(read(CHANNEL_KIND_AO, out), -1);
    EXPECT_EQ(std::string(xml_GetErrorMessage()), " <Type> invalid value \"XX\"");
    // An update-save onto a file that does not parse leaves it alone.
    writeFile(xmlPath(CHANNEL_KIND_AO), "<Channels><Channel");
    EXPECT_EQ(write(CHANNEL_KIND_AO, sampleRecords(CHANNEL_KIND_AO, 3)), -1);
    EXPECT_EQ(errno, 1465);
    EXPECT_EQ(readFile(xmlPath(CHANNEL_KIND_AO)), "<Channels><Channel");
}

TEST_F(ChannelTest, IllegalCharactersAreReplacedByTheMarker) {
    std::vector<ChannelRecord> records = sampleRecords(CHANNEL_KIND_AI, 1);
    chrec_SetText(&records[0], A::HighAlarmText, "bad\x01text");
    ASSERT_EQ(write(CHANNEL_KIND_AI, records), 0);
    EXPECT_EQ(run("xmllint --noout " + xmlPath(CHANNEL_KIND_AI)), 0);
    std::vector<ChannelRecord> out(1);
    ASSERT_EQ(read(CHANNEL_KIND_AI, out), 0);
    EXPECT_EQ(chrec_GetText(out[0], A::HighAlarmText), "**** Illegal Characters in outpu");
    // The file holds the marker as it reads back, so saving what was read writes the same text.
    EXPECT_NE(readFile(xmlPath(CHANNEL_KIND_AI))
                  .find("<HighAlarmText>**** Illegal Characters in outpu</HighAlarmText>"),
              std::string::npos);
}

TEST_F(ChannelTest, SavesTheReaderWouldRefuseFailBeforeAnyFileChanges) {
    const std::vector<ChannelRecord> good = sampleRecords(CHANNEL_KIND_AI, 2);
    struct Case {
        void (*spoil)(ChannelRecord *);
        const char *message;
    } cases[] = {
        {[](ChannelRecord *r) { chrec_Set(r, A::HighAlarmLimit, INFINITY); },
         " <HighAlarmLimit> floating point value overflow"},
        {[](ChannelRecord *r) { chrec_Set(r, A::LowAlarmLimit, -INFINITY); },
         " <LowAlarmLimit> floating point value overflow"},
        {[](ChannelRecord *r) { chrec_SetType(r, 9); }, " <Type> invalid value \"INVALID\""},
        // The reader's own checks of what it has read: the record's and the module's.
        {[](ChannelRecord *r) { chrec_Set(r, A::LowEventLimit, 2e30f); },
         "LowEventLimiit > HighEventLimit"},
        {[](ChannelRecord *r) { chrec_DevicePart(r)[4] = 16; }, "BitNumber 16 out of range 0..15"},
    };
    const std::vector<std::string> files = {device_ + "/ai", xmlPath(CHANNEL_KIND_AI),
                                            root_ + "/SCHEMA/KSTRN_ai.xsd",
                                            root_ + "/recent_history.txt"};
    for (int history : {0, 1}) {
        for (int update : {0, 1}) {
            for (const Case &c : cases) {
                SCOPED_TRACE(std::string(c.message) + (history ? " with history" : "") +
                             (update ? " in place" : " afresh"));
                cfg_SetHistoryFlag(history);
                ASSERT_EQ(write(CHANNEL_KIND_AI, good), 0);
                std::vector<std::string> before;
                for (const std::string &f : files)
                    before.push_back(readFile(f));
                std::vector<ChannelRecord> bad = good;
                tag_SetTag(&bad[0], "CHANGED"); // a change the history would name
                c.spoil(&bad[1]);
                errno = 0;
                EXPECT_EQ(chan_WriteChannelFiles("tester", device_.c_str(), CHANNEL_KIND_AI,
                                                 bad.data(), 0, 2, nullptr, 0, nullptr, update),
                          -1);
                EXPECT_EQ(errno, WERR_XML_PARSE_ERROR);
                EXPECT_NE(std::string(xml_GetErrorText()).find(c.message), std::string::npos)
                    << xml_GetErrorText();
                for (size_t i = 0; i < files.size(); ++i)
                    EXPECT_EQ(readFile(files[i]), before[i]) << files[i];
                EXPECT_NE(run("ls " + device_ + " | grep '\\.xml\\.' | grep -qv '\\.lock$'"), 0)
                    << "a staged file was left behind";
            }
        }
    }
    cfg_SetHistoryFlag(0);
    // The largest and the subnormal floats are values, written and read back as they were.
    std::vector<ChannelRecord> edge = good;
    chrec_Set(&edge[0], A::HighAlarmLimit, FLT_MAX);
    chrec_Set(&edge[0], A::LowAlarmLimit, -FLT_MAX);
    chrec_Set(&edge[1], A::Gain, FLT_TRUE_MIN);
    ASSERT_EQ(write(CHANNEL_KIND_AI, edge), 0) << xml_GetErrorText();
    std::vector<ChannelRecord> out(2);
    ASSERT_EQ(read(CHANNEL_KIND_AI, out), 0) << xml_GetErrorText();
    EXPECT_EQ(memcmp(out.data(), edge.data(), 2 * sizeof(ChannelRecord)), 0);
}

TEST_F(ChannelTest, FilesTheBinaryStepCannotWriteRefuseTheSaveBeforeAnyFileChanges) {
    const std::vector<ChannelRecord> good = sampleRecords(CHANNEL_KIND_AI, 2);
    ASSERT_EQ(write(CHANNEL_KIND_AI, good), 0);
    std::vector<ChannelRecord> changed = good;
    tag_SetTag(&changed[1], "CHANGED");
    const uint8_t extra[16] = {1, 2, 3};
    const std::string config = readFile(root_ + "/config");
    struct Case {
        const char *name;
        std::string blocked; // made a folder, or removed when it is the root's config
        uint32_t error;
    } cases[] = {
        {"the root's config is missing", root_ + "/config", WERR_FILE_NOT_FOUND},
        {"the extra file is a folder", device_ + "/ai_extra", WERR_ACCESS_DENIED},
    };
    const std::vector<std::string> files = {device_ + "/ai", xmlPath(CHANNEL_KIND_AI),
                                            root_ + "/SCHEMA/KSTRN_ai.xsd", root_ + "/config"};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.blocked == root_ + "/config")
            unlink(c.blocked.c_str());
        else
            mkdir(c.blocked.c_str(), 0777);
        std::vector<std::string> before;
        for (const std::string &f : files)
            before.push_back(readFile(f));
        errno = 0;
        EXPECT_EQ(chan_WriteChannels("tester", device_.c_str(), CHANNEL_KIND_AI, changed.data(), 0,
                                     2, extra, sizeof extra, "ai_extra"),
                  -1);
        EXPECT_EQ(errno, static_cast<int>(c.error));
        for (size_t i = 0; i < files.size(); ++i)
            EXPECT_EQ(readFile(files[i]), before[i]) << files[i];
        rmdir(c.blocked.c_str());
        writeFile(root_ + "/config", config);
    }
    ASSERT_EQ(chan_WriteChannels("tester", device_.c_str(), CHANNEL_KIND_AI, changed.data(), 0, 2,
                                 extra, sizeof extra, "ai_extra"),
              0)
        << xml_GetErrorText();
}

TEST_F(ChannelTest, WithoutTypeTheFileKindChoosesTheLayout) {
    // Both indexes of the "dc" table read its file alike.
    for (int kind : {CHANNEL_KIND_DI, CHANNEL_KIND_DC, CHANNEL_KIND_DC2}) {
        SCOPED_TRACE(kind);
        writeFile(xmlPath(kind), "<Channels><Channel id=\"1\"><Enable>Off</Enable>"
                                 "<EventState>High</EventState></Channel></Channels>");
        std::vector<ChannelRecord> out(1);
        ASSERT_EQ(read(kind, out), 0) << xml_GetErrorText();
        EXPECT_EQ(chrec_TestFlag(out[0], D::EventState), 1);
    }
}

TEST_F(ChannelTest, WithHistoryASaveOverAFileThatDoesNotParseIsRefused) {
    // In place and whole: a whole save stages the file anew and would not refuse it itself.
    for (int update : {1, 0}) {
        std::vector<ChannelRecord> records = sampleRecords(CHANNEL_KIND_AI, 2);
        remove(xmlPath(CHANNEL_KIND_AI).c_str());
        ASSERT_EQ(write(CHANNEL_KIND_AI, records), 0);
        writeFile(xmlPath(CHANNEL_KIND_AI), "<Channels><Channel id=\"1\">");
        std::string binary = readFile(device_ + "/ai");
        cfg_SetHistoryFlag(1);
        tag_SetTag(&records[0], "CHANGED");
        errno = 0;
        EXPECT_EQ(chan_WriteChannelFiles("tester", device_.c_str(), CHANNEL_KIND_AI, records.data(),
                                         0, 2, nullptr, 0, nullptr, update),
                  -1)
            << update;
        EXPECT_EQ(errno, 1465);
        cfg_SetHistoryFlag(0);
        EXPECT_EQ(readFile(device_ + "/ai"), binary);
        EXPECT_EQ(readFile(xmlPath(CHANNEL_KIND_AI)), "<Channels><Channel id=\"1\">");
    }
}

TEST_F(ChannelTest, TwoProcessesSavingTheirOwnChannelsOfOneFileKeepBoth) {
    // Each saver changes its channel in place, so each keeps the other's channel from the file
    // it read: without the savers following each other one would put back an older tag.
    std::vector<ChannelRecord> records = sampleRecords(CHANNEL_KIND_AI, 2);
    ASSERT_EQ(write(CHANNEL_KIND_AI, records), 0);
    constexpr int k_saves = 60;
    pid_t savers[2];
    for (int i = 0; i < 2; ++i) {
        savers[i] = fork();
        ASSERT_GE(savers[i], 0);
        if (savers[i] != 0) continue;
        xml_ClearError();
        ChannelRecord mine = records[static_cast<size_t>(i)];
        for (int n = 0; n < k_saves; ++n) {
            tag_SetTag(&mine, ("P" + std::to_string(i) + "_" + std::to_string(n)).c_str());
            if (chan_WriteChannelFiles("tester", device_.c_str(), CHANNEL_KIND_AI, &mine, i, 1,
                                       nullptr, 0, nullptr, 1) != 0)
                _exit(1);
        }
        _exit(0);
    }
    for (pid_t saver : savers) {
        int status = 0;
        ASSERT_EQ(waitpid(saver, &status, 0), saver);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    std::vector<ChannelRecord> out(2);
    ASSERT_EQ(read(CHANNEL_KIND_AI, out), 0) << xml_GetErrorText();
    EXPECT_EQ(tag_GetTag(out[0]), "P0_" + std::to_string(k_saves - 1));
    EXPECT_EQ(tag_GetTag(out[1]), "P1_" + std::to_string(k_saves - 1));
}

TEST_F(ChannelTest, WithHistoryACalcScratchBeyondTheIntRangeIsRefused) {
    // 2048 bytes per channel: 2^20 + 1 channels are one channel too many. Nothing past the
    // first record is looked at.
    std::string calc = root_ + "/CALC_01";
    mkdir(calc.c_str(), 0777);
    ChannelRecord record{};
    uint8_t extra[8] = {};
    cfg_SetHistoryFlag(1);
    errno = 0;
    EXPECT_EQ(chan_WriteChannelFiles("tester", calc.c_str(), CHANNEL_KIND_AI, &record, 0,
                                     (1 << 20) + 1, extra, sizeof extra, "calc.xml", 0),
              -1);
    EXPECT_EQ(errno, 87);
    cfg_SetHistoryFlag(0);
}

TEST_F(ChannelTest, DefaultDevicePartIsHexAndModuleBlocksMayBeOwned) {
    setenv("KVT_EX_OPTIONS", "nohw,owned", 1);
    std::vector<ChannelRecord> records = sampleRecords(CHANNEL_KIND_AI, 2);
    ASSERT_EQ(write(CHANNEL_KIND_AI, records), 0);
    EXPECT_NE(readFile(xmlPath(CHANNEL_KIND_AI)).find("<Analogue>01401205010000000000000001000000"),
              std::string::npos);
    std::vector<ChannelRecord> out(2);
    ASSERT_EQ(read(CHANNEL_KIND_AI, out), 0);
    EXPECT_EQ(memcmp(out.data(), records.data(), 2 * sizeof(ChannelRecord)), 0);
}

TEST_F(ChannelTest, EachChannelGetsTheLayoutItsModuleTypeHasThen) {
    // The module refills one type per channel: the second channel's part has no bit number.
    setenv("KVT_EX_OPTIONS", "refill", 1);
    std::vector<ChannelRecord> records = sampleRecords(CHANNEL_KIND_AI, 3);
    ASSERT_EQ(write(CHANNEL_KIND_AI, records), 0) << xml_GetErrorText();
    std::string text = readFile(xmlPath(CHANNEL_KIND_AI));
    size_t second = text.find("<Channel id=\"2\">"), third = text.find("<Channel id=\"3\">");
    ASSERT_NE(third, std::string::npos);
    EXPECT_EQ(text.substr(second, third - second).find("<Analogue.BitNumber>"), std::string::npos);
    EXPECT_NE(text.find("<Analogue.BitNumber>", third), std::string::npos);
    // Read back, the second channel's bit number stays as the empty record has it.
    editXml(CHANNEL_KIND_AI, "<Channel id=\"2\">",
            "<Channel id=\"2\"><Analogue.BitNumber>9</Analogue.BitNumber>");
    std::vector<ChannelRecord> out(3);
    ASSERT_EQ(read(CHANNEL_KIND_AI, out), 0) << xml_GetErrorText();
    unsetenv("KVT_EX_OPTIONS");
    EXPECT_EQ(chrec_DevicePart(&out[0])[4], 1);
    EXPECT_EQ(chrec_DevicePart(&out[1])[4], 0);
}

TEST_F(ChannelTest, AModuleFieldOutsideTheRecordIsNotRead) {
    std::vector<ChannelRecord> records = sampleRecords(CHANNEL_KIND_AI, 1);
    ASSERT_EQ(write(CHANNEL_KIND_AI, records), 0) << xml_GetErrorText();
    // The module's analogue part has a field that ends 2 bytes past the record.
    editXml(CHANNEL_KIND_AI, "<Channel id=\"1\">",
            "<Channel id=\"1\"><Analogue.Beyond>7</Analogue.Beyond>");
    setenv("KVT_EX_OPTIONS", "outside", 1);
    std::vector<ChannelRecord> out(1);
    EXPECT_EQ(read(CHANNEL_KIND_AI, out), -1) << xml_GetErrorText();
    unsetenv("KVT_EX_OPTIONS");
    EXPECT_NE(std::string(xml_GetErrorText()).find("field lies outside the record"),
              std::string::npos)
        << xml_GetErrorText();
}

TEST_F(ChannelTest, ExtraBlocksTravelPerChannel) {
    setenv("KVT_EX_OPTIONS", "extra", 1);
    std::vector<ChannelRecord> records = sampleRecords(CHANNEL_KIND_AI, 2);
    struct Extra {
        float scale;
        uint32_t code;
    } extra[2] = {{2.5f, 7}, {0.125f, 9}};
    ASSERT_EQ(chan_WriteChannels(nullptr, device_.c_str(), 0, records.data(), 0, 2, extra,
                                 sizeof extra, "aiextra"),
              0);
    EXPECT_NE(readFile(xmlPath(0)).find("<Code>9</Code>"), std::string::npos);
    Extra back[2] = {};
    std::vector<ChannelRecord> out(2);
    ASSERT_EQ(chan_ReadChannels(device_.c_str(), 0, out.data(), 0, 2, back, sizeof back, "aiextra"),
              0)
        << xml_GetErrorText();
    EXPECT_EQ(back[1].code, 9u);
    EXPECT_EQ(back[0].scale, 2.5f);
    // Space for one channel only: the second channel's fields are read and dropped.
    Extra one[1] = {};
    ASSERT_EQ(chan_ReadChannels(device_.c_str(), 0, out.data(), 0, 2, one, sizeof one, "aiextra"),
              0);
    EXPECT_EQ(one[0].code, 7u);
}

TEST_F(ChannelTest, HistoryNamesTheChannelFilesObject) {
    ASSERT_EQ(write(CHANNEL_KIND_AI, sampleRecords(CHANNEL_KIND_AI, 2)), 0);
    cfg_SetHistoryFlag(1);
    std::vector<ChannelRecord> changed = sampleRecords(CHANNEL_KIND_AI, 2);
    tag_SetTag(&changed[1], "NEWTAG");
    ASSERT_EQ(write(CHANNEL_KIND_AI, changed), 0);
    std::string history = readFile(root_ + "/recent_history.txt");
    EXPECT_NE(history.find("\ttester\tKSTRN_01.Channels.2.Tag TAG2_ABCDEFGHIJ -> NEWTAG\r\n"),
              std::string::npos)
        << history;
    EXPECT_EQ(history.find(".1."), std::string::npos);

    ASSERT_EQ(write(CHANNEL_KIND_DI, sampleRecords(CHANNEL_KIND_DI, 1)), 0);
    tag_SetTag(&changed[1], "OTHER");
    ASSERT_EQ(write(CHANNEL_KIND_AI, changed), 0);
    history = readFile(root_ + "/recent_history.txt");
    EXPECT_NE(history.find("\tKSTRN_01.AI.Channels.2.Tag NEWTAG -> OTHER\r\n"), std::string::npos)
        << history;
    cfg_SetHistoryFlag(0);
}

TEST_F(ChannelTest, BinaryOnlyDeviceIgnoresTheSwitches) {
    std::string folder = binaryOnlyDevice();
    setSwitch("WriteXML", "XML");
    std::vector<ChannelRecord> records = sampleRecords(CHANNEL_KIND_CI, 2);
    ASSERT_EQ(chan_WriteChannels(nullptr, folder.c_str(), CHANNEL_KIND_CI, records.data(), 0, 2,
                                 nullptr, 0, nullptr),
              0);
    EXPECT_TRUE(exists(folder + "/ci"));
    EXPECT_FALSE(exists(folder + "/ci.xml"));
    std::vector<ChannelRecord> out(2);
    ASSERT_EQ(
        chan_ReadChannels(folder.c_str(), CHANNEL_KIND_CI, out.data(), 0, 2, nullptr, 0, nullptr),
        0);
    EXPECT_EQ(memcmp(out.data(), records.data(), sizeof(ChannelRecord) * 2), 0);
}

namespace {
class ReloadTest : public ChannelTest {
protected:
    void SetUp() override {
        ChannelTest::SetUp();
        ASSERT_EQ(getcwd(cwd_, sizeof cwd_), cwd_);
        ASSERT_EQ(chdir(device_.c_str()), 0);
        data_ = shm_OpenOrCreateSegment("dm_AI", 64);
        conf_ = shm_OpenOrCreateSegment("dm_AI_conf", 4 * 216);
        ASSERT_NE(data_, SHM_NO_SEGMENT);
        ASSERT_NE(conf_, SHM_NO_SEGMENT);
        header_ = reinterpret_cast<ChannelTableHeader *>(shm_Payload(data_));
        memset(header_, 0, sizeof *header_);
        memcpy(header_->tableId, "AI", 2);
        header_->channelCount = 3;
    }
    void TearDown() override {
        plat_ClearFakeClock();
        chdir(cwd_);
    }
    static struct timespec writeTime(const std::string &path) {
        struct stat st {};
        EXPECT_EQ(stat(path.c_str(), &st), 0);
        return st.st_mtim;
    }
    static int64_t msOf(const struct timespec &t) {
        return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    }
    // The clock a whole timestamp step past the file's time: its time is settled.
    void ageFile(const std::string &path) { plat_SetFakeClock(msOf(writeTime(path)) + 60000); }
    UniqueIpcPrefix ipc_{"cfgreload"};
    char cwd_[4096];
    SegmentHeader *data_ = nullptr;
    SegmentHeader *conf_ = nullptr;
    ChannelTableHeader *header_ = nullptr;
};
} // namespace

TEST_F(ReloadTest, ChangedFileReloadsTheSegmentOnce) {
    std::vector<ChannelRecord> records = sampleRecords(CHANNEL_KIND_AI, 3);
    ASSERT_EQ(write(CHANNEL_KIND_AI, records), 0);
    ASSERT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header_), 3 * 216) << xml_GetErrorText();
    EXPECT_EQ(memcmp(shm_Payload(conf_), records.data(), 3 * 216), 0);
    EXPECT_NE(header_->fileTime.seconds, 0);
    ageFile(xmlPath(CHANNEL_KIND_AI));
    ASSERT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header_), 3 * 216);
    memset(shm_Payload(conf_), 0x77, 216);
    EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header_), 0);
    EXPECT_EQ(shm_Payload(conf_)[0], 0x77);
}

// A save that completes after the reload's read but within its millisecond leaves the time the
// reload saw: the reload reads such a file again until its time lies a timestamp step back.
TEST_F(ReloadTest, RecentFileTimeIsReadAgainUntilItLiesAStepBack) {
    for (const char *readXml : {"ON", "OFF"}) {
        SCOPED_TRACE(readXml);
        setSwitch("ReadXML", readXml);
        std::string path = strcmp(readXml, "ON") == 0 ? xmlPath(CHANNEL_KIND_AI) : device_ + "/ai";
        std::vector<ChannelRecord> before = sampleRecords(CHANNEL_KIND_AI, 3), after = before;
        chrec_Set(&after[1], A::Gain, 0.5f);
        ASSERT_EQ(write(CHANNEL_KIND_AI, before), 0) << xml_GetErrorText();
        struct timespec saved = writeTime(path);
        plat_SetFakeClock(msOf(saved));
        ASSERT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header_), 3 * 216);

        ASSERT_EQ(write(CHANNEL_KIND_AI, after), 0) << xml_GetErrorText();
        struct timespec same[2] = {saved, saved};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), same, 0), 0);
        EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header_), 3 * 216);
        EXPECT_EQ(memcmp(shm_Payload(conf_), after.data(), 3 * 216), 0);

        plat_SetFakeClock(msOf(saved) + 2000);
        EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header_), 3 * 216);
        plat_SetFakeClock(msOf(saved) + 2001);
        EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header_), 3 * 216);
        EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header_), 0);
        EXPECT_EQ(header_->fileTime.milliseconds, saved.tv_nsec / 1000000);
        plat_ClearFakeClock();
    }
}

TEST_F(ReloadTest, FailedReadLeavesSegmentAndStamp) {
    ASSERT_EQ(write(CHANNEL_KIND_AI, sampleRecords(CHANNEL_KIND_AI, 3)), 0);
    writeFile(xmlPath(CHANNEL_KIND_AI), "<Channels>");
    memset(shm_Payload(conf_), 0x77, 3 * 216);
    EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header_), -1);
    EXPECT_EQ(errno, 1465);
    EXPECT_EQ(shm_Payload(conf_)[3 * 216 - 1], 0x77);
    EXPECT_EQ(header_->fileTime.seconds, 0);
}

TEST_F(ReloadTest, TooManyChannelsForTheSegmentFail) {
    ASSERT_EQ(write(CHANNEL_KIND_AI, sampleRecords(CHANNEL_KIND_AI, 3)), 0);
    header_->channelCount = 5;
    EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header_), -1);
    EXPECT_EQ(errno, 67);
    remove(xmlPath(CHANNEL_KIND_AI).c_str());
    remove((device_ + "/ai").c_str());
    header_->channelCount = 3;
    EXPECT_EQ(chan_ReloadIfChanged(CHANNEL_KIND_AI, header_), -1);
    EXPECT_EQ(errno, 2);
}

namespace {
// Every element a fully enabled record needs, by layout, in the order the check asks for them.
const char *const k_analogRequired[] = {"Enable",
                                        "Tag",
                                        "Description",
                                        "Type",
                                        "ErrorAlarmEnable",
                                        "ErrorAlarmDriveCommon",
                                        "ErrorAlarmPriority",
                                        "ErrorAlarmDelay",
                                        "EventEnable",
                                        "LowEventLimit",
                                        "HighEventLimit",
                                        "Units",
                                        "MaximumUnits",
                                        "MinimumUnits",
                                        "ReferenceEnable",
                                        "SigChangeEnable",
                                        "SigChangeValue",
                                        "ScalingEnable",
                                        "Gain",
                                        "Offset",
                                        "LowAlarmEnable",
                                        "LowAlarmDriveCommon",
                                        "LowAlarmLimit",
                                        "LowWarningEnable",
                                        "LowWarningLimit",
                                        "LowAlarmDeadbandEnable",
                                        "LowAlarmDeadband",
                                        "LowAlarmPriority",
                                        "LowAlarmDelay",
                                        "LowAlarmText",
                                        "HighAlarmEnable",
                                        "HighAlarmDriveCommon",
                                        "HighAlarmLimit",
                                        "HighWarningEnable",
                                        "HighWarningLimit",
                                        "HighAlarmDeadbandEnable",
                                        "HighAlarmDeadband",
                                        "HighAlarmPriority",
                                        "HighAlarmDelay",
                                        "HighAlarmText"};
const char *const k_digitalRequired[] = {"Enable",
                                         "Tag",
                                         "Description",
                                         "Type",
                                         "ErrorAlarmEnable",
                                         "ErrorAlarmDriveCommon",
                                         "ErrorAlarmPriority",
                                         "ErrorAlarmDelay",
                                         "EventEnable",
                                         "EventState",
                                         "LowStateText",
                                         "HighStateText",
                                         "AlarmEnable",
                                         "AlarmDriveCommon",
                                         "AlarmState",
                                         "AlarmPriority",
                                         "AlarmDelay",
                                         "AlarmText"};

// Removes the element of a field from the file's text.
std::string without(const std::string &text, const std::string &field) {
    size_t start = text.find("<" + field + ">");
    if (start == std::string::npos) return text;
    std::string close = "</" + field + ">";
    size_t end = text.find(close, start) + close.size();
    return text.substr(0, start) + text.substr(end);
}
} // namespace

TEST_F(ChannelTest, EachRequiredFieldIsNamedWhenMissing) {
    std::vector<ChannelRecord> ai = sampleRecords(CHANNEL_KIND_AI, 1);
    for (int bit : {A::SigChangeEnable, A::LowAlarmDeadbandEnable, A::HighWarningEnable,
                    A::ReferenceEnable, A::LowAlarmDriveCommon})
        chrec_SetFlag(&ai[0], bit, 1);
    ASSERT_EQ(write(CHANNEL_KIND_AI, ai), 0);
    std::string full = readFile(xmlPath(CHANNEL_KIND_AI));
    for (const char *field : k_analogRequired) {
        writeFile(xmlPath(CHANNEL_KIND_AI), without(full, field));
        expectFailure(CHANNEL_KIND_AI, 0, 1,
                      std::string("KSTRN_01ai Channel #1 - <") + field + "> Required");
    }
    std::vector<ChannelRecord> di = sampleRecords(CHANNEL_KIND_DI, 1);
    ASSERT_EQ(write(CHANNEL_KIND_DI, di), 0);
    full = readFile(xmlPath(CHANNEL_KIND_DI));
    for (const char *field : k_digitalRequired) {
        writeFile(xmlPath(CHANNEL_KIND_DI), without(full, field));
        expectFailure(CHANNEL_KIND_DI, 0, 1,
                      std::string("KSTRN_01di Channel #1 - <") + field + "> Required");
    }
    // With the enables off, their dependent fields may be missing.
    chrec_SetFlag(&di[0], D::AlarmEnable, 0);
    chrec_SetFlag(&di[0], D::EventEnable, 0);
    chrec_SetFlag(&di[0], D::ErrorAlarmEnable, 0);
    ASSERT_EQ(write(CHANNEL_KIND_DI, di), 0);
    std::string text = readFile(xmlPath(CHANNEL_KIND_DI));
    for (const char *field : {"AlarmText", "AlarmState", "EventState", "ErrorAlarmDelay"})
        text = without(text, field);
    writeFile(xmlPath(CHANNEL_KIND_DI), text);
    std::vector<ChannelRecord> out(1);
    EXPECT_EQ(read(CHANNEL_KIND_DI, out), 0) << xml_GetErrorText();
}

TEST_F(ChannelTest, ExtraFieldErrorsHaveTwoBlanks) {
    setenv("KVT_EX_OPTIONS", "extra", 1);
    std::vector<ChannelRecord> records = sampleRecords(CHANNEL_KIND_AI, 1);
    uint32_t extra[2] = {0, 5};
    ASSERT_EQ(chan_WriteChannels(nullptr, device_.c_str(), 0, records.data(), 0, 1, extra,
                                 sizeof extra, nullptr),
              0);
    editXml(CHANNEL_KIND_AI, "<Code>5</Code>", "<Code>five</Code>");
    uint32_t back[2] = {};
    std::vector<ChannelRecord> out(1);
    EXPECT_EQ(chan_ReadChannels(device_.c_str(), 0, out.data(), 0, 1, back, sizeof back, nullptr),
              -1);
    EXPECT_EQ(std::string(xml_GetErrorMessage()).rfind("<Code>  ", 0), 0u) << xml_GetErrorMessage();
}

// A rewrite of thousands of channels writes its text out in parts while it makes it: the file is
// still the tree's own, a channel refused after a part was written, or a target marked
// read-only, leaves the old file and no staged copy, and the next save takes its lock.
TEST_F(ChannelTest, LargeRewriteIsWrittenInPartsAndStaysAllOrNothing) {
    const int count = 3000;
    std::vector<ChannelRecord> records = sampleRecords(CHANNEL_KIND_AI, count);
    for (ChannelRecord &r : records)
        tag_SetDescription(&r, "a & b <c> \x80\xE9 description of thirty");
    ASSERT_EQ(chan_RewriteChannels(nullptr, device_.c_str(), CHANNEL_KIND_AI, records.data(), 0,
                                   count, nullptr, 0, nullptr),
              0)
        << xml_GetErrorText();
    const std::string direct = readFile(xmlPath(CHANNEL_KIND_AI));
    ASSERT_GT(direct.size(), size_t{3} << 20) << "the file must take several parts";
    ASSERT_EQ(unlink(xmlPath(CHANNEL_KIND_AI).c_str()), 0);
    ASSERT_EQ(write(CHANNEL_KIND_AI, records), 0) << xml_GetErrorText();
    ASSERT_EQ(readFile(xmlPath(CHANNEL_KIND_AI)), direct);

    const std::string binary = readFile(device_ + "/ai");
    std::vector<ChannelRecord> bad = records;
    tag_SetTag(&bad[0], "CHANGED");
    chrec_Set(&bad[count - 1], A::Gain, INFINITY);
    auto unchanged = [&](const char *what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(readFile(xmlPath(CHANNEL_KIND_AI)), direct);
        EXPECT_EQ(readFile(device_ + "/ai"), binary);
        EXPECT_NE(run("ls " + device_ + " | grep -q staging"), 0) << "a staged part was left";
    };
    EXPECT_EQ(chan_RewriteChannels(nullptr, device_.c_str(), CHANNEL_KIND_AI, bad.data(), 0, count,
                                   nullptr, 0, nullptr),
              -1);
    EXPECT_NE(std::string(xml_GetErrorText())
                  .find("ANALOG INPUTS Channel #3000 -  <Gain> floating point value overflow"),
              std::string::npos)
        << xml_GetErrorText();
    unchanged("a channel refused after the first part");
    ASSERT_EQ(chmod(xmlPath(CHANNEL_KIND_AI).c_str(), 0444), 0);
    EXPECT_EQ(chan_RewriteChannels(nullptr, device_.c_str(), CHANNEL_KIND_AI, records.data(), 0,
                                   count, nullptr, 0, nullptr),
              -1);
    unchanged("a read-only file");
    ASSERT_EQ(chmod(xmlPath(CHANNEL_KIND_AI).c_str(), 0644), 0);
    tag_SetTag(&records[count - 1], "LAST");
    ASSERT_EQ(chan_RewriteChannels(nullptr, device_.c_str(), CHANNEL_KIND_AI, records.data(), 0,
                                   count, nullptr, 0, nullptr),
              0)
        << xml_GetErrorText();
    std::vector<ChannelRecord> back(count);
    ASSERT_EQ(read(CHANNEL_KIND_AI, back), 0) << xml_GetErrorText();
    EXPECT_EQ(memcmp(back.data(), records.data(), count * sizeof(ChannelRecord)), 0);
}

// A full rewrite writes the file's text directly; it must be byte for byte the file the tree
// gives when the same channels are written into a folder without one (every kind, texts with
// markup, CR, Windows-1252 and illegal characters, module blocks and extra fields).
TEST_F(ChannelTest, RewriteWithoutTreeGivesTheTreesFile) {
    struct Case {
        const char *options;
        bool extra;
    };
    const Case cases[] = {{"", false}, {"nohw,owned", false}, {"extra", true}};
    struct Extra {
        float scale;
        uint32_t code;
    } extra[3] = {{2.5f, 7}, {0.125f, 9}, {-1e-7f, 0}};
    for (const Case &c : cases) {
        setenv("KVT_EX_OPTIONS", c.options, 1);
        for (int kind = 0; kind <= 4; ++kind) {
            SCOPED_TRACE(std::string(chrec_KindName(kind)) + " " + c.options);
            std::vector<ChannelRecord> records = sampleRecords(kind, 3);
            tag_SetDescription(&records[1], "a<b>&c\r\nd\t\x80\xE9");
            tag_SetDescription(&records[2], "bad\x01text");
            const void *x = c.extra ? extra : nullptr;
            const int xsize = c.extra ? static_cast<int>(sizeof extra) : 0;
            const char *xfile = c.extra ? "extra" : nullptr;
            ASSERT_EQ(chan_RewriteChannels(nullptr, device_.c_str(), kind, records.data(), 0, 3, x,
                                           xsize, xfile),
                      0)
                << xml_GetErrorText();
            std::string direct = readFile(xmlPath(kind));
            std::string schema = readFile(root_ + "/SCHEMA/KSTRN_" + chrec_KindName(kind) + ".xsd");
            ASSERT_FALSE(schema.empty());
            ASSERT_EQ(unlink(xmlPath(kind).c_str()), 0);
            ASSERT_EQ(chan_WriteChannels(nullptr, device_.c_str(), kind, records.data(), 0, 3, x,
                                         xsize, xfile),
                      0)
                << xml_GetErrorText();
            EXPECT_EQ(direct, readFile(xmlPath(kind)));
            EXPECT_EQ(schema, readFile(root_ + "/SCHEMA/KSTRN_" + chrec_KindName(kind) + ".xsd"));
        }
    }
    unsetenv("KVT_EX_OPTIONS");
}
