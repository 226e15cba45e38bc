// The device configuration saved as the configuration tool saves it (WriteXML BOTH), read back
// from config.xml (ReadXML ON) and saved again, through the sample extension module with and
// without its extra block. It holds when:
// - a save that returns 0 reads back with 0, and config.xml validates against the schema the
//   save wrote beside it;
// - every field reads back with the value it was saved with (floats by their bits, a NaN as
//   one; a text XML cannot carry as the marker);
// - saving what was read back writes the same config.xml (and, with the history on, no line);
// - a record of ordinary values (finite floats, printable texts, values the module takes) is
//   saved;
// - a save whose target is marked read-only or replaced by a folder is refused;
// - a save that fails leaves every file it may write as it was, byte for byte, and no staged
//   copy.
//
// Input: two bytes of settings, then AutoEnable, SaveOutputs, SaveByTag, SaveRate (4 bytes,
// little-endian), the extra block (8 bytes) and the device record (up to 704 bytes; the rest
// zero). Settings byte 0: bit 0 the extra block, bit 1 the history on, bit 2 the record's
// DataFormat and Parity taken modulo 10 and 6 (mostly values the module accepts), bit 3 the
// module hands out blocks of its own ("owned"), bit 4 a device folder without old files, bit 5
// no record given, bit 6 every field made ordinary. Byte 1: bits 0-3 AutoEnable, SaveOutputs,
// SaveByTag, SaveRate not given; bits 4-6 a target the save writes kept from it (0 none, else
// the n-th of those it writes, counted round), bit 7 kept by a folder rather than read-only.
// Ahead of fuzz_install.h, whose own dlclose (modules stay loaded) would clash with the
// header's declaration of it.
#include <dlfcn.h>

#include "cfg.h"
#include "ex.h"
#include "fuzz_install.h"
#include "roundtrip_checks.h"
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

// The files a device save may write, each as fuzz::stateOf gives it.
struct Files {
    std::vector<std::string> paths;
    std::vector<std::string> states;
};

enum { k_config, k_saveconfig, k_extra, k_configXml, k_schema, k_history };

std::vector<std::string> savedPaths() {
    const fuzz::Installation &inst = fuzz::install();
    return {inst.device + "/config",         inst.device + "/saveconfig",
            inst.device + "/extra",          inst.device + "/config.xml",
            inst.root + "/SCHEMA/KSTRN.xsd", inst.root + "/recent_history.txt"};
}

Files snapshot() {
    Files f;
    f.paths = savedPaths();
    for (const std::string &p : f.paths)
        f.states.push_back(fuzz::stateOf(p));
    return f;
}

void restore(const Files &f) {
    for (size_t i = 0; i < f.paths.size(); ++i) {
        const std::string &state = f.states[i];
        if (state.empty()) {
            unlink(f.paths[i].c_str());
            continue;
        }
        const size_t bytes = state.find(':') + 1;
        fuzz::writeFile(f.paths[i], reinterpret_cast<const uint8_t *>(state.data()) + bytes,
                        state.size() - bytes);
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

// Every leaf of type reads back with the value it was saved with. The sample module's editable
// form is the stored form, so the leaves are compared on the records themselves.
void compareLeaves(const char *part, const structs_type *type, const void *saved, const void *read,
                   int size) {
    for (const StructsLeaf &leaf : structs_Leaves(type)) {
        if (static_cast<uint64_t>(leaf.offset) + leaf.type->size > static_cast<uint64_t>(size))
            continue; // not saved: the writer refuses such a record
        std::string why = fuzz::compareLeaf(leaf, static_cast<const uint8_t *>(saved),
                                            static_cast<const uint8_t *>(read));
        if (!why.empty()) fail("read back", std::string(part) + " field " + leaf.name + ": " + why);
    }
}

// Every field of type inside size bytes made a value a user types.
void makeOrdinary(const structs_type *type, void *buffer, int size) {
    for (const StructsLeaf &leaf : structs_Leaves(type))
        if (static_cast<uint64_t>(leaf.offset) + leaf.type->size <= static_cast<uint64_t>(size))
            fuzz::makeOrdinary(leaf, static_cast<uint8_t *>(buffer));
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
        for (std::string &state : none.states)
            state.clear();
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
        sets[extra].states.back().clear();
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

    const bool ordinary = flags & 64;
    if (ordinary) {
        const Module &m = module();
        s.record[k_dataFormat] %= 9;
        makeOrdinary(m.configType(s.record, k_recordSize), s.record, k_recordSize);
        if (extra)
            makeOrdinary(m.extraType(s.record, k_recordSize, s.extra, k_extraSize), s.extra,
                         k_extraSize);
    }

    Files old = oldFiles(extra);
    if (fresh) {
        for (std::string &state : old.states)
            state.clear();
    }
    restore(old);
    setOptions(extra, owned);
    cfg_SetHistoryFlag(history ? 1 : 0);

    // The target kept from the save, among the files it writes.
    std::vector<int> targets;
    if (given[0] || !noRecord) targets.push_back(k_config);
    if (given[1] || given[2] || given[3]) targets.push_back(k_saveconfig);
    if (extra) targets.push_back(k_extra);
    targets.push_back(k_configXml);
    if (!noRecord) targets.push_back(k_schema);
    const int chosen = omitted >> 4 & 7;
    const std::string blocked =
        chosen == 0 ? "" : old.paths[static_cast<size_t>(targets[(chosen - 1) % targets.size()])];
    const fuzz::Block how = omitted & 0x80 ? fuzz::Block::Folder : fuzz::Block::ReadOnly;
    if (!blocked.empty()) fuzz::block(blocked, how);
    old = snapshot(); // the modes as restore left them

    auto save = [&](Saved &v) {
        return cfg_WriteDeviceConfig(
            "fuzz", inst.device.c_str(), noRecord ? nullptr : v.record, k_recordSize,
            extra ? v.extra : nullptr, k_extraSize, "extra", given[0] ? &v.settings[0] : nullptr,
            given[1] ? &v.settings[1] : nullptr, given[2] ? &v.settings[2] : nullptr,
            given[3] ? &v.rate : nullptr);
    };

    const int saved = save(s);
    const std::string why = xml_GetErrorText();
    const Files now = snapshot();
    const std::string staged =
        fuzz::stagedFileIn(inst.device) + fuzz::stagedFileIn(inst.root + "/SCHEMA");
    if (!blocked.empty()) fuzz::unblock(blocked, how);
    if (!staged.empty()) fail("save", "left its staged copy " + staged);
    if (saved == 0 && !blocked.empty())
        fail("save", "a save whose target " + blocked + " it cannot write returned 0");
    if (saved != 0) {
        if (ordinary && blocked.empty())
            fail("save", "a record of ordinary values is refused: " + why);
        for (size_t i = 0; i < now.paths.size(); ++i)
            if (now.states[i] != old.states[i])
                fail("refused save", now.paths[i] + " changed (refused with \"" + why + "\")");
        cfg_SetHistoryFlag(0);
        fuzz::trimEventLog();
        return 0;
    }
    // The schema asks for every save setting: a save without some of them into a folder
    // without old files writes a config.xml that lacks them.
    if (!noRecord && (!fresh || (given[0] && given[1] && given[2] && given[3]))) {
        const std::string invalid =
            fuzz::invalidAgainst(old.paths[k_configXml], old.paths[k_schema]);
        if (!invalid.empty()) fail("schema", invalid);
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
        std::string why = fuzz::compareLeaf(settings[i], reinterpret_cast<const uint8_t *>(&a),
                                            reinterpret_cast<const uint8_t *>(&b));
        if (!why.empty()) fail("read back", "setting " + settings[i].name + ": " + why);
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
