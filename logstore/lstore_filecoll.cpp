#include "lstore_filecoll.h"

#include "env.h"
#include "lfile.h"
#include "lgr_site.h"
#include "lst.h"
#include "lstore_file.h"
#include "plat_error.h"
#include "plat_file.h"
#include "plat_folder.h"
#include "prog.h"
#include "reg.h"
#include "rfile.h"
#include "srv.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace {
const char *const kExtensions[] = {".odl", ".txt", ".kvt", ".zip"};

bool isSep(char c) {
    return c == '\\' || c == '/';
}

char fold(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool startsNoCase(const char *text, const char *prefix) {
    for (; *prefix != '\0'; ++text, ++prefix)
        if (fold(*text) != fold(*prefix)) return false;
    return true;
}

bool equalNoCase(const std::string &a, const std::string &b) {
    return a.size() == b.size() && startsNoCase(a.c_str(), b.c_str());
}

// Fails with the Windows number in errno and the last error.
int fail(uint32_t code) {
    plat_SetLastError(code);
    errno = static_cast<int>(code);
    return -1;
}

// Keeps errno and the last error of the step that failed.
int failFromLast() {
    uint32_t code = plat_GetLastError();
    errno = static_cast<int>(code);
    return -1;
}

bool exists(const std::string &path) {
    int64_t size, mtime;
    return plat_FileInfoPath(path.c_str(), &size, &mtime) == 0;
}

// The time part of a run file name and its length before the extension: 13 for an open run, 27
// for a closed one; null for any other name.
const char *runTimePart(const char *name, const char *extension, size_t *length) {
    const char *part = lfile_FindTimeSuffix(name, extension);
    if (part == nullptr) return nullptr;
    size_t n = strlen(part), ext = strlen(extension);
    if (n < ext) return nullptr;
    n -= ext;
    if (n != 13 && n != 27) return nullptr;
    *length = n;
    return part;
}

// The seconds of "YYMMDD?hhmmss" (years below 70 are 20xx), the separator unchecked.
bool readTime13(const char *p, uint32_t *seconds) {
    auto digits = [](const char *q) {
        return q[0] >= '0' && q[0] <= '9' && q[1] >= '0' && q[1] <= '9';
    };
    for (int i : {0, 2, 4, 7, 9, 11})
        if (!digits(p + i)) return false;
    auto two = [](const char *q) { return (q[0] - '0') * 10 + (q[1] - '0'); };
    struct tm tm {};
    tm.tm_year = two(p);
    if (tm.tm_year < 70) tm.tm_year += 100;
    tm.tm_mon = two(p + 2) - 1;
    tm.tm_mday = two(p + 4);
    tm.tm_hour = two(p + 7);
    tm.tm_min = two(p + 9);
    tm.tm_sec = two(p + 11);
    *seconds = static_cast<uint32_t>(lfile_StoreTime(lfile_NormalizeTm(&tm)));
    return true;
}

// The run times of a listed name: false when the name is no run with that extension.
bool runTimes(const char *name, const char *extension, uint32_t *start, uint32_t *stop,
              const char **part = nullptr) {
    size_t length;
    const char *p = runTimePart(name, extension, &length);
    if (p == nullptr || !readTime13(p, start)) return false;
    *stop = 0;
    if (length == 27 && !readTime13(p + 14, stop)) return false;
    if (part != nullptr) *part = p;
    return true;
}

void copyBounded(char *out, size_t size, const std::string &text) {
    if (out == nullptr || size == 0) return;
    size_t n = text.size() < size ? text.size() : size - 1;
    memcpy(out, text.data(), n);
    out[n] = '\0';
}

std::string withExtension(const std::string &path, const char *extension) {
    size_t dot = path.rfind('.');
    size_t sep = path.find_last_of("\\/");
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep))
        return path + extension;
    return path.substr(0, dot) + extension;
}

std::string fileName(const std::string &path) {
    size_t sep = path.find_last_of("\\/");
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

// The first "/<country>/" of the path (either separator on each side), tried in table order,
// else "/LOGGED_DATA/"; the Lumbrel edition always takes the latter. npos without a marker.
size_t markerStart(const std::string &path) {
    auto find = [&](const char *name) -> size_t {
        size_t n = strlen(name);
        for (size_t at = path.find(name); at != std::string::npos; at = path.find(name, at + 1))
            if (at > 0 && isSep(path[at - 1]) && at + n < path.size() && isSep(path[at + n]))
                return at - 1;
        return std::string::npos;
    };
    if (!reg_IsLumbrelEdition())
        for (int i = 0; lgr_GetCountryName(i) != nullptr; ++i) {
            size_t at = find(lgr_GetCountryName(i));
            if (at != std::string::npos) return at;
        }
    return find("LOGGED_DATA");
}

// The server part of "\\server\..." as the system's Windows code cut it.
std::string serverPart(const std::string &folder, size_t *end) {
    size_t first = folder.find_first_of("\\/", 2);
    size_t colon = folder.rfind(':');
    size_t stop = first;
    if (first != std::string::npos && !(colon != std::string::npos && colon > first))
        stop = folder.find_first_of("\\/", first + 1);
    if (stop == std::string::npos) stop = folder.size();
    *end = stop;
    return folder.substr(2, stop - 2);
}

// The current folder and its parent, for archives made without moving the process.
bool currentFolders(std::string *cwd, std::string *parent) {
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer) == nullptr) return false;
    *cwd = buffer;
    size_t sep = cwd->rfind('/');
    *parent = sep == 0 || sep == std::string::npos ? std::string("/") : cwd->substr(0, sep);
    return true;
}
} // namespace

CLogFileCollection::~CLogFileCollection() = default;

void CLogFileCollection::SetError(const char *message, const char *text) {
    copyBounded(errorMessage_, sizeof errorMessage_, message);
    copyBounded(errorText_, sizeof errorText_, text);
}

std::string CLogFileCollection::Path(const std::string &name) const {
    return std::string(folder_) + "/" + name;
}

int CLogFileCollection::CreateFolder(const std::string &path, uint32_t access) {
    if (!(access & LSTORE_WRITE)) return fail(WERR_PATH_NOT_FOUND);
    if (plat_MakeFolder(path.c_str()) == 0) return 0;
    // Create the missing levels from the top; a level that ends at or before the marker is the
    // replication tree itself, which only its owner makes.
    size_t from = path.find_first_of("\\/");
    if (path.size() > 2 && isSep(path[0]) && isSep(path[1])) serverPart(path, &from);
    size_t marker = markerStart(path);
    for (size_t sep = path.find_first_of("\\/", from + 1);;
         sep = path.find_first_of("\\/", sep + 1)) {
        size_t end = sep == std::string::npos ? path.size() : sep;
        std::string level = path.substr(0, end);
        if (!level.empty() && !isSep(level.back()) && !plat_FolderExists(level.c_str())) {
            if (marker != std::string::npos && end <= marker) return fail(WERR_PATH_NOT_FOUND);
            if (plat_MakeFolder(level.c_str()) != 0 && plat_GetLastError() != WERR_ALREADY_EXISTS)
                return failFromLast();
        }
        if (sep == std::string::npos) break;
    }
    return 0;
}

int CLogFileCollection::Open(const char *connection, const char *folder, const char *logger,
                             const char *prefix, uint32_t access) {
    if (CLogCollection::Open(connection, folder, logger, prefix, access) != 0) return -1;
    remote_ = 0;
    remoteNames_.clear();
    find_.reset();
    std::string path = folder != nullptr ? folder : "";
    if (!path.empty()) {
        size_t sep = path.find_first_of("\\/", 2);
        if (path[0] != '/' && path.size() > 2 && !(isSep(path[0]) && isSep(path[1])) &&
            path[1] != ':' && sep != std::string::npos) {
            std::string resolved = env_GetFolder(path.substr(0, sep).c_str());
            if (!resolved.empty()) path = resolved + "/" + path.substr(sep + 1);
        }
    } else {
        std::string logged = env_GetFolder("KVT_LOGGED_DATA");
        if (logged.empty()) {
            plat_SetLastError(0);
            errno = 0;
            return -1;
        }
        if (!plat_FolderExists(logged.c_str())) {
            if (!(access & LSTORE_WRITE)) return fail(WERR_PATH_NOT_FOUND);
            if (plat_MakeFolder(logged.c_str()) != 0 && plat_GetLastError() != WERR_ALREADY_EXISTS)
                return failFromLast();
        }
        path = logged + "/" + (logger != nullptr ? logger : "");
    }
    for (char &ch : path)
        if (ch == '\\') ch = '/';
    while (path.size() > 1 && isSep(path.back()))
        path.pop_back();
    if (path.size() > LFILE_MAX_PATH) return fail(WERR_FILENAME_EXCED_RANGE);
    copyBounded(folder_, sizeof folder_, path);

    size_t serverEnd = 0;
    bool unc = path.size() > 2 && isSep(path[0]) && isSep(path[1]);
    server_ = unc ? serverPart(path, &serverEnd) : "";
    lst_SetStoreInfo("", folder_, prefix_);

    if (plat_FolderExists(folder_)) return 0;
    std::string host = server_.substr(0, server_.find_first_of("\\/"));
    bool local = !unc || host.empty() || srv_IsLocal(host.c_str()) ||
                 path.find_first_of("\\/", serverEnd) == std::string::npos;
    if (local || access != LSTORE_READ) return CreateFolder(path, access);
    std::vector<std::string> names;
    if (ListRemote("*.odl", &names) < 0) return -1;
    remote_ = 1;
    return 0;
}

int CLogFileCollection::ListRemote(const char *pattern, std::vector<std::string> *names) {
    std::string host = server_.substr(0, server_.find_first_of("\\/"));
    int count = rfile_ListFiles(host.c_str(), folder_, pattern, 0, nullptr);
    if (count < 0) return -1;
    names->clear();
    if (count == 0) return 0;
    std::unique_ptr<char[][RFILE_NAME_SLOT]> slots(
        new char[static_cast<size_t>(count)][RFILE_NAME_SLOT]());
    int got = rfile_ListFiles(host.c_str(), folder_, pattern, count, slots.get());
    if (got < 0) return -1;
    for (int i = 0; i < got && i < count; ++i) {
        slots[i][RFILE_NAME_SLOT - 1] = '\0';
        names->push_back(slots[i]);
    }
    return got;
}

void CLogFileCollection::UseforLoggingDefault(int) {}

void CLogFileCollection::DeleteOlderThan(int32_t *time) {
    if (time == nullptr) return;
    uint32_t limit = static_cast<uint32_t>(*time);
    for (const char *extension : kExtensions) {
        PlatFindEntry entry;
        std::string pattern = Path(std::string("*") + extension);
        PlatFindHandle list = plat_FindFirst(pattern.c_str(), &entry);
        for (bool more = list != nullptr; more; more = plat_FindNext(list.get(), &entry) == 0) {
            uint32_t start, stop;
            if (entry.isFolder || !runTimes(entry.name.c_str(), extension, &start, &stop)) continue;
            // An open run (stop 0) is never old.
            if (stop == 0 || start >= limit || stop >= limit) continue;
            std::string path = Path(entry.name);
            plat_FileSetReadOnly(path.c_str(), 0);
            plat_FileDelete(path.c_str());
        }
    }
}

int CLogFileCollection::FindFirst(int *nameSize) {
    if (nameSize != nullptr) *nameSize = 256;
    find_.reset();
    findPending_ = false;
    remoteNames_.clear();
    remoteNext_ = 0;
    if (remote_) return ListRemote("*", &remoteNames_) < 0 ? 0 : 1;
    find_ = plat_FindFirst(Path("*").c_str(), &findEntry_);
    if (!find_) return 0;
    findPending_ = true;
    return 1;
}

bool CLogFileCollection::NextName(std::string *name) {
    if (remote_) {
        if (remoteNext_ >= remoteNames_.size()) return false;
        *name = remoteNames_[remoteNext_++];
        return true;
    }
    if (!find_) return false;
    if (findPending_) {
        findPending_ = false;
    } else if (plat_FindNext(find_.get(), &findEntry_) != 0) {
        return false;
    }
    *name = findEntry_.isFolder ? std::string() : findEntry_.name;
    return true;
}

int CLogFileCollection::FindNext(char *name, LogTimePair *start, LogTimePair *stop) {
    std::string entry;
    while (NextName(&entry)) {
        if (entry.empty() || entry[0] == '.') continue;
        entry.back() = static_cast<char>(entry.back() & 0x7F);
        uint32_t from, to;
        if (!runTimes(entry.c_str(), ".odl", &from, &to)) continue;
        copyBounded(name, 256, entry);
        if (start != nullptr) *start = {from, 0};
        if (stop != nullptr) *stop = {to, 0};
        return 1;
    }
    remoteNames_.clear();
    remoteNext_ = 0;
    find_.reset();
    plat_SetLastError(0);
    return 0;
}

int CLogFileCollection::FindLogger(char *name, int *nameSize, LogTimePair *start, LogTimePair *stop,
                                   int anyName) {
    std::vector<std::string> names;
    if (remote_) {
        if (ListRemote("*.odl", &names) < 0) names.clear();
    } else {
        PlatFindEntry entry;
        PlatFindHandle list = plat_FindFirst(Path("*.odl").c_str(), &entry);
        for (bool more = list != nullptr; more; more = plat_FindNext(list.get(), &entry) == 0)
            if (!entry.isFolder) names.push_back(entry.name);
    }
    bool found = false;
    std::string best;
    uint32_t bestStart = 0, bestStop = 0;
    size_t prefixLength = strlen(prefix_);
    for (std::string &entry : names) {
        if (entry.empty() || entry[0] == '.') continue;
        entry.back() = static_cast<char>(entry.back() & 0x7F);
        uint32_t from, to;
        const char *part;
        if (!runTimes(entry.c_str(), ".odl", &from, &to, &part)) continue;
        if (!anyName && (static_cast<size_t>(part - entry.c_str()) != prefixLength ||
                         !startsNoCase(entry.c_str(), prefix_)))
            continue;
        if (!found || from > bestStart) {
            found = true;
            best = entry;
            bestStart = from;
            bestStop = to;
        }
    }
    if (!found) return 0;
    // The name buffer holds the size FindFirst reports.
    copyBounded(name, 256, best);
    if (nameSize != nullptr) *nameSize = static_cast<int>(best.size());
    if (start != nullptr) *start = {bestStart, 0};
    if (stop != nullptr) *stop = {bestStop, 0};
    return 1;
}

CLogStore *CLogFileCollection::Create(int32_t *start, int storeArgument, LogHeader *header,
                                      const void *text, size_t textBytes, int archive,
                                      const char *server, const void *const *channelRecords) {
    if (start == nullptr || header == nullptr) {
        fail(WERR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = Path(std::string(prefix_) + lfile_FormatRunTime(*start) + ".odl");
    if (path.size() > LFILE_MAX_PATH) {
        fail(WERR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    auto store = std::make_unique<CLogFileStore>();
    auto failed = [&](const char *what) -> CLogStore * {
        uint32_t code = plat_GetLastError();
        char detail[1000];
        snprintf(detail, sizeof detail, "%s %s Error %u", what, path.c_str(), code);
        SetError(what, detail);
        store->Close();
        errno = static_cast<int>(code);
        return nullptr;
    };
    if (text != nullptr) {
        std::string textPath = withExtension(path, ".txt");
        int fd = plat_FileCreate(textPath.c_str(), PLAT_GENERIC_WRITE, PLAT_CREATE_ALWAYS,
                                 PLAT_OPEN_NULL_ACCESS_LIST);
        if (fd < 0) return failed("CANT CREATE TEXT FILE");
        int written = plat_FileWriteAt(fd, text, textBytes, 0);
        plat_FileClose(fd);
        if (written != 0) return failed("CANT WRITE TEXT FILE");
    }
    if (archive) {
        // The configuration is the parent of the current folder (its LOGGERS folder); the
        // archiver packs it where it lies, so the process stays where it is.
        std::string cwd, parent;
        if (!currentFolders(&cwd, &parent)) {
            plat_SetLastError(plat_WinErrorFromPosix(errno));
            return failed("CANT ARCHIVE CONFIGURATION");
        }
        std::string kvt = withExtension(path, ".kvt");
        if (kvt[0] != '/') kvt = cwd + "/" + kvt;
        if (prog_ArchiveFolder(kvt.c_str(), parent.c_str(), 0) != 0) {
            plat_SetLastError(static_cast<uint32_t>(errno));
            return failed("CANT ARCHIVE CONFIGURATION");
        }
    }
    if (store->Create(path.c_str(), storeArgument, header, server, channelRecords) != 0) {
        copyBounded(errorMessage_, sizeof errorMessage_, store->GetErrorMessage());
        copyBounded(errorText_, sizeof errorText_, store->GetErrorText());
        store->Close();
        return nullptr;
    }
    return store.release();
}

CLogStore *CLogFileCollection::CreateLogger(int32_t *start, int, int storeArgument,
                                            LogHeader *header, const char16_t *headerText,
                                            int archive, const char *server, int,
                                            const void *const *channelRecords) {
    std::string bytes;
    if (headerText != nullptr) {
        bytes = "\xFF\xFE";
        for (const char16_t *p = headerText; *p != 0; ++p) {
            bytes += static_cast<char>(*p & 0xFF);
            bytes += static_cast<char>(*p >> 8);
        }
    }
    return Create(start, storeArgument, header, headerText != nullptr ? bytes.data() : nullptr,
                  bytes.size(), archive, server, channelRecords);
}

CLogStore *CLogFileCollection::CreateLoggerEx(int32_t *start, int, int storeArgument,
                                              LogHeader *header, const char *headerText,
                                              int archive, const char *server, int,
                                              const void *const *channelRecords) {
    return Create(start, storeArgument, header, headerText,
                  headerText != nullptr ? strlen(headerText) : 0, archive, server, channelRecords);
}

CLogStore *CLogFileCollection::OpenLogger(const char *name, uint32_t access) {
    if (name == nullptr) {
        fail(WERR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = Path(name);
    if (path.size() > LFILE_MAX_PATH) {
        fail(WERR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    auto store = std::make_unique<CLogFileStore>();
    if (store->Open(nullptr, path.c_str(), access) != 0) {
        copyBounded(errorMessage_, sizeof errorMessage_, store->GetErrorMessage());
        copyBounded(errorText_, sizeof errorText_, store->GetErrorText());
        return nullptr;
    }
    return store.release();
}

int CLogFileCollection::UseforLogging(CLogStore *store, LogHeader *header, const char *prefix,
                                      int textFile, int archive) {
    if (store == nullptr) return fail(WERR_INVALID_PARAMETER);
    char name[261] = {};
    int length = sizeof name;
    store->GetName(name, &length);
    const char *p = prefix != nullptr ? prefix : "";
    std::string path = name;
    if (path.find_first_of("\\/") == std::string::npos ||
        !startsNoCase(fileName(path).c_str(), p)) {
        char text[1000];
        snprintf(text, sizeof text, "Prefixes don't match, Path %s, LogPrefix %s", name, p);
        SetError("Prefixes don't match", text);
        return -1;
    }
    char textPath[LFILE_MAX_PATH + 1] = {};
    if (textFile) {
        if (lfile_FindTextFile(name, textPath) == nullptr) {
            SetError("Cant determine text file name", "Cant determine text file name");
            return -1;
        }
        if (!exists(textPath)) {
            int e = errno = static_cast<int>(plat_GetLastError());
            char message[64], text[1000];
            snprintf(message, sizeof message, "Cant access text file %d", e);
            snprintf(text, sizeof text, "Cant access text file %d %s", e, textPath);
            SetError(message, text);
            return -1;
        }
    }
    std::string kvt = withExtension(path, ".kvt");
    if (archive && !exists(kvt)) return failFromLast();
    if (store->StartLogging(header) != 0) {
        char text[64];
        snprintf(text, sizeof text, "UseforLogging failed %d %u", errno, plat_GetLastError());
        SetError(text, text);
        return -1;
    }
    char now[261] = {};
    length = sizeof now;
    store->GetName(now, &length);
    if (textFile) {
        std::string newText = withExtension(now, ".txt");
        if (!equalNoCase(newText, textPath) && plat_FileMove(textPath, newText.c_str()) == 0)
            plat_FileSetReadOnly(newText.c_str(), 0);
    }
    if (archive && path != now) {
        std::string newKvt = withExtension(now, ".kvt");
        if (plat_FileMove(kvt.c_str(), newKvt.c_str()) == 0)
            plat_FileSetReadOnly(newKvt.c_str(), 0);
    }
    return 0;
}

int CLogFileCollection::CloseLogger(CLogStore *store, const int32_t *start, const int32_t *stop,
                                    int readOnly) {
    if (store == nullptr) return fail(WERR_INVALID_PARAMETER);
    char name[261] = {};
    int length = sizeof name;
    store->GetName(name, &length);
    store->Close();
    std::string old = name;
    // The text file is found through the data file, so before that moves or goes.
    char textPath[LFILE_MAX_PATH + 1] = {};
    bool hasText = lfile_FindTextFile(name, textPath) != nullptr;
    if (start == nullptr) {
        plat_FileSetReadOnly(name, 0);
        if (plat_FileDelete(name) != 0) return failFromLast();
        if (hasText) {
            plat_FileSetReadOnly(textPath, 0);
            plat_FileDelete(textPath);
        }
        for (const char *extension : {".kvt", ".zip"}) {
            std::string other = withExtension(old, extension);
            plat_FileSetReadOnly(other.c_str(), 0);
            plat_FileDelete(other.c_str());
        }
        return 0;
    }
    size_t partLength;
    const char *part = runTimePart(name, ".odl", &partLength);
    if (part == nullptr) {
        SetError("Bad file name", name);
        return fail(WERR_INVALID_NAME);
    }
    std::string renamed =
        old.substr(0, static_cast<size_t>(part - name)) + lfile_FormatRunTime(*start) +
        (stop != nullptr ? "_" + lfile_FormatRunTime(*stop) : std::string()) + ".odl";
    if (renamed.size() > LFILE_MAX_PATH) return fail(WERR_FILENAME_EXCED_RANGE);
    if (plat_FileMove(name, renamed.c_str()) != 0) {
        uint32_t code = plat_GetLastError();
        char text[1000];
        snprintf(text, sizeof text, "Cant Move %s to %s Error %u", name, renamed.c_str(), code);
        SetError("CANT MOVE LOG FILE", text);
        return failFromLast();
    }
    plat_FileSetReadOnly(renamed.c_str(), readOnly ? 1 : 0);
    if (auto *file = dynamic_cast<CLogFileStore *>(store)) file->SetName(renamed.c_str());
    if (!hasText) hasText = lfile_FindTextFile(renamed.c_str(), textPath) != nullptr;
    auto follow = [&](const std::string &from, const char *extension) {
        std::string to = withExtension(renamed, extension);
        if (from != to && plat_FileMove(from.c_str(), to.c_str()) != 0) return;
        plat_FileSetReadOnly(to.c_str(), readOnly ? 1 : 0);
    };
    if (hasText && exists(textPath)) follow(textPath, ".txt");
    for (const char *extension : {".kvt", ".zip"}) {
        std::string from = withExtension(old, extension);
        if (exists(from)) follow(from, extension);
    }
    plat_SetLastError(0);
    return 0;
}

const char *CLogFileCollection::GetErrorText() {
    return errorText_;
}

const char *CLogFileCollection::GetErrorMessage() {
    return errorMessage_;
}

void CLogFileCollection::MakeStoreName(const char *name, char *buffer, int *length) {
    std::string path = std::string(folder_) + "/" + (name != nullptr ? name : "");
    if (path.size() <= LFILE_MAX_PATH) {
        lstore_PutName(path, buffer, length);
        return;
    }
    // A run path longer than its field is refused, never cut.
    int room = length != nullptr ? *length : 0;
    lstore_PutName("", buffer, &room);
    if (length != nullptr) *length = static_cast<int>(path.size() + 1);
    if (buffer != nullptr) fail(WERR_FILENAME_EXCED_RANGE);
}
