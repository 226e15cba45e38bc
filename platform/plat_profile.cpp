#include "plat_profile.h"

#include "plat_error.h"
#include "plat_file.h"
#include "plat_regfile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
// Writers of one process take turns, so that two keys written at once both survive.
std::mutex g_writeLock;
std::atomic<unsigned> g_tempCounter{0};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string trim(const std::string &s) {
    size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// One line of the file: its bytes without the line end, and the line end as it was.
struct Line {
    std::string text;
    std::string end;
};

std::vector<Line> splitLines(const std::string &content) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t nl = content.find('\n', pos);
        Line line;
        if (nl == std::string::npos) {
            line.text = content.substr(pos);
            pos = content.size();
        } else {
            line.text = content.substr(pos, nl - pos);
            line.end = "\n";
            pos = nl + 1;
        }
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.end = "\r" + line.end;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// The section name of a header line, or false for any other line.
bool headerName(const std::string &text, std::string *name) {
    std::string t = trim(text);
    if (t.empty() || t[0] != '[') return false;
    size_t close = t.find(']');
    *name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// The key of a "key=value" line; a line without '=' names no key that can be read.
bool keyOf(const std::string &text, std::string *key, std::string *value) {
    size_t eq = text.find('=');
    if (eq == std::string::npos) return false;
    *key = trim(text.substr(0, eq));
    if (value != nullptr) *value = trim(text.substr(eq + 1));
    return true;
}

std::string unquote(const std::string &v) {
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
        return v.substr(1, v.size() - 2);
    return v;
}

// Lines [begin, end) of the first section of that name (the header at begin - 1); false when
// the file has no such section.
bool findSection(const std::vector<Line> &lines, const std::string &section, size_t *begin,
                 size_t *end) {
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!headerName(lines[i].text, &name) || !plat_EqualNoCase(name, section)) continue;
        size_t j = i + 1;
        while (j < lines.size() && !headerName(lines[j].text, &name))
            ++j;
        *begin = i + 1;
        *end = j;
        return true;
    }
    return false;
}

// The whole file, or false with the last error set (2 when it is missing).
bool readFile(const char *path, std::string *content) {
    int fd = plat_FileOpen(path, PLAT_FILE_READ);
    if (fd < 0) return false;
    int64_t size = plat_FileSize(fd);
    bool ok = size >= 0;
    if (ok) {
        content->resize(static_cast<size_t>(size));
        int64_t n = plat_FileReadAtMost(fd, content->data(), content->size(), 0);
        ok = n >= 0;
        if (ok) content->resize(static_cast<size_t>(n));
    }
    plat_FileClose(fd);
    return ok;
}

uint32_t copyOut(const std::string &text, char *buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    uint32_t n = text.size() < size ? static_cast<uint32_t>(text.size()) : size - 1;
    memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

bool hasLineBreak(const char *s) {
    return s != nullptr && strpbrk(s, "\r\n") != nullptr;
}

// Writes the content to a new file beside the target and moves it over the target, keeping an
// existing file's mode.
int replaceFile(const std::string &path, const std::string &content) {
    // A file marked read-only stays as it is, even for an administrator, as on Windows.
    if (plat_FileMayWrite(path.c_str()) != 0) return -1;
    struct stat st;
    bool existed = ::stat(path.c_str(), &st) == 0;
    std::string temp = path + "." + std::to_string(getpid()) + "." +
                       std::to_string(g_tempCounter.fetch_add(1)) + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return plat_FailFromPosixPath(temp.c_str());
    if (existed) (void)fchmod(fd, st.st_mode & 07777);
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int e = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(temp.c_str());
            errno = e;
            return plat_FailFromPosix();
        }
        done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0 || ::close(fd) != 0) {
        int e = errno;
        ::unlink(temp.c_str());
        errno = e;
        return plat_FailFromPosix();
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int e = errno;
        ::unlink(temp.c_str());
        errno = e;
        return plat_FailFromPosix();
    }
    return 0;
}
} // namespace

uint32_t plat_GetPrivateProfileString(const char *section, const char *key, const char *defaultText,
                                      char *buffer, uint32_t size, const char *path) {
    std::string def = defaultText != nullptr ? defaultText : "";
    while (!def.empty() && def.back() == ' ')
        def.pop_back();
    std::string content;
    if (section == nullptr || key == nullptr || path == nullptr || !readFile(path, &content))
        return copyOut(def, buffer, size);
    std::vector<Line> lines = splitLines(content);
    size_t begin, end;
    if (!findSection(lines, trim(section), &begin, &end)) {
        plat_SetLastError(WERR_FILE_NOT_FOUND);
        return copyOut(def, buffer, size);
    }
    std::string wanted = trim(key), k, v;
    for (size_t i = begin; i < end; ++i)
        if (keyOf(lines[i].text, &k, &v) && plat_EqualNoCase(k, wanted)) {
            plat_SetLastError(WERR_SUCCESS);
            return copyOut(unquote(v), buffer, size);
        }
    plat_SetLastError(WERR_FILE_NOT_FOUND);
    return copyOut(def, buffer, size);
}

uint32_t plat_GetPrivateProfileSection(const char *section, char *buffer, uint32_t size,
                                       const char *path) {
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    if (size > 1) buffer[1] = '\0';
    std::string content;
    if (section == nullptr || path == nullptr || !readFile(path, &content)) return 0;
    std::vector<Line> lines = splitLines(content);
    size_t begin, end;
    if (!findSection(lines, trim(section), &begin, &end)) return 0;
    uint32_t used = 0;
    for (size_t i = begin; i < end; ++i) {
        std::string t = trim(lines[i].text);
        if (t.empty()) continue;
        // Room for the line, its NUL and the list's final NUL.
        if (used + t.size() + 2 > size) {
            // The list read from the start ends after the last whole line.
            buffer[used] = '\0';
            if (size >= 2) {
                buffer[size - 2] = '\0';
                buffer[size - 1] = '\0';
            }
            return size >= 2 ? size - 2 : 0;
        }
        memcpy(buffer + used, t.data(), t.size());
        used += static_cast<uint32_t>(t.size());
        buffer[used++] = '\0';
    }
    if (used == 0) return 0;
    buffer[used] = '\0';
    return used;
}

int plat_WritePrivateProfileString(const char *section, const char *key, const char *value,
                                   const char *path) {
    if (section == nullptr || path == nullptr || *path == '\0') {
        plat_Fail(WERR_INVALID_PARAMETER);
        return 0;
    }
    // A name or value that would change the file's lines could never be read back as written.
    std::string sect = trim(section);
    if (sect.empty() || hasLineBreak(section) || strchr(section, ']') != nullptr ||
        hasLineBreak(key) || (key != nullptr && strchr(key, '=') != nullptr) ||
        hasLineBreak(value)) {
        plat_Fail(WERR_INVALID_PARAMETER);
        return 0;
    }
    std::string name = key != nullptr ? trim(key) : "";
    if (key != nullptr && (name.empty() || name[0] == '[')) {
        plat_Fail(WERR_INVALID_PARAMETER);
        return 0;
    }

    std::lock_guard<std::mutex> guard(g_writeLock);
    std::string native = plat_FileNativePath(path);
    std::string content;
    if (!readFile(native.c_str(), &content)) {
        if (plat_GetLastError() != WERR_FILE_NOT_FOUND) return 0;
        if (key == nullptr || value == nullptr) {
            // Nothing to delete in a file that does not exist.
            plat_SetLastError(WERR_SUCCESS);
            return 1;
        }
        content.clear();
    }
    std::vector<Line> lines = splitLines(content);
    size_t begin, end;
    bool found = findSection(lines, sect, &begin, &end);
    if (key == nullptr) {
        if (found)
            lines.erase(lines.begin() + static_cast<long>(begin - 1),
                        lines.begin() + static_cast<long>(end));
    } else {
        size_t at = std::string::npos;
        std::string k;
        if (found)
            for (size_t i = begin; i < end && at == std::string::npos; ++i)
                if (keyOf(lines[i].text, &k, nullptr) && plat_EqualNoCase(k, name)) at = i;
        if (value == nullptr) {
            if (at != std::string::npos) lines.erase(lines.begin() + static_cast<long>(at));
        } else if (at != std::string::npos) {
            lines[at].text = k + "=" + value;
            if (lines[at].end.empty()) lines[at].end = "\r\n";
        } else {
            if (!lines.empty() && lines.back().end.empty()) lines.back().end = "\r\n";
            if (!found) {
                lines.push_back({"[" + sect + "]", "\r\n"});
                begin = end = lines.size();
            }
            // After the section's last line that is not blank.
            size_t pos = end;
            while (pos > begin && trim(lines[pos - 1].text).empty())
                --pos;
            lines.insert(lines.begin() + static_cast<long>(pos), {name + "=" + value, "\r\n"});
        }
    }
    std::string out;
    for (const Line &l : lines)
        out += l.text + l.end;
    if (out == content && !content.empty()) {
        plat_SetLastError(WERR_SUCCESS);
        return 1;
    }
    if (replaceFile(native, out) != 0) return 0;
    plat_SetLastError(WERR_SUCCESS);
    return 1;
}
