// What the fuzz programs share: a scratch installation of their own (a configuration root with
// one device folder of the sample module, a saved-values folder, a registry), the input's bytes
// as files, and a serial port whose partner sends the input's bytes.
#pragma once

#include "plat_registry.h"
#include "reg.h"
#if __has_include("port.h")
#include "port.h"
#define KVT_FUZZ_PORTS 1
#endif

#include <cstdint>
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

#ifdef KVT_FUZZ_PORTS
// The partner's side of the line: every byte it sends is in the input, there from the start;
// whatever the link writes is taken. Nothing waits: a read of bytes that are not there fails
// at once, as a time-out would.
class InputPort final : public LinkPort {
public:
    void feed(const uint8_t *data, size_t size) {
        data_ = data;
        size_ = size;
        at_ = 0;
    }
    int Open(const char *, const PlatSerialLine &) override { return 1; }
    int Read(uint8_t *buf, int n, int) override {
        if (n <= 0) return 1;
        size_t want = static_cast<size_t>(n);
        if (size_ - at_ < want) {
            at_ = size_;
            return 0;
        }
        memcpy(buf, data_ + at_, want);
        at_ += want;
        return 1;
    }
    int Write(const uint8_t *, int, int) override { return 1; }
    int Purge() override { return 1; }
    void Close() override {}

private:
    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
    size_t at_ = 0;
};

// The partner's bytes as the source of a port that reads ahead (port_MakeBuffered): handed out
// in pieces of `piece` bytes (0: all that is left at once), then nothing, as a line that stays
// silent. What the port writes goes nowhere; a purge drops only what was read ahead, the rest
// being bytes still on their way.
class InputBytes final : public PortBytes {
public:
    void feed(const uint8_t *data, size_t size, size_t piece) {
        data_ = data;
        size_ = size;
        at_ = 0;
        piece_ = piece;
    }
    int ReadSome(uint8_t *buf, int capacity, int) override {
        size_t n = size_ - at_;
        if (piece_ != 0 && n > piece_) n = piece_;
        if (capacity >= 0 && n > static_cast<size_t>(capacity)) n = static_cast<size_t>(capacity);
        memcpy(buf, data_ + at_, n);
        at_ += n;
        return static_cast<int>(n);
    }
    int Write(const uint8_t *, int, int) override { return 1; }
    void Flush() override {}

private:
    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
    size_t at_ = 0;
    size_t piece_ = 0;
};

#endif // KVT_FUZZ_PORTS

} // namespace fuzz
