#include "rfile.h"

#include "plat_error.h"
#include "plat_file.h"
#include "plat_filecreate.h"
#include "plat_fileops.h"
#include "plat_system.h"
#include "srv.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr int k_shortReply = 16;
constexpr int k_writeReply = 24;
constexpr int k_sizeReply = 32;
constexpr int k_timeReply = 100;
constexpr int k_listReply = 65536;
constexpr int k_textReply = 32768;
// RF pieces of a whole-file copy.
constexpr int k_copyPiece = 32744;

int fail(uint32_t code) {
    plat_SetLastError(code);
    errno = static_cast<int>(code);
    return 0;
}

// A failed request has set errno and the last error; keep them for the caller.
int failed() {
    plat_SetLastError(static_cast<uint32_t>(errno));
    return 0;
}

int32_t asInt(uint32_t v) {
    return static_cast<int32_t>(v);
}

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
    vsnprintf(text.data(), text.size() + 1, fmt, args);
    va_end(args);
    return text;
}

bool allDigits(const char *from, const char *end) {
    if (from >= end) return false;
    for (const char *p = from; p < end; ++p)
        if (*p < '0' || *p > '9') return false;
    return true;
}

// A line request with a reply buffer of capacity bytes: the result; the reply text in *text.
int command(const char *server, const std::string &line, int capacity, std::string *text) {
    std::vector<char> reply(static_cast<size_t>(capacity), '\0');
    int size = capacity;
    int rc = srv_Command(server, line.c_str(), reply.data(), &size);
    if (text != nullptr && rc != -1)
        text->assign(reply.data(), strnlen(reply.data(), static_cast<size_t>(size)));
    return rc;
}

int readHandle(int file, void *buffer, int count, int *bytesRead, int32_t offset, int method) {
    if (offset != -1 && plat_FileSeek(file, offset, method) < 0) return failed();
    int64_t got = plat_FileRead(file, buffer, static_cast<size_t>(count));
    if (got < 0) return failed();
    *bytesRead = static_cast<int>(got);
    return 1;
}
} // namespace

int rfile_ReadFile(const char *server, int file, const char *path, void *buffer, int count,
                   int *bytesRead, int32_t offset, int moveMethod, const RemoteFileMode &mode) {
    *bytesRead = 0;
    if (count < 0) return fail(WERR_INVALID_PARAMETER);
    if (file != -1) return readHandle(file, buffer, count, bytesRead, offset, moveMethod);
    if (count > RFILE_MAX_READ) return fail(WERR_INVALID_PARAMETER);
    int capacity = plat_OsMajorVersion() < 6 ? count + 24 : 65536;
    std::string line = format("RF,%s\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d", path, count, offset,
                              moveMethod, asInt(mode.access), asInt(mode.share), asInt(mode.flag),
                              asInt(mode.disposition), asInt(mode.attributes));
    std::vector<char> reply(static_cast<size_t>(capacity), '\0');
    int size = capacity;
    errno = 0;
    if (srv_Command(server, line.c_str(), reply.data(), &size) == -1) return failed();
    // "1," + the data field of count bytes + a separator + the bytes read, in decimal.
    const char *numberAt = reply.data() + 2 + count + 1;
    const char *end = numberAt;
    const char *replyEnd = reply.data() + size;
    while (end < replyEnd && *end != '\0')
        ++end;
    if (size < 2 + count + 2 || !allDigits(numberAt, end)) return fail(WERR_INVALID_DATA);
    // The number may run to the reply's last byte with no NUL after it: read only its digits,
    // and stop as soon as it exceeds the count.
    int got = 0;
    for (const char *p = numberAt; p < end; ++p) {
        got = got * 10 + (*p - '0');
        if (got > count) return fail(WERR_INVALID_DATA);
    }
    memcpy(buffer, reply.data() + 2, static_cast<size_t>(got));
    *bytesRead = got;
    return 1;
}

int rfile_WriteFile(const char *server, int file, const char *path, const void *data, int count,
                    int *bytesWritten, int32_t offset, int moveMethod, const RemoteFileMode &mode) {
    *bytesWritten = 0;
    if (count < 0) return fail(WERR_INVALID_PARAMETER);
    if (file != -1) {
        if (offset != -1 && plat_FileSeek(file, offset, moveMethod) < 0) return failed();
        if (plat_FileWrite(file, data, static_cast<size_t>(count)) < 0) return failed();
        *bytesWritten = count;
        return 1;
    }
    std::string request = format("WF,%s\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t", path, count, offset,
                                 moveMethod, asInt(mode.access), asInt(mode.share),
                                 asInt(mode.flag), asInt(mode.disposition), asInt(mode.attributes));
    // The data goes as bytes, zeros included, then one NUL; a text request would stop at the
    // first zero and write a short file.
    if (request.size() + static_cast<size_t>(count) + 1 > static_cast<size_t>(RFILE_MAX_REQUEST))
        return fail(WERR_INSUFFICIENT_BUFFER);
    request.append(static_cast<const char *>(data), static_cast<size_t>(count));
    request += '\0';
    char reply[k_writeReply] = {};
    int size = sizeof reply;
    errno = 0;
    if (srv_Transact(server, request.data(), static_cast<int>(request.size()), reply, &size) == -1)
        return failed();
    *bytesWritten = count;
    return 1;
}

int64_t rfile_GetFileSize(const char *server, const char *path, const RemoteFileMode &mode) {
    std::string line =
        format("SF,%s\t%d\t%d\t%d\t%d\t%d", path, asInt(mode.access), asInt(mode.share),
               asInt(mode.flag), asInt(mode.disposition), asInt(mode.attributes));
    std::string text;
    errno = 0;
    if (command(server, line, k_sizeReply, &text) == -1) {
        failed();
        return -1;
    }
    if (!allDigits(text.data(), text.data() + text.size())) {
        fail(WERR_INVALID_DATA);
        return -1;
    }
    return strtoll(text.c_str(), nullptr, 10);
}

int rfile_GetFileTime(const char *server, int file, const char *path, uint64_t *creation,
                      uint64_t *lastAccess, uint64_t *lastWrite) {
    if (file != -1)
        return plat_FileGetTimes(file, creation, lastAccess, lastWrite) == 0 ? 1 : failed();
    std::string text;
    errno = 0;
    if (command(server, format("TF,%s", path), k_timeReply, &text) == -1) return failed();
    int v[6];
    if (text.size() < 2 || sscanf(text.c_str() + 2, "%d,%d,%d,%d,%d,%d", &v[0], &v[1], &v[2], &v[3],
                                  &v[4], &v[5]) != 6)
        return fail(WERR_INVALID_DATA);
    auto join = [](int high, int low) {
        return static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32 |
               static_cast<uint32_t>(low);
    };
    if (creation != nullptr) *creation = join(v[0], v[1]);
    if (lastAccess != nullptr) *lastAccess = join(v[2], v[3]);
    if (lastWrite != nullptr) *lastWrite = join(v[4], v[5]);
    return 1;
}

int rfile_ListFiles(const char *server, const char *folder, const char *pattern, int maximum,
                    char (*names)[RFILE_NAME_SLOT]) {
    int count = 0;
    std::string previous;
    for (;;) {
        std::string text;
        errno = 0;
        if (command(server, format("DF,%s\t%s\t%d", folder, pattern, count), k_listReply, &text) ==
            -1) {
            failed();
            return -1;
        }
        // A server repeating a full reply would keep the caller here for ever.
        if (!previous.empty() && text == previous) return count;
        int before = count;
        size_t comma = text.find(',');
        size_t from = comma == std::string::npos ? text.size() : comma + 1;
        while (from < text.size()) {
            size_t next = text.find(',', from);
            if (next == std::string::npos) next = text.size();
            size_t length = next - from;
            if (length > 0) {
                if (names == nullptr) {
                    ++count;
                } else if (count < maximum) {
                    size_t n = length < RFILE_NAME_SLOT - 1 ? length : RFILE_NAME_SLOT - 1;
                    memcpy(names[count], text.data() + from, n);
                    names[count][n] = '\0';
                    ++count;
                }
            }
            from = next + 1;
        }
        // A full reply means more names may follow; one that brought none ends the listing.
        if (text.size() + RFILE_NAME_SLOT <= static_cast<size_t>(k_listReply) || count == before)
            return count;
        previous.swap(text);
    }
}

namespace {
int pathRequest(const char *server, const char *letters, const char *path) {
    errno = 0;
    return command(server, format("%s,%s", letters, path), k_shortReply, nullptr);
}
} // namespace

int rfile_SendUF(const char *server, const char *path) {
    return pathRequest(server, "UF", path);
}
int rfile_SendNF(const char *server, const char *path) {
    return pathRequest(server, "NF", path);
}
int rfile_SendOF(const char *server, const char *path) {
    return pathRequest(server, "OF", path);
}
int rfile_SendBF(const char *server, const char *path) {
    return pathRequest(server, "BF", path);
}

int rfile_SendEF(const char *server, const char *path, const char *other) {
    errno = 0;
    return command(server, format("EF,%s\t%s", path, other), k_shortReply, nullptr);
}

int rfile_SendMF(const char *server, const char *path, const char *other, char *text,
                 int textSize) {
    std::string reply;
    errno = 0;
    int rc = command(server, format("MF,%s\t%s", path, other), k_textReply, &reply);
    if (rc == 1 && text != nullptr && textSize > 0) {
        std::string rest = reply.size() > 2 ? reply.substr(2) : "";
        size_t n = rest.size() < static_cast<size_t>(textSize - 1)
                       ? rest.size()
                       : static_cast<size_t>(textSize - 1);
        memcpy(text, rest.data(), n);
        text[n] = '\0';
    }
    return rc;
}

int rfile_CopyFromServer(const char *server, const char *remotePath, const char *localPath) {
    int64_t size = rfile_GetFileSize(server, remotePath);
    if (size < 0) return 0;
    int fd = plat_FileCreateTruncated(localPath);
    if (fd < 0) return failed();
    std::vector<char> piece(k_copyPiece);
    int ok = 1;
    for (int64_t at = 0; at < size && ok != 0;) {
        int want = size - at < k_copyPiece ? static_cast<int>(size - at) : k_copyPiece;
        int got = 0;
        ok = rfile_ReadFile(server, -1, remotePath, piece.data(), want, &got,
                            static_cast<int32_t>(at), PLAT_FILE_BEGIN);
        // A file that shrank meanwhile, or a server that stops sending, gives fewer bytes than
        // the size promised: that is no copy.
        if (ok != 0 && got == 0) ok = fail(WERR_HANDLE_EOF);
        if (ok != 0 && plat_FileWriteAll(fd, piece.data(), static_cast<size_t>(got)) != 0)
            ok = failed();
        at += got;
    }
    uint32_t error = plat_GetLastError();
    plat_FileClose(fd);
    if (ok == 0) {
        // What arrived is not the file: nothing is left that could pass for it.
        plat_FileDelete(localPath);
        return fail(error);
    }
    return 1;
}

int rfile_CopyToServer(const char *server, const char *localPath, const char *remotePath) {
    int fd = plat_FileOpen(localPath, PLAT_FILE_READ);
    if (fd < 0) return failed();
    int64_t at = 0;
    int ok = 1;
    bool first = true;
    std::vector<char> piece(RFILE_MAX_REQUEST);
    while (ok != 0) {
        RemoteFileMode mode = first ? RFILE_CREATE : RFILE_APPEND;
        // The room a piece has: the request without data, its data and the NUL within the limit.
        std::string header =
            format("WF,%s\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t", remotePath, RFILE_MAX_REQUEST,
                   static_cast<int32_t>(at), 0, asInt(mode.access), asInt(mode.share),
                   asInt(mode.flag), asInt(mode.disposition), asInt(mode.attributes));
        int room = RFILE_MAX_REQUEST - static_cast<int>(header.size()) - 1;
        if (room <= 0) {
            ok = fail(WERR_INSUFFICIENT_BUFFER);
            break;
        }
        int64_t got = plat_FileRead(fd, piece.data(), static_cast<size_t>(room));
        if (got < 0) {
            ok = failed();
            break;
        }
        if (got == 0 && !first) break;
        int written = 0;
        ok = rfile_WriteFile(server, -1, remotePath, piece.data(), static_cast<int>(got), &written,
                             static_cast<int32_t>(at), PLAT_FILE_BEGIN, mode);
        at += got;
        first = false;
        if (got < room) break;
    }
    uint32_t error = plat_GetLastError();
    plat_FileClose(fd);
    if (ok == 0) return fail(error);
    return 1;
}
