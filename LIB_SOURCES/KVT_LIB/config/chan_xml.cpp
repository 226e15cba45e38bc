// Writing channel XML and its schema.
#include "chan_internal.h"
#include "xsd.h"

#include "plat_error.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
// The editable form of a record's device part (on a copy).
std::vector<uint8_t> editableRecord(ExModule &ex, int kind, int n, const ChannelRecord &rec) {
    std::vector<uint8_t> copy(rec.bytes, rec.bytes + CHANNEL_RECORD_SIZE);
    if (ex.undecorateChannelHw == nullptr) return copy;
    ExBuffer buffer = {CHANNEL_RECORD_SIZE, copy.data(), 0};
    ex.undecorateChannelHw(kind, n, &buffer);
    if (buffer.owned && buffer.data != nullptr && buffer.data != copy.data() && buffer.size >= 0) {
        std::vector<uint8_t> owned(static_cast<uint8_t *>(buffer.data),
                                   static_cast<uint8_t *>(buffer.data) + buffer.size);
        free(buffer.data);
        if (owned.size() < CHANNEL_RECORD_SIZE) owned.resize(CHANNEL_RECORD_SIZE, 0);
        return owned;
    }
    return copy;
}

std::vector<uint8_t> editableExtra(ExModule &ex, int kind, int n, ChannelRecord *rec,
                                   const uint8_t *source, int size) {
    std::vector<uint8_t> copy(source, source + size);
    if (ex.undecorateChannelExtra == nullptr) return copy;
    ExBuffer buffer = {size, copy.data(), 0};
    ex.undecorateChannelExtra(kind, n, rec->bytes, &buffer);
    if (buffer.owned && buffer.data != nullptr && buffer.data != copy.data() && buffer.size >= 0) {
        std::vector<uint8_t> owned(static_cast<uint8_t *>(buffer.data),
                                   static_cast<uint8_t *>(buffer.data) + buffer.size);
        free(buffer.data);
        return owned;
    }
    return copy;
}

XmlNode *newChannelsRoot(XmlDocument *doc, const std::string &folder, int kind) {
    std::string prefixName =
        cfg_DevicePrefix(folder.c_str()).substr(0, 5) + "_" + chrec_KindName(kind);
    std::string ns = std::string(CFG_NAMESPACE_HOST) + "/" + prefixName;
    xml_CreateAndAddPINode(doc, "xml", CFG_DOCUMENT_PI);
    xml_CreateAndAddCommentNode(doc, CFG_CREATED_COMMENT, xml_DocumentNode(doc));
    XmlNode *root = xml_CreateElement(doc, "Channels");
    xml_AppendChildToParent(root, xml_DocumentNode(doc));
    xml_CreateAndAddAttributeNode(doc, "xmlns:xsi", CFG_XSI_NAMESPACE, root);
    xml_CreateAndAddAttributeNode(doc, "xmlns", ns.c_str(), root);
    xml_CreateAndAddAttributeNode(doc, "xsi:schemaLocation",
                                  (ns + " ../SCHEMA/" + prefixName + ".xsd").c_str(), root);
    return root;
}
} // namespace

int chan_WriteChannelsXmlWith(ExModule &ex, const std::string &folder, int kind,
                              const ChannelRecord *records, int first, int count, const void *extra,
                              int extraSize, int update) {
    XmlDocument *doc = xml_CreateDocument();
    cfg_SetContext(folder.c_str(), "");
    if (doc == nullptr) return xml_ReportError();
    const std::string path =
        cfg_Join(folder.c_str(), (std::string(chrec_KindName(kind)) + ".xml").c_str());
    XmlNode *root = nullptr;
    int loaded = update ? xml_LoadFile(doc, path.c_str()) : 1;
    if (loaded == 1) {
        xml_ClearError();
        root = newChannelsRoot(doc, folder, kind);
    } else if (loaded == 0) {
        root = xml_GetRootElement(doc);
        if (root != nullptr && strcmp(xml_LocalName(root), "Channels") != 0)
            xml_SetError(XML_E_FAIL, "Root Element <Channels> not found");
    }
    ChannelIndex index;
    if (update && loaded == 0 && xml_GetError() >= 0) index.build(root);

    const bool withExtra = extra != nullptr && extraSize > 0 && ex.getChannelExtraSize != nullptr &&
                           ex.getChannelExtraType != nullptr;
    std::vector<uint8_t> extraSpace;
    if (withExtra)
        extraSpace.assign(static_cast<const uint8_t *>(extra),
                          static_cast<const uint8_t *>(extra) + extraSize);
    size_t position = 0;
    LayoutCache layouts;
    for (int i = 0; i < count && xml_GetError() >= 0; ++i) {
        const int n = first + i;
        char context[64];
        snprintf(context, sizeof context, "%s Channel #%d", chrec_KindTitle(kind), n + 1);
        xml_SetErrorContext(context);
        XmlNode *node = update ? index.find(n + 1) : nullptr;
        if (node == nullptr) {
            node = xml_AddChildElement(doc, "Channel", root);
            xml_CreateAndAddAttributeNode(doc, "id", std::to_string(n + 1).c_str(), node);
            if (node != nullptr) index.add(n + 1, node);
        }
        ChannelRecord rec = records[i];
        const structs_type *deviceType =
            ex.getChannelHwType != nullptr ? ex.getChannelHwType(kind, n, rec.bytes) : nullptr;
        std::vector<uint8_t> editable = editableRecord(ex, kind, n, rec);
        cfg_WriteLeaves(doc, node, layouts.leaves(chrec_IsDigital(rec), deviceType),
                        editable.data(), CHANNEL_RECORD_SIZE, update, " <%s> %s");
        if (!withExtra) continue;
        const int remaining = static_cast<int>(extraSpace.size() - position);
        const int size = ex.getChannelExtraSize(kind, n, rec.bytes, extraSpace.data() + position);
        if (size <= 0) continue;
        std::vector<uint8_t> zeros;
        const uint8_t *source = extraSpace.data() + position;
        if (size > remaining) {
            zeros.assign(static_cast<size_t>(size), 0);
            source = zeros.data();
        }
        const structs_type *extraType = ex.getChannelExtraType(kind, n, rec.bytes);
        if (extraType != nullptr) {
            std::vector<uint8_t> fields = editableExtra(ex, kind, n, &rec, source, size);
            cfg_WriteFields(doc, node, extraType, fields.data(), static_cast<int>(fields.size()),
                            update, "<%s>  %s");
        }
        position += static_cast<size_t>(std::min(size, remaining));
    }
    xml_IndentTree(doc, root, 0);
    xml_SaveFile(doc, path.c_str());
    xml_ReleaseDocument(doc);
    if (xml_GetError() < 0) return xml_ReportError();

    // One channel written changes no layout, so its schema stands.
    if (count > 1) {
        ChannelRecord rec = records[0];
        const structs_type *deviceType =
            ex.getChannelHwType != nullptr ? ex.getChannelHwType(kind, first, rec.bytes) : nullptr;
        const structs_type *extraType =
            withExtra ? ex.getChannelExtraType(kind, first, rec.bytes) : nullptr;
        int mixed = ex.getMixedChannelType != nullptr ? ex.getMixedChannelType() : 0;
        if (xsd_WriteChannelSchema(folder.c_str(), kind, mixed, deviceType, extraType, count) < 0)
            return xml_ReportError();
    }
    return 0;
}

int chan_WriteChannelsXml(const char *folder, int kind, const ChannelRecord *records, int first,
                          int count, const void *extra, int extraSize, int update) {
    if (!chan_ValidKind(kind) || first < 0 || count < 0 || (records == nullptr && count > 0))
        return plat_Fail(WERR_INVALID_PARAMETER);
    std::string f = cfg_Folder(folder);
    ExModule ex(f.c_str());
    return chan_WriteChannelsXmlWith(ex, f, kind, records, first, count, extra, extraSize, update);
}
