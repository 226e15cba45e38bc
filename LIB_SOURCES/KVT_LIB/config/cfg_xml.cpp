// Writing config.xml and its schema.
#include "cfg.h"
#include "cfg_internal.h"
#include "xml.h"
#include "xsd.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>

std::vector<uint8_t> cfg_Undecorate(const void *stored, int size, int (*undecorate)(ExBuffer *)) {
    std::vector<uint8_t> copy(static_cast<size_t>(size > 0 ? size : 0));
    if (size > 0 && stored != nullptr) memcpy(copy.data(), stored, copy.size());
    if (undecorate == nullptr) return copy;
    ExBuffer buffer = {size, copy.data(), 0};
    undecorate(&buffer);
    if (buffer.owned && buffer.data != nullptr && buffer.data != copy.data() && buffer.size >= 0) {
        std::vector<uint8_t> owned(static_cast<uint8_t *>(buffer.data),
                                   static_cast<uint8_t *>(buffer.data) + buffer.size);
        free(buffer.data);
        return owned;
    }
    return copy;
}

std::vector<uint8_t> cfg_UndecorateExtra(ExModule &ex, void *record, int size, const void *extra,
                                         int extraSize) {
    std::vector<uint8_t> copy(static_cast<size_t>(extraSize > 0 ? extraSize : 0));
    if (extraSize > 0 && extra != nullptr) memcpy(copy.data(), extra, copy.size());
    if (ex.undecorateConfigExtra == nullptr) return copy;
    ExBuffer buffer = {extraSize, copy.data(), 0};
    ex.undecorateConfigExtra(record, size, &buffer);
    if (buffer.owned && buffer.data != nullptr && buffer.data != copy.data() && buffer.size >= 0) {
        std::vector<uint8_t> owned(static_cast<uint8_t *>(buffer.data),
                                   static_cast<uint8_t *>(buffer.data) + buffer.size);
        free(buffer.data);
        return owned;
    }
    return copy;
}

void cfg_WriteFields(XmlDocument *doc, XmlNode *parent, const structs_type *type,
                     const void *buffer, int size, int replace, const char *format) {
    cfg_WriteLeaves(doc, parent, structs_Leaves(type), buffer, size, replace, format);
}

void cfg_WriteLeaves(XmlDocument *doc, XmlNode *parent, const std::vector<StructsLeaf> &leaves,
                     const void *buffer, int size, int replace, const char *format) {
    for (const StructsLeaf &leaf : leaves) {
        if (xml_GetError() < 0) return;
        if (!cfg_LeafFits(leaf, size)) {
            xml_SetErrorf(XML_E_FAIL, format, leaf.name.c_str(), CFG_OUTSIDE_RECORD);
            return;
        }
        char message[EX_MESSAGE_SIZE];
        char *text = cfg_SaveText(leaf, buffer, size, message, sizeof message);
        if (text == nullptr && message[0] != '\0') {
            xml_SetErrorf(XML_E_FAIL, format, leaf.name.c_str(), message);
            return;
        }
        XmlNode *element = replace ? xml_SetChildElement(doc, leaf.name.c_str(), parent)
                                   : xml_AddChildElement(doc, leaf.name.c_str(), parent);
        xml_CreateAndAddTextNode(doc, text != nullptr ? text : "", element);
        cfg_FreeText(text);
    }
}

void cfg_HistoryFields(const char *user, int channel, const structs_type *type,
                       const void *oldBuffer, const void *newBuffer, int size) {
    for (const StructsLeaf &leaf : structs_Leaves(type)) {
        if (!cfg_LeafFits(leaf, size)) continue;
        char *before = cfg_FieldText(leaf, oldBuffer);
        char *after = cfg_FieldText(leaf, newBuffer);
        if (before != nullptr && after != nullptr && strcasecmp(before, after) != 0)
            cfg_AppendHistory(user, channel, leaf.name.c_str(), before, after);
        cfg_FreeText(before);
        cfg_FreeText(after);
    }
}

CfgConfigXml::~CfgConfigXml() {
    xml_DiscardStaged(&configStaged);
    xml_DiscardStaged(&schemaStaged);
    xml_ReleaseDocument(config);
    xml_ReleaseDocument(schema);
}

int cfg_BuildConfigXml(ExModule &ex, const std::string &folder, const void *record, int size,
                       const void *extra, int extraSize, const uint8_t *autoEnable,
                       const uint8_t *saveOutputs, const uint8_t *saveByTag,
                       const int32_t *saveRate, CfgConfigXml *out) {
    XmlDocument *doc = xml_CreateDocument();
    cfg_SetContext(folder.c_str(), "Dev/Proc Config");
    if (doc == nullptr) return xml_ReportError();
    const std::string path = cfg_Join(folder.c_str(), "config.xml");
    out->config = doc;
    out->configPath = path;
    XmlNode *root = nullptr;
    if (xml_LoadFile(doc, path.c_str()) == 1) {
        xml_ClearError();
        std::string prefix = cfg_DevicePrefix(folder.c_str()).substr(0, 5);
        std::string ns = std::string(CFG_NAMESPACE_HOST) + "/" + prefix;
        xml_CreateAndAddPINode(doc, "xml", CFG_DOCUMENT_PI);
        xml_CreateAndAddCommentNode(doc, CFG_CREATED_COMMENT, xml_DocumentNode(doc));
        root = xml_CreateElement(doc, "Configs");
        xml_AppendChildToParent(root, xml_DocumentNode(doc));
        xml_CreateAndAddAttributeNode(doc, "xmlns:xsi", CFG_XSI_NAMESPACE, root);
        xml_CreateAndAddAttributeNode(doc, "xmlns", ns.c_str(), root);
        xml_CreateAndAddAttributeNode(doc, "xsi:schemaLocation",
                                      (ns + " ../SCHEMA/" + prefix + ".xsd").c_str(), root);
    } else {
        root = xml_GetRootElement(doc);
        if (root != nullptr && strcmp(xml_LocalName(root), "Configs") != 0)
            xml_SetError(XML_E_FAIL, "Root Element <Configs> not found");
    }
    XmlNode *config = xml_FindByName(root, "Config");
    if (config == nullptr) config = xml_AddChildElement(doc, "Config", root);

    DeviceSaveSettings settings = {autoEnable != nullptr ? *autoEnable : 0,
                                   saveOutputs != nullptr ? *saveOutputs : 0,
                                   saveByTag != nullptr ? *saveByTag : 0,
                                   saveRate != nullptr ? static_cast<uint32_t>(*saveRate) : 0u};
    const bool given[4] = {autoEnable != nullptr, saveOutputs != nullptr, saveByTag != nullptr,
                           saveRate != nullptr};
    std::vector<StructsLeaf> saveLeaves = structs_Leaves(&structs_savesettings_type);
    for (size_t i = 0; i < saveLeaves.size(); ++i) {
        if (!given[i] || xml_GetError() < 0) continue;
        char *text = cfg_FieldText(saveLeaves[i], &settings);
        XmlNode *element = xml_SetChildElement(doc, saveLeaves[i].name.c_str(), config);
        xml_CreateAndAddTextNode(doc, text != nullptr ? text : "", element);
        cfg_FreeText(text);
    }

    // The module's types describe this operation's copies; they die with the module.
    std::vector<uint8_t> stored(static_cast<size_t>(size > 0 ? size : 0));
    if (record != nullptr && size > 0) memcpy(stored.data(), record, stored.size());
    const structs_type *deviceType = nullptr;
    if (record != nullptr && ex.getConfigType != nullptr) {
        deviceType = ex.getConfigType(stored.data(), size);
        if (deviceType != nullptr) {
            std::vector<uint8_t> editable =
                cfg_Undecorate(stored.data(), size, ex.undecorateConfig);
            cfg_WriteFields(doc, config, deviceType, editable.data(),
                            static_cast<int>(editable.size()), 1, "<%s> %s");
        }
    }
    const structs_type *extraType = nullptr;
    if (extra != nullptr && ex.getConfigExtraType != nullptr) {
        std::vector<uint8_t> extraCopy(static_cast<size_t>(extraSize > 0 ? extraSize : 0));
        if (extraSize > 0) memcpy(extraCopy.data(), extra, extraCopy.size());
        extraType = ex.getConfigExtraType(stored.data(), size, extraCopy.data(), extraSize);
        if (extraType != nullptr) {
            std::vector<uint8_t> editable =
                cfg_UndecorateExtra(ex, stored.data(), size, extraCopy.data(), extraSize);
            cfg_WriteFields(doc, config, extraType, editable.data(),
                            static_cast<int>(editable.size()), 1, "<%s> %s");
        }
    }
    if (xml_GetError() < 0) return xml_ReportError();

    // The reader's own step over the document as it will be saved: a record its module refuses
    // fails this save, not the next load.
    XmlDocument *probe = xml_CopyDocument(doc);
    std::vector<uint8_t> recordBack(static_cast<size_t>(std::max(size, 1)));
    std::vector<uint8_t> extraBack(static_cast<size_t>(std::max(extraSize, 1)));
    uint8_t flags[3];
    int32_t rate;
    cfg_ReadConfigDocument(
        ex, probe, record != nullptr ? recordBack.data() : nullptr, size,
        extra != nullptr ? extraBack.data() : nullptr, extraSize,
        autoEnable != nullptr ? &flags[0] : nullptr, saveOutputs != nullptr ? &flags[1] : nullptr,
        saveByTag != nullptr ? &flags[2] : nullptr, saveRate != nullptr ? &rate : nullptr);
    xml_ReleaseDocument(probe);
    if (xml_GetError() < 0) return xml_ReportError();
    xml_IndentTree(doc, root, 0);

    if (record != nullptr && cfg_GetWriteXml(folder.c_str()) > 0) {
        out->schema =
            xsd_BuildDeviceSchema(folder.c_str(), deviceType, extraType, &out->schemaPath);
        if (out->schema == nullptr) return xml_ReportError();
    }
    return 0;
}

int cfg_StageConfigXml(const std::string &folder, CfgConfigXml &built) {
    cfg_SetContext(folder.c_str(), "Dev/Proc Config");
    xml_StageFile(built.config, built.configPath.c_str(), &built.configStaged);
    if (xml_GetError() >= 0 && built.schema != nullptr) {
        xml_SetErrorContext("Creating Schema");
        xml_StageFile(built.schema, built.schemaPath.c_str(), &built.schemaStaged);
    }
    if (xml_GetError() >= 0) return 0;
    xml_DiscardStaged(&built.configStaged);
    xml_DiscardStaged(&built.schemaStaged);
    return xml_ReportError();
}

int cfg_CommitConfigSchema(const std::string &folder, CfgConfigXml &built) {
    cfg_SetContext(folder.c_str(), "Creating Schema");
    if (xml_CommitStaged(&built.schemaStaged) == 0) return 0;
    xml_DiscardStaged(&built.configStaged);
    return xml_ReportError();
}

int cfg_CommitConfigXml(const std::string &folder, CfgConfigXml &built) {
    if (cfg_CommitConfigSchema(folder, built) < 0) return -1;
    cfg_SetContext(folder.c_str(), "Dev/Proc Config");
    return xml_CommitStaged(&built.configStaged) == 0 ? 0 : xml_ReportError();
}

int cfg_SaveConfigXml(const std::string &folder, CfgConfigXml &built) {
    if (cfg_StageConfigXml(folder, built) < 0) return -1;
    return cfg_CommitConfigXml(folder, built);
}

int cfg_WriteConfigXml(const char *folder, const void *record, int size, const void *extra,
                       int extraSize, const uint8_t *autoEnable, const uint8_t *saveOutputs,
                       const uint8_t *saveByTag, const int32_t *saveRate) {
    std::string f = cfg_Folder(folder);
    ExModule ex(f.c_str());
    CfgConfigXml built;
    if (cfg_BuildConfigXml(ex, f, record, size, extra, extraSize, autoEnable, saveOutputs,
                           saveByTag, saveRate, &built) < 0)
        return -1;
    return cfg_SaveConfigXml(f, built);
}
