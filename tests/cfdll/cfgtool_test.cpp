// kvt-cfgtool driving KSTRN_CF.so across dlopen: the report of a device folder to PDF and text,
// scripted dialogs and paste.
#include "cfdll_fixture.h"
#include "cfgtool.h"
#include "plat_error.h"
#include "plat_module.h"
#include "printer_dc.h"
#include "prn.h"
#include "sim_net.h"
#include "test_ipc.h"

#include <sstream>
#include <sys/wait.h>

// fontconfig (under cairo's font selection) keeps its configuration for the life of the
// process; the leak checker of sanitized builds is told so.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs a command; its exit status, with standard output (and error) in *output.
int RunCommand(const std::string &command, std::string *output) {
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) return -1;
    char buffer[4096];
    size_t n;
    output->clear();
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        output->append(buffer, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string &s) {
    return "'" + s + "'";
}

// Pages of non-empty lines with runs of blanks made one, for comparing the PDF's extracted text
// with the text device context.
std::vector<std::vector<std::string>> Pages(const std::string &text) {
    std::vector<std::vector<std::string>> pages(1);
    std::stringstream in(text);
    for (std::string line; std::getline(in, line);) {
        size_t ff;
        while ((ff = line.find('\f')) != std::string::npos) {
            pages.emplace_back();
            line.erase(ff, 1);
        }
        std::string norm;
        for (char ch : line)
            if (ch != ' ' || (!norm.empty() && norm.back() != ' ')) norm += ch;
        while (!norm.empty() && norm.back() == ' ')
            norm.pop_back();
        if (!norm.empty()) pages.back().push_back(norm);
    }
    while (!pages.empty() && pages.back().empty())
        pages.pop_back();
    return pages;
}

class CfgToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char *bin = getenv("KVT_BUILD_BIN");
        ASSERT_NE(bin, nullptr);
        bin_ = bin;
        setenv("KVT_BIN", bin, 1);
        root_ = tmp_.path() + "/root";
        mkdir(root_.c_str(), 0777);
        setenv("KVT_CURRENT_CONFIG", root_.c_str(), 1);
        for (int n = 1; n <= 20; ++n)
            ai_.push_back(
                test_AnalogChannel(("AI_TANK_" + std::to_string(n)).c_str(), n, n != 3 && n != 17));
        for (int n = 1; n <= 5; ++n)
            di_.push_back(test_DigitalChannel(("PUMP_" + std::to_string(n)).c_str(), n, n % 2));
        for (int n = 1; n <= 2; ++n)
            ao_.push_back(test_AnalogChannel(("AO_" + std::to_string(n)).c_str(), n, false));
        test_WriteDeviceFolder(root_ + "/KSTRN_01", config_, 1, 1, 0, 90061,
                               {{0, ai_}, {1, di_}, {2, ao_}});
    }

    std::string tool() const {
        return Quote(bin_ + "/kvt-cfgtool") + " --name 'Boiler house S5' --folder KSTRN_01 " +
               "--port-number 2 --kinds AI:20,DI:5,AO:2 ";
    }

    // The same report in-process, from the records the test holds.
    std::string expectedText() {
        prn_Reset();
        TextPrinterDC dc;
        dc.StartDoc("expected");
        std::vector<uint8_t> entry =
            test_HostEntry("Boiler house S5", "KSTRN_01", 2, {{"AI", 20}, {"DI", 5}, {"AO", 2}});
        ChannelRecord *tables[5] = {ai_.data(), di_.data(), ao_.data(), nullptr, nullptr};
        EXPECT_EQ(dll_PrintAllConfig(&dc, "", entry.data(), 1, 1, 0, 90061, &config_, tables), 0);
        dc.EndDoc();
        return dc.Output();
    }

    // The report on a recording context with the PDF context's metrics, as text with a form
    // feed at each page end.
    std::string expectedPages() {
        PdfPrinterDC pdf(tmp_.path() + "/metrics.pdf");
        PlatTextMetrics tm{};
        pdf.GetTextMetrics(&tm);
        RecordingPrinterDC dc;
        dc.SetCaps(pdf.GetDeviceCaps(PLAT_PHYSICALWIDTH), pdf.GetDeviceCaps(PLAT_PHYSICALHEIGHT),
                   pdf.GetDeviceCaps(PLAT_PHYSICALOFFSETX),
                   pdf.GetDeviceCaps(PLAT_PHYSICALOFFSETY));
        dc.SetTextHeight(tm.tmHeight);
        prn_Reset();
        dc.StartDoc("expected");
        std::vector<uint8_t> entry =
            test_HostEntry("Boiler house S5", "KSTRN_01", 2, {{"AI", 20}, {"DI", 5}, {"AO", 2}});
        ChannelRecord *tables[5] = {ai_.data(), di_.data(), ao_.data(), nullptr, nullptr};
        EXPECT_EQ(dll_PrintAllConfig(&dc, "", entry.data(), 1, 1, 0, 90061, &config_, tables), 0);
        dc.EndDoc();
        std::string text;
        for (const std::string &line : dc.Log()) {
            if (line == "EndPage") text += "\f";
            if (line.rfind("TextOut ", 0) != 0) continue;
            size_t at = line.find(' ', line.find(' ', 8) + 1);
            text += line.substr(at + 1) + "\n";
        }
        return text;
    }

    TempRegistry registry_;
    TempFolder tmp_;
    std::string bin_, root_;
    DeviceConfig config_ = test_DeviceConfig();
    std::vector<ChannelRecord> ai_, di_, ao_;
};

TEST_F(CfgToolTest, DeviceReportThroughTheModuleToTextAndPdf) {
    std::string out;
    std::string text = tmp_.path() + "/report.txt", pdf = tmp_.path() + "/report.pdf";
    ASSERT_EQ(RunCommand(tool() + "print --all --text " + Quote(text), &out), 0) << out;
    EXPECT_NE(out.find("result 0"), std::string::npos);
    EXPECT_NE(out.find("wait cursor 1"), std::string::npos);
    std::string printed = ReadAll(text);
    EXPECT_EQ(printed, expectedText());

    ASSERT_EQ(RunCommand(tool() + "print --all --pdf " + Quote(pdf), &out), 0) << out;
    std::string extracted;
    ASSERT_EQ(RunCommand("pdftotext -layout " + Quote(pdf) + " -", &extracted), 0) << extracted;
    // The PDF's pages break where the report breaks them for the PDF's metrics.
    auto want = Pages(expectedPages()), got = Pages(extracted);
    ASSERT_EQ(got.size(), want.size()) << extracted;
    for (size_t p = 0; p < want.size(); ++p)
        EXPECT_EQ(got[p], want[p]) << "page " << p + 1;
    std::string info;
    ASSERT_EQ(RunCommand("pdfinfo " + Quote(pdf), &info), 0);
    EXPECT_NE(info.find("842 x 595"), std::string::npos) << info;

    // A range of one kind: channels 5 to 7 without a table, read from the channel file.
    std::vector<uint8_t> record(HOST_DEVICE_RECORD_SIZE, 0);
    std::memcpy(record.data() + HOST_DEVICE_CONFIG, config_.bytes, sizeof config_.bytes);
    std::string recordFile = tmp_.path() + "/device.rec";
    std::ofstream(recordFile, std::ios::binary)
        .write(reinterpret_cast<const char *>(record.data()), record.size());
    ASSERT_EQ(RunCommand(tool() + "print --kind 0 --first 5 --last 7 --record " +
                             Quote(recordFile) + " --text " + Quote(text),
                         &out),
              0)
        << out;
    printed = ReadAll(text);
    EXPECT_NE(printed.find("AI5 "), std::string::npos);
    EXPECT_NE(printed.find("AI6 "), std::string::npos);
    EXPECT_NE(printed.find("AI7 "), std::string::npos);
    EXPECT_EQ(printed.find("AI4 "), std::string::npos);
    EXPECT_EQ(printed.find("AI8 "), std::string::npos);

    // A folder that is not there: the report fails and says so.
    EXPECT_EQ(RunCommand(Quote(bin_ + "/kvt-cfgtool") +
                             " --folder NOWHERE --kinds AI:1 print --all --text " + Quote(text),
                         &out),
              1);
    EXPECT_NE(out.find("result -1"), std::string::npos);

    // A folder without "saveconfig": the tool says which step failed and why.
    ASSERT_EQ(unlink((root_ + "/KSTRN_01/saveconfig").c_str()), 0);
    EXPECT_EQ(RunCommand(tool() + "print --all --text " + Quote(text), &out), 1);
    EXPECT_NE(out.find("kvt-cfgtool: print --all of KSTRN_01 failed: error 2 (No such file or "
                       "directory)\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(cfgtool_ErrorText(WERR_XML_PARSE_ERROR), "error 1465");
    EXPECT_EQ(cfgtool_ErrorText(WERR_ACCESS_DENIED), "error 5");
}

TEST_F(CfgToolTest, RemoteReportGivesTheLocalText) {
    test_UseUniqueIpcPrefix("cfgtool");
    SimNetSettings settings;
    settings.filesRoot = root_;
    SimNetEndpoint server(settings);
    ASSERT_TRUE(server.start()) << server.error();
    std::string spec = "tls://127.0.0.2:" + std::to_string(server.port());
    std::string local = expectedText();
    std::string remote = local;
    remote.replace(remote.find("[]"), 2, "[" + spec + "]");

    std::string out, text = tmp_.path() + "/remote.txt";
    auto print = [&] {
        return RunCommand(tool() + "print --all --server " + spec + " --text " + Quote(text), &out);
    };
    // IF and GF answered: the status byte and save settings come by RF, the record by GF, and
    // each kind's channels by one IF.
    ASSERT_EQ(print(), 0) << out;
    EXPECT_EQ(ReadAll(text), remote);
    std::string requests = server.formatRequests();
    EXPECT_NE(requests.find("GF,713,KSTRN_01,704,0,,0,0,0,0"), std::string::npos) << requests;
    EXPECT_NE(requests.find("IF,4322,KSTRN_01,0,20,0,,0"), std::string::npos) << requests;
    EXPECT_EQ(requests.find("RF,KVT_CURRENT_CONFIG\\KSTRN_01\\ai"), std::string::npos) << requests;

    // Refused or answered short: the records come piece by piece through RF.
    server.clearRequests();
    ASSERT_TRUE(server.script("IF, -1,5"));
    ASSERT_TRUE(server.script("GF, 1,xx"));
    ASSERT_EQ(print(), 0) << out;
    EXPECT_EQ(ReadAll(text), remote);
    requests = server.formatRequests();
    EXPECT_NE(requests.find("RF,KVT_CURRENT_CONFIG\\KSTRN_01\\ai\t4320\t8\t"), std::string::npos)
        << requests;
    EXPECT_NE(requests.find("RF,KVT_CURRENT_CONFIG\\KSTRN_01\\saveconfig\t6\t0\t"),
              std::string::npos)
        << requests;

    // The server's configuration error is final: no fallback, and the report fails.
    server.clearRequests();
    ASSERT_TRUE(server.script("IF, -1,1465,bad channel file"));
    EXPECT_EQ(print(), 1) << out;
    EXPECT_NE(out.find("result -1"), std::string::npos);
    EXPECT_NE(out.find("print --all of KSTRN_01 failed: error 1465\n"), std::string::npos) << out;
    requests = server.formatRequests();
    EXPECT_EQ(requests.find("RF,KVT_CURRENT_CONFIG\\KSTRN_01\\ai"), std::string::npos) << requests;
    server.stop();
}

TEST_F(CfgToolTest, ScriptedDialogsAndPaste) {
    // The channel dialog: a D-area word; a bad address, then a good one.
    ChannelRecord rec{};
    S5ChannelAddress a{0, S5_AREA_D | S5_TYPE_WORD, 0x0A05, 0, {}, 0, 0, {}};
    std::memcpy(rec.bytes + 188, &a, sizeof a);
    std::string recFile = tmp_.path() + "/chan.rec", script = tmp_.path() + "/chan.script";
    std::ofstream(recFile, std::ios::binary).write(reinterpret_cast<const char *>(rec.bytes), 216);
    std::ofstream(script) << "show\n"
                             "expect 1004 10\n"
                             "expect 1003 Data Address : \n"
                             "type 1002 300\n"
                             "press OK\n"
                             "expect-message Please enter an integer between 0 and 255.\n"
                             "type 1002 7\n"
                             "type 1004 3\n"
                             "press OK\n";
    std::string out;
    ASSERT_EQ(RunCommand(tool() + "channel --kind 0 --record " + Quote(recFile) + " --script " +
                             Quote(script),
                         &out),
              0)
        << out;
    EXPECT_NE(out.find("dialog 130 \"Channel Device Specific Configuration\""), std::string::npos);
    EXPECT_NE(out.find("message: Please enter an integer between 0 and 255."), std::string::npos);
    EXPECT_NE(out.find("changed 1"), std::string::npos) << out;
    std::string after = ReadAll(recFile);
    ASSERT_EQ(after.size(), 216u);
    uint16_t address;
    std::memcpy(&address, after.data() + 190, 2);
    EXPECT_EQ(address, 0x0307);

    // A failed expectation ends the tool with status 1 and both texts; nothing is written.
    std::ofstream(script) << "type 1002 9\nexpect 1002 8\npress OK\n";
    EXPECT_EQ(RunCommand(tool() + "channel --kind 0 --record " + Quote(recFile) + " --script " +
                             Quote(script),
                         &out),
              1);
    EXPECT_NE(out.find("wanted \"8\", found \"9\""), std::string::npos) << out;
    EXPECT_NE(out.find("changed 0"), std::string::npos) << out;
    EXPECT_EQ(ReadAll(recFile), after);

    // The advanced dialog over a record file that does not exist yet: defaults with port COM2.
    std::string devFile = tmp_.path() + "/device.rec";
    std::ofstream(script) << "expect 601 COM2\nexpect 602 9600\npress HELP\npress OK\n";
    ASSERT_EQ(
        RunCommand(tool() + "advanced --record " + Quote(devFile) + " --script " + Quote(script),
                   &out),
        0)
        << out;
    EXPECT_NE(out.find("help: " + bin_ + "/KSTRN_Guide.chm ::/html/toveltgk.htm"),
              std::string::npos)
        << out;
    std::string dev = ReadAll(devFile);
    ASSERT_EQ(dev.size(), static_cast<size_t>(HOST_DEVICE_RECORD_SIZE));
    EXPECT_EQ(dev.substr(HOST_DEVICE_PORT_SETTINGS, 5), std::string("COM2\0", 5));

    // Paste onto itself into a digital kind: the address moves from 188 to 192.
    ASSERT_EQ(
        RunCommand(tool() + "paste --kind 1 --from " + Quote(recFile) + " --to " + Quote(recFile),
                   &out),
        0)
        << out;
    std::string pasted = ReadAll(recFile);
    EXPECT_EQ(pasted.substr(192, 16), after.substr(188, 16));
    EXPECT_EQ(pasted[24], 1);
}

TEST(ModuleTest, OnlyTheExportsAreVisible) {
    const char *bin = getenv("KVT_BUILD_BIN");
    ASSERT_NE(bin, nullptr);
    void *module = plat_ModuleLoad((std::string(bin) + "/KSTRN_CF.so").c_str());
    ASSERT_NE(module, nullptr);
    for (const char *name :
         {"DLL_SetHostServices", "DLL_ConfigAdvanDevSpecific", "DLL_ConfigChanDevSpecific",
          "DLL_PasteChannel", "PrintAllConfig", "PrintConfig"})
        EXPECT_NE(plat_ModuleSymbol(module, name), nullptr) << name;
    // The generated SOAP code stays visible for the gSOAP library.
    EXPECT_NE(plat_ModuleSymbol(module, "namespaces"), nullptr);
    for (const char *name : {"dll_WireServices", "plat_MessageBox", "_Z16dll_WireServicesv",
                             "_Z15plat_MessageBoxPKcS0_j", "rfile_ReadChannels"})
        EXPECT_EQ(plat_ModuleSymbol(module, name), nullptr) << name;
    plat_ModuleFree(module);
    EXPECT_EQ(dll_HelpPathFor("/opt/bin/KSTRN_CF.so"), "/opt/bin/KSTRN_Guide.chm");
    EXPECT_EQ(dll_HelpPathFor("C:\\bin\\KSTRN_cf.DLL"), "C:\\bin\\KSTRN_Guide.chm");
    EXPECT_EQ(dll_HelpPathFor("/opt/bin/other.so"), "/opt/bin/other_Guide.chm");
    EXPECT_EQ(dll_HelpPathFor("/opt/bin/tool"), "/opt/bin/tool_Guide.chm");
}

} // namespace
