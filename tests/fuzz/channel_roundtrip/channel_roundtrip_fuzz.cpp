// Channel records of every kind saved in both forms (WriteXML BOTH) and read back from the XML
// (ReadXML ON), through the sample extension module: what the writer saves, its reader takes
// back field for field by value (floats by their bits, a NaN as one; a text XML cannot carry
// as the marker), saving what was read writes the same text, a save that wrote the schema
// leaves a file that validates against it (its channels in the file's own layout), a record
// of ordinary values is saved, a save whose target is marked read-only or replaced by a folder
// is refused, and a save that fails leaves every file it would write as it was.
//
// Input: the kind (bits 0-2, modulo 7; bit 3 a module of mixed "ai" channels); a byte of settings
// (bits 0-1 the channels, 1 to 3, bits 2-4 the first channel, bit 5 extra blocks, bit 6 the XML
// file changed in place rather than built afresh, bit 7 the change history); a byte of options (bit
// 0 the type byte and the device part's bit number and area brought into their ranges, bits 1-2 how
// many channels' extra blocks the extra space lacks, bit 3 every field made ordinary, bits 4-6 a
// target the save writes kept from it (0 none, else the n-th of those it writes, counted round),
// bit 7 kept by a folder rather than read-only); then 216 bytes per channel and 8 extra bytes per
// channel (zeros where the input ends).
//
// Each input starts from the same files of its kind: four channels saved once per process by
// the writer, restored byte for byte before the input's save. The work per input is one save,
// one read and one save again.
#include "cfg.h"
#include "cfg_internal.h"
#include "chan.h"
#include "fuzz_install.h"
#include "roundtrip_checks.h"
#include "tag.h"
#include "xml.h"

#include <cerrno>
#include <dirent.h>
#include <string>
#include <vector>

namespace {

constexpr int k_baseChannels = 4;
constexpr int k_extraPerChannel = 8; // the sample module's extra block: Scale, Code
constexpr uint8_t k_typeOfKind[CHANNEL_KIND_COUNT] = {
    CHANNEL_TYPE_AI, CHANNEL_TYPE_DI, CHANNEL_TYPE_AO, CHANNEL_TYPE_DO,
    CHANNEL_TYPE_CI, CHANNEL_TYPE_DI, CHANNEL_TYPE_DI};

// The files a save of a kind may write, by their paths.
struct KindFiles {
    std::vector<std::string> paths; // binary, XML, extra file, schema, history
    std::vector<std::string> base;  // their bytes as the base save left them ("" = missing)
};

std::string extraFileOf(int kind) {
    return std::string(chrec_KindName(kind)) + "_extra";
}

std::vector<std::string> pathsOf(int kind) {
    const fuzz::Installation &inst = fuzz::install();
    const std::string name = chrec_KindName(kind);
    return {inst.device + "/" + name, inst.device + "/" + name + ".xml",
            inst.device + "/" + extraFileOf(kind), inst.root + "/SCHEMA/KSTRN_" + name + ".xsd",
            inst.root + "/recent_history.txt"};
}

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The bytes of each file, with "missing" told apart from empty.
std::vector<std::string> snapshot(const std::vector<std::string> &paths) {
    std::vector<std::string> out;
    for (const std::string &p : paths)
        out.push_back(exists(p) ? "+" + fuzz::readFile(p) : "");
    return out;
}

// Each file as fuzz::stateOf gives it (its mode too, a folder as one).
std::vector<std::string> states(const std::vector<std::string> &paths) {
    std::vector<std::string> out;
    for (const std::string &p : paths)
        out.push_back(fuzz::stateOf(p));
    return out;
}

// A temporary file a save staged ("ai.xml.staging.XXXXXX") and left behind; the lock files
// beside the targets ("ai.xml.lock") stay by design.
void expectNoStagedFiles(const char *step) {
    const fuzz::Installation &inst = fuzz::install();
    for (const std::string &folder : {inst.device, inst.root + "/SCHEMA"}) {
        DIR *d = opendir(folder.c_str());
        if (d == nullptr) continue;
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name.find(".xml.") == std::string::npos && name.find(".xsd.") == std::string::npos)
                continue;
            if (name.size() > 5 && name.compare(name.size() - 5, 5, ".lock") == 0) continue;
            fprintf(stderr, "channel_roundtrip: %s left %s/%s\n", step, folder.c_str(),
                    name.c_str());
            abort();
        }
        closedir(d);
    }
}

void restore(const std::vector<std::string> &paths, const std::vector<std::string> &bytes) {
    for (size_t i = 0; i < paths.size(); ++i) {
        if (bytes[i].empty()) {
            unlink(paths[i].c_str());
            continue;
        }
        fuzz::writeFile(paths[i], reinterpret_cast<const uint8_t *>(bytes[i].data()) + 1,
                        bytes[i].size() - 1);
    }
}

void setExtra(bool on, bool mixed = false) {
    std::string options =
        std::string(on ? "extra" : "") + (on && mixed ? "," : "") + (mixed ? "mixed" : "");
    if (!options.empty())
        setenv("KVT_EX_OPTIONS", options.c_str(), 1);
    else
        unsetenv("KVT_EX_OPTIONS");
}

ChannelRecord baseRecord(int kind, int n) {
    ChannelRecord r = {};
    chrec_SetType(&r, k_typeOfKind[kind]);
    tag_SetTag(&r, ("BASE" + std::to_string(n)).c_str());
    tag_SetDescription(&r, "base channel");
    chrec_SetFlag(&r, ChannelAnalog::Enable, 1); // bit 7 in both layouts
    chrec_DevicePart(&r)[0] = static_cast<uint8_t>(n);
    return r;
}

// The base files of every kind ("dc" of both indexes share theirs), saved with extra blocks so
// that a save without them leaves extra fields in a file it changes in place.
const KindFiles &baseOf(int kind) {
    static std::vector<KindFiles> files = [] {
        const fuzz::Installation &inst = fuzz::install();
        fuzz::setSwitch("ReadXML", "ON");
        fuzz::setSwitch("WriteXML", "BOTH");
        cfg_SetHistoryFlag(0);
        setExtra(true);
        std::vector<KindFiles> all(CHANNEL_KIND_COUNT);
        for (int kind = 0; kind < CHANNEL_KIND_COUNT; ++kind) {
            std::vector<ChannelRecord> records;
            for (int n = 0; n < k_baseChannels; ++n)
                records.push_back(baseRecord(kind, n + 1));
            std::vector<uint8_t> extra(k_baseChannels * k_extraPerChannel, 0);
            if (kind != CHANNEL_KIND_DC2 &&
                chan_WriteChannelFiles("fuzz", inst.device.c_str(), kind, records.data(), 0,
                                       k_baseChannels, extra.data(), static_cast<int>(extra.size()),
                                       extraFileOf(kind).c_str(), 0) != 0) {
                fprintf(stderr, "channel_roundtrip: base save of %s failed: %s\n",
                        chrec_KindName(kind), xml_GetErrorText());
                abort();
            }
            all[static_cast<size_t>(kind)].paths = pathsOf(kind);
        }
        unlink((inst.root + "/recent_history.txt").c_str());
        for (KindFiles &k : all)
            k.base = snapshot(k.paths);
        return all;
    }();
    return files[static_cast<size_t>(kind)];
}

[[noreturn]] void fail(const char *step, int kind, int channel, const std::string &field,
                       const std::string &expected, const std::string &actual) {
    fprintf(stderr,
            "channel_roundtrip: %s: kind %s channel %d field %s: expected \"%s\", got \"%s\"\n",
            step, chrec_KindName(kind), channel, field.c_str(), expected.c_str(), actual.c_str());
    abort();
}

// Compares the leaves by value against what the save must give (fuzz::compareLeaf). Leaves are
// the system's own field list, so the bytes no field names (padding, text tails, flag bits
// outside the layout, the device part's run-time block link) are not compared.
void compareLeaves(const char *step, int kind, int channel, const std::vector<StructsLeaf> &leaves,
                   const uint8_t *saved, const uint8_t *read, int size) {
    for (const StructsLeaf &leaf : leaves) {
        if (!cfg_LeafFits(leaf, size)) continue;
        std::string why = fuzz::compareLeaf(leaf, saved, read);
        if (!why.empty()) fail(step, kind, channel, leaf.name, "the value saved", why);
    }
}

// The device's module, loaded once: its types are static data that stay while it is loaded,
// and the fuzz programs never unload a module.
ExModule &module() {
    static ExModule ex(fuzz::install().device.c_str());
    return ex;
}

struct Input {
    int kind = 0;
    int count = 1;
    int first = 0;
    bool extra = false;
    int update = 0;
    bool history = false;
    bool mixed = false;
    bool ordinary = false;
    int blocked = 0; // the target kept from the save: 0 none, else the n-th, counted round
    fuzz::Block how = fuzz::Block::ReadOnly;
    std::vector<ChannelRecord> records;
    std::vector<uint8_t> extraBlock;
};

Input parse(const uint8_t *data, size_t size) {
    fuzz::Reader in{data, size};
    Input input;
    const uint8_t kind = in.byte();
    input.kind = (kind & 7) % CHANNEL_KIND_COUNT;
    input.mixed = (kind & 8) != 0;
    uint8_t settings = in.byte();
    input.count = 1 + (settings & 3) % 3;
    input.first = settings >> 2 & 7;
    input.extra = (settings & 0x20) != 0;
    input.update = (settings & 0x40) != 0 ? 1 : 0;
    input.history = (settings & 0x80) != 0;
    uint8_t options = in.byte();
    input.ordinary = (options & 8) != 0;
    input.blocked = options >> 4 & 7;
    input.how = (options & 0x80) != 0 ? fuzz::Block::Folder : fuzz::Block::ReadOnly;
    // The first channel is one the file holds: with the history on, a save whose first channel
    // the old file lacks is refused by the read of the old values.
    if (input.ordinary) input.first %= k_baseChannels;
    input.records.resize(static_cast<size_t>(input.count));
    for (ChannelRecord &r : input.records) {
        for (uint8_t &b : r.bytes)
            b = in.byte();
        if (options & 9) {
            chrec_SetType(&r, static_cast<uint8_t>(chrec_GetType(r) % 5));
            uint8_t *part = chrec_DevicePart(&r);
            part[1] = static_cast<uint8_t>((part[1] & 0xE0) | (part[1] & 0x1F) % 11);
            part[4] = static_cast<uint8_t>(part[4] % 16);
        }
    }
    const int lacking = options >> 1 & 3;
    const int blocks = std::max(0, input.count - lacking);
    input.extraBlock.resize(static_cast<size_t>(blocks * k_extraPerChannel));
    for (uint8_t &b : input.extraBlock)
        b = in.byte();
    return input;
}

int save(const Input &input, const ChannelRecord *records, const std::vector<uint8_t> &extra) {
    const fuzz::Installation &inst = fuzz::install();
    return chan_WriteChannelFiles(
        "fuzz", inst.device.c_str(), input.kind, records, input.first, input.count,
        input.extra ? extra.data() : nullptr, input.extra ? static_cast<int>(extra.size()) : 0,
        input.extra ? extraFileOf(input.kind).c_str() : nullptr, input.update);
}

// Every field of the channels and their extra blocks made a value a user types.
void makeOrdinary(Input &input) {
    ExModule &ex = module();
    size_t position = 0;
    for (int i = 0; i < input.count; ++i) {
        const int n = input.first + i;
        ChannelRecord &r = input.records[static_cast<size_t>(i)];
        const structs_type *deviceType =
            ex.getChannelHwType != nullptr ? ex.getChannelHwType(input.kind, n, r.bytes) : nullptr;
        ChanLayout layout;
        chan_MakeLayout(&layout, chrec_IsDigital(r), deviceType);
        for (const StructsLeaf &leaf : structs_Leaves(&layout.type))
            if (cfg_LeafFits(leaf, CHANNEL_RECORD_SIZE)) fuzz::makeOrdinary(leaf, r.bytes);
        // The reader takes event limits only in their order.
        const float low = chrec_Get(r, ChannelAnalog::LowEventLimit),
                    high = chrec_Get(r, ChannelAnalog::HighEventLimit);
        if (!chrec_IsDigital(r) && low > high) {
            chrec_Set(&r, ChannelAnalog::LowEventLimit, high);
            chrec_Set(&r, ChannelAnalog::HighEventLimit, low);
        }
        if (!input.extra || input.extraBlock.size() - position < k_extraPerChannel) continue;
        for (const StructsLeaf &leaf :
             structs_Leaves(ex.getChannelExtraType(input.kind, n, r.bytes)))
            fuzz::makeOrdinary(leaf, input.extraBlock.data() + position);
        position += k_extraPerChannel;
    }
}

// Whether every channel saved has the layout of its file's kind, which is all a schema of a
// module without mixed channels describes.
bool ownLayout(const Input &input) {
    ChannelRecord own = {};
    chrec_SetType(&own, k_typeOfKind[input.kind]);
    for (const ChannelRecord &r : input.records)
        if (chrec_IsDigital(r) != chrec_IsDigital(own)) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const fuzz::Installation &inst = fuzz::install();
    Input input = parse(data, size);
    const KindFiles &files = baseOf(input.kind);
    setExtra(input.extra, input.mixed);
    cfg_SetHistoryFlag(input.history ? 1 : 0);
    restore(files.paths, files.base);
    const std::string xmlPath = files.paths[1];
    if (input.ordinary) makeOrdinary(input);

    // The files the save writes: binary, XML, the extra file when a block is given, the schema
    // for two channels or more.
    std::vector<size_t> targets = {0, 1};
    if (input.extra && !input.extraBlock.empty()) targets.push_back(2);
    if (input.count >= 2) targets.push_back(3);
    const std::string blocked =
        input.blocked == 0
            ? ""
            : files.paths[targets[static_cast<size_t>(input.blocked - 1) % targets.size()]];
    if (!blocked.empty()) fuzz::block(blocked, input.how);
    const std::vector<std::string> before = states(files.paths);

    const int saved = save(input, input.records.data(), input.extraBlock);
    const int err = errno;
    const std::string why = xml_GetErrorText();
    const std::vector<std::string> after = states(files.paths);
    if (!blocked.empty()) fuzz::unblock(blocked, input.how);
    if (saved == 0 && !blocked.empty()) {
        fprintf(stderr, "channel_roundtrip: a save whose target %s it cannot write returned 0\n",
                blocked.c_str());
        abort();
    }
    if (saved != 0) {
        if (input.ordinary && blocked.empty())
            fail("save of ordinary values", input.kind, input.first + 1, "-", "0",
                 "errno " + std::to_string(err) + ", " + why);
        for (size_t i = 0; i < after.size(); ++i)
            if (after[i] != before[i]) {
                fprintf(stderr, "channel_roundtrip: refused save (%s, errno %d) changed %s\n",
                        why.c_str(), err, files.paths[i].c_str());
                abort();
            }
        expectNoStagedFiles("refused save");
        fuzz::trimEventLog();
        return 0;
    }
    expectNoStagedFiles("save");
    const std::string written = fuzz::readFile(xmlPath);
    // A change in place without extra blocks keeps the extra fields of the file's other
    // channels, which a schema written without them does not describe.
    const bool everyBlock = input.extra && input.extraBlock.size() ==
                                               static_cast<size_t>(input.count) * k_extraPerChannel;
    if (input.count >= 2 && (!input.update || everyBlock) &&
        (ownLayout(input) || (input.mixed && input.kind == CHANNEL_KIND_AI))) {
        const std::string invalid = fuzz::invalidAgainst(xmlPath, files.paths[3]);
        if (!invalid.empty())
            fail("schema", input.kind, input.first + 1, "(file)", "valid", invalid);
    }

    std::vector<ChannelRecord> back(static_cast<size_t>(input.count));
    std::vector<uint8_t> backExtra(input.extraBlock.size(), 0);
    if (chan_ReadChannels(inst.device.c_str(), input.kind, back.data(), input.first, input.count,
                          input.extra ? backExtra.data() : nullptr,
                          input.extra ? static_cast<int>(backExtra.size()) : 0,
                          input.extra ? extraFileOf(input.kind).c_str() : nullptr) != 0)
        fail("read after a save that returned 0", input.kind, input.first + 1, "-", "0",
             xml_GetErrorText());

    {
        ExModule &ex = module();
        size_t position = 0;
        for (int i = 0; i < input.count; ++i) {
            const int n = input.first + i;
            ChannelRecord saved = input.records[static_cast<size_t>(i)];
            ChannelRecord read = back[static_cast<size_t>(i)];
            const structs_type *deviceType = ex.getChannelHwType != nullptr
                                                 ? ex.getChannelHwType(input.kind, n, saved.bytes)
                                                 : nullptr;
            ChanLayout layout;
            chan_MakeLayout(&layout, chrec_IsDigital(saved), deviceType);
            compareLeaves("field read back", input.kind, n + 1, structs_Leaves(&layout.type),
                          saved.bytes, read.bytes, CHANNEL_RECORD_SIZE);
            if (!input.extra) continue;
            const size_t remaining = input.extraBlock.size() - position;
            if (remaining < static_cast<size_t>(k_extraPerChannel)) continue;
            const structs_type *extraType = ex.getChannelExtraType(input.kind, n, saved.bytes);
            compareLeaves("extra field read back", input.kind, n + 1, structs_Leaves(extraType),
                          input.extraBlock.data() + position, backExtra.data() + position,
                          k_extraPerChannel);
            position += k_extraPerChannel;
        }
    }

    if (save(input, back.data(), backExtra) != 0)
        fail("save of the records read back", input.kind, input.first + 1, "-", "0",
             xml_GetErrorText());
    const std::string again = fuzz::readFile(xmlPath);
    if (again != written) {
        size_t at = 0;
        while (at < again.size() && at < written.size() && again[at] == written[at])
            ++at;
        size_t from = at > 80 ? at - 80 : 0;
        fail("XML text of the records read back", input.kind, input.first + 1, "(file)",
             written.substr(from, 160), again.substr(from, 160));
    }
    fuzz::trimEventLog();
    return 0;
}

// The seeds: records of every kind as the binary channel file holds them after a save, with
// their extra blocks, each with the settings that save them as written.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (fuzz::seedFolder() == nullptr) return 0;
    for (int kind = 0; kind < CHANNEL_KIND_COUNT; ++kind) {
        const KindFiles &files = baseOf(kind);
        restore(files.paths, files.base);
        std::string binary = fuzz::readFile(files.paths[0]);
        std::string extra = fuzz::readFile(files.paths[2]);
        const int count = 3;
        if (binary.size() < 8 + count * CHANNEL_RECORD_SIZE ||
            extra.size() < static_cast<size_t>(count * k_extraPerChannel))
            abort();
        std::string records = binary.substr(8 + CHANNEL_RECORD_SIZE, count * CHANNEL_RECORD_SIZE);
        std::string blocks = extra.substr(k_extraPerChannel, count * k_extraPerChannel);
        const struct {
            const char *name;
            int settings;
        } seeds[] = {
            {"afresh-extra", 0x20 | 0x04},          // channels 2-4 with extra blocks
            {"in-place-extra", 0x40 | 0x20 | 0x0C}, // channels 4-6, partly appended
            {"history", 0x80 | 0x08},               // channels 3-5, with the change history
        };
        for (const auto &s : seeds) {
            std::string seed;
            seed.push_back(static_cast<char>(kind));
            seed.push_back(static_cast<char>(s.settings | (count - 1)));
            seed.push_back(1);
            seed += records + blocks;
            std::string name = std::string(chrec_KindName(kind)) +
                               (kind == CHANNEL_KIND_DC2 ? "2-" : "-") + s.name;
            fuzz::writeSeed(name.c_str(), seed);
        }
    }
    exit(0);
}
