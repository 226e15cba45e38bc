// Saving the device configuration: binary files, config.xml and the change history.
#include "cfg.h"
#include "cfg_internal.h"
#include "xml.h"

#include "plat_error.h"
#include "plat_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
// Writes length bytes at offset, creating the file (never truncating it); 0 or -1.
int writeAt(const std::string &path, const void *data, size_t length, int64_t offset) {
    int fd = plat_FileOpenOrCreate(path.c_str());
    if (fd < 0) return -1;
    int result = plat_FileWriteAt(fd, data, length, offset);
    int err = errno;
    if (plat_FileClose(fd) < 0 && result == 0) return -1;
    errno = err;
    return result;
}

struct Inputs {
    const void *record;
    int size;
    const void *extra;
    int extraSize;
    const char *extraFile;
    const uint8_t *autoEnable;
    const uint8_t *saveOutputs;
    const uint8_t *saveByTag;
    const int32_t *saveRate;
};

int writeBinary(ExModule &ex, const std::string &folder, const Inputs &in) {
    const std::string config = cfg_Join(folder.c_str(), "config");
    const std::string save = cfg_Join(folder.c_str(), "saveconfig");
    if (in.autoEnable != nullptr && writeAt(config, in.autoEnable, 1, 0) < 0) return -1;
    if (in.saveOutputs != nullptr && writeAt(save, in.saveOutputs, 1, 0) < 0) return -1;
    if (in.saveByTag != nullptr && writeAt(save, in.saveByTag, 1, 1) < 0) return -1;
    if (in.saveRate != nullptr && writeAt(save, in.saveRate, 4, 2) < 0) return -1;
    if (in.record != nullptr && in.size > 0 &&
        writeAt(config, in.record, static_cast<size_t>(in.size), 1) < 0)
        return -1;
    if (in.extra != nullptr && in.extraSize > 0 && in.extraFile != nullptr &&
        *in.extraFile != '\0') {
        std::vector<uint8_t> copy(static_cast<const uint8_t *>(in.extra),
                                  static_cast<const uint8_t *>(in.extra) + in.extraSize);
        int64_t offset = ex.getConfigExtraFileOffset != nullptr
                             ? ex.getConfigExtraFileOffset(copy.data(), in.extraSize)
                             : 0;
        if (writeAt(cfg_Join(folder.c_str(), in.extraFile), in.extra,
                    static_cast<size_t>(in.extraSize), offset) < 0)
            return -1;
    }
    return 0;
}

// Whether the binary step may write each of its files: one marked read-only refuses the save
// before any file changes. 0, or -1 with errno.
int checkBinary(const std::string &folder, const Inputs &in) {
    const bool config = in.autoEnable != nullptr || (in.record != nullptr && in.size > 0);
    const bool save =
        in.saveOutputs != nullptr || in.saveByTag != nullptr || in.saveRate != nullptr;
    const bool extra =
        in.extra != nullptr && in.extraSize > 0 && in.extraFile != nullptr && *in.extraFile != '\0';
    if (config && plat_FileMayWrite(cfg_Join(folder.c_str(), "config").c_str()) < 0) return -1;
    if (save && plat_FileMayWrite(cfg_Join(folder.c_str(), "saveconfig").c_str()) < 0) return -1;
    if (extra && plat_FileMayWrite(cfg_Join(folder.c_str(), in.extraFile).c_str()) < 0) return -1;
    return 0;
}

// The device's old configuration, read for the history.
struct Old {
    std::vector<uint8_t> record;
    std::vector<uint8_t> extra;
    uint8_t autoEnable = 0, saveOutputs = 0, saveByTag = 0;
    int32_t saveRate = 0;
};

void settingLine(bool &opened, const char *user, const std::string &folder, const char *field,
                 const char *before, const char *after) {
    if (!opened) opened = cfg_OpenHistoryIn(folder.c_str(), 0) != 0;
    if (opened) cfg_AppendHistory(user, 0, field, before, after);
}

void writeHistory(ExModule &ex, const char *user, const std::string &folder, const Inputs &in,
                  Old &old) {
    bool opened = false;
    auto onOff = [](uint8_t v) { return v != 0 ? "ON" : "OFF"; };
    if (in.autoEnable != nullptr && *in.autoEnable != old.autoEnable)
        settingLine(opened, user, folder, "AutoEnable", onOff(old.autoEnable),
                    onOff(*in.autoEnable));
    if (in.saveOutputs != nullptr && *in.saveOutputs != old.saveOutputs)
        settingLine(opened, user, folder, "SaveOutputs", onOff(old.saveOutputs),
                    onOff(*in.saveOutputs));
    if (in.saveByTag != nullptr && *in.saveByTag != old.saveByTag)
        settingLine(opened, user, folder, "SaveByTag", onOff(old.saveByTag), onOff(*in.saveByTag));
    if (in.saveRate != nullptr && *in.saveRate != old.saveRate) {
        char before[16], after[16];
        snprintf(before, sizeof before, "%d", old.saveRate);
        snprintf(after, sizeof after, "%d", *in.saveRate);
        settingLine(opened, user, folder, "SaveRate", before, after);
    }
    std::vector<uint8_t> current(static_cast<size_t>(in.size > 0 ? in.size : 0));
    if (in.record != nullptr && in.size > 0) memcpy(current.data(), in.record, current.size());
    if (in.record != nullptr && in.size > 0 &&
        memcmp(old.record.data(), in.record, static_cast<size_t>(in.size)) != 0 &&
        ex.getConfigType != nullptr) {
        const structs_type *type = ex.getConfigType(current.data(), in.size);
        if (type != nullptr && (opened || (opened = cfg_OpenHistoryIn(folder.c_str(), 0) != 0))) {
            std::vector<uint8_t> before =
                cfg_Undecorate(old.record.data(), in.size, ex.undecorateConfig);
            std::vector<uint8_t> after =
                cfg_Undecorate(current.data(), in.size, ex.undecorateConfig);
            int size = static_cast<int>(std::min(before.size(), after.size()));
            cfg_HistoryFields(user, 0, type, before.data(), after.data(), size);
        }
    }
    if (in.extra != nullptr && in.extraSize > 0 &&
        memcmp(old.extra.data(), in.extra, static_cast<size_t>(in.extraSize)) != 0 &&
        ex.getConfigExtraType != nullptr) {
        std::vector<uint8_t> extraCopy(static_cast<const uint8_t *>(in.extra),
                                       static_cast<const uint8_t *>(in.extra) + in.extraSize);
        const structs_type *type =
            ex.getConfigExtraType(current.data(), in.size, extraCopy.data(), in.extraSize);
        if (type != nullptr && (opened || (opened = cfg_OpenHistoryIn(folder.c_str(), 0) != 0))) {
            std::vector<uint8_t> before =
                cfg_UndecorateExtra(ex, current.data(), in.size, old.extra.data(), in.extraSize);
            std::vector<uint8_t> after =
                cfg_UndecorateExtra(ex, current.data(), in.size, extraCopy.data(), in.extraSize);
            int size = static_cast<int>(std::min(before.size(), after.size()));
            cfg_HistoryFields(user, 0, type, before.data(), after.data(), size);
        }
    }
    cfg_CloseHistory();
}
} // namespace

int cfg_WriteDeviceConfig(const char *user, const char *folder, const void *record, int size,
                          const void *extra, int extraSize, const char *extraFile,
                          const uint8_t *autoEnable, const uint8_t *saveOutputs,
                          const uint8_t *saveByTag, const int32_t *saveRate) {
    if ((record != nullptr && size < 0) || (extra != nullptr && extraSize < 0))
        return plat_Fail(WERR_INVALID_PARAMETER);
    std::string f = cfg_Folder(folder);
    ExModule ex(f.c_str());
    Inputs in = {record,     size,        extra,     extraSize, extraFile,
                 autoEnable, saveOutputs, saveByTag, saveRate};

    const bool current = cfg_IsCurrentConfig(f.c_str()) != 0;
    const int writeXml = cfg_GetWriteXml(f.c_str());
    const bool xmlDevice = ex.doXml != nullptr && !current;
    const bool toXml = xmlDevice && writeXml > 0;
    const bool toBinary = !(xmlDevice && writeXml == 2);

    // Another saver of config.xml waits from here until the new file is in place: the build
    // keeps what the old file holds beyond this save's fields, and would lose what another
    // saver put there in between.
    CfgConfigXml xml;
    if (toXml) {
        xml_ClearError();
        cfg_SetContext(f.c_str(), "Dev/Proc Config");
        if (xml_LockTarget(cfg_Join(f.c_str(), "config.xml").c_str(), &xml.configStaged) < 0)
            return xml_ReportError();
    }

    Old old;
    bool history = false;
    if (cfg_GetHistoryFlag() != 0) {
        old.record.assign(static_cast<size_t>(record != nullptr ? size : 0), 0);
        old.extra.assign(static_cast<size_t>(extra != nullptr ? extraSize : 0), 0);
        int r = cfg_ReadDeviceConfig(f.c_str(), record != nullptr ? old.record.data() : nullptr,
                                     size, extra != nullptr ? old.extra.data() : nullptr, extraSize,
                                     extraFile, autoEnable != nullptr ? &old.autoEnable : nullptr,
                                     saveOutputs != nullptr ? &old.saveOutputs : nullptr,
                                     saveByTag != nullptr ? &old.saveByTag : nullptr,
                                     saveRate != nullptr ? &old.saveRate : nullptr);
        if (r < 0 && errno == static_cast<int>(WERR_XML_PARSE_ERROR)) return -1;
        history = r == 0;
    }

    // Whatever can refuse the save does so before the first file is written: a text that does
    // not read back, a record the reader's module refuses or a file the caller may not write
    // would otherwise leave the files of a save that failed, and a running scanner would take
    // up what its user was told was not saved.
    if (toXml && cfg_BuildConfigXml(ex, f, record, size, extra, extraSize, autoEnable, saveOutputs,
                                    saveByTag, saveRate, &xml) < 0)
        return -1;
    if (toBinary && checkBinary(f, in) < 0) return -1;
    if (cfg_RootConfigTouchable(f.c_str()) < 0) return -1;
    if (toXml && cfg_StageConfigXml(f, xml) < 0) return -1;

    // The schema goes first: a new schema beside the old data harms no reader.
    if (toXml && cfg_CommitConfigSchema(f, xml) < 0) return -1;
    if (toBinary && writeBinary(ex, f, in) < 0) return -1;
    if (cfg_TouchRootConfigOf(f.c_str()) < 0) return -1;
    if (toXml && cfg_CommitConfigXml(f, xml) < 0) return -1;
    if (history) writeHistory(ex, user, f, in, old);
    return 0;
}

int cfg_SaveDeviceConfig(const void *record, int size) {
    return cfg_WriteDeviceConfig(nullptr, nullptr, record, size, nullptr, 0, nullptr, nullptr,
                                 nullptr, nullptr, nullptr);
}

int cfg_SaveDeviceConfigTo(const char *user, const char *folder, const void *record, int size,
                           const void *extra, int extraSize, const char *extraFile) {
    return cfg_WriteDeviceConfig(user, folder, record, size, extra, extraSize, extraFile, nullptr,
                                 nullptr, nullptr, nullptr);
}
