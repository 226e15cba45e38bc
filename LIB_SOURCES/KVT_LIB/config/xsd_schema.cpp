// Schema files of config.xml and of the channel files.
#include "xsd.h"

#include "cfg.h"
#include "cfg_internal.h"
#include "chan_internal.h"
#include "chrec.h"
#include "structs_chan.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {
// The SCHEMA folder of the configuration root above the device folder, created when missing;
// "" with the error state set.
std::string schemaFolder(const std::string &folder) {
    if (folder.find_first_of("/\\") == std::string::npos) {
        xml_SetError(XML_E_FAIL, "Invalid Pathname");
        return "";
    }
    std::string schema = cfg_Join(cfg_ParentFolder(folder.c_str()).c_str(), "SCHEMA");
    if (mkdir(schema.c_str(), 0777) != 0 && errno != EEXIST) {
        xml_SetErrorf(XML_E_FAIL, "Save XML File (%s) failed, Error 0x%x", schema.c_str(),
                      static_cast<unsigned>(XML_E_FAIL));
        return "";
    }
    return schema;
}

// A new schema document with its root; null with the error state set.
XmlNode *schemaRoot(XmlDocument *doc, const std::string &prefixName, const std::string &ns) {
    xml_CreateAndAddPINode(doc, "xml", CFG_SCHEMA_PI);
    xml_CreateAndAddCommentNode(doc, CFG_CREATED_COMMENT, xml_DocumentNode(doc));
    XmlNode *root = xml_CreateElement(doc, "xs:schema");
    xml_AppendChildToParent(root, xml_DocumentNode(doc));
    xml_CreateAndAddAttributeNode(doc, "xmlns:xs", CFG_XS_NAMESPACE, root);
    xml_CreateAndAddAttributeNode(doc, "xmlns:xsi", CFG_XSI_NAMESPACE, root);
    xml_CreateAndAddAttributeNode(doc, ("xmlns:" + prefixName).c_str(), ns.c_str(), root);
    xml_CreateAndAddAttributeNode(doc, "targetNamespace", ns.c_str(), root);
    // The files put every element, not only their root, in the schema's namespace.
    xml_CreateAndAddAttributeNode(doc, "elementFormDefault", "qualified", root);
    return xml_GetError() < 0 ? nullptr : root;
}

XmlNode *namedElement(XmlDocument *doc, XmlNode *parent, const char *tag, const char *name) {
    XmlNode *e = xml_AddChildElement(doc, tag, parent);
    xml_CreateAndAddAttributeNode(doc, "name", name, e);
    return e;
}

// <xs:element name=outer><xs:complexType><xs:sequence minOccurs=1 maxOccurs=n>
//   <xs:element name=inner><xs:complexType> ... returned
XmlNode *listOf(XmlDocument *doc, XmlNode *root, const char *outer, const char *inner,
                const char *n) {
    XmlNode *o = namedElement(doc, root, "xs:element", outer);
    XmlNode *ct = xml_AddChildElement(doc, "xs:complexType", o);
    XmlNode *seq = xml_AddChildElement(doc, "xs:sequence", ct);
    xml_CreateAndAddAttributeNode(doc, "minOccurs", "1", seq);
    xml_CreateAndAddAttributeNode(doc, "maxOccurs", n, seq);
    XmlNode *i = namedElement(doc, seq, "xs:element", inner);
    return xml_AddChildElement(doc, "xs:complexType", i);
}

// Saves the document, or stages it when staged is given.
int finish(XmlDocument *doc, XmlNode *root, const std::string &path, XmlStaged *staged = nullptr) {
    xml_IndentTree(doc, root, 0);
    if (staged != nullptr)
        xml_StageFile(doc, path.c_str(), staged);
    else
        xml_SaveFile(doc, path.c_str());
    int result = xml_GetError() < 0 ? -1 : 0;
    xml_ReleaseDocument(doc);
    return result;
}
} // namespace

XmlDocument *xsd_BuildDeviceSchema(const char *folder, const structs_type *deviceType,
                                   const structs_type *extraType, std::string *path) {
    std::string f = cfg_Folder(folder);
    xml_SetErrorContext("Creating Schema");
    std::string schema = schemaFolder(f);
    if (schema.empty()) return nullptr;
    std::string prefix = cfg_DevicePrefix(f.c_str()).substr(0, 5);
    std::string ns = std::string(CFG_NAMESPACE_HOST) + "/" + prefix;
    XmlDocument *doc = xml_CreateDocument();
    if (doc == nullptr) return nullptr;
    XmlNode *root = schemaRoot(doc, prefix, ns);
    XmlNode *config = listOf(doc, root, "Configs", "Config", "2");
    XmlNode *seq = xml_AddChildElement(doc, "xs:sequence", config);
    xsd_AddFieldElement(doc, seq, &structs_savesettings_type, 0, 0);
    if (deviceType != nullptr) xsd_AddFieldElement(doc, seq, deviceType, 0, 0);
    if (extraType != nullptr) xsd_AddFieldElement(doc, seq, extraType, 0, 0);
    xml_IndentTree(doc, root, 0);
    if (xml_GetError() < 0) {
        xml_ReleaseDocument(doc);
        return nullptr;
    }
    *path = cfg_Join(schema.c_str(), (prefix + ".xsd").c_str());
    return doc;
}

int xsd_WriteDeviceSchema(const char *folder, const structs_type *deviceType,
                          const structs_type *extraType) {
    std::string path;
    XmlDocument *doc = xsd_BuildDeviceSchema(folder, deviceType, extraType, &path);
    if (doc == nullptr) return -1;
    xml_SaveFile(doc, path.c_str());
    xml_ReleaseDocument(doc);
    return xml_GetError() < 0 ? -1 : 0;
}

int xsd_WriteChannelSchema(const char *folder, int kind, int mixed, const structs_type *deviceType,
                           const structs_type *extraType, int count) {
    XmlStaged staged;
    if (xsd_StageChannelSchema(folder, kind, mixed, deviceType, extraType, count, &staged) < 0)
        return -1;
    return xml_CommitStaged(&staged) < 0 ? -1 : 0;
}

int xsd_StageChannelSchema(const char *folder, int kind, int mixed, const structs_type *deviceType,
                           const structs_type *extraType, int count, XmlStaged *staged) {
    std::string f = cfg_Folder(folder);
    xml_SetErrorContext("Creating Schema");
    std::string schema = schemaFolder(f);
    if (schema.empty()) return -1;
    std::string kindName = chrec_KindName(kind);
    std::string prefixName = cfg_DevicePrefix(f.c_str()).substr(0, 5) + "_" + kindName;
    std::string ns = std::string(CFG_NAMESPACE_HOST) + "/" + prefixName;
    XmlDocument *doc = xml_CreateDocument();
    if (doc == nullptr) return -1;
    XmlNode *root = schemaRoot(doc, prefixName, ns);

    // The file's own kind gives its layout; a mixed "ai" file may hold digital records too.
    std::vector<int> layouts;
    if (kind == CHANNEL_KIND_AI && mixed) {
        layouts = {CHANNEL_KIND_AI, CHANNEL_KIND_DI};
    } else {
        layouts = {kind};
    }
    std::vector<std::string> groups;
    for (int layoutKind : layouts) {
        const char *name = chrec_KindName(layoutKind);
        bool digital = chan_KindIsDigital(layoutKind) != 0;
        ChanLayout layout;
        chan_MakeLayout(&layout, digital ? 1 : 0, deviceType);
        std::string group = std::string("Channel_") + std::string(name).substr(0, 1);
        XmlNode *g = namedElement(doc, root, "xs:group", group.c_str());
        XmlNode *seq = xml_AddChildElement(doc, "xs:sequence", g);
        xsd_AddFieldElement(doc, seq, &layout.type, STRUCTS_CHAN_COMMON_FIELDS, 0);
        groups.push_back(prefixName + ":" + group);
    }

    // A save of some channels keeps the others of the file, and one schema serves every device
    // folder of the prefix: the count written bounds nothing.
    (void)count;
    XmlNode *channel = listOf(doc, root, "Channels", "Channel", "unbounded");
    XmlNode *seq = xml_AddChildElement(doc, "xs:sequence", channel);
    ChanLayout common;
    chan_MakeLayout(&common, 0, deviceType);
    xsd_AddFieldElement(doc, seq, &common.type, 0, STRUCTS_CHAN_COMMON_FIELDS);
    // Each channel holds one layout, so a mixed file's records match one group or the other.
    XmlNode *inner = xml_AddChildElement(doc, "xs:choice", seq);
    for (const std::string &group : groups) {
        XmlNode *ref = xml_AddChildElement(doc, "xs:group", inner);
        xml_CreateAndAddAttributeNode(doc, "ref", group.c_str(), ref);
    }
    if (extraType != nullptr) xsd_AddFieldElement(doc, seq, extraType, 0, 0);
    XmlNode *id = namedElement(doc, channel, "xs:attribute", "id");
    xml_CreateAndAddAttributeNode(doc, "type", "xs:integer", id);
    xml_CreateAndAddAttributeNode(doc, "use", "required", id);
    return finish(doc, root, cfg_Join(schema.c_str(), (prefixName + ".xsd").c_str()), staged);
}
