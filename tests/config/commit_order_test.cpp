// A save whose last step, a rename, fails: the schema goes in place before its data file, so a
// failed schema leaves the data the readers see as it was; each failure names its own step.
#include "config_fixture.h"
#include "rename_seam.h"

#include "../../Scanners/Siemens/scanner/s5types.h"

#include "cfg.h"
#include "chan.h"
#include "tag.h"
#include "xml.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
class CommitOrderTest : public ConfigFixture {
public:
    void TearDown() override { renameseam::failTo.clear(); }
    int saveDevice(uint8_t baud) {
        std::vector<uint8_t> record(704, 0);
        uint32_t interval = 250;
        memcpy(record.data(), &interval, 4);
        S5PortSettings p = {};
        memcpy(p.port_name, "COM1", 4);
        p.baud_rate = baud == 1 ? 9600 : 19200;
        p.data_format = 3;
        p.ack_timeout_ms = 2000;
        p.block_wait_ms = 4000;
        p.retries = 3;
        memcpy(record.data() + 4, &p, sizeof p);
        uint8_t on = 1, off = 0, tag = 0;
        int32_t rate = 5000;
        return cfg_WriteDeviceConfig("tester", device_.c_str(), record.data(), 704, nullptr, 0,
                                     nullptr, &on, &off, &tag, &rate);
    }
    int saveChannels(const char *tag) {
        std::vector<ChannelRecord> records(3);
        for (int i = 0; i < 3; ++i) {
            chrec_SetType(&records[i], 0);
            tag_SetTag(&records[i], (std::string(tag) + std::to_string(i)).c_str());
        }
        return chan_WriteChannels("tester", device_.c_str(), CHANNEL_KIND_AI, records.data(), 0, 3,
                                  nullptr, 0, nullptr);
    }
    // Nothing staged is left beside the files.
    void expectNoStagedCopies() {
        EXPECT_NE(system(("ls " + device_ + " " + root_ + "/SCHEMA | grep -q staging").c_str()), 0)
            << "a staged copy was left";
    }
};
} // namespace

TEST_F(CommitOrderTest, AFailedRenameLeavesTheDataAndNamesItsStep) {
    auto device = [](CommitOrderTest *t) { return t->saveDevice(3); };
    auto channels = [](CommitOrderTest *t) { return t->saveChannels("NEW"); };
    struct Run {
        const char *what;
        int (*save)(CommitOrderTest *);
        std::string failing;
        std::string message;
        std::vector<std::string> unchanged;
    };
    const std::string schema = root_ + "/SCHEMA/KSTRN.xsd";
    const std::string aiSchema = root_ + "/SCHEMA/KSTRN_ai.xsd";
    const std::string configXml = device_ + "/config.xml", aiXml = device_ + "/ai.xml";
    const Run runs[] = {
        {"device schema",
         device,
         schema,
         "KSTRN_01Creating Schema - Save XML File (" + schema +
             ") failed, Access Denied 0x80070005",
         {device_ + "/config", device_ + "/saveconfig", configXml}},
        {"config.xml",
         device,
         configXml,
         "KSTRN_01Dev/Proc Config - Save XML File (" + configXml +
             ") failed, Access Denied 0x80070005",
         {configXml, schema}},
        {"channel schema",
         channels,
         aiSchema,
         "KSTRN_01Creating Schema - Save XML File (" + aiSchema +
             ") failed, Access Denied 0x80070005",
         {device_ + "/ai", aiXml}},
        {"channel file",
         channels,
         aiXml,
         "KSTRN_01ANALOG INPUTS Channels - Save XML File (" + aiXml +
             ") failed, Access Denied 0x80070005",
         {aiXml}},
    };
    for (const Run &r : runs) {
        SCOPED_TRACE(r.what);
        ASSERT_EQ(saveDevice(1), 0) << xml_GetErrorText();
        ASSERT_EQ(saveChannels("OLD"), 0) << xml_GetErrorText();
        if (r.failing == schema || r.failing == aiSchema) {
            // A schema the save would not change is not written again: make it differ.
            writeFile(r.failing, "<old/>\n");
        }
        std::vector<std::string> before;
        for (const std::string &f : r.unchanged)
            before.push_back(readFile(f));
        renameseam::failTo = r.failing;
        EXPECT_EQ(r.save(this), -1);
        renameseam::failTo.clear();
        EXPECT_EQ(std::string(xml_GetErrorText()), r.message);
        for (size_t i = 0; i < r.unchanged.size(); ++i)
            EXPECT_TRUE(readFile(r.unchanged[i]) == before[i]) << r.unchanged[i] << " changed";
        expectNoStagedCopies();
    }
}
