// Logger configuration files as the configuration side reads them from the local configuration:
// through the remote file reader's local path, and through the logger list's fall-back to
// LOGCAP.TXT and the loggers' files when no server answers the list request.
//
// Input: one byte of settings (bits 0-1 the kind: stand, repub, resub or a kind of no known
// name; bit 2 the XML form, ReadXML on; bits 3-4 the logger's number less 1; bits 5-6 the
// reader's buffer: the kind's size, the list's 131 bytes, larger than the kind, 7 bytes; bit 7
// the list asked for its first loggers, else for the one logger), then the file's bytes.
#include "fuzz_install.h"
#include "plat_debugout.h"
#include "lgr.h"
#include "rfile_config.h"

#include <vector>

namespace {

const char *const kKinds[4] = {"stand", "repub", "resub", "trend"};

const std::string &loggers() {
    static const std::string path = [] {
        const fuzz::Installation &inst = fuzz::install();
        std::string p = inst.root + "/LOGGERS";
        mkdir(p.c_str(), 0777);
        // The list request finds no server under a prefix of this process's own.
        setenv("KVT_IPC_PREFIX", ("kvtfuzz" + std::to_string(getpid())).c_str(), 1);
        rfile_SetLoggerFileHooks(lgr_ReadLoggerFile, lgr_WriteLoggerFile);
        // Each failed list request traces its connection attempt; millions of them say nothing.
        plat_SetDebugOutputHook([](const char *) {});
        return p;
    }();
    return path;
}

std::string fileOf(const char *kind, int number) {
    return loggers() + "/" + kind + "_" + std::to_string(number);
}

void setReadXml(bool on) {
    static int current = -1;
    if (current == static_cast<int>(on)) return;
    fuzz::setSwitch("ReadXML", on ? "ON" : "OFF");
    current = on;
}

int kindSize(const char *kind) {
    int k = lgr_KindOf(kind);
    return k == LGR_KIND_UNKNOWN ? 512 : lgr_KindSize(k);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    loggers();
    fuzz::Reader in{data, size};
    uint8_t settings = in.byte();
    const char *kind = kKinds[settings & 3];
    bool xml = settings & 4;
    int number = 1 + (settings >> 3 & 3);
    int sizes[4] = {kindSize(kind), 131, kindSize(kind) + 64, 7};
    int bufferSize = sizes[settings >> 5 & 3];
    setReadXml(xml);

    std::string binary = fileOf(kind, number), xmlFile = binary + ".xml";
    fuzz::writeFile(xml ? xmlFile : binary, in.data, in.size);
    std::string logcap;
    for (int b = 1; b <= number; ++b)
        logcap += std::string(kind) + "\n";
    fuzz::writeFile(fuzz::install().root + "/LOGCAP.TXT",
                    reinterpret_cast<const uint8_t *>(logcap.data()), logcap.size());

    std::vector<uint8_t> buffer(static_cast<size_t>(bufferSize));
    rfile_ReadLoggerConfig(nullptr, kind, number, buffer.data(), bufferSize);
    LoggerInfo table[4];
    std::string selector = (settings & 0x80 ? "*," : "") + std::to_string(number);
    lgr_GetLoggers(nullptr, selector.c_str(), table, 4);

    unlink(binary.c_str());
    unlink(xmlFile.c_str());
    fuzz::trimEventLog();
    return 0;
}

// The seeds: each kind's record written by the logger file writer, binary and XML.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (fuzz::seedFolder() == nullptr) return 0;
    loggers();
    fuzz::setSwitch("WriteXML", "BOTH");
    for (int k = 0; k < 3; ++k) {
        const char *kind = kKinds[k];
        std::vector<uint8_t> record(static_cast<size_t>(lgr_KindSize(k)));
        record[0] = 1;
        memcpy(record.data() + 1, "SEED LOGGER", 12);
        if (lgr_WriteLoggerFile(loggers().c_str(), "fuzz", kind, 1, record.data(),
                                static_cast<int>(record.size())) != 0)
            abort();
        std::string binary = fuzz::readFile(fileOf(kind, 1));
        std::string xml = fuzz::readFile(fileOf(kind, 1) + ".xml");
        if (binary.empty() || xml.empty()) abort();
        // Kept to a few KB: the reader takes what there is of a binary file.
        fuzz::writeSeed((std::string(kind) + "-binary").c_str(),
                        std::string(1, static_cast<char>(k)) + binary.substr(0, 4096));
        fuzz::writeSeed((std::string(kind) + "-xml").c_str(),
                        std::string(1, static_cast<char>(k | (k == 2 ? 0x2C : 4))) + xml);
        unlink(fileOf(kind, 1).c_str());
        unlink((fileOf(kind, 1) + ".xml").c_str());
    }
    fuzz::writeSeed("unknown-binary",
                    std::string("\x03\x01SEED LOGGER\0", 14) + std::string(40, 'x'));
    exit(0);
}
