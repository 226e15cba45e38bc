#include "sim_runtime.h"

#include "env.h"
#include "msl.h"
#include "plat_mailslot.h"
#include "plat_shm.h"
#include "plat_system.h"

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {
SimRuntime *g_active = nullptr; // receiver of the own mailslot's codes

void onCode(int code) {
    if (g_active != nullptr) g_active->record("runtime", &code, sizeof code);
}

void makeFolders(const std::string &path) {
    std::string partial;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (!partial.empty()) mkdir(partial.c_str(), 0777);
        }
        if (i < path.size()) partial += path[i];
    }
}

void copyText(char *field, size_t size, const std::string &text) {
    memset(field, 0, size);
    memcpy(field, text.data(), std::min(size, text.size()));
}

// Pids of the loggers: never a real process id.
constexpr int32_t k_loggerPidBase = 0x40000000;
} // namespace

struct SimRuntime::Binding {
    std::string receiver;
    PlatMailslot slot{-1, -1};
    int size = 4;
    std::thread reader;
};

SimRuntime::SimRuntime(const SimDescription &description) : description_(description) {
    startMs_ = nowMs();
    prefix_ = plat_IpcPrefix();
    platformId_ = env_GetOsPlatformId();
}

SimRuntime::~SimRuntime() {
    shutdown();
}

int64_t SimRuntime::nowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() - startMs_;
}

int SimRuntime::fail(const std::string &text) {
    lastError_ = text;
    return -1;
}

const SimDeviceDesc *SimRuntime::device(int number) const {
    for (const SimDeviceDesc &d : description_.devices)
        if (d.number == number) return &d;
    return nullptr;
}

const SimTableDesc *SimRuntime::table(const std::string &id) const {
    std::string wanted = sim_TableId(id);
    for (const SimTableDesc &t : description_.tables)
        if (t.id == wanted) return &t;
    return nullptr;
}

void SimRuntime::record(const std::string &receiver, const void *bytes, int length) {
    SimReceived r;
    r.receiver = receiver;
    r.bytes.assign(static_cast<const uint8_t *>(bytes),
                   static_cast<const uint8_t *>(bytes) + length);
    if (length >= 4) memcpy(&r.code, bytes, 4);
    r.atMs = nowMs();
    {
        std::lock_guard<std::mutex> guard(receivedLock_);
        r.sequence = nextSequence_++;
        received_.push_back(std::move(r));
    }
    receivedChanged_.notify_all();
}

std::vector<SimReceived> SimRuntime::received() {
    std::lock_guard<std::mutex> guard(receivedLock_);
    return received_;
}

int SimRuntime::bind(const std::string &receiver, const std::string &slotName, int size) {
    auto b = std::make_unique<Binding>();
    b->receiver = receiver;
    b->size = size;
    if (plat_MailslotCreate(&b->slot, slotName.c_str()) != 0)
        return fail("cannot bind mailslot " + slotName + " (" + std::to_string(errno) + ")");
    Binding *raw = b.get();
    raw->reader = std::thread([this, raw] {
        std::vector<uint8_t> buffer(PLAT_MAILSLOT_MAX_MESSAGE);
        for (;;) {
            int n =
                plat_MailslotReceive(&raw->slot, buffer.data(), static_cast<int>(buffer.size()));
            if (n < 0) {
                if (errno == 995) return;
                continue;
            }
            record(raw->receiver, buffer.data(), std::min(n, static_cast<int>(buffer.size())));
        }
    });
    bindings_.push_back(std::move(b));
    return 0;
}

int SimRuntime::unbind(const std::string &receiver) {
    for (auto it = bindings_.begin(); it != bindings_.end(); ++it) {
        Binding &b = **it;
        if (b.receiver != receiver) continue;
        plat_MailslotWake(&b.slot);
        if (b.reader.joinable()) b.reader.join();
        plat_MailslotDestroy(&b.slot);
        bindings_.erase(it);
        return 0;
    }
    return fail("no receiver " + receiver);
}

int SimRuntime::create() {
    if (created_) return 0;
    const SimDescription &d = description_;
    if (d.root.empty()) return fail("the description has no root");
    for (const char *sub : {"CURRENT_CONFIG", "SAVED_VALUES", "bin", "ports", "registry"})
        makeFolders(d.root + "/" + sub);
    plat_ShmUnlinkAll();

    auto make = [&](const std::string &name, int64_t payload) -> SegmentHeader * {
        if (payload > INT32_MAX - 4096) {
            fail("segment " + name + " too large");
            return nullptr;
        }
        int32_t length = static_cast<int32_t>(payload);
        SegmentHeader *seg = d.oldLayout ? shm_OpenOrCreateOldSegment(name.c_str(), length)
                                         : shm_OpenOrCreateSegment(name.c_str(), length);
        if (seg == SHM_NO_SEGMENT) {
            fail("cannot create segment " + name + " (" + std::to_string(errno) + ")");
            return nullptr;
        }
        return seg;
    };

    int32_t devices = static_cast<int32_t>(d.devices.size());
    int32_t processes = static_cast<int32_t>(d.processes.size());
    int32_t loggers = static_cast<int32_t>(d.loggers.size());
    SegmentHeader *dev = make("dm_device", 4 + 790LL * devices);
    SegmentHeader *proc = make("dm_datproc", 4 + 60LL * processes);
    const int64_t loggerBytes =
        d.loggersLong ? DM_LOGGER_SIZE + DM_LOGGER_SECOND_SIZE : DM_LOGGER_SIZE;
    SegmentHeader *logs = make("dm_loggers", 4 + loggerBytes * loggers);
    const int32_t errors = std::max<int32_t>(d.errors, static_cast<int32_t>(d.errorEntries.size()));
    SegmentHeader *errs = make("dm_errors", 4 + 443LL * errors);
    if (!dev || !proc || !logs || !errs) return -1;

    uint8_t *p = shm_Payload(dev);
    memcpy(p, &devices, 4);
    for (int32_t i = 0; i < devices; ++i) {
        const SimDeviceDesc &dd = d.devices[static_cast<size_t>(i)];
        auto *slot = reinterpret_cast<DeviceSlot *>(p + 4 + 788LL * i);
        copyText(slot->typeName, sizeof slot->typeName, dd.type);
        copyText(slot->deviceName, sizeof slot->deviceName, dd.name);
        slot->deviceNumber = static_cast<uint16_t>(dd.number);
        copyText(slot->folder, sizeof slot->folder, dd.folder);
        for (int k = 0; k < DM_KIND_IDS; ++k)
            copyText(slot->kindIds[k], 2, dd.ids[k]);
        copyText(reinterpret_cast<char *>(p + 4 + 788LL * devices + 2 * i), 2, dd.ids[5]);
        // The DeviceConfig copy: the record stored from byte 1 of the device's config file.
        std::ifstream config(d.root + "/CURRENT_CONFIG/" + dd.folder + "/config", std::ios::binary);
        if (config) {
            config.seekg(1);
            config.read(reinterpret_cast<char *>(slot->deviceConfig), sizeof slot->deviceConfig);
        }
    }
    p = shm_Payload(proc);
    memcpy(p, &processes, 4);
    int32_t self = static_cast<int32_t>(getpid());
    for (int32_t i = 0; i < processes; ++i) {
        const SimProcessDesc &pd = d.processes[static_cast<size_t>(i)];
        auto *e = reinterpret_cast<DataProcessEntry *>(p + 4 + 60LL * i);
        copyText(e->name, sizeof e->name, pd.name);
        copyText(e->displayName, sizeof e->displayName, pd.name);
        copyText(e->tableId, 2, pd.id);
        e->kindFlag = static_cast<uint8_t>(pd.kindFlag);
        e->enabled = static_cast<uint8_t>(pd.enabled);
        e->attribute = static_cast<uint8_t>(pd.attribute);
        e->pid = self;
    }
    p = shm_Payload(logs);
    memcpy(p, &loggers, 4);
    for (int32_t i = 0; i < loggers; ++i) {
        const SimLoggerDesc &ld = d.loggers[static_cast<size_t>(i)];
        auto *e = reinterpret_cast<LoggerEntry *>(p + 4 + 172LL * i);
        copyText(e->typeName, sizeof e->typeName, ld.type);
        e->active = static_cast<uint8_t>(ld.active);
        e->state = static_cast<uint8_t>(ld.state);
        e->pid = k_loggerPidBase + i;
        copyText(e->name, sizeof e->name - 1, ld.name);
        e->realTimeLog = ld.rtlog;
        if (!d.loggersLong) continue;
        auto *second = reinterpret_cast<LoggerSecondEntry *>(
            p + 4 + 172LL * loggers + static_cast<int64_t>(DM_LOGGER_SECOND_SIZE) * i);
        copyText(second->folder, sizeof second->folder - 1, ld.folder);
        copyText(second->connection, sizeof second->connection - 1, ld.connection);
    }
    memcpy(shm_Payload(errs), &errors, 4);
    for (size_t i = 0; i < d.errorEntries.size(); ++i) {
        const SimErrorDesc &ed = d.errorEntries[i];
        uint8_t *shortEntry = shm_Payload(errs) + 4 + 57 * i;
        shortEntry[0] = static_cast<uint8_t>(ed.kind);
        copyText(reinterpret_cast<char *>(shortEntry + 1), 24, ed.name);
        copyText(reinterpret_cast<char *>(shortEntry + 26), 29, ed.text);
        SystemErrorEntry entry{};
        entry.kind = static_cast<uint8_t>(ed.kind);
        copyText(entry.name, sizeof entry.name - 1, ed.name);
        copyText(entry.text, sizeof entry.text - 1, ed.text);
        memcpy(shm_Payload(errs) + 4 + 57LL * errors + 386LL * static_cast<int64_t>(i), &entry,
               sizeof entry);
    }

    for (const SimTableDesc &t : d.tables) {
        int64_t n = t.channels;
        int64_t rowBytes = (n + 7) >> 3;
        SegmentHeader *data =
            make("dm_" + t.id, 20 + t.bytesPerChannel * n + (t.runtimeRecords ? 264 * n : 0));
        if (!data || !make("dm_" + t.id + "_conf", 216 * n) ||
            !make("dm_" + t.id + "_event", (1 + loggers) * rowBytes))
            return -1;
        auto *h = reinterpret_cast<ChannelTableHeader *>(shm_Payload(data));
        memcpy(h->tableId, t.id.data(), std::min<size_t>(2, t.id.size()));
        h->tableType = static_cast<uint16_t>(t.bytesPerChannel);
        h->channelCount = static_cast<uint16_t>(t.channels);
    }
    created_ = true;

    g_active = this;
    if (msl_Open(onCode) == nullptr && errno != 0)
        return fail("cannot open the notification mailslot (" + std::to_string(errno) + ")");
    mailslotOpen_ = true;
    for (int32_t i = 0; i < loggers; ++i) {
        uint32_t pid = static_cast<uint32_t>(k_loggerPidBase + i);
        if (bind("logger " + d.loggers[static_cast<size_t>(i)].name, msl_ProcessSlotName(pid), 4))
            return -1;
    }
    for (const SimProcessDesc &pd : d.processes) {
        if (pd.enabled && pd.name == "ALARM" && bind("xalarms", "xalarms", 296) != 0) return -1;
        if (pd.enabled && pd.name == "DERIVED" && bind("derived", "derived", 2) != 0) return -1;
    }
    for (const std::string &statement : d.replies)
        pipe_.script(statement);
    if (!pipe_.start()) return fail("cannot open the runtime pipe (" + std::to_string(errno) + ")");
    return startEndpoints();
}

int SimRuntime::startEndpoints() {
    const SimDescription &d = description_;
    if (d.tls.empty() && d.soap.empty() && d.soapTls.empty()) return 0;
    SimNetSettings base;
    base.user = d.user;
    base.password = d.password;
    base.filesRoot = d.files;
    if (!d.tls.empty() || !d.soapTls.empty()) {
        if (!d.certFile.empty()) {
            std::ifstream cert(d.certFile), key(d.keyFile.empty() ? d.certFile : d.keyFile);
            std::stringstream c, k;
            c << cert.rdbuf();
            k << key.rdbuf();
            base.certPem = c.str();
            base.keyPem = k.str();
            if (base.certPem.empty()) return fail("cannot read the certificate " + d.certFile);
        } else if (!sim_MakeCertificate(false, &base.certPem, &base.keyPem)) {
            return fail("cannot make a certificate");
        }
        if (!d.certOut.empty()) {
            std::ofstream out(d.certOut);
            out << base.certPem;
            if (!out) return fail("cannot write " + d.certOut);
        }
    }
    auto open = [&](const std::string &at, SimNetKind kind,
                    std::unique_ptr<SimNetEndpoint> *endpoint) -> int {
        if (at.empty()) return 0;
        SimNetSettings settings = base;
        settings.kind = kind;
        if (!sim_ParseAddress(at, &settings.address, &settings.port))
            return fail("bad address '" + at + "'");
        auto e = std::make_unique<SimNetEndpoint>(settings);
        for (const std::string &statement : d.replies)
            e->script(statement);
        if (!e->start()) return fail(e->error());
        *endpoint = std::move(e);
        return 0;
    };
    if (open(d.tls, SimNetKind::Tls, &tls_) != 0 || open(d.soap, SimNetKind::Soap, &soap_) != 0 ||
        open(d.soapTls, SimNetKind::SoapTls, &soapTls_) != 0)
        return -1;
    return 0;
}

std::string SimRuntime::showRequests() {
    std::string text = pipe_.formatRequests();
    for (SimNetEndpoint *e : {tls_.get(), soap_.get(), soapTls_.get()})
        if (e != nullptr) text += e->formatRequests();
    return text;
}

void SimRuntime::shutdown() {
    std::lock_guard<std::mutex> guard(shutdownLock_);
    for (auto &entry : scanners_) {
        if (entry.second.exited || entry.second.pid <= 0) continue;
        int status = 0;
        if (stop(entry.first, &status, k_waitMs) != 0) {
            kill(entry.second.pid, SIGKILL);
            reap(entry.first, true, k_waitMs);
        }
    }
    for (auto &b : bindings_) {
        plat_MailslotWake(&b->slot);
        if (b->reader.joinable()) b->reader.join();
        plat_MailslotDestroy(&b->slot);
    }
    bindings_.clear();
    pipe_.stop();
    for (SimNetEndpoint *e : {tls_.get(), soap_.get(), soapTls_.get()})
        if (e != nullptr) e->stop();
    if (mailslotOpen_) {
        msl_Close();
        mailslotOpen_ = false;
    }
    if (g_active == this) g_active = nullptr;
    if (created_) {
        std::string current = plat_IpcPrefix();
        if (current != prefix_) setenv("KVT_IPC_PREFIX", prefix_.c_str(), 1);
        plat_ShmUnlinkAll();
        if (current != prefix_) setenv("KVT_IPC_PREFIX", current.c_str(), 1);
        created_ = false;
    }
}
