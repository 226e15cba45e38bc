// Writing channel XML and its schema.
#include "chan_internal.h"
#include "xsd.h"

#include "plat_error.h"

#include <algorithm>
#include <cctype>
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

// A prefix that goes into the root's attributes as it is, needing no escape.
bool plainPrefix(const std::string &prefix) {
    for (char c : prefix)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.')
            return false;
    return true;
}

// One element per leaf, as cfg_WriteLeaves adds them to a channel, written as text at the
// channel's indentation; the same failures in the same order.
void appendLeaves(std::string *out, const std::vector<StructsLeaf> &leaves, const void *buffer,
                  int size, const char *format) {
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
        if (!xml_IsElementName(leaf.name.c_str())) {
            cfg_FreeText(text);
            xml_SetErrorf(XML_E_INVALIDARG, "xml_CreateElement('%s') failed 0x%x",
                          leaf.name.c_str(), static_cast<unsigned>(XML_E_INVALIDARG));
            return;
        }
        out->append("\n\t\t<").append(leaf.name).push_back('>');
        xml_AppendContent(out, text != nullptr ? text : "");
        out->append("</").append(leaf.name).push_back('>');
        cfg_FreeText(text);
    }
}

// A full rewrite needs no tree: the file's text is made channel by channel, byte for byte what
// the indented tree would be saved as (the tree's path below stays for updates). 0, or the
// failure reported; 1 when the device prefix needs the tree's handling of odd characters.
int rewriteAsText(ExModule &ex, const std::string &folder, int kind, const ChannelRecord *records,
                  int first, int count, bool withExtra, std::vector<uint8_t> &extraSpace,
                  const std::string &path) {
    std::string prefixName =
        cfg_DevicePrefix(folder.c_str()).substr(0, 5) + "_" + chrec_KindName(kind);
    if (!plainPrefix(prefixName)) return 1;
    std::string ns = std::string(CFG_NAMESPACE_HOST) + "/" + prefixName;
    std::string out;
    out.reserve(static_cast<size_t>(count) * 1024 + 512);
    out.append("<?xml " CFG_DOCUMENT_PI "?>\n<!--" CFG_CREATED_COMMENT
               "-->\n<Channels xmlns:xsi=\"" CFG_XSI_NAMESPACE "\" xmlns=\"")
        .append(ns)
        .append("\" xsi:schemaLocation=\"")
        .append(ns)
        .append(" ../SCHEMA/")
        .append(prefixName)
        .append(".xsd\"");
    size_t position = 0;
    LayoutCache layouts;
    bool any = false;
    for (int i = 0; i < count && xml_GetError() >= 0; ++i) {
        const int n = first + i;
        char context[64];
        snprintf(context, sizeof context, "%s Channel #%d", chrec_KindTitle(kind), n + 1);
        xml_SetErrorContext(context);
        out.append(any ? "\n\t<Channel id=\"" : ">\n\t<Channel id=\"")
            .append(std::to_string(n + 1))
            .push_back('"');
        any = true;
        const size_t opened = out.size();
        out.push_back('>');
        ChannelRecord rec = records[i];
        const structs_type *deviceType =
            ex.getChannelHwType != nullptr ? ex.getChannelHwType(kind, n, rec.bytes) : nullptr;
        std::vector<uint8_t> editable = editableRecord(ex, kind, n, rec);
        appendLeaves(&out, layouts.leaves(chrec_IsDigital(rec), deviceType), editable.data(),
                     CHANNEL_RECORD_SIZE, " <%s> %s");
        if (withExtra) {
            const int remaining = static_cast<int>(extraSpace.size() - position);
            const int size =
                ex.getChannelExtraSize(kind, n, rec.bytes, extraSpace.data() + position);
            if (size > 0) {
                std::vector<uint8_t> zeros;
                const uint8_t *source = extraSpace.data() + position;
                if (size > remaining) {
                    zeros.assign(static_cast<size_t>(size), 0);
                    source = zeros.data();
                }
                const structs_type *extraType = ex.getChannelExtraType(kind, n, rec.bytes);
                if (extraType != nullptr) {
                    std::vector<uint8_t> fields = editableExtra(ex, kind, n, &rec, source, size);
                    appendLeaves(&out, structs_Leaves(extraType), fields.data(),
                                 static_cast<int>(fields.size()), "<%s>  %s");
                }
                position += static_cast<size_t>(std::min(size, remaining));
            }
        }
        // A channel without fields is an empty element.
        if (out.size() == opened + 1)
            out.replace(opened, 1, "/>");
        else
            out.append("\n\t</Channel>");
    }
    out.append(any ? "\n</Channels>\n" : "/>\n");
    xml_SaveText(out, path.c_str());
    if (xml_GetError() < 0) return xml_ReportError();
    return 0;
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

namespace {
int writeSchema(ExModule &ex, const std::string &folder, int kind, const ChannelRecord *records,
                int first, int count, bool withExtra) {
    // One channel written changes no layout, so its schema stands.
    if (count <= 1) return 0;
    ChannelRecord rec = records[0];
    const structs_type *deviceType =
        ex.getChannelHwType != nullptr ? ex.getChannelHwType(kind, first, rec.bytes) : nullptr;
    const structs_type *extraType =
        withExtra ? ex.getChannelExtraType(kind, first, rec.bytes) : nullptr;
    int mixed = ex.getMixedChannelType != nullptr ? ex.getMixedChannelType() : 0;
    if (xsd_WriteChannelSchema(folder.c_str(), kind, mixed, deviceType, extraType, count) < 0)
        return xml_ReportError();
    return 0;
}
} // namespace

int chan_WriteChannelsXmlWith(ExModule &ex, const std::string &folder, int kind,
                              const ChannelRecord *records, int first, int count, const void *extra,
                              int extraSize, int update) {
    const bool withExtra = extra != nullptr && extraSize > 0 && ex.getChannelExtraSize != nullptr &&
                           ex.getChannelExtraType != nullptr;
    if (!update) {
        xml_ClearError();
        cfg_SetContext(folder.c_str(), "");
        const std::string path =
            cfg_Join(folder.c_str(), (std::string(chrec_KindName(kind)) + ".xml").c_str());
        std::vector<uint8_t> extraSpace;
        if (withExtra)
            extraSpace.assign(static_cast<const uint8_t *>(extra),
                              static_cast<const uint8_t *>(extra) + extraSize);
        int rc =
            rewriteAsText(ex, folder, kind, records, first, count, withExtra, extraSpace, path);
        if (rc < 0) return rc;
        if (rc == 0) return writeSchema(ex, folder, kind, records, first, count, withExtra);
    }
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
    return writeSchema(ex, folder, kind, records, first, count, withExtra);
}

int chan_WriteChannelsXml(const char *folder, int kind, const ChannelRecord *records, int first,
                          int count, const void *extra, int extraSize, int update) {
    if (!chan_ValidKind(kind) || first < 0 || count < 0 || (records == nullptr && count > 0))
        return plat_Fail(WERR_INVALID_PARAMETER);
    std::string f = cfg_Folder(folder);
    ExModule ex(f.c_str());
    return chan_WriteChannelsXmlWith(ex, f, kind, records, first, count, extra, extraSize, update);
}
