#include "plat_registry.h"
#include "plat_regfile.h"

#include "plat_error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

struct OpenKey {
    std::string dir; // the key's folder in the tree it was found in
    uint64_t watchCounter = 0;
    bool watchArmed = false;
    std::vector<std::string> path; // key names from the hive down, as the caller gave them
    PlatHKey hive = 0;
};

// The change counter file as it was when a key's watch was armed, held open: every change
// replaces the file, so the held one losing its last link is the change, seen with one fstat
// instead of opening and reading the counter on every look (a trace looks before each write).
struct CounterWatch {
    std::string path;
    int fd = -1;
};

std::mutex g_keysLock;
std::unordered_map<PlatHKey, OpenKey> g_keys;
std::unordered_map<PlatHKey, CounterWatch> g_watches; // under g_keysLock
PlatHKey g_nextHandle = 0x1000;

bool isHive(PlatHKey key) {
    return key >= PLAT_HKEY_CLASSES_ROOT && key <= PLAT_HKEY_DYN_DATA;
}

const char *hiveFolder(PlatHKey hive) {
    static const char *const names[] = {"HKCR", "HKCU", "HKLM", "HKU", "HKPD", "HKCC", "HKDD"};
    return names[hive - PLAT_HKEY_CLASSES_ROOT];
}

std::string storeRoot() {
    const char *root = getenv("KVT_REGISTRY_ROOT");
    return (root != nullptr && *root != '\0') ? std::string(root) : "/var/lib/kvt/registry";
}

std::string volatileRoot() {
    const char *root = getenv("KVT_REGISTRY_ROOT");
    return (root != nullptr && *root != '\0') ? std::string(root) + ".volatile"
                                              : "/run/kvt/registry";
}

// Key names are names, never paths: '%' and '/' are escaped, and so is a leading '.', which
// keeps ".", ".." and our own ".values" out of the key namespace.
std::string encodeName(const std::string &name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '%' || c == '/' || (i == 0 && c == '.')) {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string decodeName(const std::string &name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size()) {
            char hex[3] = {name[i + 1], name[i + 2], 0};
            char *end = nullptr;
            long v = strtol(hex, &end, 16);
            if (end == hex + 2) {
                out += static_cast<char>(v);
                i += 2;
                continue;
            }
        }
        out += name[i];
    }
    return out;
}

std::vector<std::string> splitKeyPath(const char *subkey) {
    std::vector<std::string> parts;
    if (subkey == nullptr) return parts;
    std::string cur;
    for (const char *p = subkey; *p != '\0'; ++p) {
        if (*p == '\\') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += *p;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

// Finds the entry of a folder whose decoded name matches without regard to case.
bool findEntry(const std::string &dir, const std::string &name, std::string *entry) {
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return false;
    bool found = false;
    while (struct dirent *e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        if (plat_EqualNoCase(decodeName(e->d_name), name)) {
            std::string full = dir + "/" + e->d_name;
            struct stat st;
            if (stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                *entry = full;
                found = true;
                break;
            }
        }
    }
    closedir(d);
    return found;
}

bool resolveIn(const std::string &tree, PlatHKey hive, const std::vector<std::string> &path,
               std::string *dir) {
    std::string cur = tree + "/" + hiveFolder(hive);
    struct stat st;
    if (stat(cur.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    for (const std::string &name : path) {
        std::string next;
        if (!findEntry(cur, name, &next)) return false;
        cur = next;
    }
    *dir = cur;
    return true;
}

// Persistent tree first: a key that also appears in the volatile tree is there only as the
// parent of a volatile key.
bool resolveKey(PlatHKey hive, const std::vector<std::string> &path, std::string *dir) {
    return resolveIn(storeRoot(), hive, path, dir) || resolveIn(volatileRoot(), hive, path, dir);
}

uint32_t makeFolder(const std::string &dir) {
    if (mkdir(dir.c_str(), 0777) != 0) {
        if (errno == EEXIST) return 0;
        return plat_WinErrorFromPosix(errno);
    }
    chmod(dir.c_str(), 0777); // the null DACL: everybody may change settings
    return 0;
}

uint32_t makeFolders(const std::string &dir) {
    std::string cur;
    size_t pos = 0;
    while (pos != std::string::npos) {
        size_t next = dir.find('/', pos + 1);
        cur = dir.substr(0, next);
        if (!cur.empty()) {
            uint32_t err = makeFolder(cur);
            if (err != 0) return err;
        }
        pos = next;
    }
    return 0;
}

// The store-wide writer lock, held for the life of the object.
class StoreLock {
public:
    StoreLock() {
        std::string root = storeRoot();
        m_error = makeFolders(root);
        if (m_error != 0) return;
        std::string path = root + "/.lock";
        m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_fd < 0) {
            m_error = plat_WinErrorFromPosix(errno);
            return;
        }
        fchmod(m_fd, 0666);
        while (flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                m_error = plat_WinErrorFromPosix(errno);
                return;
            }
        }
    }
    ~StoreLock() {
        if (m_fd >= 0) close(m_fd); // releases the flock
    }
    StoreLock(const StoreLock &) = delete;
    StoreLock &operator=(const StoreLock &) = delete;
    uint32_t error() const { return m_error; }

private:
    int m_fd = -1;
    uint32_t m_error = 0;
};

bool readWholeFile(const std::string &path, std::string *text, int *posixError) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *posixError = errno;
        return false;
    }
    text->clear();
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *posixError = n < 0 ? errno : 0;
            close(fd);
            return n == 0;
        }
        text->append(buf, static_cast<size_t>(n));
    }
}

// Replaces a file as a whole: a reader sees the old or the new content, never a mixture.
uint32_t replaceFile(const std::string &path, const std::string &text) {
    std::string tmp = path + ".tmp." + std::to_string(getpid());
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return plat_WinErrorFromPosix(errno);
    fchmod(fd, 0666);
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int e = errno;
            close(fd);
            unlink(tmp.c_str());
            return plat_WinErrorFromPosix(e);
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        int e = errno;
        unlink(tmp.c_str());
        return plat_WinErrorFromPosix(e);
    }
    return 0;
}

// Called with g_keysLock held.
void forgetWatch(PlatHKey key) {
    auto it = g_watches.find(key);
    if (it == g_watches.end()) return;
    if (it->second.fd >= 0) close(it->second.fd);
    g_watches.erase(it);
}

uint64_t readCounter() {
    std::string text;
    int err = 0;
    if (!readWholeFile(storeRoot() + "/.counter", &text, &err)) return 0;
    return strtoull(text.c_str(), nullptr, 10);
}

// Called with the store lock held.
void bumpCounter() {
    replaceFile(storeRoot() + "/.counter", std::to_string(readCounter() + 1) + "\n");
}

// Finds the hive and key folder of a handle; a hive handle stands for the hive's folder.
uint32_t keyFolder(PlatHKey key, std::string *dir) {
    if (isHive(key)) {
        if (!resolveKey(key, {}, dir)) return WERR_FILE_NOT_FOUND;
        return 0;
    }
    std::lock_guard<std::mutex> guard(g_keysLock);
    auto it = g_keys.find(key);
    if (it == g_keys.end()) return WERR_INVALID_HANDLE;
    *dir = it->second.dir;
    return 0;
}

uint32_t keyPath(PlatHKey parent, const char *subkey, PlatHKey *hive,
                 std::vector<std::string> *path) {
    if (isHive(parent)) {
        *hive = parent;
        path->clear();
    } else {
        std::lock_guard<std::mutex> guard(g_keysLock);
        auto it = g_keys.find(parent);
        if (it == g_keys.end()) return WERR_INVALID_HANDLE;
        *hive = it->second.hive;
        *path = it->second.path;
    }
    for (std::string &name : splitKeyPath(subkey))
        path->push_back(std::move(name));
    return 0;
}

PlatHKey addHandle(PlatHKey hive, std::vector<std::string> path, std::string dir) {
    std::lock_guard<std::mutex> guard(g_keysLock);
    PlatHKey handle = g_nextHandle++;
    OpenKey &k = g_keys[handle];
    k.hive = hive;
    k.path = std::move(path);
    k.dir = std::move(dir);
    return handle;
}

uint32_t readValues(const std::string &dir, std::vector<PlatRegValue> *values) {
    std::string text;
    int err = 0;
    values->clear();
    if (!readWholeFile(dir + "/.values", &text, &err)) {
        if (err == ENOENT) return 0; // a key without values
        return plat_WinErrorFromPosix(err);
    }
    plat_RegFileParse(text, values);
    return 0;
}

} // namespace

uint32_t plat_RegOpenKey(PlatHKey parent, const char *subkey, uint32_t access, PlatHKey *out) {
    (void)access;
    if (out == nullptr) return WERR_INVALID_PARAMETER;
    PlatHKey hive = 0;
    std::vector<std::string> path;
    uint32_t err = keyPath(parent, subkey, &hive, &path);
    if (err != 0) return err;
    std::string dir;
    if (!resolveKey(hive, path, &dir)) return WERR_FILE_NOT_FOUND;
    *out = addHandle(hive, std::move(path), std::move(dir));
    return 0;
}

uint32_t plat_RegCreateKey(PlatHKey parent, const char *subkey, uint32_t options, uint32_t access,
                           PlatHKey *out, uint32_t *disposition) {
    (void)access;
    if (out == nullptr) return WERR_INVALID_PARAMETER;
    PlatHKey hive = 0;
    std::vector<std::string> path;
    uint32_t err = keyPath(parent, subkey, &hive, &path);
    if (err != 0) return err;

    std::string dir;
    if (resolveKey(hive, path, &dir)) {
        if (disposition != nullptr) *disposition = PLAT_REG_OPENED_EXISTING_KEY;
        *out = addHandle(hive, std::move(path), std::move(dir));
        return 0;
    }

    StoreLock lock;
    if (lock.error() != 0) return lock.error();
    // Another process may have created it while we waited for the lock.
    bool created = false;
    if (!resolveKey(hive, path, &dir)) {
        std::string tree = (options & PLAT_REG_OPTION_VOLATILE) ? volatileRoot() : storeRoot();
        std::string cur = tree + "/" + hiveFolder(hive);
        err = makeFolders(cur);
        if (err != 0) return err;
        for (const std::string &name : path) {
            std::string next;
            if (!findEntry(cur, name, &next)) {
                next = cur + "/" + encodeName(name);
                err = makeFolder(next);
                if (err != 0) return err;
            }
            cur = next;
        }
        dir = cur;
        created = true;
        bumpCounter();
    }
    if (disposition != nullptr)
        *disposition = created ? PLAT_REG_CREATED_NEW_KEY : PLAT_REG_OPENED_EXISTING_KEY;
    *out = addHandle(hive, std::move(path), std::move(dir));
    return 0;
}

uint32_t plat_RegCloseKey(PlatHKey key) {
    if (isHive(key)) return 0;
    std::lock_guard<std::mutex> guard(g_keysLock);
    if (g_keys.erase(key) != 1) return WERR_INVALID_HANDLE;
    forgetWatch(key);
    return 0;
}

uint32_t plat_RegQueryValue(PlatHKey key, const char *name, uint32_t *type, void *data,
                            uint32_t *size) {
    std::string dir;
    uint32_t err = keyFolder(key, &dir);
    if (err != 0) return err;
    std::vector<PlatRegValue> values;
    err = readValues(dir, &values);
    if (err != 0) return err;
    const PlatRegValue *v = plat_RegFileFind(values, name != nullptr ? name : "");
    if (v == nullptr) return WERR_FILE_NOT_FOUND;

    std::string bytes = v->data;
    if (v->type == PLAT_REG_SZ) bytes.push_back('\0');
    if (type != nullptr) *type = v->type;
    if (data == nullptr) {
        if (size != nullptr) *size = static_cast<uint32_t>(bytes.size());
        return 0;
    }
    if (size == nullptr) return WERR_INVALID_PARAMETER;
    uint32_t room = *size;
    *size = static_cast<uint32_t>(bytes.size());
    if (room < bytes.size()) return WERR_MORE_DATA;
    memcpy(data, bytes.data(), bytes.size());
    return 0;
}

uint32_t plat_RegSetValue(PlatHKey key, const char *name, uint32_t type, const void *data,
                          uint32_t size) {
    if (data == nullptr && size != 0) return WERR_INVALID_PARAMETER;
    std::string dir;
    uint32_t err = keyFolder(key, &dir);
    if (err != 0) return err;

    PlatRegValue nv;
    nv.name = name != nullptr ? name : "";
    nv.type = type;
    nv.data.assign(static_cast<const char *>(data), size);
    if (type == PLAT_REG_SZ) {
        size_t nul = nv.data.find('\0');
        if (nul != std::string::npos) nv.data.resize(nul);
    }

    StoreLock lock;
    if (lock.error() != 0) return lock.error();
    std::vector<PlatRegValue> values;
    err = readValues(dir, &values);
    if (err != 0) return err;
    if (PlatRegValue *old = plat_RegFileFind(values, nv.name)) {
        old->type = nv.type; // the name keeps the case it was first written with
        old->data = nv.data;
    } else {
        values.push_back(nv);
    }
    err = replaceFile(dir + "/.values", plat_RegFileFormat(values));
    if (err != 0) return err;
    bumpCounter();
    return 0;
}

uint32_t plat_RegDeleteValue(PlatHKey key, const char *name) {
    std::string dir;
    uint32_t err = keyFolder(key, &dir);
    if (err != 0) return err;
    StoreLock lock;
    if (lock.error() != 0) return lock.error();
    std::vector<PlatRegValue> values;
    err = readValues(dir, &values);
    if (err != 0) return err;
    PlatRegValue *v = plat_RegFileFind(values, name != nullptr ? name : "");
    if (v == nullptr) return WERR_FILE_NOT_FOUND;
    values.erase(values.begin() + (v - values.data()));
    err = replaceFile(dir + "/.values", plat_RegFileFormat(values));
    if (err != 0) return err;
    bumpCounter();
    return 0;
}

uint32_t plat_RegDeleteKey(PlatHKey parent, const char *subkey) {
    PlatHKey hive = 0;
    std::vector<std::string> path;
    uint32_t err = keyPath(parent, subkey, &hive, &path);
    if (err != 0) return err;
    if (path.empty()) return WERR_ACCESS_DENIED;
    StoreLock lock;
    if (lock.error() != 0) return lock.error();
    std::string dir;
    if (!resolveKey(hive, path, &dir)) return WERR_FILE_NOT_FOUND;
    // As on Windows, a key that still has subkeys stays.
    if (unlink((dir + "/.values").c_str()) != 0 && errno != ENOENT)
        return plat_WinErrorFromPosix(errno);
    if (rmdir(dir.c_str()) != 0) return plat_WinErrorFromPosix(errno);
    bumpCounter();
    return 0;
}

uint32_t plat_RegConnectRegistry(const char *machine, PlatHKey hive, PlatHKey *out) {
    if (out == nullptr || !isHive(hive)) return WERR_INVALID_PARAMETER;
    if (machine != nullptr && *machine != '\0') return WERR_BAD_NETPATH;
    *out = hive;
    return 0;
}

uint32_t plat_RegNotifyArm(PlatHKey key) {
    std::lock_guard<std::mutex> guard(g_keysLock);
    auto it = g_keys.find(key);
    if (it == g_keys.end()) return WERR_INVALID_HANDLE;
    forgetWatch(key);
    CounterWatch watch;
    watch.path = storeRoot() + "/.counter";
    watch.fd = open(watch.path.c_str(), O_RDONLY | O_CLOEXEC);
    it->second.watchCounter = readCounter();
    it->second.watchArmed = true;
    g_watches[key] = std::move(watch);
    return 0;
}

int plat_RegNotifyChanged(PlatHKey key) {
    std::lock_guard<std::mutex> guard(g_keysLock);
    auto it = g_keys.find(key);
    if (it == g_keys.end() || !it->second.watchArmed) return 0;
    auto w = g_watches.find(key);
    struct stat st;
    if (w != g_watches.end() && w->second.fd >= 0 && fstat(w->second.fd, &st) == 0 &&
        st.st_nlink > 0 && w->second.path == storeRoot() + "/.counter")
        return 0; // still the file read when armed
    return readCounter() != it->second.watchCounter ? 1 : 0;
}

uint64_t plat_RegChangeCounter() {
    return readCounter();
}
