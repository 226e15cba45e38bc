#include "rfile_pieces.h"

#include "plat_error.h"
#include "srv.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr int kReadLimit = 65512;
constexpr int kReadReply = 65536;
constexpr int kWriteLimit = 32768;
constexpr int kAccessRead = static_cast<int>(0x80000000u);
constexpr int kAccessWrite = 0x40000000;
constexpr int kShareReadWrite = 3;
constexpr int kAttributesNormal = 128;
} // namespace

int rfile_ReadPiece(const char *server, const char *path, void *out, int count, int64_t offset,
                    int disposition, int *got) {
    *got = 0;
    if (count < 0 || count > kReadLimit) return plat_Fail(WERR_INVALID_PARAMETER);
    char line[600];
    snprintf(line, sizeof line, "RF,%s\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d", path, count,
             static_cast<int>(offset), 0, kAccessRead, kShareReadWrite, 0, disposition,
             kAttributesNormal);
    std::vector<char> reply(kReadReply);
    int size = kReadReply;
    if (srv_Command(server, line, reply.data(), &size) == -1) return -1;
    // The data fill a field of exactly count bytes; the number read follows one separator.
    if (size < 2 + count + 1) return plat_Fail(WERR_HANDLE_EOF);
    std::string tail(reply.data() + 2 + count + 1, static_cast<size_t>(size - 3 - count));
    long n = strtol(tail.c_str(), nullptr, 10);
    if (n < 0 || n > count) return plat_Fail(WERR_INVALID_DATA);
    std::memcpy(out, reply.data() + 2, static_cast<size_t>(n));
    *got = static_cast<int>(n);
    return 0;
}

int rfile_WritePiece(const char *server, const char *path, const void *data, int count,
                     int64_t offset, int disposition) {
    char line[600];
    int head = snprintf(line, sizeof line, "WF,%s\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t", path, count,
                        static_cast<int>(offset), 0, kAccessWrite, kShareReadWrite, 1, disposition,
                        kAttributesNormal);
    if (count < 0 || head + count + 1 > kWriteLimit) return plat_Fail(WERR_INVALID_PARAMETER);
    std::string request(line, static_cast<size_t>(head));
    request.append(static_cast<const char *>(data), static_cast<size_t>(count));
    request.push_back('\0');
    char reply[24] = {};
    int size = sizeof reply;
    if (srv_Transact(server, request.data(), static_cast<int>(request.size()), reply, &size) == -1)
        return -1;
    return 0;
}
