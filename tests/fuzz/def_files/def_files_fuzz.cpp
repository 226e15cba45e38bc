// Definition files of the configuration root: DATPROC.TXT and LOGCAP.TXT read through a reader
// of their own and through the thread's reader, record by record and split into fields, and as
// the processor and logger lists' local fall-backs read them when no server answers.
//
// Input: one byte of settings (bit 0 LOGCAP.TXT, else DATPROC.TXT; bits 1-2 the fields taken
// at most: 1, 4, 16, 32; bits 3-4 the list's selector: "*,<n>", a number, a name, empty;
// bits 5-7 the list's capacity less 1 or the number asked), then the file's bytes.
#include "def.h"
#include "fuzz_install.h"
#include "plat_debugout.h"
#include "lgr.h"
#include "srv.h"

#include <string>
#include <vector>

namespace {

constexpr int kMaxRecords = 256;

void setUp() {
    static bool done = [] {
        fuzz::install();
        // The list requests find no server under a prefix of this process's own.
        setenv("KVT_IPC_PREFIX", ("kvtfuzz" + std::to_string(getpid())).c_str(), 1);
        mkdir((fuzz::install().root + "/LOGGERS").c_str(), 0777);
        // Each failed list request traces its connection attempt; millions of them say nothing.
        plat_SetDebugOutputHook([](const char *) {});
        return true;
    }();
    (void)done;
}

void parse(bool loggers, char **fields, const int *offsets, int count,
           std::vector<ProcessorRecord> &table, int at) {
    if (loggers) {
        char type[DEF_LOGGER_TYPE_SIZE];
        def_ParseLogger(type, count, fields);
    } else {
        def_ParseProcessor(nullptr, &table[static_cast<size_t>(at)], fields, offsets, count,
                           table.data());
    }
}

void readOwn(const std::string &path, bool loggers, int max) {
    DefReaderState reader;
    if (def_ReaderOpen(reader, path.c_str()) < 0) return;
    std::vector<char *> fields(static_cast<size_t>(max));
    std::vector<int> offsets(static_cast<size_t>(max));
    std::vector<ProcessorRecord> table(kMaxRecords);
    for (int i = 0; i < kMaxRecords; ++i) {
        int n = def_ReaderNextFields(reader, fields.data(), offsets.data(), max);
        if (n <= 0) break;
        parse(loggers, fields.data(), offsets.data(), n, table, i);
    }
    // At the end the reader starts again from the first record.
    for (int i = 0; i < kMaxRecords && def_ReaderNextRecord(reader) == 1; ++i) {
    }
    def_ReaderClose(reader);
}

void readThread(const std::string &path, bool loggers, int max) {
    if (def_Open(path.c_str()) < 0) {
        def_Close();
        return;
    }
    std::vector<char *> fields(static_cast<size_t>(max));
    std::vector<int> offsets(static_cast<size_t>(max));
    std::vector<ProcessorRecord> table(kMaxRecords);
    for (int i = 0; i < kMaxRecords && def_NextRecord() == 1; ++i)
        def_CurrentLine();
    for (int i = 0; i < kMaxRecords; ++i) {
        int n = def_NextFields(fields.data(), offsets.data(), max);
        if (n <= 0) break;
        parse(loggers, fields.data(), offsets.data(), n, table, i);
        def_LineNumber();
    }
    def_MessageText();
    def_Close();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setUp();
    fuzz::Reader in{data, size};
    uint8_t settings = in.byte();
    bool loggers = settings & 1;
    const int maxima[4] = {1, 4, 16, 32};
    int max = maxima[settings >> 1 & 3];
    int number = 1 + (settings >> 5 & 7);
    const std::string selectors[4] = {"*," + std::to_string(number), std::to_string(number),
                                      loggers ? "stand" : "PROC2", ""};
    const std::string &selector = selectors[settings >> 3 & 3];

    std::string path = fuzz::install().root + (loggers ? "/LOGCAP.TXT" : "/DATPROC.TXT");
    fuzz::writeFile(path, in.data, in.size);
    readOwn(path, loggers, max);
    readThread(path, loggers, max);
    if (loggers) {
        srv_CountLoggers(nullptr);
        std::vector<LoggerInfo> table(static_cast<size_t>(number));
        lgr_GetLoggers(nullptr, selector.c_str(), table.data(), number);
    } else {
        srv_CountProcessors(nullptr);
        std::vector<ProcessorRecord> table(static_cast<size_t>(number));
        srv_GetProcessors(nullptr, selector.c_str(), table.data(), number);
        // A record that failed its checks leaves the thread's reader open for its message.
        def_MessageText();
        def_Close();
    }
    unlink(path.c_str());
    fuzz::trimEventLog();
    return 0;
}

// The seeds: definition files as the configuration tools write them, with comments, blank
// lines, every processor kind and a bad record or two.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (fuzz::seedFolder() == nullptr) return 0;
    auto seed = [](const char *name, uint8_t settings, const std::string &text) {
        fuzz::writeSeed(name, std::string(1, static_cast<char>(settings)) + text);
    };
    seed("datproc", 0x26,
         "* data processors\r\nKSTRN,SIEMENS S5,A-AI:100,run\r\nPROC2,,D-DI:64\r\n\r\n"
         "   \r\nMODBUS1,MODBUS LINK,A-AO:16,run\r\nALARM,,:200\r\n");
    seed("datproc-select", 0x2E, "PROC1,ONE,A-AI:10,run\nPROC2,TWO,D-DI:4\nPROC3\n");
    seed("datproc-name", 0x34, "PROC1,ONE,A-AI:10\nPROC2,SECOND,X-AI:3\nPROC2,DUP,A-AI:1\n");
    seed("datproc-bad", 0x06, "TOOLONGNAME1,,A-AI:0\nP,,A-ZZ:70000,stop\n");
    seed("logcap", 0x27, "* logger types\r\nstand\r\nrepub\r\nresub\r\n");
    seed("logcap-index", 0x4B, "stand\n\nrepub\n*comment\nresub\n");
    seed("logcap-bad", 0x03, "averyverylongtype\n,\n");
    exit(0);
}
