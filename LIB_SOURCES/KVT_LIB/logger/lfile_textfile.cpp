#include "lfile_text.h"

#include "ldf.h"
#include "plat_cp1252.h"
#include "plat_error.h"
#include "plat_file.h"
#include "plat_fileops.h"
#include "plat_system.h"
#include "reg.h"
#include "rfile.h"

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {
char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

size_t lastSeparator(const std::string &path) {
    return path.find_last_of("/\\");
}
} // namespace

int lfile_LoadText(const char *path, bool create, LfileText *text) {
    int fd =
        plat_FileCreate(path, PLAT_GENERIC_READ, create ? PLAT_OPEN_ALWAYS : PLAT_OPEN_EXISTING,
                        PLAT_OPEN_NULL_ACCESS_LIST);
    if (fd < 0) return -2;
    std::string bytes;
    char block[65536];
    int64_t at = 0;
    for (;;) {
        int64_t n = plat_FileReadAtMost(fd, block, sizeof block, at);
        if (n < 0) {
            uint32_t err = plat_GetLastError();
            plat_FileClose(fd);
            plat_Fail(err);
            return -1;
        }
        bytes.append(block, static_cast<size_t>(n));
        at += n;
        if (n < static_cast<int64_t>(sizeof block)) break;
    }
    plat_FileClose(fd);
    text->utf16 = bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
                  static_cast<uint8_t>(bytes[1]) == 0xFE;
    text->bytes = std::move(bytes);
    return 0;
}

int lfile_LoadRemoteText(const char *server, const char *path, LfileText *text) {
    std::string bytes;
    char piece[9999];
    for (;;) {
        int got = 0;
        if (bytes.size() > INT32_MAX - sizeof piece) return plat_Fail(WERR_FILE_TOO_LARGE);
        if (!rfile_ReadFile(server, -1, path, piece, sizeof piece, &got,
                            static_cast<int32_t>(bytes.size()), 0))
            return bytes.empty() ? -2 : -1;
        bytes.append(piece, static_cast<size_t>(got));
        if (got < static_cast<int>(sizeof piece)) break;
    }
    text->utf16 = bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
                  static_cast<uint8_t>(bytes[1]) == 0xFE;
    text->bytes = std::move(bytes);
    return 0;
}

int lfile_SaveRemoteText(const char *server, const char *path, const std::string &bytes) {
    // Each request (header, data and NUL) stays within what one request may carry.
    int chunk = RFILE_MAX_REQUEST - 1 - static_cast<int>(strlen(path)) - 80;
    if (chunk < 1) return plat_Fail(WERR_FILENAME_EXCED_RANGE);
    size_t at = 0;
    do {
        int n = static_cast<int>(std::min<size_t>(bytes.size() - at, static_cast<size_t>(chunk)));
        int written = 0;
        if (!rfile_WriteFile(server, -1, path, bytes.data() + at, n, &written,
                             static_cast<int32_t>(at), 0, at == 0 ? RFILE_CREATE : RFILE_APPEND))
            return -1;
        at += static_cast<size_t>(n);
    } while (at < bytes.size());
    return 0;
}

std::u16string lfile_TextWide(const LfileText &text) {
    if (!text.utf16) return plat_Cp1252ToUtf16(text.bytes);
    std::u16string out;
    out.reserve(text.bytes.size() / 2);
    for (size_t i = 2; i + 1 < text.bytes.size(); i += 2)
        out += static_cast<char16_t>(static_cast<uint8_t>(text.bytes[i]) |
                                     (static_cast<uint8_t>(text.bytes[i + 1]) << 8));
    return out;
}

std::string lfile_TextNarrow(const LfileText &text) {
    return text.utf16 ? plat_Utf16ToCp1252(lfile_TextWide(text)) : text.bytes;
}

std::string lfile_EncodeText(const std::u16string &content, bool utf16) {
    if (!utf16) return plat_Utf16ToCp1252(content);
    std::string out("\xFF\xFE", 2);
    out.reserve(2 + 2 * content.size());
    for (char16_t c : content) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

std::string lfile_MakeTempName(const char *file) {
    std::string path = file != nullptr ? file : "";
    size_t slash = lastSeparator(path);
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pid = std::to_string(plat_ProcessId());
    for (size_t i = 0; i + 4 <= name.size(); ++i)
        if (upper(name[i]) == '.' && upper(name[i + 1]) == 'T' && upper(name[i + 2]) == 'X' &&
            upper(name[i + 3]) == 'T')
            return folder + name.substr(0, i) + " " + pid + ".tmp";
    return folder + "logger " + pid + ".tmp";
}

int lfile_ReplaceFile(const char *path, const std::string &bytes) {
    // A closed run's file is marked read-only: it keeps its content and its mark.
    if (plat_FileMayWrite(path) != 0) return -1;
    std::string temp = lfile_MakeTempName(path);
    int fd = plat_FileCreate(temp.c_str(), PLAT_GENERIC_WRITE, PLAT_CREATE_ALWAYS,
                             PLAT_OPEN_NULL_ACCESS_LIST);
    if (fd < 0) return -1;
    int rc = plat_FileWriteAt(fd, bytes.data(), bytes.size(), 0);
    uint32_t err = plat_GetLastError();
    if (plat_FileClose(fd) != 0 && rc == 0) {
        rc = -1;
        err = plat_GetLastError();
    }
    // One atomic rename: readers see the old file or the new one, never none.
    for (int attempt = 0; rc == 0; ++attempt) {
        if (plat_FileReplace(temp.c_str(), path) == 0) return 0;
        err = plat_GetLastError();
        if (attempt == 9)
            rc = -1;
        else
            plat_SleepMs(100);
    }
    plat_FileDelete(temp.c_str());
    return plat_Fail(err);
}

std::string lfile_EventsPath(const char *file) {
    std::string path = file != nullptr ? file : "";
    size_t slash = lastSeparator(path);
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "events.txt";
}

int lfile_UseEventsFile() {
    if (reg_IsLumbrelEdition()) return 1;
    char value[64] = {};
    uint32_t type = 0, size = sizeof value - 1;
    if (reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_QUERY_VALUE,
                        "EventsTextFile", &type, value, &size) != 0)
        return 0;
    return upper(value[0]) == 'O' && upper(value[1]) == 'N' ? 1 : 0;
}

namespace {
// Probes of the files beside a data file, on this computer or on a server.
struct TextProbe {
    const char *server = nullptr;

    bool exists(const std::string &path) const {
        if (server == nullptr) return plat_FileInfoPath(path.c_str(), nullptr, nullptr) == 0;
        return rfile_GetFileSize(server, path.c_str()) >= 0;
    }

    int runInfo(const char *path, LogHeader *header, uint8_t last[16], int *hasRecord) const {
        if (server == nullptr) return lfile_ReadRunInfo(path, header, last, hasRecord);
        *hasRecord = 0;
        auto read = [this, path](void *b, size_t l, int64_t o) -> int64_t {
            int got = 0;
            if (o > INT32_MAX || l > static_cast<size_t>(RFILE_MAX_READ))
                return plat_Fail(WERR_INVALID_PARAMETER);
            if (!rfile_ReadFile(server, -1, path, b, static_cast<int>(l), &got,
                                static_cast<int32_t>(o), 0))
                return -1;
            return got;
        };
        if (ldf_ReadHeader(read, header) != 0) return -1;
        int64_t size = rfile_GetFileSize(server, path);
        int64_t count = size >= 0 ? ldf_RecordCount(*header, size) : -1;
        if (count < 0) return -1;
        if (count > 0) {
            memset(last, 0, 16);
            int64_t at = header->dataOffset + (count - 1) * int64_t{header->recordSize};
            if (read(last, static_cast<size_t>(std::min<int64_t>(16, header->recordSize)), at) < 0)
                return -1;
            *hasRecord = 1;
        }
        return 0;
    }

    // A ".txt" of the folder whose time part begins as the data file's does (13 characters).
    bool findByStart(const std::string &folder, const char *timePart, std::string *found) const {
        std::vector<std::string> names;
        if (server == nullptr) {
            LfileFolderList *list = lfile_OpenFolderList(folder.empty() ? "." : folder.c_str());
            if (list == nullptr) return false;
            while (const char *name = lfile_NextFolderEntry(list))
                names.push_back(name);
            lfile_CloseFolderList(list);
        } else {
            std::string where = folder.empty() ? folder : folder.substr(0, folder.size() - 1);
            constexpr int k_slots = 256;
            std::unique_ptr<char[][RFILE_NAME_SLOT]> slots(new char[k_slots][RFILE_NAME_SLOT]());
            int n = rfile_ListFiles(server, where.c_str(), "*.txt", k_slots, slots.get());
            for (int i = 0; i < n && i < k_slots; ++i)
                names.emplace_back(slots[i], strnlen(slots[i], RFILE_NAME_SLOT));
        }
        for (const std::string &name : names) {
            const char *part = lfile_FindTimeSuffix(name.c_str(), ".txt");
            if (part != nullptr && strncmp(part, timePart, 13) == 0) {
                *found = folder + name;
                return true;
            }
        }
        return false;
    }
};

char *answer(const std::string &path, char *out) {
    if (path.size() > LFILE_MAX_PATH) {
        plat_Fail(WERR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    memcpy(out, path.c_str(), path.size() + 1);
    return out;
}

char *findTextFile(const TextProbe &probe, const char *dataPath, char *out) {
    if (dataPath == nullptr || out == nullptr) {
        plat_Fail(WERR_FILE_NOT_FOUND);
        return nullptr;
    }
    std::string path = dataPath;
    if (path.size() > LFILE_MAX_PATH) {
        plat_Fail(WERR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    size_t slash = lastSeparator(path);
    size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameAt) dot = path.size();
    std::string extension = path.substr(dot);
    std::string base = path.substr(0, dot);
    if (probe.exists(base + ".txt")) return answer(base + ".txt", out);
    const char *part = lfile_FindTimeSuffix(path.c_str() + nameAt, extension.c_str());
    std::vector<size_t> underscores;
    if (part != nullptr)
        for (size_t i = dot; i > static_cast<size_t>(part - path.c_str()) && underscores.size() < 3;
             --i)
            if (path[i - 1] == '_') underscores.push_back(i - 1);
    if (underscores.size() == 1 || underscores.size() == 2) {
        LogHeader header;
        uint8_t last[16];
        int hasRecord = 0;
        if (probe.runInfo(dataPath, &header, last, &hasRecord) == 0) {
            std::string name;
            if (header.stop != 0 &&
                probe.exists(name = base + "_" + lfile_FormatRunTime(header.stop) + ".txt"))
                return answer(name, out);
            int32_t lastTime;
            memcpy(&lastTime, last + 4, 4);
            if (hasRecord &&
                probe.exists(name = base + "_" + lfile_FormatRunTime(lastTime) + ".txt"))
                return answer(name, out);
        }
        std::string found;
        if (probe.findByStart(path.substr(0, nameAt), part, &found)) return answer(found, out);
    } else if (underscores.size() == 3) {
        return answer(path.substr(0, underscores[1]) + ".txt", out);
    }
    plat_Fail(WERR_FILE_NOT_FOUND);
    return nullptr;
}
} // namespace

char *lfile_FindTextFile(const char *dataPath, char *out) {
    return findTextFile(TextProbe{}, dataPath, out);
}

char *lfile_FindTextFileEx(const char *server, const char *dataPath, char *out) {
    char *found = lfile_FindTextFile(dataPath, out);
    if (found != nullptr || server == nullptr || *server == '\0' ||
        errno == WERR_FILENAME_EXCED_RANGE)
        return found;
    return findTextFile(TextProbe{server}, dataPath, out);
}

std::string lfile_FindTextFileEx(const char *server, const char *dataPath) {
    char out[LFILE_MAX_PATH + 1];
    return lfile_FindTextFileEx(server, dataPath, out) != nullptr ? std::string(out)
                                                                  : std::string();
}
