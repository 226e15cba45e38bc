// Reading the device configuration: config.xml through the extension module's types, or the
// binary files. Everything is built in scratch buffers and handed out only when the whole
// read succeeded.
#include "cfg.h"
#include "cfg_internal.h"
#include "xml.h"

#include "exdll.h"
#include "plat_error.h"
#include "plat_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
constexpr int k_minimumRecord = 704;

struct Outputs {
    void *record;
    int size;
    void *extra;
    int extraSize;
    const char *extraFile;
    uint8_t *autoEnable;
    uint8_t *saveOutputs;
    uint8_t *saveByTag;
    int32_t *saveRate;
};

bool wantsSettings(const Outputs &o) {
    return o.saveOutputs != nullptr || o.saveByTag != nullptr || o.saveRate != nullptr;
}

// Reads one element per leaf of type that is present under parent into buffer; names read
// are appended to names. Elements read are removed.
void readFields(XmlNode *parent, const structs_type *type, void *buffer, int size,
                std::string *names, const char *format) {
    for (const StructsLeaf &leaf : structs_Leaves(type)) {
        if (xml_GetError() < 0) return;
        XmlNode *element = xml_FindByName(parent, leaf.name.c_str());
        if (element == nullptr) continue;
        char *text = xml_getText(element);
        cfg_SetField(leaf, buffer, size, text, format);
        free(text);
        *names += leaf.name + ",";
        xml_RemoveChild(parent, element);
    }
}

// The outputs from a loaded config.xml (or from none, when the load failed); the elements read
// are removed. 0, or -1 with the error state set.
int readDocument(ExModule &ex, XmlDocument *doc, const Outputs &o) {
    XmlNode *root = nullptr;
    if (xml_GetError() >= 0) {
        root = xml_GetRootElement(doc);
        if (root != nullptr && strcmp(xml_LocalName(root), "Configs") != 0) root = nullptr;
        if (root == nullptr) {
            xml_ClearError();
            xml_SetError(XML_E_FAIL, "Root Element <Configs> not found");
        }
    }
    XmlNode *config = root != nullptr ? xml_FindByName(root, "Config") : nullptr;
    if (root != nullptr && config == nullptr) xml_SetError(XML_E_FAIL, "<Config> tag not found");

    // Save settings: each one asked for must be there.
    DeviceSaveSettings settings = {};
    std::vector<StructsLeaf> saveLeaves = structs_Leaves(&structs_savesettings_type);
    const bool asked[4] = {o.autoEnable != nullptr, o.saveOutputs != nullptr,
                           o.saveByTag != nullptr, o.saveRate != nullptr};
    for (size_t i = 0; i < saveLeaves.size() && xml_GetError() >= 0; ++i) {
        if (!asked[i]) continue;
        const StructsLeaf &leaf = saveLeaves[i];
        XmlNode *element = xml_FindByName(config, leaf.name.c_str());
        if (element == nullptr) {
            xml_SetErrorf(XML_E_FAIL, "<%s> tag not found", leaf.name.c_str());
            break;
        }
        char *text = xml_getText(element);
        cfg_SetField(leaf, &settings, sizeof settings, text, "<%s> %s");
        free(text);
        xml_RemoveChild(config, element);
    }

    // Device record, built in its editable form and decorated into the stored form.
    const int storedSize = std::max(o.size, k_minimumRecord);
    std::vector<uint8_t> stored(static_cast<size_t>(storedSize), 0);
    bool haveRecord = false;
    if (o.record != nullptr && ex.getConfigType != nullptr && xml_GetError() >= 0) {
        const structs_type *type = ex.getConfigType(o.record, o.size);
        if (type != nullptr) {
            std::vector<uint8_t> separate;
            uint8_t *editable = stored.data();
            int editSize = storedSize;
            if (ex.decoratedConfigSize != nullptr) {
                editSize = std::max(ex.decoratedConfigSize(o.size), 0);
                separate.assign(static_cast<size_t>(editSize), 0);
                editable = separate.data();
            }
            std::string names = ",";
            readFields(config, type, editable, editSize, &names, "<%s> %s");
            if (xml_GetError() >= 0) {
                ExBuffer buffer = {editSize, editable, 0};
                if (ex.decorateConfig != nullptr) {
                    ex.decorateConfig(&buffer, stored.data());
                    if (buffer.owned) cfg_TakeBlock(&buffer, stored.data(), storedSize);
                } else if (editable != stored.data()) {
                    memcpy(stored.data(), editable,
                           static_cast<size_t>(std::min(editSize, storedSize)));
                }
                char message[EX_MESSAGE_SIZE];
                exdll_BeginText(message, sizeof message);
                if (ex.validateDevice != nullptr &&
                    ex.validateDevice(names.c_str(), stored.data(), message, sizeof message) ==
                        -1) {
                    exdll_EndText(message, sizeof message);
                    xml_SetError(XML_E_FAIL, message);
                }
            }
            haveRecord = true;
        }
    }

    // Extra block.
    std::vector<uint8_t> extra(static_cast<size_t>(std::max(o.extraSize, 0)), 0);
    bool haveExtra = false;
    if (o.extra != nullptr && ex.getConfigExtraType != nullptr && xml_GetError() >= 0) {
        void *recordArg = haveRecord ? stored.data() : o.record;
        const structs_type *type =
            ex.getConfigExtraType(recordArg, o.size, extra.data(), o.extraSize);
        if (type != nullptr) {
            std::string names = ",";
            readFields(config, type, extra.data(), o.extraSize, &names, "<%s> %s");
            if (xml_GetError() >= 0 && ex.decorateConfigExtra != nullptr) {
                ExBuffer buffer = {o.extraSize, extra.data(), 0};
                ex.decorateConfigExtra(recordArg, o.size, &buffer);
                if (buffer.owned) cfg_TakeBlock(&buffer, extra.data(), o.extraSize);
            }
            char message[EX_MESSAGE_SIZE];
            exdll_BeginText(message, sizeof message);
            if (xml_GetError() >= 0 && ex.validateDeviceExtra != nullptr &&
                ex.validateDeviceExtra(names.c_str(), recordArg, extra.data(), o.extraSize, message,
                                       sizeof message) == -1) {
                exdll_EndText(message, sizeof message);
                xml_SetError(XML_E_FAIL, message);
            }
            haveExtra = true;
        }
    }
    if (xml_GetError() < 0) return -1;

    if (o.autoEnable != nullptr) *o.autoEnable = static_cast<uint8_t>(settings.autoEnable);
    if (o.saveOutputs != nullptr) *o.saveOutputs = static_cast<uint8_t>(settings.saveOutputs);
    if (o.saveByTag != nullptr) *o.saveByTag = static_cast<uint8_t>(settings.saveByTag);
    if (o.saveRate != nullptr) *o.saveRate = static_cast<int32_t>(settings.saveRate);
    if (haveRecord) memcpy(o.record, stored.data(), static_cast<size_t>(o.size));
    if (haveExtra) memcpy(o.extra, extra.data(), extra.size());
    return 0;
}

int readXml(ExModule &ex, const std::string &folder, const Outputs &o) {
    XmlDocument *doc = xml_CreateDocument();
    cfg_SetContext(folder.c_str(), "Dev/Proc Config");
    if (doc == nullptr) return xml_ReportError();
    xml_LoadFile(doc, cfg_Join(folder.c_str(), "config.xml").c_str());
    readDocument(ex, doc, o);
    xml_ReleaseDocument(doc);
    return xml_GetError() < 0 ? xml_ReportError() : 0;
}

// Reads exactly length bytes of an existing file; 0 or -1 with errno.
int readExactly(const std::string &path, void *buffer, size_t length, int64_t offset) {
    int fd = plat_FileOpen(path.c_str(), PLAT_FILE_READ);
    if (fd < 0) return -1;
    int result = plat_FileReadAt(fd, buffer, length, offset);
    int err = errno;
    plat_FileClose(fd);
    errno = err;
    return result;
}

int readBinary(ExModule &ex, const std::string &folder, const Outputs &o) {
    const std::string config = cfg_Join(folder.c_str(), "config");
    uint8_t autoEnable = 0;
    if (o.autoEnable != nullptr && readExactly(config, &autoEnable, 1, 0) < 0) return -1;

    uint8_t save[6] = {};
    if (wantsSettings(o) &&
        readExactly(cfg_Join(folder.c_str(), "saveconfig"), save, sizeof save, 0) < 0)
        return -1;

    std::vector<uint8_t> record;
    if (o.record != nullptr && o.size > 0) {
        int fd = plat_FileOpen(config.c_str(), PLAT_FILE_READ);
        if (fd < 0) return -1;
        record.resize(static_cast<size_t>(o.size));
        int64_t got = plat_FileReadAtMost(fd, record.data(), record.size(), 1);
        int err = errno;
        plat_FileClose(fd);
        if (got < 0) {
            errno = err;
            return -1;
        }
        // A short file leaves the rest of the caller's record as it was.
        record.resize(static_cast<size_t>(got));
    }

    std::vector<uint8_t> extra;
    bool haveExtra =
        o.extra != nullptr && o.extraSize > 0 && o.extraFile != nullptr && *o.extraFile != '\0';
    if (haveExtra) {
        extra.assign(static_cast<size_t>(o.extraSize), 0);
        int64_t offset = ex.getConfigExtraFileOffset != nullptr
                             ? ex.getConfigExtraFileOffset(o.extra, o.extraSize)
                             : 0;
        int fd = plat_FileOpen(cfg_Join(folder.c_str(), o.extraFile).c_str(), PLAT_FILE_READ);
        if (fd < 0 && errno != static_cast<int>(WERR_FILE_NOT_FOUND)) return -1;
        if (fd >= 0) {
            int64_t got = plat_FileReadAtMost(fd, extra.data(), extra.size(), offset);
            int err = errno;
            plat_FileClose(fd);
            if (got < 0) {
                errno = err;
                return -1;
            }
        }
    }

    if (o.autoEnable != nullptr) *o.autoEnable = autoEnable;
    if (o.saveOutputs != nullptr) *o.saveOutputs = save[0];
    if (o.saveByTag != nullptr) *o.saveByTag = save[1];
    if (o.saveRate != nullptr) memcpy(o.saveRate, save + 2, sizeof *o.saveRate);
    if (!record.empty()) memcpy(o.record, record.data(), record.size());
    if (haveExtra) memcpy(o.extra, extra.data(), extra.size());
    return 0;
}
} // namespace

int cfg_ReadDeviceConfig(const char *folder, void *record, int size, void *extra, int extraSize,
                         const char *extraFile, uint8_t *autoEnable, uint8_t *saveOutputs,
                         uint8_t *saveByTag, int32_t *saveRate) {
    if ((record != nullptr && size < 0) || (extra != nullptr && extraSize < 0))
        return plat_Fail(WERR_INVALID_PARAMETER);
    std::string f = cfg_Folder(folder);
    ExModule ex(f.c_str());
    Outputs o = {record,     size,        extra,     extraSize, extraFile,
                 autoEnable, saveOutputs, saveByTag, saveRate};
    bool xml = ex.doXml != nullptr && !cfg_IsCurrentConfig(f.c_str()) &&
               cfg_GetReadXml(f.c_str()) && cfg_FileExists(cfg_Join(f.c_str(), "config.xml"));
    return xml ? readXml(ex, f, o) : readBinary(ex, f, o);
}

int cfg_ReadConfigDocument(ExModule &ex, XmlDocument *doc, void *record, int size, void *extra,
                           int extraSize, uint8_t *autoEnable, uint8_t *saveOutputs,
                           uint8_t *saveByTag, int32_t *saveRate) {
    Outputs o = {record,     size,        extra,     extraSize, nullptr,
                 autoEnable, saveOutputs, saveByTag, saveRate};
    return readDocument(ex, doc, o);
}

int cfg_LoadDeviceConfig(void *record, int size) {
    return cfg_ReadDeviceConfig(nullptr, record, size, nullptr, 0, nullptr, nullptr, nullptr,
                                nullptr, nullptr);
}

int cfg_LoadDeviceConfigFrom(const char *folder, void *record, int size, void *extra, int extraSize,
                             const char *extraFile) {
    return cfg_ReadDeviceConfig(folder, record, size, extra, extraSize, extraFile, nullptr, nullptr,
                                nullptr, nullptr);
}

int cfg_LoadSaveSettings(uint8_t *saveOutputs, uint8_t *saveByTag, int32_t *saveRate) {
    return cfg_ReadDeviceConfig(nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, saveOutputs,
                                saveByTag, saveRate);
}
