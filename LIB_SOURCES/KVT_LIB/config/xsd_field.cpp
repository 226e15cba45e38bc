// Schema elements of structs fields.
#include "xsd.h"

#include "structs_chan.h"
#include "structs_type_id.h"

#include <cstring>
#include <string>

namespace {
// A type with no base of its own is a text: a restriction needs a base to compile.
XmlNode *restriction(XmlDocument *doc, XmlNode *simple, const char *base) {
    XmlNode *r = xml_AddChildElement(doc, "xs:restriction", simple);
    xml_CreateAndAddAttributeNode(doc, "base", base != nullptr ? base : "xs:string", r);
    return r;
}

void enumerate(XmlDocument *doc, XmlNode *r, const char *value) {
    XmlNode *e = xml_AddChildElement(doc, "xs:enumeration", r);
    xml_CreateAndAddAttributeNode(doc, "value", value, e);
}

void maxLength(XmlDocument *doc, XmlNode *simple, unsigned length) {
    XmlNode *r = restriction(doc, simple, "xs:string");
    XmlNode *m = xml_AddChildElement(doc, "xs:maxLength", r);
    xml_CreateAndAddAttributeNode(doc, "value", std::to_string(length).c_str(), m);
}

const char *integerBase(const structs_type *type, bool isUnsigned) {
    static const char *const k_signed[] = {"xs:byte", "xs:short", "xs:int", "xs:long"};
    static const char *const k_unsigned[] = {"xs:unsignedByte", "xs:unsignedShort",
                                             "xs:unsignedInt", "xs:unsignedLong"};
    intptr_t code = type->args[0].i;
    if (code < 0 || code > 7) return nullptr;
    return isUnsigned ? k_unsigned[code & 3] : k_signed[code & 3];
}

void simpleContent(XmlDocument *doc, XmlNode *simple, const structs_type *type) {
    const char *name = type->name != nullptr ? type->name : "";
    if (strcmp(name, "id") == 0 || strcmp(name, "bitfield") == 0) {
        XmlNode *r = restriction(doc, simple, "xs:string");
        const auto *table = static_cast<const structs_id *>(
            strcmp(name, "id") == 0 ? type->args[0].v : type->args[2].v);
        for (const structs_id *e = table; e != nullptr && e->id != nullptr; ++e)
            enumerate(doc, r, e->id);
    } else if (strcmp(name, "boolean") == 0) {
        XmlNode *r = restriction(doc, simple, "xs:string");
        enumerate(doc, r, "Off");
        enumerate(doc, r, "On");
    } else if (strcmp(name, "chanconfignstring") == 0 || strcmp(name, "fixedstring") == 0 ||
               strcmp(name, "linktagnstring") == 0) {
        maxLength(doc, simple, type->size);
    } else if (strcmp(name, "fixeddata") == 0) {
        maxLength(doc, simple, type->size * 2);
    } else if (strcmp(name, "time") == 0) {
        maxLength(doc, simple, 19);
    } else if (strcmp(name, "stime") == 0) {
        maxLength(doc, simple, 9);
    } else if (strcmp(name, "int") == 0 || strcmp(name, "uint") == 0) {
        restriction(doc, simple, integerBase(type, name[0] == 'u'));
    } else if (strcmp(name, "float") == 0 || strcmp(name, "double") == 0) {
        intptr_t kind = type->args[0].i;
        restriction(doc, simple, kind == 0 ? "xs:float" : kind == 1 ? "xs:double" : nullptr);
    } else {
        restriction(doc, simple, "xs:string");
    }
}
} // namespace

int32_t xsd_AddFieldElement(XmlDocument *doc, XmlNode *parent, const structs_type *type, int first,
                            int limit) {
    std::vector<StructsLeaf> leaves = structs_Leaves(type);
    int end = limit > 0 && static_cast<size_t>(limit) < leaves.size()
                  ? limit
                  : static_cast<int>(leaves.size());
    for (int i = first < 0 ? 0 : first; i < end && xml_GetError() >= 0; ++i) {
        const StructsLeaf &leaf = leaves[static_cast<size_t>(i)];
        XmlNode *element = xml_AddChildElement(doc, "xs:element", parent);
        xml_CreateAndAddAttributeNode(doc, "name", leaf.name.c_str(), element);
        XmlNode *simple = xml_AddChildElement(doc, "xs:simpleType", element);
        simpleContent(doc, simple, leaf.type);
        if (xml_GetError() < 0) xml_WrapError("<%s> %s", leaf.name.c_str());
    }
    return xml_GetError();
}
