// Saving a range of channels: binary file, channel XML and the change history.
#include "chan_internal.h"

#include "chfile.h"
#include "plat_error.h"
#include "plat_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int k_calcExtraPerChannel = 2048;

// Whether the binary step's own files let it through: an existing file opens for writing, a
// missing one has a folder that takes new files. 0, or -1 with errno as the write would fail.
int checkWritable(const std::string &path) {
    if (plat_FileMayWrite(path.c_str()) < 0) return -1;
    int fd = plat_FileOpen(path.c_str(), PLAT_FILE_READ_WRITE);
    if (fd >= 0) return plat_FileClose(fd);
    if (errno != static_cast<int>(WERR_FILE_NOT_FOUND)) return -1;
    std::string native = plat_FileNativePath(path.c_str());
    size_t slash = native.rfind('/');
    std::string dir = slash == std::string::npos ? "." : native.substr(0, slash == 0 ? 1 : slash);
    return access(dir.c_str(), W_OK | X_OK) == 0 ? 0 : plat_FailFromPosixPath(dir.c_str());
}

// The checks of the binary step, made before any file changes: the channel file, the extra
// file and the root's "config", which each save touches and which must hold its byte.
int checkBinary(const std::string &folder, int kind, bool withExtra, const char *extraFile) {
    if (checkWritable(chfile_Path(folder.c_str(), kind)) < 0) return -1;
    if (withExtra && checkWritable(cfg_Join(folder.c_str(), extraFile)) < 0) return -1;
    return cfg_RootConfigTouchable(folder.c_str());
}

std::vector<uint8_t> undecorateHw(ExModule &ex, int kind, int n, const ChannelRecord &rec) {
    std::vector<uint8_t> copy(rec.bytes, rec.bytes + CHANNEL_RECORD_SIZE);
    if (ex.undecorateChannelHw == nullptr) return copy;
    ExBuffer buffer = {CHANNEL_RECORD_SIZE, copy.data(), 0};
    ex.undecorateChannelHw(kind, n, &buffer);
    if (buffer.owned) cfg_TakeBlock(&buffer, copy.data(), CHANNEL_RECORD_SIZE);
    return copy;
}

std::vector<uint8_t> undecorateExtra(ExModule &ex, int kind, int n, ChannelRecord *rec,
                                     const uint8_t *source, int size) {
    std::vector<uint8_t> copy(source, source + size);
    if (ex.undecorateChannelExtra == nullptr) return copy;
    ExBuffer buffer = {size, copy.data(), 0};
    ex.undecorateChannelExtra(kind, n, rec->bytes, &buffer);
    if (buffer.owned) cfg_TakeBlock(&buffer, copy.data(), size);
    return copy;
}

void recordHistory(ExModule &ex, const char *user, int kind, int first, int count,
                   const ChannelRecord *oldRecords, const ChannelRecord *records) {
    for (int i = 0; i < count; ++i) {
        ChannelRecord before = oldRecords[i];
        const ChannelRecord &after = records[i];
        if (memcmp(before.bytes, after.bytes, CHANNEL_RECORD_SIZE) == 0) continue;
        const int n = first + i;
        if (((chrec_GetType(before) ^ chrec_GetType(after)) & 1) != 0) {
            // A layout change compares against an empty record of the new layout.
            uint8_t type = chrec_GetType(before);
            memset(before.bytes, 0, 188);
            chrec_SetType(&before, type);
        }
        ChannelRecord probe = after;
        const structs_type *deviceType =
            ex.getChannelHwType != nullptr ? ex.getChannelHwType(kind, n, probe.bytes) : nullptr;
        std::vector<uint8_t> a(before.bytes, before.bytes + CHANNEL_RECORD_SIZE);
        std::vector<uint8_t> b(after.bytes, after.bytes + CHANNEL_RECORD_SIZE);
        if (deviceType != nullptr) {
            a = undecorateHw(ex, kind, n, before);
            b = undecorateHw(ex, kind, n, after);
        }
        ChanLayout layout;
        chan_MakeLayout(&layout, chrec_IsDigital(after), deviceType);
        cfg_HistoryFields(user, n + 1, &layout.type, a.data(), b.data(), CHANNEL_RECORD_SIZE);
    }
}

void extraHistory(ExModule &ex, const char *user, int kind, int first, int count,
                  const ChannelRecord *records, const std::vector<uint8_t> &oldExtra,
                  const uint8_t *extra, int extraSize) {
    if (ex.getChannelExtraSize == nullptr || ex.getChannelExtraType == nullptr) return;
    size_t position = 0;
    for (int i = 0; i < count; ++i) {
        const int n = first + i;
        ChannelRecord rec = records[i];
        const int remaining = extraSize - static_cast<int>(position);
        // The module reads the channel's block where it lies: a copy of the rest of the block
        // per channel would make the walk quadratic.
        const int size =
            ex.getChannelExtraSize(kind, n, rec.bytes, const_cast<uint8_t *>(extra) + position);
        if (size <= 0) continue;
        if (size <= remaining && position + static_cast<size_t>(size) <= oldExtra.size() &&
            memcmp(oldExtra.data() + position, extra + position, static_cast<size_t>(size)) != 0) {
            const structs_type *type = ex.getChannelExtraType(kind, n, rec.bytes);
            if (type != nullptr) {
                std::vector<uint8_t> a =
                    undecorateExtra(ex, kind, n, &rec, oldExtra.data() + position, size);
                std::vector<uint8_t> b = undecorateExtra(ex, kind, n, &rec, extra + position, size);
                cfg_HistoryFields(user, n + 1, type, a.data(), b.data(),
                                  static_cast<int>(std::min(a.size(), b.size())));
            }
        }
        position += static_cast<size_t>(std::min(size, remaining));
    }
}
} // namespace

int chan_WriteChannelFiles(const char *user, const char *folder, int kind,
                           const ChannelRecord *records, int first, int count, const void *extra,
                           int extraSize, const char *extraFile, int update) {
    if (!chan_ValidKind(kind) || first < 0 || count < 0 || (records == nullptr && count > 0) ||
        (extra != nullptr && extraSize < 0))
        return plat_Fail(WERR_INVALID_PARAMETER);
    std::string f = cfg_Folder(folder);
    ExModule ex(f.c_str());

    const int writeXml = cfg_GetWriteXml(f.c_str());
    const bool xml = ex.doXml != nullptr && writeXml > 0;
    const bool binary = !(ex.doXml != nullptr && writeXml == 2);
    // Another saver of this file waits from here until the new file is in place: what it puts
    // there between this save's reading of the file and its rename would otherwise be lost.
    ChanXmlFiles staged;
    if (xml) {
        xml_ClearError();
        cfg_SetContext(f.c_str(), (std::string(chrec_KindTitle(kind)) + " Channels").c_str());
        if (xml_LockTarget(chan_XmlPath(f, kind).c_str(), &staged.file) < 0)
            return xml_ReportError();
    }

    std::vector<ChannelRecord> oldRecords;
    std::vector<uint8_t> oldExtra;
    bool history = false;
    if (cfg_GetHistoryFlag() != 0) {
        int64_t oldExtraSize = strncasecmp(cfg_DevicePrefix(f.c_str()).c_str(), "CALC", 4) == 0
                                   ? int64_t{count} * k_calcExtraPerChannel
                                   : extraSize;
        if (extra != nullptr && oldExtraSize > INT_MAX) return plat_Fail(WERR_INVALID_PARAMETER);
        oldRecords.resize(static_cast<size_t>(count));
        if (extra != nullptr)
            oldExtra.assign(static_cast<size_t>(std::max<int64_t>(oldExtraSize, 0)), 0);
        int r = chan_ReadChannels(f.c_str(), kind, oldRecords.data(), first, count,
                                  extra != nullptr ? oldExtra.data() : nullptr,
                                  static_cast<int>(oldExtra.size()), extraFile);
        if (r < 0 && errno == static_cast<int>(WERR_XML_PARSE_ERROR)) return -1;
        history = r == 0;
    }

    // The XML is made and checked, and staged beside its file, and the binary step's files are
    // checked, before any file is written: a save refused by a check leaves them as they were.
    const bool extraBinary =
        extra != nullptr && extraSize > 0 && extraFile != nullptr && *extraFile != '\0';
    if (binary && checkBinary(f, kind, extraBinary, extraFile) < 0) return -1;
    if (xml && chan_StageChannelsXml(ex, f, kind, records, first, count, extra, extraSize, update,
                                     &staged) < 0)
        return -1;
    // The schema goes first: a new schema beside the old data harms no reader.
    if (xml && chan_CommitChannelSchema(f, &staged) < 0) return -1;
    if (binary) {
        if (chfile_WriteChannels(chfile_Path(f.c_str(), kind).c_str(), records, first, count) < 0)
            return -1;
        if (cfg_TouchRootConfigOf(f.c_str()) < 0) return -1;
        if (extraBinary) {
            if (chfile_WriteExtra(cfg_Join(f.c_str(), extraFile).c_str(), extra, extraSize) < 0)
                return -1;
            if (cfg_TouchRootConfigOf(f.c_str()) < 0) return -1;
        }
    }
    if (xml && chan_CommitChannelFile(f, kind, &staged) < 0) return -1;

    if (history) {
        bool recordsDiffer =
            count > 0 && memcmp(oldRecords.data(), records,
                                static_cast<size_t>(count) * sizeof(ChannelRecord)) != 0;
        bool extraDiffers = extra != nullptr && extraSize > 0 &&
                            (oldExtra.size() < static_cast<size_t>(extraSize) ||
                             memcmp(oldExtra.data(), extra, static_cast<size_t>(extraSize)) != 0);
        if ((recordsDiffer || extraDiffers) && cfg_OpenHistoryIn(f.c_str(), kind + 1)) {
            recordHistory(ex, user, kind, first, count, oldRecords.data(), records);
            if (extraDiffers)
                extraHistory(ex, user, kind, first, count, records, oldExtra,
                             static_cast<const uint8_t *>(extra), extraSize);
        }
        cfg_CloseHistory();
    }
    return 0;
}

int chan_WriteChannels(const char *user, const char *folder, int kind, const ChannelRecord *records,
                       int first, int count, const void *extra, int extraSize,
                       const char *extraFile) {
    return chan_WriteChannelFiles(user, folder, kind, records, first, count, extra, extraSize,
                                  extraFile, 1);
}

int chan_RewriteChannels(const char *user, const char *folder, int kind,
                         const ChannelRecord *records, int first, int count, const void *extra,
                         int extraSize, const char *extraFile) {
    return chan_WriteChannelFiles(user, folder, kind, records, first, count, extra, extraSize,
                                  extraFile, 0);
}

int chan_SaveChannels(int kind, const ChannelRecord *records, int first, int count) {
    return chan_WriteChannelFiles(nullptr, nullptr, kind, records, first, count, nullptr, 0,
                                  nullptr, 1);
}
