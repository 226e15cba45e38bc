#include "sim_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr size_t k_listLimit = 65535;
constexpr char k_base[] = "KVT_CURRENT_CONFIG";

std::string nul(const std::string &text) {
    return text + '\0';
}

std::string failure(int error) {
    return nul("-1," + std::to_string(error));
}

std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at - from));
        if (at == std::string::npos) return parts;
        from = at + 1;
    }
}

long number(const std::string &text) {
    return strtol(text.c_str(), nullptr, 10);
}

int winError(int posix) {
    switch (posix) {
    case ENOENT:
        return 2;
    case ENOTDIR:
        return 3;
    case EACCES:
    case EPERM:
    case EISDIR:
        return 5;
    case EEXIST:
        return 80;
    default:
        return 31;
    }
}

// The local path of a server path, or "" when it lies outside the service's folder.
std::string resolve(const std::string &root, const std::string &serverPath) {
    size_t n = strlen(k_base);
    if (serverPath.size() < n || strncasecmp(serverPath.c_str(), k_base, n) != 0) return "";
    if (serverPath.size() > n && serverPath[n] != '\\' && serverPath[n] != '/') return "";
    std::string local = root;
    std::string rest = serverPath.substr(n);
    std::replace(rest.begin(), rest.end(), '\\', '/');
    for (const std::string &part : split(rest, '/')) {
        if (part.empty() || part == ".") continue;
        if (part == "..") return "";
        local += "/" + part;
    }
    return local;
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

int openFor(const std::string &path, bool write, long disposition) {
    int flags = write ? O_RDWR : O_RDONLY;
    switch (disposition) {
    case 1:
        flags |= O_CREAT | O_EXCL;
        break;
    case 2:
        flags |= O_CREAT | O_TRUNC;
        break;
    case 4:
        flags |= O_CREAT;
        break;
    case 5:
        flags |= O_TRUNC;
        break;
    default:
        break;
    }
    if ((flags & (O_CREAT | O_TRUNC)) != 0 && !write) flags = (flags & ~O_ACCMODE) | O_RDWR;
    return open(path.c_str(), flags | O_CLOEXEC, 0666);
}

off_t seekTo(int fd, long offset, long method) {
    if (offset == -1) return lseek(fd, 0, SEEK_SET); // the service keeps no position
    int whence = method == 1 ? SEEK_CUR : method == 2 ? SEEK_END : SEEK_SET;
    return lseek(fd, offset, whence);
}

std::string readFile(const std::string &root, const std::vector<std::string> &f) {
    if (f.size() < 9) return failure(87);
    std::string path = resolve(root, f[0]);
    if (path.empty()) return failure(5);
    long count = number(f[1]);
    if (count < 0 || count > 65536) return failure(87);
    Fd file;
    file.fd = openFor(path, false, number(f[7]));
    if (file.fd < 0 || seekTo(file.fd, number(f[2]), number(f[3])) < 0)
        return failure(winError(errno));
    std::string data(static_cast<size_t>(count), '\0');
    long got = 0;
    while (got < count) {
        ssize_t n =
            read(file.fd, &data[static_cast<size_t>(got)], static_cast<size_t>(count - got));
        if (n < 0) return failure(winError(errno));
        if (n == 0) break;
        got += n;
    }
    return nul("1," + data + "," + std::to_string(got));
}

std::string writeFile(const std::string &root, const std::string &request) {
    size_t at = 2;
    for (int i = 0; i < 9 && at != std::string::npos; ++i)
        at = request.find('\t', at + 1);
    if (at == std::string::npos) return failure(87);
    std::vector<std::string> f = split(request.substr(3, at - 3), '\t');
    if (f.size() < 9) return failure(87);
    std::string path = resolve(root, f[0]);
    if (path.empty()) return failure(5);
    long count = number(f[1]);
    if (count < 0 || at + 1 + static_cast<size_t>(count) > request.size()) return failure(87);
    Fd file;
    file.fd = openFor(path, true, number(f[7]));
    if (file.fd < 0 || seekTo(file.fd, number(f[2]), number(f[3])) < 0)
        return failure(winError(errno));
    const char *data = request.data() + at + 1;
    long done = 0;
    while (done < count) {
        ssize_t n = write(file.fd, data + done, static_cast<size_t>(count - done));
        if (n < 0) return failure(winError(errno));
        done += n;
    }
    return nul(std::to_string(done));
}

std::string fileSize(const std::string &root, const std::vector<std::string> &f) {
    std::string path = resolve(root, f[0]);
    if (path.empty()) return failure(5);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return failure(winError(errno));
    return nul(std::to_string(static_cast<long long>(st.st_size)));
}

uint64_t fileTime(const struct statx_timestamp &t) {
    return (static_cast<uint64_t>(t.tv_sec) + 11644473600ull) * 10000000ull + t.tv_nsec / 100;
}

std::string fileTimes(const std::string &root, const std::vector<std::string> &f) {
    std::string path = resolve(root, f[0]);
    if (path.empty()) return failure(5);
    struct statx st;
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
        return failure(winError(errno));
    uint64_t times[3] = {fileTime((st.stx_mask & STATX_BTIME) != 0 ? st.stx_btime : st.stx_mtime),
                         fileTime(st.stx_atime), fileTime(st.stx_mtime)};
    std::string text = "1";
    for (uint64_t t : times) {
        text += "," + std::to_string(static_cast<int32_t>(static_cast<uint32_t>(t >> 32)));
        text += "," + std::to_string(static_cast<int32_t>(static_cast<uint32_t>(t)));
    }
    return nul(text);
}

std::string listFiles(const std::string &root, const std::vector<std::string> &f) {
    if (f.size() < 3) return failure(87);
    std::string path = resolve(root, f[0]);
    if (path.empty()) return failure(5);
    long start = number(f[2]);
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) return failure(errno == ENOENT ? 3 : winError(errno));
    std::vector<std::string> names;
    while (dirent *e = readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (fnmatch(f[1].c_str(), name.c_str(), FNM_CASEFOLD) == 0) names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    std::string list;
    int count = 0;
    for (size_t i = start < 0 ? 0 : static_cast<size_t>(start); i < names.size(); ++i) {
        std::string head = std::to_string(count + 1);
        // The count, the names and the NUL stay within the reply limit.
        if (head.size() + list.size() + 1 + names[i].size() + 1 > k_listLimit) break;
        list += "," + names[i];
        ++count;
    }
    return nul(std::to_string(count) + list);
}
} // namespace

bool SimFileService::handles(const std::string &request) {
    static const char *const k_letters[] = {"RF,", "WF,", "SF,", "TF,", "DF,", "IF,", "GF,", "CF,"};
    for (const char *l : k_letters)
        if (request.compare(0, 3, l) == 0) return true;
    return false;
}

std::string SimFileService::answer(const std::string &request) const {
    if (request.compare(0, 3, "WF,") == 0) return writeFile(root_, request);
    if (request.compare(0, 3, "CF,") == 0) return sim_AnswerLoggerWrite(root_, request);
    if (request.compare(0, 3, "IF,") == 0) return sim_AnswerChannels(root_, request);
    if (request.compare(0, 3, "GF,") == 0) return sim_AnswerDeviceConfig(root_, request);
    std::string text(request.c_str());
    std::vector<std::string> f = split(text.size() > 3 ? text.substr(3) : "", '\t');
    if (text.compare(0, 3, "RF,") == 0) return readFile(root_, f);
    if (text.compare(0, 3, "SF,") == 0) return fileSize(root_, f);
    if (text.compare(0, 3, "TF,") == 0) return fileTimes(root_, f);
    if (text.compare(0, 3, "DF,") == 0) return listFiles(root_, f);
    return failure(1);
}
