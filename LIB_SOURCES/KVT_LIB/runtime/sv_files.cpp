#include "sv.h"

#include "chrec.h"
#include "env.h"
#include "plat_error.h"
#include "plat_file.h"
#include "plat_filecreate.h"
#include "sv_internal.h"
#include "tag.h"

#include <cctype>
#include <cerrno>
#include <string>
#include <vector>

int sv_FilePaths(const char *deviceFolder, int kind, std::string *bin, std::string *tag) {
    std::string folder = env_GetFolder("KVT_SAVED_VALUES");
    if (folder.empty()) {
        if (errno == 0) errno = WERR_PATH_NOT_FOUND;
        return -1;
    }
    std::string stem =
        folder + "/" + (deviceFolder != nullptr ? deviceFolder : "") + "_" + chrec_KindName(kind);
    *bin = stem + ".bin";
    *tag = stem + ".tag";
    return 0;
}

std::string sv_ChannelTag(const ChannelRecord &rec) {
    if (!chrec_TestFlag(rec, ChannelDigital::Enable)) return "";
    return tag_GetTag(rec);
}

int sv_TagsEqual(const std::string &a, const std::string &b) {
    constexpr size_t LIMIT = 15;
    size_t la = a.size() < LIMIT ? a.size() : LIMIT;
    size_t lb = b.size() < LIMIT ? b.size() : LIMIT;
    if (la != lb) return 0;
    for (size_t i = 0; i < la; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        // ASCII folding only: the Windows-1252 upper half compares as it stands.
        if (x < 0x80) x = static_cast<unsigned char>(tolower(x));
        if (y < 0x80) y = static_cast<unsigned char>(tolower(y));
        if (x != y) return 0;
    }
    return 1;
}

int sv_SaveValues(const char *deviceFolder, int kind, const void *values, const void *records,
                  int count) {
    std::string binPath, tagPath;
    if (sv_FilePaths(deviceFolder, kind, &binPath, &tagPath) != 0) return -1;
    int bin = plat_FileOpenOrCreateShared(binPath.c_str());
    if (bin < 0) return -1;
    int tag = plat_FileOpenOrCreateShared(tagPath.c_str());
    if (tag < 0) {
        int err = errno;
        plat_FileClose(bin);
        errno = err;
        return -1;
    }
    if (count <= 0) {
        plat_FileClose(bin);
        plat_FileClose(tag);
        return 0;
    }

    const auto *recs = static_cast<const ChannelRecord *>(records);
    const auto *vals = static_cast<const uint8_t *>(values);
    std::vector<SavedValueRecord> binRecords(static_cast<size_t>(count));
    std::vector<SavedTagRecord> tagRecords(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        std::string text = sv_ChannelTag(recs[i]);
        SavedValueRecord &b = binRecords[static_cast<size_t>(i)];
        SavedTagRecord &t = tagRecords[static_cast<size_t>(i)];
        memset(&b, 0, sizeof b);
        memset(&t, 0, sizeof t);
        memcpy(b.tag, text.data(), text.size() < sizeof b.tag ? text.size() : sizeof b.tag);
        memcpy(t.tag, text.data(), text.size() < sizeof t.tag ? text.size() : sizeof t.tag);
        memcpy(b.value, vals + 4 * i, 4);
    }

    int rc = 0;
    if (plat_FileWriteAt(bin, binRecords.data(), binRecords.size() * sizeof(SavedValueRecord), 0) !=
            0 ||
        plat_FileWriteAt(tag, tagRecords.data(), tagRecords.size() * sizeof(SavedTagRecord), 0) !=
            0)
        rc = -1;
    int err = errno;
    plat_FileClose(bin);
    plat_FileClose(tag);
    errno = err;
    return rc == 0 ? static_cast<int>(sizeof(SavedTagRecord)) : -1;
}
