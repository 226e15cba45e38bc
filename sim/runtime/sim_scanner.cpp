#include "sim_runtime.h"

#include "msl.h"

#include <cerrno>
#include <csignal>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {
constexpr int32_t k_stop = 31;
constexpr int32_t k_scan = 300;
constexpr int32_t k_written = 305;

void sleepBriefly() {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

bool timeSet(const TimeStamp &t) {
    return t.seconds != 0 || t.milliseconds != 0;
}
} // namespace

std::vector<std::string> SimRuntime::environment(int number) const {
    const SimDescription &d = description_;
    std::vector<std::pair<std::string, std::string>> set = {
        {"KVT_CURRENT_CONFIG", d.root + "/CURRENT_CONFIG"},
        {"KVT_SAVED_VALUES", d.root + "/SAVED_VALUES"},
        {"KVT_BIN", d.bin.empty() ? d.root + "/bin" : d.bin},
        {"KVT_SERIAL_DIR", d.root + "/ports"},
        {"KVT_REGISTRY_ROOT", d.root + "/registry"},
        {"KVT_IPC_PREFIX", prefix_},
        {"KVT_PLATFORM_ID", std::to_string(platformId_)},
    };
    (void)number;
    std::vector<std::string> env;
    for (char **e = environ; e != nullptr && *e != nullptr; ++e) {
        std::string entry(*e);
        bool replaced = false;
        for (const auto &kv : set)
            if (entry.compare(0, kv.first.size() + 1, kv.first + "=") == 0) replaced = true;
        if (!replaced) env.push_back(entry);
    }
    for (const auto &kv : set)
        env.push_back(kv.first + "=" + kv.second);
    return env;
}

DeviceSlot *SimRuntime::slotPointer(int number) {
    SegmentHeader *seg = shm_OpenSegment("dm_device");
    if (seg == SHM_NO_SEGMENT) return nullptr;
    for (size_t i = 0; i < description_.devices.size(); ++i)
        if (description_.devices[i].number == number)
            return reinterpret_cast<DeviceSlot *>(shm_Payload(seg) + 4 + 788 * i);
    return nullptr;
}

std::vector<std::pair<int, SegmentHeader *>> SimRuntime::dataSegments(int number) {
    std::vector<std::pair<int, SegmentHeader *>> out;
    const SimDeviceDesc *d = device(number);
    if (d == nullptr) return out;
    for (int k = 0; k < DM_KIND_IDS; ++k) {
        if (d->ids[k].empty() || table(d->ids[k]) == nullptr) continue;
        SegmentHeader *seg = shm_OpenSegment(("dm_" + d->ids[k]).c_str());
        if (seg != SHM_NO_SEGMENT) out.emplace_back(k, seg);
    }
    return out;
}

int SimRuntime::start(int number) {
    if (!created_) return fail("the runtime is not created");
    if (device(number) == nullptr) return fail("no device " + std::to_string(number));
    if (running(number)) return fail("scanner " + std::to_string(number) + " is running");
    if (description_.scanner.empty()) return fail("the description names no scanner");
    SegmentHeader *dev = shm_OpenSegment("dm_device");
    DeviceSlot *slot = slotPointer(number);
    // A stopped scanner clears only its running flag: start from a clean slot.
    shm_Lock(dev);
    slot->running = 0;
    slot->scanDuration = 0;
    memset(&slot->nextScan, 0, sizeof slot->nextScan);
    slot->initialising = 0;
    slot->pid = 0;
    slot->configured = 0;
    shm_Unlock(dev);

    std::string log = description_.root + "/scanner-" + std::to_string(number) + ".log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    // Its own process group: an interrupt at the terminal reaches the stand-in, which then
    // stops the scanner the way the runtime server does.
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                        POSIX_SPAWN_SETPGROUP);

    std::string numberText = std::to_string(number);
    std::vector<char *> argv = {const_cast<char *>(description_.scanner.c_str()),
                                const_cast<char *>(numberText.c_str()), nullptr};
    std::vector<std::string> env = environment(number);
    std::vector<char *> envp;
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return fail("cannot start " + description_.scanner + ": " + strerror(rc));
    scanners_[number] = Scanner{pid, false, 0};
    return 0;
}

int SimRuntime::reap(int number, bool wait, int timeoutMs) {
    auto it = scanners_.find(number);
    if (it == scanners_.end() || it->second.pid <= 0)
        return fail("scanner " + std::to_string(number) + " was not started");
    Scanner &s = it->second;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!s.exited) {
        int status = 0;
        pid_t r = wait4(s.pid, &status, WNOHANG, &s.usage);
        if (r == s.pid) {
            s.exited = true;
            s.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (r < 0 && errno != EINTR) {
            s.exited = true;
            s.exitStatus = -1;
            break;
        }
        if (!wait || std::chrono::steady_clock::now() >= deadline) return -1;
        sleepBriefly();
    }
    return 0;
}

bool SimRuntime::running(int number) {
    auto it = scanners_.find(number);
    if (it == scanners_.end() || it->second.pid <= 0) return false;
    reap(number, false, 0);
    return !it->second.exited;
}

bool SimRuntime::scannerUsage(int number, struct rusage *out) {
    auto it = scanners_.find(number);
    if (it == scanners_.end() || it->second.pid <= 0 || !it->second.exited) return false;
    *out = it->second.usage;
    return true;
}

pid_t SimRuntime::scannerPid(int number) {
    auto it = scanners_.find(number);
    return it == scanners_.end() ? 0 : it->second.pid;
}

int SimRuntime::waitReady(int number, int timeoutMs) {
    auto it = scanners_.find(number);
    if (it == scanners_.end())
        return fail("scanner " + std::to_string(number) + " was not started");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        DeviceSlot s;
        if (slot(number, &s) && s.pid == it->second.pid && s.configured == 1 &&
            s.initialising == 0 && timeSet(s.nextScan))
            return 0;
        if (!running(number))
            return fail("scanner " + std::to_string(number) + " ended with " +
                        std::to_string(it->second.exitStatus));
        if (std::chrono::steady_clock::now() >= deadline)
            return fail("scanner " + std::to_string(number) + " not ready in time");
        sleepBriefly();
    }
}

int SimRuntime::post(int number, int32_t code) {
    DeviceSlot s;
    if (!slot(number, &s)) return fail("no device " + std::to_string(number));
    if (s.pid <= 0) return fail("device " + std::to_string(number) + " has no scanner pid");
    if (msl_PostCode(static_cast<uint32_t>(s.pid), code) != 0)
        return fail("cannot post " + std::to_string(code) + " (" + std::to_string(errno) + ")");
    return 0;
}

uint64_t SimRuntime::sequenceNow() {
    std::lock_guard<std::mutex> guard(receivedLock_);
    return nextSequence_ - 1;
}

int SimRuntime::requestScan(int number, std::vector<int32_t> *expected, uint64_t *mark) {
    expected->clear();
    *mark = sequenceNow();
    const SimDeviceDesc *d = device(number);
    for (auto &[k, seg] : dataSegments(number)) {
        // One code per table of the description, so that a code names its table whichever
        // device published it.
        const SimTableDesc *t = table(d->ids[k]);
        int32_t code = k_oneShotBase + static_cast<int32_t>(t - description_.tables.data());
        if (shm_RequestNotify(seg, code) != 0)
            return fail("notify table of " + std::string(seg->name) + " is full");
        expected->push_back(code);
    }
    return post(number, k_scan);
}

bool SimRuntime::codesSince(uint64_t mark, const std::vector<int32_t> &expected) {
    for (int32_t code : expected) {
        bool seen = false;
        for (auto it = received_.rbegin(); it != received_.rend() && it->sequence > mark; ++it)
            if (it->receiver == "runtime" && it->code == code) seen = true;
        if (!seen) return false;
    }
    return true;
}

bool SimRuntime::waitCodes(uint64_t mark, const std::vector<int32_t> &expected, int timeoutMs) {
    std::unique_lock<std::mutex> lock(receivedLock_);
    return receivedChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return codesSince(mark, expected); });
}

int SimRuntime::scan(int number, int timeoutMs) {
    std::vector<int32_t> expected;
    uint64_t mark = 0;
    if (requestScan(number, &expected, &mark) != 0) return -1;
    if (!waitCodes(mark, expected, timeoutMs))
        return fail("scan of device " + std::to_string(number) + " not finished in time");
    return 0;
}

int SimRuntime::stop(int number, int *exitStatus, int timeoutMs) {
    if (!running(number)) return fail("scanner " + std::to_string(number) + " is not running");
    if (post(number, k_stop) != 0) {
        // Not yet registered in its slot: the stop cannot reach it, end it.
        kill(scanners_[number].pid, SIGTERM);
    }
    return waitExit(number, exitStatus, timeoutMs);
}

int SimRuntime::waitExit(int number, int *exitStatus, int timeoutMs) {
    if (reap(number, true, timeoutMs) != 0)
        return fail("scanner " + std::to_string(number) + " did not end in time");
    if (exitStatus != nullptr) *exitStatus = scanners_[number].exitStatus;
    return 0;
}

bool SimRuntime::slot(int number, DeviceSlot *out) {
    DeviceSlot *s = slotPointer(number);
    if (s == nullptr) return false;
    SegmentHeader *seg = shm_OpenSegment("dm_device");
    shm_Lock(seg);
    memcpy(out, s, sizeof *out);
    shm_Unlock(seg);
    return true;
}

bool SimRuntime::tableHeader(const std::string &id, ChannelTableHeader *out) {
    if (table(id) == nullptr) return false;
    SegmentHeader *seg = shm_OpenSegment(("dm_" + sim_TableId(id)).c_str());
    if (seg == SHM_NO_SEGMENT) return false;
    return shm_Read(seg, out, 0, sizeof *out) == 0;
}

std::vector<uint32_t> SimRuntime::statuses(const std::string &id) {
    std::vector<uint32_t> out;
    const SimTableDesc *t = table(id);
    if (t == nullptr) return out;
    SegmentHeader *seg = shm_OpenSegment(("dm_" + t->id).c_str());
    if (seg == SHM_NO_SEGMENT) return out;
    out.resize(static_cast<size_t>(t->channels));
    if (!out.empty()) shm_Read(seg, out.data(), 20, 4 * t->channels);
    return out;
}

std::vector<float> SimRuntime::values(const std::string &id) {
    std::vector<float> out;
    const SimTableDesc *t = table(id);
    if (t == nullptr || t->bytesPerChannel != 8) return out;
    SegmentHeader *seg = shm_OpenSegment(("dm_" + t->id).c_str());
    if (seg == SHM_NO_SEGMENT) return out;
    out.resize(static_cast<size_t>(t->channels));
    if (!out.empty()) shm_Read(seg, out.data(), 20 + 4 * t->channels, 4 * t->channels);
    return out;
}

int SimRuntime::write(const std::string &id, int channel, double value) {
    const SimTableDesc *t = table(id);
    if (t == nullptr) return fail("no table " + id);
    if (channel < 1 || channel > t->channels)
        return fail("table " + t->id + " has no channel " + std::to_string(channel));
    SegmentHeader *seg = shm_OpenSegment(("dm_" + t->id).c_str());
    if (seg == SHM_NO_SEGMENT) return fail("no segment dm_" + t->id);
    if (shm_Lock(seg) != 0) return fail("cannot lock dm_" + t->id);
    uint8_t *values = shm_Payload(seg) + 20;
    if (t->bytesPerChannel == 4) {
        uint32_t status;
        memcpy(&status, values + 4 * (channel - 1), 4);
        status = value != 0 ? (status | 1u) : (status & ~1u);
        memcpy(values + 4 * (channel - 1), &status, 4);
    } else {
        float f = static_cast<float>(value);
        memcpy(values + 4 * t->channels + 4 * (channel - 1), &f, 4);
    }
    shm_Unlock(seg);
    // The owner: the device that holds the table, else the data process (this stand-in).
    int32_t owner = 0;
    for (const SimDeviceDesc &d : description_.devices)
        for (const std::string &kid : d.ids)
            if (kid == t->id) {
                DeviceSlot s;
                if (slot(d.number, &s)) owner = s.pid;
            }
    for (const SimProcessDesc &p : description_.processes)
        if (owner == 0 && p.id == t->id) owner = static_cast<int32_t>(getpid());
    if (owner > 0 && msl_PostCode(static_cast<uint32_t>(owner), k_written) != 0)
        return fail("cannot post 305 to " + std::to_string(owner));
    return 0;
}

std::string SimRuntime::errorTexts() {
    std::string out;
    SegmentHeader *seg = shm_OpenSegment("dm_errors");
    if (seg == SHM_NO_SEGMENT) return out;
    int32_t e = 0;
    memcpy(&e, shm_Payload(seg), 4);
    shm_Lock(seg);
    for (int32_t i = 0; i < e; ++i) {
        SystemErrorEntry entry;
        memcpy(&entry, shm_Payload(seg) + 4 + 57 * e + 386 * i, sizeof entry);
        std::string name(entry.name, strnlen(entry.name, sizeof entry.name));
        std::string text(entry.text, strnlen(entry.text, sizeof entry.text));
        if (!name.empty() || !text.empty())
            out += "error " + std::to_string(i) + ": kind=" + std::to_string(entry.kind) +
                   " name=" + name + " text=" + text + "\n";
    }
    shm_Unlock(seg);
    return out;
}
