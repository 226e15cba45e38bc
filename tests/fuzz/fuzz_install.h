// What every fuzz program shares: a scratch installation of its own (a configuration root with
// one device folder of the sample module, a saved-values folder, a registry) and the input's
// bytes as files. Nothing here belongs to the scanner or the configuration side alone.
#pragma once

#include "plat_registry.h"
#include "reg.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// A rejected input is reported to the event log. Its syslog half would receive a line per
// input from millions of runs; the fuzz programs keep only the log file.
extern "C" void openlog(const char *, int, int) {}
extern "C" void syslog(int, const char *, ...) {}
extern "C" void closelog() {}

// The extension module is loaded per operation. libFuzzer keeps the coverage counters of every
// module it has seen, so an unloaded module would leave it counting into unmapped memory: here
// the module stays loaded, and each load finds it there.
extern "C" int dlclose(void *) {
    return 0;
}

namespace fuzz {

struct Installation {
    std::string base;
    std::string root;   // KVT_CURRENT_CONFIG
    std::string device; // its device folder "KSTRN_01"
    std::string saved;  // KVT_SAVED_VALUES
};

inline int removeEntry(const char *path, const struct stat *, int, struct FTW *) {
    ::remove(path);
    return 0;
}

inline void writeFile(const std::string &path, const uint8_t *data, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) abort();
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) abort();
        data += n;
        size -= static_cast<size_t>(n);
    }
    close(fd);
}

inline void setSwitch(const char *name, const char *value) {
    uint32_t type = PLAT_REG_SZ;
    uint32_t size = static_cast<uint32_t>(strlen(value) + 1);
    if (reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_SET_VALUE, name, &type,
                        const_cast<char *>(value), &size) != 0)
        abort();
}

// Made once per process and removed at its exit. The sample module comes from the build's
// program folder beside the fuzz programs' own.
inline const Installation &install() {
    static Installation inst = [] {
        Installation i;
        const char *tmp = getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/kvt-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) abort();
        i.base = pattern;
        i.root = i.base + "/root";
        i.device = i.root + "/KSTRN_01";
        i.saved = i.base + "/saved";
        for (const std::string &d : {i.root, i.device, i.saved, i.root + "/SCHEMA"})
            mkdir(d.c_str(), 0777);
        char exe[4096] = {};
        if (readlink("/proc/self/exe", exe, sizeof exe - 1) <= 0) abort();
        std::string bin = exe;
        bin = bin.substr(0, bin.rfind('/'));
        bin = bin.substr(0, bin.rfind('/')) + "/bin";
        setenv("KVT_BIN", bin.c_str(), 1);
        setenv("KVT_REGISTRY_ROOT", (i.base + "/registry").c_str(), 1);
        setenv("KVT_CURRENT_CONFIG", i.root.c_str(), 1);
        setenv("KVT_SAVED_VALUES", i.saved.c_str(), 1);
        setenv("KVT_", i.base.c_str(), 1);
        unsetenv("KVT_EX_OPTIONS");
        std::string rootConfig(705, '\0');
        writeFile(i.root + "/config", reinterpret_cast<const uint8_t *>(rootConfig.data()),
                  rootConfig.size());
        static std::string removed = i.base;
        atexit([] { nftw(removed.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS); });
        return i;
    }();
    return inst;
}

// The event log's file grows by a line per rejected input; kept short between inputs.
inline void trimEventLog() {
    static unsigned calls = 0;
    if (++calls % 4096 == 0) truncate((install().base + "/Trellane.log").c_str(), 0);
}

// Takes `n` bytes from the front of the input; fewer when it ends.
struct Reader {
    const uint8_t *data;
    size_t size;
    uint8_t byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    uint16_t word() { return static_cast<uint16_t>(byte() | byte() << 8); }
};

// Seeds are written by the system's own writers: with KVT_FUZZ_SEEDS naming a folder, a program
// writes its seeds there and exits instead of fuzzing.
inline const char *seedFolder() {
    const char *dir = getenv("KVT_FUZZ_SEEDS");
    return dir != nullptr && *dir ? dir : nullptr;
}

inline void writeSeed(const char *name, const std::string &bytes) {
    writeFile(std::string(seedFolder()) + "/" + name,
              reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

// The whole of a file, or empty.
inline std::string readFile(const std::string &path) {
    std::string out;
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

} // namespace fuzz
