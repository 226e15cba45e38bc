#include "rfile_config.h"

#include "cfg.h"
#include "chan.h"
#include "chfile.h"
#include "chrec.h"
#include "env.h"
#include "plat_error.h"
#include "plat_system.h"
#include "rfile.h"
#include "srv.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::atomic<RfileLoggerRead> g_loggerRead{nullptr};
std::atomic<RfileLoggerWrite> g_loggerWrite{nullptr};

constexpr int kPieceBudget = 32668; // a request of 32768 bytes less its line
constexpr int kLoggerPiece = 65512; // the largest RF read
constexpr int kCommandLimit = 32768;
constexpr int kMinReply = 250;
// Writes open always, so that a file keeps the bytes after those written.
constexpr RemoteFileMode kWriteMode = {0x40000000u, 3, 1, 4, 128};

bool IsLocalWork(const char *server) {
    return srv_IsLocal(server) || srv_ServerKind(server) == SRV_KIND_PIPE;
}

// The configuration folder of a local spec or a pipe server; "" with the last error set.
std::string ConfigFolder(const char *server) {
    std::string folder = srv_IsLocal(server) ? env_GetFolder("KVT_CURRENT_CONFIG")
                                             : srv_ResolveFolder(server, "KVT_CURRENT_CONFIG");
    // A remote pipe server's folder is a share of that computer; there are no shares here.
    if (folder.size() >= 2 && (folder[0] == '\\' || folder[0] == '/') && folder[1] == folder[0]) {
        plat_Fail(WERR_BAD_NETPATH);
        return "";
    }
    if (folder.empty()) plat_Fail(WERR_PATH_NOT_FOUND);
    return folder;
}

std::string Join(const std::string &folder, const char *name) {
    if (name == nullptr || *name == '\0') return folder;
    return folder + "/" + name;
}

std::string RemotePath(const char *folder, const char *file) {
    return std::string("KVT_CURRENT_CONFIG\\") + (folder != nullptr ? folder : "") + "\\" + file;
}

std::string LoggerPath(const char *kind, int number) {
    char name[64];
    snprintf(name, sizeof name, "%s_%d", kind != nullptr ? kind : "", number);
    return std::string("KVT_CURRENT_CONFIG\\LOGGERS\\") + name;
}

// A request refused with 1465 is final; every other failure falls back.
bool Final(int result) {
    return result == -1 && plat_GetLastError() == WERR_XML_PARSE_ERROR;
}

// Reads count bytes at offset in pieces of at most piece bytes; each piece must come whole.
// Reads open existing files only, so none is left behind on the server.
int ReadWhole(const char *server, const std::string &path, uint8_t *out, int64_t offset, int count,
              int piece) {
    for (int done = 0; done < count;) {
        int n = count - done < piece ? count - done : piece;
        int got = 0;
        if (rfile_ReadFile(server, -1, path.c_str(), out + done, n, &got,
                           static_cast<int32_t>(offset + done), 0, RFILE_READ) == 0)
            return -1;
        // The exchange worked but the file ended: no code of its own, so the short read's.
        if (got != n) return plat_Fail(WERR_HANDLE_EOF);
        done += n;
    }
    return 0;
}

int WriteWhole(const char *server, const std::string &path, const uint8_t *data, int count,
               int piece) {
    int done = 0;
    do {
        int n = count - done < piece ? count - done : piece;
        int written = 0;
        if (rfile_WriteFile(server, -1, path.c_str(), data + done, n, &written, done, 0,
                            kWriteMode) == 0)
            return -1;
        if (written != n) return plat_Fail(WERR_HANDLE_EOF);
        done += n;
    } while (done < count);
    return 0;
}

int PieceFor(const std::string &path) {
    return kPieceBudget - static_cast<int>(path.size());
}

} // namespace

void rfile_SetLoggerFileHooks(RfileLoggerRead read, RfileLoggerWrite write) {
    g_loggerRead.store(read);
    g_loggerWrite.store(write);
}

int rfile_ReadChannels(const char *server, const char *folder, int kind, ChannelRecord *records,
                       int first, int count) {
    return rfile_ReadChannelsEx(server, folder, kind, records, first, count, nullptr, 0, nullptr);
}

int rfile_ReadChannelsEx(const char *server, const char *folder, int kind, ChannelRecord *records,
                         int first, int count, void *extra, int extraLength,
                         const char *extraFile) {
    if (first < 0 || count < 0 || (count > 0 && records == nullptr) || extraLength < 0 ||
        chrec_KindName(kind)[0] == '\0')
        return plat_Fail(WERR_INVALID_PARAMETER);
    if (extra == nullptr) extraLength = 0;
    if (IsLocalWork(server)) {
        std::string config = ConfigFolder(server);
        if (config.empty()) return -1;
        return chan_ReadChannels(Join(config, folder).c_str(), kind, records, first, count, extra,
                                 extraLength, extraFile);
    }

    int total = count * static_cast<int>(CHANNEL_RECORD_SIZE) + extraLength + 2;
    std::string request = "IF," + std::to_string(total) + "," + (folder ? folder : "") + "," +
                          std::to_string(first) + "," + std::to_string(count) + "," +
                          std::to_string(extraLength) + "," + (extraFile ? extraFile : "") + "," +
                          std::to_string(kind);
    std::vector<char> reply(static_cast<size_t>(total > kMinReply ? total : kMinReply));
    int size = static_cast<int>(reply.size());
    int rc = srv_Command(server, request.c_str(), reply.data(), &size);
    if (Final(rc)) return -1;
    if (rc != -1 && size == total) {
        size_t bytes = static_cast<size_t>(count) * CHANNEL_RECORD_SIZE;
        if (bytes > 0) std::memcpy(records, reply.data() + 2, bytes);
        if (extraLength > 0) std::memcpy(extra, reply.data() + 2 + bytes, extraLength);
        return 0;
    }

    std::string path = RemotePath(folder, chrec_KindName(kind));
    int perRequest = PieceFor(path) / static_cast<int>(CHANNEL_RECORD_SIZE);
    if (perRequest < 1) return plat_Fail(WERR_FILENAME_EXCED_RANGE);
    for (int done = 0; done < count;) {
        int n = count - done < perRequest ? count - done : perRequest;
        if (ReadWhole(server, path, records[done].bytes, chfile_ChannelOffset(first + done),
                      n * static_cast<int>(CHANNEL_RECORD_SIZE), n * CHANNEL_RECORD_SIZE) < 0)
            return -1;
        done += n;
    }
    if (extraLength > 0) {
        // Open existing: a read must not leave an empty file behind on the server.
        std::string extraPath = RemotePath(folder, extraFile ? extraFile : "");
        if (ReadWhole(server, extraPath, static_cast<uint8_t *>(extra), 0, extraLength,
                      PieceFor(extraPath)) < 0)
            return -1;
    }
    return 0;
}

int rfile_ReadDeviceConfig(const char *server, const char *folder, void *buffer, int size) {
    return rfile_ReadDeviceConfigEx(server, folder, buffer, size, nullptr, 0, nullptr, nullptr,
                                    nullptr, nullptr, nullptr);
}

int rfile_ReadDeviceConfigEx(const char *server, const char *folder, void *buffer, int size,
                             void *extra, int extraSize, const char *extraFile, uint8_t *autoEnable,
                             uint8_t *saveOutputs, uint8_t *saveByTag, int32_t *saveRate) {
    if (size < 0 || (size > 0 && buffer == nullptr) || extraSize < 0)
        return plat_Fail(WERR_INVALID_PARAMETER);
    if (extra == nullptr) extraSize = 0;
    if (IsLocalWork(server)) {
        std::string config = ConfigFolder(server);
        if (config.empty()) return -1;
        return cfg_ReadDeviceConfig(Join(config, folder).c_str(), buffer, size, extra, extraSize,
                                    extraFile, autoEnable, saveOutputs, saveByTag, saveRate);
    }

    int total = size + extraSize + 9;
    char head[64];
    snprintf(head, sizeof head, "GF,%d,", total);
    std::string request = std::string(head) + (folder ? folder : "") + "," + std::to_string(size) +
                          "," + std::to_string(extraSize) + "," + (extraFile ? extraFile : "") +
                          "," + (autoEnable ? "1" : "0") + "," + (saveOutputs ? "1" : "0") + "," +
                          (saveByTag ? "1" : "0") + "," + (saveRate ? "1" : "0");
    std::vector<char> reply(static_cast<size_t>(total > kMinReply ? total : kMinReply));
    int length = static_cast<int>(reply.size());
    int rc = srv_Command(server, request.c_str(), reply.data(), &length);
    if (Final(rc)) return -1;
    if (rc != -1 && length == total) {
        const char *r = reply.data();
        if (autoEnable) *autoEnable = static_cast<uint8_t>(r[2]);
        if (saveOutputs) *saveOutputs = static_cast<uint8_t>(r[3]);
        if (saveByTag) *saveByTag = static_cast<uint8_t>(r[4]);
        if (saveRate) std::memcpy(saveRate, r + 5, sizeof *saveRate);
        if (size > 0) std::memcpy(buffer, r + 9, static_cast<size_t>(size));
        if (extraSize > 0) std::memcpy(extra, r + 9 + size, static_cast<size_t>(extraSize));
        return 0;
    }

    std::string path = RemotePath(folder, "config");
    if (ReadWhole(server, path, static_cast<uint8_t *>(buffer), 1, size, PieceFor(path)) < 0)
        return -1;
    if (extraSize > 0) {
        std::string extraPath = RemotePath(folder, extraFile ? extraFile : "");
        if (ReadWhole(server, extraPath, static_cast<uint8_t *>(extra), 0, extraSize,
                      PieceFor(extraPath)) < 0)
            return -1;
    }
    return 0;
}

int rfile_ReadDeviceSaveSettings(const char *server, const char *folder, uint8_t *saveOutputs,
                                 uint8_t *saveByTag, int32_t *saveRate) {
    if (IsLocalWork(server)) {
        // The loader reads only the outputs asked for, and never changes directory.
        std::string config = ConfigFolder(server);
        if (config.empty()) return -1;
        return cfg_ReadDeviceConfig(Join(config, folder).c_str(), nullptr, 0, nullptr, 0, nullptr,
                                    nullptr, saveOutputs, saveByTag, saveRate);
    }
    uint8_t bytes[6];
    if (ReadWhole(server, RemotePath(folder, "saveconfig"), bytes, 0, 6, 6) < 0) return -1;
    if (saveOutputs) *saveOutputs = bytes[0];
    if (saveByTag) *saveByTag = bytes[1];
    if (saveRate) std::memcpy(saveRate, bytes + 2, sizeof *saveRate);
    return 0;
}

int rfile_ReadDeviceAutoEnable(const char *server, const char *folder, uint8_t *autoEnable) {
    if (IsLocalWork(server)) {
        std::string config = ConfigFolder(server);
        if (config.empty()) return -1;
        return cfg_ReadDeviceConfig(Join(config, folder).c_str(), nullptr, 0, nullptr, 0, nullptr,
                                    autoEnable, nullptr, nullptr, nullptr);
    }
    uint8_t byte = 0;
    if (ReadWhole(server, RemotePath(folder, "config"), &byte, 0, 1, 1) < 0) return -1;
    if (autoEnable) *autoEnable = byte;
    return 0;
}

int rfile_WriteDeviceSaveSettings(const char *server, const char *folder, uint8_t saveOutputs,
                                  uint8_t saveByTag, int32_t saveRate) {
    if (IsLocalWork(server)) {
        std::string config = ConfigFolder(server);
        if (config.empty()) return -1;
        return cfg_WriteDeviceConfig(nullptr, Join(config, folder).c_str(), nullptr, 0, nullptr, 0,
                                     nullptr, nullptr, &saveOutputs, &saveByTag, &saveRate);
    }
    uint8_t bytes[6] = {saveOutputs, saveByTag};
    std::memcpy(bytes + 2, &saveRate, sizeof saveRate);
    return WriteWhole(server, RemotePath(folder, "saveconfig"), bytes, 6, 6);
}

int rfile_WriteDeviceAutoEnable(const char *server, const char *folder, uint8_t autoEnable) {
    if (IsLocalWork(server)) {
        std::string config = ConfigFolder(server);
        if (config.empty()) return -1;
        return cfg_WriteDeviceConfig(nullptr, Join(config, folder).c_str(), nullptr, 0, nullptr, 0,
                                     nullptr, &autoEnable, nullptr, nullptr, nullptr);
    }
    // Open always at offset 0: "config" keeps the record after its first byte.
    return WriteWhole(server, RemotePath(folder, "config"), &autoEnable, 1, 1);
}

int rfile_ReadLoggerConfig(const char *server, const char *kind, int number, void *buffer,
                           int size) {
    if (size < 0 || (size > 0 && buffer == nullptr)) return plat_Fail(WERR_INVALID_PARAMETER);
    if (IsLocalWork(server)) {
        RfileLoggerRead read = g_loggerRead.load();
        if (read == nullptr) return plat_Fail(WERR_NOT_SUPPORTED);
        std::string config = ConfigFolder(server);
        if (config.empty()) return -1;
        return read(Join(config, "LOGGERS").c_str(), kind, number, buffer, size);
    }
    return ReadWhole(server, LoggerPath(kind, number), static_cast<uint8_t *>(buffer), 0, size,
                     kLoggerPiece);
}

int rfile_WriteLoggerConfig(const char *server, const char *kind, int number, const void *buffer,
                            int size, const char *user) {
    if (size < 0 || (size > 0 && buffer == nullptr)) return plat_Fail(WERR_INVALID_PARAMETER);
    if (IsLocalWork(server)) {
        RfileLoggerWrite write = g_loggerWrite.load();
        if (write == nullptr) return plat_Fail(WERR_NOT_SUPPORTED);
        std::string config = ConfigFolder(server);
        if (config.empty()) return -1;
        return write(Join(config, "LOGGERS").c_str(), user, kind, number, buffer, size);
    }

    std::string who = user != nullptr ? user : plat_UserName();
    if (who.size() > 32) who.resize(32);
    char head[256];
    snprintf(head, sizeof head, "CF,%s,%d,%d,%s,", kind != nullptr ? kind : "", number, size,
             who.c_str());
    size_t length = strlen(head) + static_cast<size_t>(size) + 1;
    // The bytes go whole, with one NUL after them, so a zero byte does not cut the file; a
    // request that would not fit goes the WF way.
    if (length <= static_cast<size_t>(kCommandLimit)) {
        std::string request(head);
        request.append(static_cast<const char *>(buffer), static_cast<size_t>(size));
        request.push_back('\0');
        char reply[kMinReply] = {};
        int replySize = sizeof reply;
        int rc = srv_Transact(server, request.data(), static_cast<int>(request.size()), reply,
                              &replySize);
        if (rc != -1 || Final(rc)) return rc;
    }
    std::string path = LoggerPath(kind, number);
    return WriteWhole(server, path, static_cast<const uint8_t *>(buffer), size, PieceFor(path));
}
