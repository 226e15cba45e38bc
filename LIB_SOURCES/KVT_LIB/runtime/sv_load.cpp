#include "sv.h"

#include "chrec.h"
#include "plat_error.h"
#include "plat_file.h"
#include "sv_internal.h"
#include "tag.h"

#include <cerrno>
#include <string>
#include <vector>

namespace {
void store(const ChannelRecord &rec, uint8_t *out, const uint8_t value[4]) {
    if (chrec_GetType(rec) & 1) {
        // Only the state survives: the other status bits belong to this run's evaluation.
        uint32_t word, saved;
        memcpy(&word, out, 4);
        memcpy(&saved, value, 4);
        word = (word & ~1u) | (saved & 1u);
        memcpy(out, &word, 4);
    } else {
        memcpy(out, value, 4);
    }
}

std::string boundedText(const char *field, size_t width) {
    return std::string(field, strnlen(field, width));
}

int fail(int bin, int tag) {
    int err = errno;
    plat_FileClose(bin);
    if (tag >= 0) plat_FileClose(tag);
    errno = err;
    return -1;
}
} // namespace

int sv_LoadValues(const char *deviceFolder, int kind, int byTag, void *valuesOut,
                  const void *records, int count) {
    std::string binPath, tagPath;
    if (sv_FilePaths(deviceFolder, kind, &binPath, &tagPath) != 0) return -1;
    int bin = plat_FileOpen(binPath.c_str(), PLAT_FILE_READ);
    if (bin < 0) return -1;
    int tag = byTag ? plat_FileOpen(tagPath.c_str(), PLAT_FILE_READ) : -1;

    auto *out = static_cast<uint8_t *>(valuesOut);
    const auto *recs = static_cast<const ChannelRecord *>(records);
    if (count > 0) memset(out, 0, 4 * static_cast<size_t>(count));
    int last = 0;

    if (!byTag) {
        for (int i = 0; i < count; ++i) {
            uint8_t value[4];
            if (plat_FileReadAt(bin, value, 4, 16 * int64_t{i} + 12) != 0) return fail(bin, tag);
            store(recs[i], out + 4 * i, value);
            last = 4;
        }
    } else {
        // The channels' tags once, not once per saved record.
        std::vector<std::string> tags(static_cast<size_t>(count > 0 ? count : 0));
        for (int i = 0; i < count; ++i)
            tags[static_cast<size_t>(i)] = sv_ChannelTag(recs[i]);
        for (int i = 0; i < count; ++i) {
            SavedValueRecord saved;
            if (plat_FileReadAt(bin, &saved, sizeof saved, 16 * int64_t{i}) != 0)
                return fail(bin, tag);
            last = 4;
            // Without the .tag file only 12 characters are known; a longer tag then never
            // matches, rather than matching a different channel on its first 12 characters.
            std::string savedTag = boundedText(saved.tag, sizeof saved.tag);
            if (tag >= 0) {
                SavedTagRecord full;
                if (plat_FileReadAt(tag, &full, sizeof full, 15 * int64_t{i}) != 0)
                    return fail(bin, tag);
                savedTag = boundedText(full.tag, sizeof full.tag);
                last = static_cast<int>(sizeof full);
            }
            if (savedTag.empty()) continue;
            int target = -1;
            if (!tags[static_cast<size_t>(i)].empty() &&
                sv_TagsEqual(tags[static_cast<size_t>(i)], savedTag))
                target = i;
            for (int j = 0; target < 0 && j < count; ++j)
                if (!tags[static_cast<size_t>(j)].empty() &&
                    sv_TagsEqual(tags[static_cast<size_t>(j)], savedTag))
                    target = j;
            if (target >= 0) store(recs[target], out + 4 * target, saved.value);
        }
    }
    plat_FileClose(bin);
    if (tag >= 0) plat_FileClose(tag);
    return last;
}
