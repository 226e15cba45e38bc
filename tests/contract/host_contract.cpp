// A runtime server in miniature, written from the README's "Hosting the scanner" alone: it
// creates the objects of one S5 device with plain POSIX calls and its own records, serves the
// device's port with the controller simulator, starts the real scanner, asks for one scan and
// checks what the scanner wrote and posted. It includes no header of the tree on purpose: if
// the README and the scanner part ways, this program fails.
//
//   host_contract <KSTRN_SC> <s5sim> [--no-ready-word] [--deadline-ms N]
//
// Exit 0 when every check held, 1 otherwise (the reason on standard error).
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <stddef.h>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <tuple>
#include <vector>

extern char **environ;
namespace fs = std::filesystem;

namespace {
// --- The records, as the README gives them -------------------------------------------------
#pragma pack(push, 1)
struct Header { // 128 bytes at the start of every segment
    int16_t magic;
    uint8_t zero2[2];
    int32_t capacity;
    int32_t nameOffset;
    uint8_t zero12[20];
    int32_t controlOffset;
    uint8_t zero36[40];
    char name[32];
    int16_t updates;
    uint16_t lockOwner;
    int32_t payloadLength;
    int32_t lockRecursion;
    int32_t subscriberOffset;
    int32_t notifyOffset;
};
struct Slot { // 788 bytes per device in "dm_device" after the int32 count
    char type[9];
    char name[25];
    uint16_t number;
    char folder[12];
    char ids[5][2];
    uint8_t running;
    uint8_t reserved59;
    uint8_t config[704];
    int32_t scanDuration;
    int32_t nextSeconds;
    int16_t nextMs;
    uint16_t pad;
    uint8_t initialising;
    uint8_t reserved777[3];
    int32_t pid;
    uint8_t configured;
    uint8_t reserved785[3];
};
struct TableHeader { // 20 bytes at the start of a "dm_XX" payload
    char id[2];
    uint16_t type;
    uint16_t channels;
    int16_t status;
    int32_t lastScanMs;
    int32_t stampSeconds;
    int16_t stampMs;
    uint16_t pad;
};
#pragma pack(pop)
static_assert(sizeof(Header) == 128 && offsetof(Header, name) == 76 &&
              offsetof(Header, payloadLength) == 112 && offsetof(Header, notifyOffset) == 124);
static_assert(sizeof(Slot) == 788 && offsetof(Slot, running) == 58 &&
              offsetof(Slot, config) == 60 && offsetof(Slot, initialising) == 776 &&
              offsetof(Slot, pid) == 780 && offsetof(Slot, configured) == 784);
static_assert(sizeof(TableHeader) == 20);

constexpr uint32_t k_ready = 0x4D555458;
constexpr int32_t k_scan = 300, k_stop = 31;

std::string g_prefix;
fs::path g_root;
bool g_readyWord = true;
std::vector<pid_t> g_children;

// Ends what was started and removes every object and folder made.
void cleanUp() {
    for (pid_t p : g_children)
        kill(p, SIGKILL);
    for (pid_t p : g_children)
        waitpid(p, nullptr, 0);
    g_children.clear();
    std::error_code ec;
    for (const auto &e : fs::directory_iterator("/dev/shm", ec))
        if (e.path().filename().string().rfind(g_prefix + ".", 0) == 0) fs::remove(e.path(), ec);
    if (!g_root.empty()) fs::remove_all(g_root, ec);
}

[[noreturn]] void fail(const std::string &why) {
    fprintf(stderr, "host_contract: %s\n", why.c_str());
    cleanUp();
    exit(1);
}

// --- Mutex objects and segments ------------------------------------------------------------
struct Segment {
    std::string name;
    uint8_t *base = nullptr;
    pthread_mutex_t *mutex = nullptr;
    uint8_t *payload() const { return base + 128; }
    Header *header() const { return reinterpret_cast<Header *>(base); }
};

void *createObject(const std::string &name, size_t size) {
    std::string path = "/" + g_prefix + "." + name;
    int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd < 0) fail("shm_open " + path + ": " + strerror(errno));
    fchmod(fd, 0666);
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) fail("ftruncate " + path);
    void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED) fail("mmap " + path);
    return p;
}

// The mutex object first, then the segment: whoever finds the segment finds its mutex.
Segment createSegment(const std::string &name, int32_t payload) {
    Segment s;
    s.name = name;
    auto *m = static_cast<uint8_t *>(createObject(name + ".mut", 64));
    s.mutex = reinterpret_cast<pthread_mutex_t *>(m);
    pthread_mutexattr_t a;
    pthread_mutexattr_init(&a);
    pthread_mutexattr_setpshared(&a, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(s.mutex, &a);
    pthread_mutexattr_destroy(&a);
    if (g_readyWord)
        std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t *>(m + 60))
            .store(k_ready, std::memory_order_release);

    int32_t pad = payload & 1;
    int32_t capacity = payload + pad + 544;
    s.base = static_cast<uint8_t *>(createObject(name, static_cast<size_t>(capacity) + 108));
    Header *h = s.header();
    h->magic = 0x4AFC;
    h->capacity = capacity;
    h->nameOffset = 76;
    h->controlOffset = 108;
    snprintf(h->name, sizeof h->name, "%s", name.c_str());
    h->payloadLength = payload;
    h->subscriberOffset = 128 + payload + pad;
    h->notifyOffset = h->subscriberOffset + 140;
    return s;
}

void lock(const Segment &s) {
    int rc = pthread_mutex_lock(s.mutex);
    if (rc == EOWNERDEAD) rc = pthread_mutex_consistent(s.mutex);
    if (rc != 0) fail("lock " + s.name);
}
void unlock(const Segment &s) {
    pthread_mutex_unlock(s.mutex);
}

// A one-shot entry: the long notify table starts 128 bytes after the notify offset.
void requestNotify(const Segment &s, int16_t code) {
    lock(s);
    uint8_t *e = s.base + s.header()->notifyOffset + 128;
    int32_t pid = getpid();
    memcpy(e, &pid, 4);
    memcpy(e + 4, &code, 2);
    unlock(s);
}

// --- Mailslots -----------------------------------------------------------------------------
socklen_t mailslotAddress(const std::string &name, sockaddr_un *a) {
    std::string text = g_prefix + "/mailslot/" + name;
    memset(a, 0, sizeof *a);
    a->sun_family = AF_UNIX;
    memcpy(a->sun_path + 1, text.data(), text.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + text.size());
}

int bindMailslot(const std::string &name) {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a;
    socklen_t len = mailslotAddress(name, &a);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), len) != 0)
        fail("bind mailslot " + name + ": " + strerror(errno));
    return fd;
}

void post(int32_t pid, int32_t code) {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a;
    socklen_t len = mailslotAddress("dm_" + std::to_string(pid) + ".slt", &a);
    if (sendto(fd, &code, 4, 0, reinterpret_cast<sockaddr *>(&a), len) != 4)
        fail("post " + std::to_string(code) + ": " + strerror(errno));
    close(fd);
}

// --- Time ----------------------------------------------------------------------------------
using Clock = std::chrono::steady_clock;
Clock::time_point g_deadline;

int msLeft() {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(g_deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

template <typename F>
void waitFor(const std::string &what, F condition) {
    while (!condition()) {
        if (msLeft() == 0) fail("deadline passed waiting for " + what);
        poll(nullptr, 0, 2);
    }
}

// --- The device folder ---------------------------------------------------------------------
void put(std::vector<uint8_t> &file, int channel, int offset, std::initializer_list<int> bytes) {
    size_t at = 8 + 216 * static_cast<size_t>(channel) + static_cast<size_t>(offset);
    for (int b : bytes)
        file[at++] = static_cast<uint8_t>(b);
}

void writeFile(const fs::path &path, const std::vector<uint8_t> &bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<long>(bytes.size()));
}

pid_t spawn(const std::vector<std::string> &args, const std::vector<std::string> &env,
            int stdoutFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    std::vector<char *> argv, envp;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    // The environment with the given variables replacing any of the same name.
    std::vector<std::string> all;
    for (char **e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const std::string &v : env)
            replaced |= entry.compare(0, v.find('=') + 1, v, 0, v.find('=') + 1) == 0;
        if (!replaced) all.push_back(entry);
    }
    all.insert(all.end(), env.begin(), env.end());
    for (std::string &e : all)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) fail("cannot start " + args[0] + ": " + strerror(rc));
    g_children.push_back(pid);
    return pid;
}
} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: host_contract <KSTRN_SC> <s5sim> [--no-ready-word] "
                        "[--deadline-ms N]\n");
        return 2;
    }
    int deadlineMs = 20000;
    for (int i = 3; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--no-ready-word")
            g_readyWord = false;
        else if (a == "--deadline-ms" && i + 1 < argc)
            deadlineMs = atoi(argv[++i]);
    }
    g_deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    signal(SIGPIPE, SIG_IGN);
    g_prefix = "kvtct" + std::to_string(getpid());
    fs::path root = fs::temp_directory_path() / g_prefix;
    g_root = root;
    fs::create_directories(root / "CURRENT_CONFIG/KSTRN_01");
    for (const char *sub : {"SAVED_VALUES", "ports", "registry", "bin"})
        fs::create_directories(root / sub);

    // The device folder: "config" (AutoEnable, then the device record: scan interval 1000 ms
    // at its start), "ai" with two channels on DB10 words 0 and 1, "di" with eight channels
    // on the bits 0..7 of DB10 word 8.
    fs::path device = root / "CURRENT_CONFIG/KSTRN_01";
    std::vector<uint8_t> config(705, 0);
    config[0] = 1;
    config[1] = 0xE8;
    config[2] = 0x03;
    writeFile(device / "config", config);
    std::vector<uint8_t> ai(8 + 216 * 2, 0), di(8 + 216 * 8, 0);
    for (int c = 0; c < 2; ++c)
        put(ai, c, 0, {'A', 'I', '1' + c}), put(ai, c, 28, {0x01}),
            put(ai, c, 188, {0x00, 0x40, c, 0x0A});
    for (int c = 0; c < 8; ++c)
        put(di, c, 0, {'D', 'I', '1' + c}), put(di, c, 24, {0x01}), put(di, c, 28, {0x01}),
            put(di, c, 192, {0x00, 0x20, 0x08, 0x0A}), put(di, c, 196, {c});
    writeFile(device / "ai", ai);
    writeFile(device / "di", di);

    // The controller on a pseudo-terminal where COM1 resolves, with known memory.
    int out[2];
    if (pipe(out) != 0) fail("pipe");
    std::string link = (root / "ports/COM1").string();
    spawn({argv[2], "--pty", link, "--set", "D10.0=1234,77", "--set", "D10.8=5"}, {}, out[1]);
    close(out[1]);
    std::string line;
    while (line.find("ready") == std::string::npos) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, msLeft()) <= 0) fail("the controller simulator did not get ready");
        char c;
        if (read(out[0], &c, 1) != 1) fail("the controller simulator ended");
        line += c;
    }

    // The objects of one device, every one as the README lists it.
    Segment dev = createSegment("dm_device", 4 + 788 + 2);
    Segment proc = createSegment("dm_datproc", 4);
    Segment logs = createSegment("dm_loggers", 4);
    Segment errs = createSegment("dm_errors", 4);
    Segment a1 = createSegment("dm_A1", 20 + 8 * 2);
    createSegment("dm_A1_conf", 216 * 2);
    createSegment("dm_A1_event", 1 * ((2 + 7) / 8));
    Segment d1 = createSegment("dm_D1", 20 + 4 * 8);
    createSegment("dm_D1_conf", 216 * 8);
    createSegment("dm_D1_event", 1 * (8 / 8));
    (void)proc, (void)logs, (void)errs;
    int32_t one = 1;
    memcpy(dev.payload(), &one, 4);
    auto *slot = reinterpret_cast<Slot *>(dev.payload() + 4);
    memcpy(slot->type, "KSTRN", 5);
    memcpy(slot->name, "CONTRACT", 8);
    slot->number = 1;
    memcpy(slot->folder, "KSTRN_01", 8);
    memcpy(slot->ids[0], "A1", 2);
    memcpy(slot->ids[1], "D1", 2);
    memcpy(slot->config, config.data() + 1, sizeof slot->config);
    for (auto [seg, type, n] : {std::tuple{&a1, 8, 2}, std::tuple{&d1, 4, 8}}) {
        auto *t = reinterpret_cast<TableHeader *>(seg->payload());
        memcpy(t->id, seg->name.c_str() + 3, 2);
        t->type = static_cast<uint16_t>(type);
        t->channels = static_cast<uint16_t>(n);
    }
    int own = bindMailslot("dm_" + std::to_string(getpid()) + ".slt");

    std::string scannerPath = fs::absolute(argv[1]).string();
    pid_t scanner = spawn({scannerPath, "1"},
                          {"KVT_IPC_PREFIX=" + g_prefix,
                           "KVT_CURRENT_CONFIG=" + (root / "CURRENT_CONFIG").string(),
                           "KVT_SAVED_VALUES=" + (root / "SAVED_VALUES").string(),
                           "KVT_SERIAL_DIR=" + (root / "ports").string(),
                           "KVT_REGISTRY_ROOT=" + (root / "registry").string(),
                           "KVT_BIN=" + fs::path(scannerPath).parent_path().string()},
                          -1);

    // Started: running, its pid, configured, no longer initialising, next scan time set.
    auto slotCopy = [&] {
        lock(dev);
        Slot s;
        memcpy(&s, slot, sizeof s);
        unlock(dev);
        return s;
    };
    waitFor("the scanner's start-up", [&] {
        Slot s = slotCopy();
        if (waitpid(scanner, nullptr, WNOHANG) == scanner) fail("the scanner ended at start-up");
        return s.running == 1 && s.pid == scanner && s.configured == 1 && s.initialising == 0 &&
               (s.nextSeconds != 0 || s.nextMs != 0);
    });

    // One scan: a one-shot code on each data segment, then 300 to the scanner.
    requestNotify(a1, 1000);
    requestNotify(d1, 1001);
    post(scanner, k_scan);
    bool got1000 = false, got1001 = false;
    while (!(got1000 && got1001)) {
        pollfd p{own, POLLIN, 0};
        if (poll(&p, 1, msLeft()) <= 0) fail("the scan's codes did not arrive");
        int32_t code = 0;
        if (recv(own, &code, sizeof code, 0) == 4) {
            got1000 |= code == 1000;
            got1001 |= code == 1001;
        }
    }

    lock(a1);
    uint32_t aiStatus[2];
    float aiValue[2];
    memcpy(aiStatus, a1.payload() + 20, 8);
    memcpy(aiValue, a1.payload() + 20 + 8, 8);
    unlock(a1);
    lock(d1);
    uint32_t diStatus[8];
    memcpy(diStatus, d1.payload() + 20, 32);
    unlock(d1);
    if (aiValue[0] != 1234.0f || aiValue[1] != 77.0f)
        fail("analogue values " + std::to_string(aiValue[0]) + ", " + std::to_string(aiValue[1]));
    if ((aiStatus[0] & 0x20) != 0 || (aiStatus[0] & 0x80) == 0) fail("analogue status");
    if ((diStatus[0] & 1) != 1 || (diStatus[1] & 1) != 0 || (diStatus[2] & 1) != 1 ||
        (diStatus[0] & 0x20) != 0)
        fail("digital statuses");

    // Stop: 31, exit status 0, running cleared.
    post(scanner, k_stop);
    int status = -1;
    waitFor("the scanner's exit", [&] { return waitpid(scanner, &status, WNOHANG) == scanner; });
    g_children.pop_back();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail("the scanner's exit status");
    if (slotCopy().running != 0) fail("the running flag after the stop");
    cleanUp();
    printf("host_contract: the scanner started, scanned and stopped as documented\n");
    return 0;
}
