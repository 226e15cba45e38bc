// Device configuration from the binary files of the device folder only: "config" (byte 0
// AutoEnable, then the record) and "saveconfig" (SaveOutputs, SaveByTag, int32 SaveRate).
#include "cfg.h"

#include "plat_error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Reads up to size bytes from offset; the count read, or -1 with errno.
int readFile(const char *name, off_t offset, void *buffer, int size) {
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return plat_FailFromPosixPath(name);
    int total = 0;
    while (total < size) {
        ssize_t got = pread(fd, static_cast<char *>(buffer) + total,
                            static_cast<size_t>(size - total), offset + total);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            int e = errno;
            close(fd);
            errno = e;
            return plat_FailFromPosix();
        }
        if (got == 0) break;
        total += static_cast<int>(got);
    }
    close(fd);
    return total;
}
} // namespace

int cfg_LoadDeviceConfig(void *record, int size) {
    if (record == nullptr || size < 0) return plat_Fail(WERR_INVALID_PARAMETER);
    // A short file leaves the rest of the caller's record as it was.
    if (readFile("config", 1, record, size) < 0) return -1;
    return 0;
}

int cfg_LoadSaveSettings(uint8_t *saveOutputs, uint8_t *saveByTag, int32_t *saveRate) {
    uint8_t bytes[6];
    int got = readFile("saveconfig", 0, bytes, sizeof bytes);
    if (got < 0) return -1;
    if (got < static_cast<int>(sizeof bytes)) return plat_Fail(WERR_HANDLE_EOF);
    if (saveOutputs != nullptr) *saveOutputs = bytes[0];
    if (saveByTag != nullptr) *saveByTag = bytes[1];
    if (saveRate != nullptr) memcpy(saveRate, bytes + 2, sizeof *saveRate);
    return 0;
}
