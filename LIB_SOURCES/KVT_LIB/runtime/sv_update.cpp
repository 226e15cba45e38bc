#include "sv.h"

#include "plat_error.h"
#include "plat_file.h"
#include "sv_internal.h"

#include <cerrno>
#include <string>

int sv_UpdateValues(const char *deviceFolder, int kind, const void *newValues,
                    const void *oldValues, const void *records, int count) {
    std::string binPath, tagPath;
    if (sv_FilePaths(deviceFolder, kind, &binPath, &tagPath) != 0) return -1;
    int bin = plat_FileOpen(binPath.c_str(), PLAT_FILE_READ_WRITE);
    if (bin < 0) {
        if (errno == WERR_FILE_NOT_FOUND)
            return sv_SaveValues(deviceFolder, kind, newValues, records, count);
        return -1;
    }
    // A file from a shorter table would get records without tags past its end: write it
    // whole instead.
    int64_t size = plat_FileSize(bin);
    if (size >= 0 && size < 16 * int64_t{count}) {
        plat_FileClose(bin);
        return sv_SaveValues(deviceFolder, kind, newValues, records, count);
    }
    const auto *now = static_cast<const uint8_t *>(newValues);
    const auto *before = static_cast<const uint8_t *>(oldValues);
    int rewritten = 0;
    for (int i = 0; i < count; ++i) {
        if (memcmp(now + 4 * i, before + 4 * i, 4) == 0) continue;
        if (plat_FileWriteAt(bin, now + 4 * i, 4, 16 * int64_t{i} + 12) != 0) {
            int err = errno;
            plat_FileClose(bin);
            errno = err;
            return -1;
        }
        ++rewritten;
    }
    plat_FileClose(bin);
    return rewritten;
}
