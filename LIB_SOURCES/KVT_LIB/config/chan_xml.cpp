// Writing channel XML and its schema.
#include "chan_internal.h"
#include "xsd.h"

#include "exdll.h"
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

// What the reader makes of the texts saved for a channel: the record (or extra block) it
// builds from zeros field by field, and the names of the fields it has read.
struct AsRead {
    std::vector<uint8_t> bytes;
    std::string names = ",";
    explicit AsRead(size_t size) : bytes(size, 0) {}
};

// The text a leaf is saved as, taken back as the reader takes it into asRead; false with the
// failure recorded as the reader would record it (format: field name, message).
bool leafText(const StructsLeaf &leaf, const void *buffer, int size, const char *format,
              AsRead *asRead, std::string *out) {
    if (cfg_SaveAndReadField(leaf, buffer, size, asRead->bytes.data(),
                             static_cast<int>(asRead->bytes.size()), format, out) < 0)
        return false;
    asRead->names.append(leaf.name).push_back(',');
    return true;
}

// One element per leaf, written as text at the channel's indentation: byte for byte what the
// tree below adds and indents, with the same failures in the same order.
void appendLeaves(std::string *out, const std::vector<StructsLeaf> &leaves, const void *buffer,
                  int size, const char *format, AsRead *asRead) {
    std::string text;
    for (const StructsLeaf &leaf : leaves) {
        if (xml_GetError() < 0) return;
        if (!leafText(leaf, buffer, size, format, asRead, &text)) return;
        if (!xml_IsElementName(leaf.name.c_str())) {
            xml_SetErrorf(XML_E_INVALIDARG, "xml_CreateElement('%s') failed 0x%x",
                          leaf.name.c_str(), static_cast<unsigned>(XML_E_INVALIDARG));
            return;
        }
        out->append("\n\t\t<").append(leaf.name).push_back('>');
        xml_AppendContent(out, text.c_str());
        out->append("</").append(leaf.name).push_back('>');
    }
}

// One element per leaf under the channel's node; replace selects replacing a child of the same
// name.
void addLeaves(XmlDocument *doc, XmlNode *parent, const std::vector<StructsLeaf> &leaves,
               const void *buffer, int size, int replace, const char *format, AsRead *asRead) {
    std::string text;
    for (const StructsLeaf &leaf : leaves) {
        if (xml_GetError() < 0) return;
        if (!leafText(leaf, buffer, size, format, asRead, &text)) return;
        XmlNode *element = replace ? xml_SetChildElement(doc, leaf.name.c_str(), parent)
                                   : xml_AddChildElement(doc, leaf.name.c_str(), parent);
        xml_CreateAndAddTextNode(doc, text.c_str(), element);
    }
}

// The channel's fields, then its extra fields, through add (appendLeaves or addLeaves bound to
// their target), each checked as the reader would check what it reads back.
template <typename Add>
void channelFields(ExModule &ex, int kind, int n, const ChannelRecord &record, LayoutCache &layouts,
                   bool withExtra, std::vector<uint8_t> &extraSpace, size_t &position, Add add) {
    ChannelRecord rec = record;
    const structs_type *deviceType =
        ex.getChannelHwType != nullptr ? ex.getChannelHwType(kind, n, rec.bytes) : nullptr;
    std::vector<uint8_t> editable = editableRecord(ex, kind, n, rec);
    AsRead asRead(CHANNEL_RECORD_SIZE);
    add(layouts.leaves(chrec_IsDigital(rec), deviceType), editable.data(), CHANNEL_RECORD_SIZE,
        " <%s> %s", &asRead);
    chan_CheckAsRead(ex, kind, n, asRead.names.c_str(), asRead.bytes.data());
    if (!withExtra || xml_GetError() < 0) return;
    const int remaining = static_cast<int>(extraSpace.size() - position);
    const int size = ex.getChannelExtraSize(kind, n, rec.bytes, extraSpace.data() + position);
    if (size <= 0) return;
    std::vector<uint8_t> zeros;
    const uint8_t *source = extraSpace.data() + position;
    if (size > remaining) {
        zeros.assign(static_cast<size_t>(size), 0);
        source = zeros.data();
    }
    const structs_type *extraType = ex.getChannelExtraType(kind, n, rec.bytes);
    if (extraType != nullptr) {
        std::vector<uint8_t> fields = editableExtra(ex, kind, n, &rec, source, size);
        AsRead block(static_cast<size_t>(size));
        add(structs_Leaves(extraType), fields.data(), static_cast<int>(fields.size()), "<%s>  %s",
            &block);
        chan_CheckExtraAsRead(ex, kind, n, block.names.c_str(), asRead.bytes.data(),
                              block.bytes.data(), size, size);
    }
    position += static_cast<size_t>(std::min(size, remaining));
}

// Text a full rewrite keeps in memory before it writes it out to the staged file: a file of a
// few hundred channels is made whole before any file is touched, and a large one is not held
// whole.
constexpr size_t k_textPart = size_t{1} << 20;

// A full rewrite needs no tree: the file's text is made channel by channel, byte for byte what
// the indented tree would be saved as (the tree's path below stays for updates), and staged.
// 0, or -1 with the failure recorded; 1 when the device prefix needs the tree's handling of
// odd characters.
int rewriteAsText(ExModule &ex, const std::string &folder, int kind, const ChannelRecord *records,
                  int first, int count, bool withExtra, std::vector<uint8_t> &extraSpace,
                  const std::string &path, XmlStaged *staged) {
    std::string prefixName =
        cfg_DevicePrefix(folder.c_str()).substr(0, 5) + "_" + chrec_KindName(kind);
    if (!plainPrefix(prefixName)) return 1;
    std::string ns = std::string(CFG_NAMESPACE_HOST) + "/" + prefixName;
    std::string out;
    out.reserve(k_textPart + 64 * 1024);
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
    auto add = [&out](const std::vector<StructsLeaf> &leaves, const void *buffer, int size,
                      const char *format,
                      AsRead *asRead) { appendLeaves(&out, leaves, buffer, size, format, asRead); };
    const std::string title = std::string(chrec_KindTitle(kind)) + " Channel #";
    std::string context;
    for (int i = 0; i < count && xml_GetError() >= 0; ++i) {
        const int n = first + i;
        context.assign(title).append(std::to_string(n + 1));
        xml_SetErrorContext(context.c_str());
        out.append(any ? "\n\t<Channel id=\"" : ">\n\t<Channel id=\"")
            .append(std::to_string(n + 1))
            .push_back('"');
        any = true;
        const size_t opened = out.size();
        out.push_back('>');
        channelFields(ex, kind, n, records[i], layouts, withExtra, extraSpace, position, add);
        // A channel without fields is an empty element.
        if (out.size() == opened + 1)
            out.replace(opened, 1, "/>");
        else
            out.append("\n\t</Channel>");
        if (out.size() >= k_textPart && xml_GetError() >= 0 &&
            xml_StageAppend(out, path.c_str(), staged) == 0)
            out.clear();
    }
    out.append(any ? "\n</Channels>\n" : "/>\n");
    xml_StageText(out, path.c_str(), staged);
    return xml_GetError() < 0 ? -1 : 0;
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

// The file changed in place (update) or built afresh as a tree, and staged. 0, or -1 with the
// failure recorded.
int stageTree(ExModule &ex, const std::string &folder, int kind, const ChannelRecord *records,
              int first, int count, bool withExtra, std::vector<uint8_t> &extraSpace, int update,
              const std::string &path, XmlStaged *staged) {
    XmlDocument *doc = xml_CreateDocument();
    cfg_SetContext(folder.c_str(), "");
    if (doc == nullptr) return -1;
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
        auto add = [doc, node, update](const std::vector<StructsLeaf> &leaves, const void *buffer,
                                       int size, const char *format, AsRead *asRead) {
            addLeaves(doc, node, leaves, buffer, size, update, format, asRead);
        };
        channelFields(ex, kind, n, records[i], layouts, withExtra, extraSpace, position, add);
    }
    xml_IndentTree(doc, root, 0);
    xml_StageFile(doc, path.c_str(), staged);
    xml_ReleaseDocument(doc);
    return xml_GetError() < 0 ? -1 : 0;
}

int stageSchema(ExModule &ex, const std::string &folder, int kind, const ChannelRecord *records,
                int first, int count, bool withExtra, XmlStaged *staged) {
    // One channel written changes no layout, so its schema stands.
    if (count <= 1) return 0;
    ChannelRecord rec = records[0];
    const structs_type *deviceType =
        ex.getChannelHwType != nullptr ? ex.getChannelHwType(kind, first, rec.bytes) : nullptr;
    const structs_type *extraType =
        withExtra ? ex.getChannelExtraType(kind, first, rec.bytes) : nullptr;
    int mixed = ex.getMixedChannelType != nullptr ? ex.getMixedChannelType() : 0;
    return xsd_StageChannelSchema(folder.c_str(), kind, mixed, deviceType, extraType, count,
                                  staged);
}

int stageFiles(ExModule &ex, const std::string &folder, int kind, const ChannelRecord *records,
               int first, int count, const void *extra, int extraSize, int update,
               ChanXmlFiles *files) {
    const bool withExtra = extra != nullptr && extraSize > 0 && ex.getChannelExtraSize != nullptr &&
                           ex.getChannelExtraType != nullptr;
    std::vector<uint8_t> extraSpace;
    if (withExtra)
        extraSpace.assign(static_cast<const uint8_t *>(extra),
                          static_cast<const uint8_t *>(extra) + extraSize);
    const std::string path = chan_XmlPath(folder, kind);
    int rc = 1;
    if (!update) {
        xml_ClearError();
        cfg_SetContext(folder.c_str(), "");
        rc = rewriteAsText(ex, folder, kind, records, first, count, withExtra, extraSpace, path,
                           &files->file);
    }
    if (rc == 1)
        rc = stageTree(ex, folder, kind, records, first, count, withExtra, extraSpace, update, path,
                       &files->file);
    if (rc == 0)
        rc = stageSchema(ex, folder, kind, records, first, count, withExtra, &files->schema);
    return rc;
}
} // namespace

int chan_StageChannelsXml(ExModule &ex, const std::string &folder, int kind,
                          const ChannelRecord *records, int first, int count, const void *extra,
                          int extraSize, int update, ChanXmlFiles *files) {
    if (stageFiles(ex, folder, kind, records, first, count, extra, extraSize, update, files) == 0)
        return 0;
    chan_DiscardChannelsXml(files);
    return xml_ReportError();
}

std::string chan_XmlPath(const std::string &folder, int kind) {
    return cfg_Join(folder.c_str(), (std::string(chrec_KindName(kind)) + ".xml").c_str());
}

int chan_CommitChannelSchema(const std::string &folder, ChanXmlFiles *files) {
    cfg_SetContext(folder.c_str(), "Creating Schema");
    if (xml_CommitStaged(&files->schema) == 0) return 0;
    chan_DiscardChannelsXml(files);
    return xml_ReportError();
}

int chan_CommitChannelFile(const std::string &folder, int kind, ChanXmlFiles *files) {
    cfg_SetContext(folder.c_str(), (std::string(chrec_KindTitle(kind)) + " Channels").c_str());
    if (xml_CommitStaged(&files->file) == 0) return 0;
    chan_DiscardChannelsXml(files);
    return xml_ReportError();
}

int chan_CommitChannelsXml(const std::string &folder, int kind, ChanXmlFiles *files) {
    if (chan_CommitChannelSchema(folder, files) < 0) return -1;
    return chan_CommitChannelFile(folder, kind, files);
}

void chan_DiscardChannelsXml(ChanXmlFiles *files) {
    xml_DiscardStaged(&files->file);
    xml_DiscardStaged(&files->schema);
}

int chan_WriteChannelsXmlWith(ExModule &ex, const std::string &folder, int kind,
                              const ChannelRecord *records, int first, int count, const void *extra,
                              int extraSize, int update) {
    ChanXmlFiles files;
    if (chan_StageChannelsXml(ex, folder, kind, records, first, count, extra, extraSize, update,
                              &files) < 0)
        return -1;
    return chan_CommitChannelsXml(folder, kind, &files);
}

int chan_WriteChannelsXml(const char *folder, int kind, const ChannelRecord *records, int first,
                          int count, const void *extra, int extraSize, int update) {
    if (!chan_ValidKind(kind) || first < 0 || count < 0 || (records == nullptr && count > 0))
        return plat_Fail(WERR_INVALID_PARAMETER);
    std::string f = cfg_Folder(folder);
    ExModule ex(f.c_str());
    return chan_WriteChannelsXmlWith(ex, f, kind, records, first, count, extra, extraSize, update);
}
