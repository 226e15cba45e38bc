// The device configuration saved as the configuration tool saves it (WriteXML BOTH), read back
// from config.xml (ReadXML ON) and saved again, through the sample extension module with and
// without its extra block. It holds when:
// - a save that returns 0 reads back with 0;
// - every field the XML form carries whole reads back with the text it was saved with;
// - saving what was read back writes the same config.xml (and, with the history on, no line);
// - a save that fails leaves every file it may write as it was, byte for byte.
//
// Input: two bytes of settings, then AutoEnable, SaveOutputs, SaveByTag, SaveRate (4 bytes,
// little-endian), the extra block (8 bytes) and the device record (up to 704 bytes; the rest
// zero). Settings byte 0: bit 0 the extra block, bit 1 the history on, bit 2 the record's
// DataFormat and Parity taken modulo 10 and 6 (mostly values the module accepts), bit 3 the
// module hands out blocks of its own ("owned"), bit 4 a device folder without old files, bit 5
// no record given. Byte 1: bits 0-3 AutoEnable, SaveOutputs, SaveByTag, SaveRate not given.
// Ahead of fuzz_install.h, whose own dlclose (modules stay loaded) would clash with the
// header's declaration of it.
#include <dlfcn.h>

#include "cfg.h"
#include "ex.h"
#include "fuzz_install.h"
#include "structs_chan.h"
#include "xml.h"
#include "xml_dom.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int k_recordSize = 704;
constexpr int k_extraSize = 8;
constexpr int k_dataFormat = 19; // S5PortSettings at 4: data_format, then parity
constexpr int k_parity = 20;

// The files a device save may write.
struct Files {
    std::vector<std::string> paths;
    std::vector<std::string> bytes;
    std::vector<bool> present;
};

std::vector<std::string> savedPaths() {
    const fuzz::Installation &inst = fuzz::install();
    return {inst.device + "/config",         inst.device + "/saveconfig",
            inst.device + "/extra",          inst.device + "/config.xml",
            inst.root + "/SCHEMA/KSTRN.xsd", inst.root + "/recent_history.txt"};
}

Files snapshot() {
    Files f;
    f.paths = savedPaths();
    for (const std::string &p : f.paths) {
        struct stat st;
        f.present.push_back(stat(p.c_str(), &st) == 0);
        f.bytes.push_back(fuzz::readFile(p));
    }
    return f;
}

void restore(const Files &f) {
    for (size_t i = 0; i < f.paths.size(); ++i) {
        if (f.present[i])
            fuzz::writeFile(f.paths[i], reinterpret_cast<const uint8_t *>(f.bytes[i].data()),
                            f.bytes[i].size());
        else
            unlink(f.paths[i].c_str());
    }
}

[[noreturn]] void fail(const char *step, const std::string &what) {
    fprintf(stderr, "device_roundtrip: %s: %s\n", step, what.c_str());
    abort();
}

void setOptions(bool extra, bool owned) {
    std::string options = extra ? "extra" : "";
    if (owned) options += options.empty() ? "owned" : ",owned";
    if (options.empty())
        unsetenv("KVT_EX_OPTIONS");
    else
        setenv("KVT_EX_OPTIONS", options.c_str(), 1);
}

// The module's types, asked for as the library asks (the options are read at every call).
struct Module {
    Ex_Get_Config_Type_fn configType = nullptr;
    Ex_Get_Config_Extra_Type_fn extraType = nullptr;
};

const Module &module() {
    static Module m = [] {
        Module found;
        void *handle = cfg_LoadExtensionDll(fuzz::install().device.c_str());
        if (handle == nullptr) fail("setup", "the sample module does not load");
        found.configType =
            reinterpret_cast<Ex_Get_Config_Type_fn>(dlsym(handle, "Ex_Get_Config_Type"));
        found.extraType = reinterpret_cast<Ex_Get_Config_Extra_Type_fn>(
            dlsym(handle, "Ex_Get_Config_Extra_Type"));
        if (found.configType == nullptr || found.extraType == nullptr)
            fail("setup", "the sample module lacks its type entry points");
        return found;
    }();
    return m;
}

std::string textOf(const StructsLeaf &leaf, const void *buffer) {
    char *text =
        leaf.type->ascify(leaf.type, "fuzz", static_cast<const uint8_t *>(buffer) + leaf.offset);
    if (text == nullptr) return "(no text)";
    std::string out = text;
    typed_mem_free("fuzz", text);
    return out;
}

bool xmlCarries(const std::string &text) {
    std::string scratch;
    const char *utf8 = xml_Utf8(text.c_str(), scratch);
    return xml_IsXmlText(utf8, strlen(utf8)) != 0;
}

// Every leaf of type reads back with the text it was saved with. The sample module's editable
// form is the stored form, so the leaves are compared on the records themselves. A text XML
// cannot carry is saved as the marker, cut to what the field takes back.
void compareLeaves(const char *part, const structs_type *type, const void *saved, const void *read,
                   int size) {
    for (const StructsLeaf &leaf : structs_Leaves(type)) {
        if (static_cast<uint64_t>(leaf.offset) + leaf.type->size > static_cast<uint64_t>(size))
            continue; // not saved: the writer refuses such a record
        std::string before = textOf(leaf, saved), after = textOf(leaf, read);
        if (!xmlCarries(before)) {
            if (after.empty() || std::string(XML_ILLEGAL_TEXT).rfind(after, 0) != 0)
                fail("read back", std::string(part) + " field " + leaf.name +
                                      ": a text XML cannot carry read back as \"" + after +
                                      "\", not the marker");
            continue;
        }
        if (before != after)
            fail("read back", std::string(part) + " field " + leaf.name + ": saved \"" + before +
                                  "\", read back \"" + after + "\"");
    }
}

std::string firstDifference(const std::string &a, const std::string &b) {
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    size_t line = a.rfind('\n', at == 0 ? 0 : at - 1);
    line = line == std::string::npos ? 0 : line + 1;
    auto lineOf = [line](const std::string &s) {
        size_t end = s.find('\n', line);
        return line < s.size() ? s.substr(line, end == std::string::npos ? end : end - line)
                               : std::string("(end of file)");
    };
    return "first save \"" + lineOf(a) + "\", second save \"" + lineOf(b) + "\"";
}

// The old files of a device folder, one set per extra mode, as the writer leaves them after
// saving a record that reads back.
const Files &oldFiles(bool extra) {
    static Files sets[2];
    static bool made[2] = {false, false};
    if (!made[extra]) {
        Files none = snapshot();
        for (size_t i = 0; i < none.present.size(); ++i)
            none.present[i] = false;
        restore(none);
        setOptions(extra, false);
        cfg_SetHistoryFlag(0);
        uint8_t record[k_recordSize] = {};
        record[0] = 0xE8;
        record[1] = 0x03;
        memcpy(record + 4, "COM1", 4);
        uint32_t extraBlock[2] = {42, 7};
        uint8_t on = 1, off = 0;
        int32_t rate = 5000;
        if (cfg_WriteDeviceConfig("fuzz", fuzz::install().device.c_str(), record, k_recordSize,
                                  extra ? extraBlock : nullptr, extra ? k_extraSize : 0, "extra",
                                  &on, &on, &off, &rate) != 0)
            fail("setup", std::string("the old files cannot be saved: ") + xml_GetErrorText());
        sets[extra] = snapshot();
        unlink(sets[extra].paths.back().c_str());
        sets[extra].present.back() = false;
        sets[extra].bytes.back().clear();
        made[extra] = true;
    }
    return sets[extra];
}

struct Saved {
    uint8_t settings[4]; // AutoEnable, SaveOutputs, SaveByTag (bytes), then unused
    int32_t rate;
    uint8_t extra[k_extraSize];
    uint8_t record[k_recordSize];
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const fuzz::Installation &inst = fuzz::install();
    static bool switches =
        (fuzz::setSwitch("ReadXML", "ON"), fuzz::setSwitch("WriteXML", "BOTH"), module(), true);
    (void)switches;
    fuzz::Reader in{data, size};
    const uint8_t flags = in.byte(), omitted = in.byte();
    const bool extra = flags & 1, history = flags & 2, tame = flags & 4, owned = flags & 8,
               fresh = flags & 16, noRecord = flags & 32;
    bool given[4];
    for (int i = 0; i < 4; ++i)
        given[i] = (omitted >> i & 1) == 0;

    Saved s = {};
    for (int i = 0; i < 3; ++i)
        s.settings[i] = in.byte();
    uint32_t rate = in.word();
    rate |= static_cast<uint32_t>(in.word()) << 16;
    s.rate = static_cast<int32_t>(rate);
    for (uint8_t &b : s.extra)
        b = in.byte();
    size_t n = std::min<size_t>(in.size, k_recordSize);
    memcpy(s.record, in.data, n);
    if (tame) {
        s.record[k_dataFormat] %= 10;
        s.record[k_parity] %= 6;
    }

    Files old = oldFiles(extra);
    if (fresh) {
        for (size_t i = 0; i < old.present.size(); ++i) {
            old.present[i] = false;
            old.bytes[i].clear();
        }
    }
    restore(old);
    setOptions(extra, owned);
    cfg_SetHistoryFlag(history ? 1 : 0);

    auto save = [&](Saved &v) {
        return cfg_WriteDeviceConfig(
            "fuzz", inst.device.c_str(), noRecord ? nullptr : v.record, k_recordSize,
            extra ? v.extra : nullptr, k_extraSize, "extra", given[0] ? &v.settings[0] : nullptr,
            given[1] ? &v.settings[1] : nullptr, given[2] ? &v.settings[2] : nullptr,
            given[3] ? &v.rate : nullptr);
    };

    if (save(s) != 0) {
        std::string why = xml_GetErrorText();
        Files now = snapshot();
        for (size_t i = 0; i < now.paths.size(); ++i)
            if (now.present[i] != old.present[i] || now.bytes[i] != old.bytes[i])
                fail("refused save", now.paths[i] + " changed (refused with \"" + why + "\")");
        cfg_SetHistoryFlag(0);
        fuzz::trimEventLog();
        return 0;
    }
    const std::string xml1 = fuzz::readFile(inst.device + "/config.xml");
    const std::string history1 = fuzz::readFile(inst.root + "/recent_history.txt");

    Saved r = {};
    if (cfg_ReadDeviceConfig(
            inst.device.c_str(), noRecord ? nullptr : r.record, k_recordSize,
            extra ? r.extra : nullptr, k_extraSize, "extra", given[0] ? &r.settings[0] : nullptr,
            given[1] ? &r.settings[1] : nullptr, given[2] ? &r.settings[2] : nullptr,
            given[3] ? &r.rate : nullptr) != 0)
        fail("read back",
             std::string("a save that returned 0 does not read back: ") + xml_GetErrorText());

    DeviceSaveSettings a = {s.settings[0], s.settings[1], s.settings[2],
                            static_cast<uint32_t>(s.rate)};
    DeviceSaveSettings b = {r.settings[0], r.settings[1], r.settings[2],
                            static_cast<uint32_t>(r.rate)};
    std::vector<StructsLeaf> settings = structs_Leaves(&structs_savesettings_type);
    for (size_t i = 0; i < settings.size() && i < 4; ++i) {
        if (!given[i]) continue;
        std::string before = textOf(settings[i], &a), after = textOf(settings[i], &b);
        if (before != after)
            fail("read back", "setting " + settings[i].name + ": saved \"" + before +
                                  "\", read back \"" + after + "\"");
    }
    const Module &m = module();
    if (!noRecord)
        compareLeaves("device", m.configType(s.record, k_recordSize), s.record, r.record,
                      k_recordSize);
    const structs_type *extraType =
        extra ? m.extraType(s.record, k_recordSize, s.extra, k_extraSize) : nullptr;
    if (extraType != nullptr) compareLeaves("extra", extraType, s.extra, r.extra, k_extraSize);

    if (save(r) != 0)
        fail("second save", std::string("what was read back is refused: ") + xml_GetErrorText());
    const std::string xml2 = fuzz::readFile(inst.device + "/config.xml");
    if (xml1 != xml2) fail("second save", "config.xml differs: " + firstDifference(xml1, xml2));
    const std::string history2 = fuzz::readFile(inst.root + "/recent_history.txt");
    if (history1 != history2)
        fail("second save", "saving what was read back wrote history: \"" +
                                history2.substr(history1.size()) + "\"");
    cfg_SetHistoryFlag(0);
    fuzz::trimEventLog();
    return 0;
}

// The seeds: records the writer saved and the reader read back, in the input's form.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (fuzz::seedFolder() == nullptr) return 0;
    fuzz::setSwitch("ReadXML", "ON");
    fuzz::setSwitch("WriteXML", "BOTH");
    const fuzz::Installation &inst = fuzz::install();
    struct Seed {
        const char *name;
        uint8_t flags, omitted;
    } seeds[] = {{"record", 0, 0},
                 {"record-extra", 1 | 4, 0},
                 {"history", 2 | 4, 0},
                 {"fresh-owned", 8 | 16, 0},
                 {"settings-only", 32, 0x5}};
    for (const Seed &seed : seeds) {
        const bool extra = seed.flags & 1;
        setOptions(extra, false);
        cfg_SetHistoryFlag(0);
        uint8_t record[32] = {0xF4, 0x01, 0, 0, 'C', 'O', 'M', '2'};
        uint32_t baud = 9600;
        memcpy(record + 12, &baud, 4);
        record[16] = 1;
        record[k_dataFormat] = 3;
        record[k_parity] = 2;
        record[21] = 1;
        uint32_t extraBlock[2] = {1, 2};
        uint8_t on = 1, off = 0;
        int32_t rate = 250;
        if (cfg_WriteDeviceConfig("fuzz", inst.device.c_str(), record, sizeof record,
                                  extra ? extraBlock : nullptr, k_extraSize, "extra", &on, &off,
                                  &on, &rate) != 0)
            abort();
        uint8_t back[sizeof record] = {};
        uint32_t extraBack[2] = {};
        uint8_t ae = 0, so = 0, sbt = 0;
        int32_t rateBack = 0;
        if (cfg_ReadDeviceConfig(inst.device.c_str(), back, sizeof back,
                                 extra ? extraBack : nullptr, k_extraSize, "extra", &ae, &so, &sbt,
                                 &rateBack) != 0)
            abort();
        std::string bytes;
        bytes += static_cast<char>(seed.flags);
        bytes += static_cast<char>(seed.omitted);
        bytes += static_cast<char>(ae);
        bytes += static_cast<char>(so);
        bytes += static_cast<char>(sbt);
        bytes.append(reinterpret_cast<const char *>(&rateBack), 4);
        bytes.append(reinterpret_cast<const char *>(extraBack), k_extraSize);
        bytes.append(reinterpret_cast<const char *>(back), sizeof back);
        fuzz::writeSeed(seed.name, bytes);
    }
    exit(0);
}
