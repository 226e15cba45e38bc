#include "cfgtool.h"

#include "kstrn_cf.h"
#include "plat_error.h"
#include "plat_module.h"
#include "printer_dc.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr size_t kChannelRecordSize = 216;

struct Exports {
    DLL_SetHostServices_t setHostServices = nullptr;
    DLL_ConfigAdvanDevSpecific_t advanced = nullptr;
    DLL_ConfigChanDevSpecific_t channel = nullptr;
    DLL_PasteChannel_t paste = nullptr;
    PrintAllConfig_t printAll = nullptr;
    PrintConfig_t print = nullptr;
};

// The host: what the tool hands the module through its services.
struct Host {
    std::ostream *out = nullptr;
    uint16_t portNumber = 1;
    int yesNoAnswer = PLAT_IDYES;
    int waits = 0;
    std::vector<std::string> script;
    CfgToolScriptState state;
};

uint16_t HostPortNumber(void *h) {
    return static_cast<Host *>(h)->portNumber;
}

int HostRunModal(void *h, DialogView *dialog) {
    Host *host = static_cast<Host *>(h);
    cfgtool_RunScript(host->script, dialog, &host->state, *host->out);
    return 0;
}

int HostMessageBox(void *h, const char *text, const char *, unsigned style) {
    Host *host = static_cast<Host *>(h);
    *host->out << "message: " << (text != nullptr ? text : "") << "\n";
    host->state.messages.push_back(text != nullptr ? text : "");
    return (style & PLAT_MB_TYPEMASK) == PLAT_MB_YESNO ? host->yesNoAnswer : PLAT_IDOK;
}

void HostShowHelp(void *h, const char *file, const char *topic) {
    *static_cast<Host *>(h)->out << "help: " << file << " " << topic << "\n";
}

void HostWaitCursor(void *h, int on) {
    if (on) static_cast<Host *>(h)->waits++;
}

// Options: "--name value" pairs before and after the command, and the command word.
struct Command {
    std::string verb;
    std::map<std::string, std::string> options;
    bool has(const std::string &name) const { return options.count(name) != 0; }
    std::string get(const std::string &name, const std::string &fallback = "") const {
        auto it = options.find(name);
        return it != options.end() ? it->second : fallback;
    }
};

bool ParseArgs(const std::vector<std::string> &args, Command *c, std::string *error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a.rfind("--", 0) == 0) {
            if (a == "--all") {
                c->options[a] = "1";
                continue;
            }
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            c->options[a] = args[++i];
        } else if (c->verb.empty()) {
            c->verb = a;
        } else {
            *error = "unexpected argument " + a;
            return false;
        }
    }
    if (c->verb.empty()) *error = "no command";
    return !c->verb.empty();
}

bool ReadFileBytes(const std::string &path, std::vector<uint8_t> *bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream s;
    s << in.rdbuf();
    std::string data = s.str();
    bytes->assign(data.begin(), data.end());
    return true;
}

bool WriteFileBytes(const std::string &path, const uint8_t *data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

// A record of exactly size bytes from the file: shorter files are padded with zeros, and no
// file gives zeros.
std::vector<uint8_t> LoadRecord(const std::string &path, size_t size) {
    std::vector<uint8_t> bytes;
    if (!path.empty()) ReadFileBytes(path, &bytes);
    bytes.resize(size, 0);
    return bytes;
}

// The host's device entry from the options.
std::vector<uint8_t> MakeEntry(const Command &c) {
    std::vector<uint8_t> e(HOST_ENTRY_SIZE, 0);
    uint16_t port = static_cast<uint16_t>(atoi(c.get("--port-number", "1").c_str()));
    std::memcpy(e.data() + HOST_ENTRY_PORT_NUMBER, &port, sizeof port);
    std::string name = c.get("--name"), folder = c.get("--folder");
    std::memcpy(e.data() + HOST_ENTRY_NAME, name.data(),
                std::min<size_t>(name.size(), HOST_ENTRY_NAME_SIZE));
    std::memcpy(e.data() + HOST_ENTRY_FOLDER, folder.data(),
                std::min<size_t>(folder.size(), HOST_ENTRY_FOLDER_SIZE));
    std::string kinds = c.get("--kinds");
    std::stringstream list(kinds);
    std::string item;
    for (int k = 0; k < HOST_ENTRY_KIND_COUNT && std::getline(list, item, ','); ++k) {
        if (item.empty()) continue;
        size_t colon = item.find(':');
        std::string id = item.substr(0, colon);
        uint16_t count =
            colon == std::string::npos ? 0 : static_cast<uint16_t>(atoi(item.c_str() + colon + 1));
        uint8_t *p = e.data() + HOST_ENTRY_KINDS + 4 * k;
        std::memcpy(p, id.data(), std::min<size_t>(id.size(), 2));
        std::memcpy(p + 2, &count, sizeof count);
    }
    return e;
}

bool Resolve(void *module, Exports *x, std::ostream &err) {
    struct {
        const char *name;
        void **slot;
    } table[] = {
        {"DLL_SetHostServices", reinterpret_cast<void **>(&x->setHostServices)},
        {"DLL_ConfigAdvanDevSpecific", reinterpret_cast<void **>(&x->advanced)},
        {"DLL_ConfigChanDevSpecific", reinterpret_cast<void **>(&x->channel)},
        {"DLL_PasteChannel", reinterpret_cast<void **>(&x->paste)},
        {"PrintAllConfig", reinterpret_cast<void **>(&x->printAll)},
        {"PrintConfig", reinterpret_cast<void **>(&x->print)},
    };
    for (auto &t : table) {
        *t.slot = plat_ModuleSymbol(module, t.name);
        if (*t.slot == nullptr) {
            err << "kvt-cfgtool: the module has no " << t.name << "\n";
            return false;
        }
    }
    return true;
}

int Print(const Command &c, const Exports &x, Host &host, std::ostream &out, std::ostream &err) {
    std::unique_ptr<PrinterDC> dc;
    if (c.has("--pdf"))
        dc = std::make_unique<PdfPrinterDC>(c.get("--pdf"));
    else if (c.has("--text"))
        dc = std::make_unique<TextPrinterDC>(c.get("--text"));
    else {
        err << "kvt-cfgtool: print needs --pdf FILE or --text FILE\n";
        return 2;
    }
    if (!c.has("--all") && !c.has("--kind")) {
        err << "kvt-cfgtool: print needs --all or --kind K\n";
        return 2;
    }
    std::vector<uint8_t> entry = MakeEntry(c);
    std::string server = c.get("--server");
    if (dc->StartDoc(c.get("--folder", "configuration").c_str()) <= 0) {
        err << "kvt-cfgtool: cannot start the document\n";
        return 1;
    }
    int rc, error = 0;
    std::string step;
    // A failure that sets no number shows as error 0, never as an earlier call's number.
    errno = 0;
    if (c.has("--all")) {
        step = "print --all";
        rc = x.printAll(dc.get(), server.c_str(), entry.data(), 0, 0, 0, 0, nullptr, nullptr);
        error = errno;
    } else {
        step = "print --kind " + c.get("--kind");
        std::vector<uint8_t> record = LoadRecord(c.get("--record"), HOST_DEVICE_RECORD_SIZE);
        rc = x.print(dc.get(), server.c_str(), entry.data(), atoi(c.get("--kind").c_str()),
                     atoi(c.get("--first", "0").c_str()), atoi(c.get("--last", "0").c_str()),
                     reinterpret_cast<const DeviceConfig *>(record.data() + HOST_DEVICE_CONFIG),
                     nullptr);
        error = errno;
    }
    int ended = dc->EndDoc();
    out << "result " << rc << "\n";
    out << "wait cursor " << host.waits << "\n";
    if (rc < 0) {
        if (c.has("--folder")) step += " of " + c.get("--folder");
        err << "kvt-cfgtool: " << step << " failed: " << cfgtool_ErrorText(error) << "\n";
    }
    if (ended <= 0) {
        err << "kvt-cfgtool: the document could not be written\n";
        return 1;
    }
    return rc < 0 ? 1 : 0;
}

} // namespace

std::string cfgtool_ErrorText(int error) {
    std::string text = "error " + std::to_string(error);
    // The module keeps Windows numbers in errno; only those that mean what the C library's
    // numbers mean get its text (5 is "access denied" there, not an I/O error; 33 a lock
    // violation, not a domain error).
    switch (error) {
    case WERR_FILE_NOT_FOUND:
    case ENOMEM:
    case EINVAL:
    case ERANGE:
    case KVT_ENOTSUPP:
        text += std::string(" (") + plat_ErrnoText(error) + ")";
        break;
    default:
        break;
    }
    return text;
}

int cfgtool_Main(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
    Command c;
    std::string error;
    if (!ParseArgs(args, &c, &error)) {
        err << "kvt-cfgtool: " << error << "\n";
        return 2;
    }
    std::string modulePath = c.get("--module");
    if (modulePath.empty()) {
        const char *bin = getenv("KVT_BIN");
        modulePath = std::string(bin != nullptr ? bin : ".") + "/KSTRN_CF.so";
    }
    void *module = plat_ModuleLoad(modulePath.c_str());
    if (module == nullptr) {
        err << "kvt-cfgtool: cannot load " << modulePath << "\n";
        return 2;
    }
    // The module stays loaded while the tool uses it, and is released at the end.
    std::unique_ptr<void, void (*)(void *)> keep(module, plat_ModuleFree);
    Exports x;
    if (!Resolve(module, &x, err)) return 2;

    Host host;
    host.out = &out;
    host.portNumber = static_cast<uint16_t>(atoi(c.get("--port-number", "1").c_str()));
    host.yesNoAnswer = c.get("--answer", "yes") == "no" ? PLAT_IDNO : PLAT_IDYES;
    if (c.has("--script")) {
        std::ifstream in(c.get("--script"));
        if (!in) {
            err << "kvt-cfgtool: cannot read " << c.get("--script") << "\n";
            return 2;
        }
        for (std::string line; std::getline(in, line);)
            host.script.push_back(line);
    }
    KstrnHostServices services{};
    services.size = sizeof services;
    services.host = &host;
    services.defaultPortNumber = HostPortNumber;
    services.runModal = HostRunModal;
    services.messageBox = HostMessageBox;
    services.showHelp = HostShowHelp;
    services.waitCursor = HostWaitCursor;
    x.setHostServices(&services);

    int status = 0;
    if (c.verb == "print") {
        status = Print(c, x, host, out, err);
    } else if (c.verb == "advanced" || c.verb == "channel") {
        std::string path = c.get("--record");
        if (path.empty()) {
            err << "kvt-cfgtool: " << c.verb << " needs --record FILE\n";
            status = 2;
        } else {
            bool advanced = c.verb == "advanced";
            std::vector<uint8_t> record =
                LoadRecord(path, advanced ? HOST_DEVICE_RECORD_SIZE : kChannelRecordSize);
            int changed = 0;
            if (advanced)
                x.advanced(nullptr, record.data(), &changed);
            else
                x.channel(nullptr, nullptr, atoi(c.get("--kind", "0").c_str()), nullptr,
                          reinterpret_cast<ChannelRecord *>(record.data()), &changed);
            out << "changed " << changed << "\n";
            if (changed && !WriteFileBytes(path, record.data(), record.size())) {
                err << "kvt-cfgtool: cannot write " << path << "\n";
                status = 1;
            }
        }
    } else if (c.verb == "paste") {
        if (!c.has("--from") || !c.has("--to") || !c.has("--kind")) {
            err << "kvt-cfgtool: paste needs --kind K --from FILE --to FILE\n";
            status = 2;
        } else {
            std::vector<uint8_t> from = LoadRecord(c.get("--from"), kChannelRecordSize);
            std::vector<uint8_t> to = LoadRecord(c.get("--to"), kChannelRecordSize);
            // One file for both: the record is pasted onto itself.
            uint8_t *source = c.get("--from") == c.get("--to") ? to.data() : from.data();
            int done = 0;
            x.paste(nullptr, nullptr, atoi(c.get("--kind").c_str()), nullptr,
                    reinterpret_cast<ChannelRecord *>(to.data()),
                    reinterpret_cast<ChannelRecord *>(source), &done);
            out << "done " << done << "\n";
            if (!WriteFileBytes(c.get("--to"), to.data(), to.size())) status = 1;
        }
    } else {
        err << "kvt-cfgtool: unknown command " << c.verb << "\n";
        status = 2;
    }
    x.setHostServices(nullptr);
    if (host.state.failed) {
        err << "kvt-cfgtool: " << host.state.failure << "\n";
        out << host.state.failure << "\n";
        return 1;
    }
    return status;
}
