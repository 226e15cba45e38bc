// Nodes: building, finding, walking and reading.
#include "xml_dom.h"

#include "plat_cp1252.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
int g_nesting = 0;

bool failed() {
    return xml_GetError() < 0;
}

unsigned code(int32_t hr) {
    return static_cast<unsigned>(hr);
}

xmlDocPtr docOf(XmlDocument *doc) {
    return doc != nullptr ? doc->doc : nullptr;
}

// The name as written: "prefix:local" for a namespaced element, else the stored name.
std::string qualifiedName(const xmlNode *node) {
    std::string name = node->name != nullptr ? reinterpret_cast<const char *>(node->name) : "";
    if (node->ns != nullptr && node->ns->prefix != nullptr)
        name = std::string(reinterpret_cast<const char *>(node->ns->prefix)) + ":" + name;
    return name;
}

bool nameMatches(const xmlNode *node, const char *name, bool qualified) {
    if (node->type != XML_ELEMENT_NODE || node->name == nullptr) return false;
    if (qualified) return qualifiedName(node) == name;
    return strcmp(reinterpret_cast<const char *>(node->name), name) == 0;
}

// Parses a whole decimal number; false when the text is none.
bool parseNumber(const char *text, double *out) {
    if (text == nullptr || *text == '\0') return false;
    char *end = nullptr;
    errno = 0;
    double v = strtod(text, &end);
    if (end == text || *end != '\0') return false;
    *out = v;
    return true;
}

bool valuesEqual(const char *a, const char *b) {
    double x, y;
    if (parseNumber(a, &x) && parseNumber(b, &y)) return x == y;
    return strcmp(a, b) == 0;
}

xmlNodePtr newElement(XmlDocument *doc, const char *name) {
    std::string scratch;
    const char *n = xml_Utf8(name, scratch);
    if (xmlValidateName(BAD_CAST n, 0) != 0) return nullptr;
    return xmlNewDocNode(docOf(doc), nullptr, BAD_CAST n, nullptr);
}

// The first element child of parent named name (UTF-8), or null.
xmlNodePtr childNamed(xmlNodePtr parent, const char *name) {
    const bool qualified = strchr(name, ':') != nullptr;
    for (xmlNodePtr c = parent->children; c != nullptr; c = c->next)
        if (nameMatches(c, name, qualified)) return c;
    return nullptr;
}
} // namespace

XmlNode *xml_CreateElement(XmlDocument *doc, const char *name) {
    if (failed()) return nullptr;
    xmlNodePtr node = newElement(doc, name);
    if (node == nullptr)
        xml_SetErrorf(XML_E_INVALIDARG, "xml_CreateElement('%s') failed 0x%x", name ? name : "",
                      code(XML_E_INVALIDARG));
    return node;
}

XmlNode *xml_AddChildElement(XmlDocument *doc, const char *name, XmlNode *parent) {
    XmlNode *node = xml_CreateElement(doc, name);
    if (node == nullptr) return nullptr;
    if (xml_AppendChildToParent(node, parent) != 0) {
        xmlFreeNode(node);
        return nullptr;
    }
    ++g_nesting;
    return node;
}

XmlNode *xml_SetChildElement(XmlDocument *doc, const char *name, XmlNode *parent) {
    if (failed()) return nullptr;
    if (parent == nullptr) return xml_AddChildElement(doc, name, parent);
    std::string scratch;
    xmlNodePtr old = childNamed(parent, xml_Utf8(name, scratch));
    if (old == nullptr) return xml_AddChildElement(doc, name, parent);
    XmlNode *node = xml_CreateElement(doc, name);
    if (node == nullptr) return nullptr;
    xmlReplaceNode(old, node);
    xmlFreeNode(old);
    ++g_nesting;
    return node;
}

int32_t xml_AppendChildToParent(XmlNode *child, XmlNode *parent) {
    if (failed()) return xml_GetError();
    if (child == nullptr || parent == nullptr || xmlAddChild(parent, child) == nullptr) {
        xml_SetErrorf(XML_E_FAIL, "xml_AppendChildToParent() failed 0x%x", code(XML_E_FAIL));
        return xml_GetError();
    }
    return 0;
}

int32_t xml_InsertBefore(XmlNode *newNode, XmlNode *reference) {
    if (failed()) return xml_GetError();
    if (newNode == nullptr || reference == nullptr ||
        xmlAddPrevSibling(reference, newNode) == nullptr) {
        xml_SetErrorf(XML_E_FAIL, "xml_InsertBefore() failed 0x%x", code(XML_E_FAIL));
        return xml_GetError();
    }
    return 0;
}

XmlNode *xml_InsertTextBefore(XmlDocument *doc, const char *text, XmlNode *node) {
    if (failed()) return nullptr;
    std::string t = xml_ToUtf8(text);
    xmlNodePtr tn = xml_IsXmlText(t) ? xmlNewDocText(docOf(doc), BAD_CAST t.c_str()) : nullptr;
    if (tn == nullptr || node == nullptr) {
        if (tn != nullptr) xmlFreeNode(tn);
        xml_SetErrorf(XML_E_FAIL, "xml_InsertBefore('%s') failed 0x%x", text ? text : "",
                      code(XML_E_FAIL));
        return nullptr;
    }
    // Text placed next to text merges into it; the node that stays is the one returned.
    xmlNodePtr result = xmlAddPrevSibling(node, tn);
    if (result == nullptr) {
        xmlFreeNode(tn);
        xml_SetErrorf(XML_E_FAIL, "xml_InsertBefore('%s') failed 0x%x", text ? text : "",
                      code(XML_E_FAIL));
    }
    return result;
}

int32_t xml_CreateAndAddAttributeNode(XmlDocument *, const char *name, const char *value,
                                      XmlNode *element) {
    if (failed()) return xml_GetError();
    std::string n = xml_ToUtf8(name);
    std::string v = xml_ToUtf8(value);
    bool ok = element != nullptr && element->type == XML_ELEMENT_NODE;
    int32_t hr = XML_E_FAIL;
    if (ok && xmlValidateName(BAD_CAST n.c_str(), 0) != 0) {
        ok = false;
        hr = XML_E_INVALIDARG;
    }
    if (ok && !xml_IsXmlText(v)) ok = false;
    // Namespace declarations and prefixed names are kept as plain attributes, written as given.
    if (ok) {
        // Setting an attribute the element has replaces its value.
        xmlAttrPtr existing = xmlHasProp(element, BAD_CAST n.c_str());
        if (existing != nullptr) {
            xmlUnlinkNode(reinterpret_cast<xmlNodePtr>(existing));
            xmlFreeProp(existing);
        }
        if (xmlNewProp(element, BAD_CAST n.c_str(), BAD_CAST v.c_str()) == nullptr) ok = false;
    }
    if (!ok) {
        xml_SetErrorf(hr, "xml_CreateAndAddAttributeNode('%s','%s') failed 0x%x", name ? name : "",
                      value ? value : "", code(hr));
        return xml_GetError();
    }
    return 0;
}

XmlNode *xml_CreateAndAddTextNode(XmlDocument *doc, const char *text, XmlNode *parent) {
    if (failed()) return nullptr;
    std::string scratch;
    const char *t = xml_Utf8(text, scratch);
    if (!xml_IsXmlText(t, strlen(t))) t = XML_ILLEGAL_TEXT;
    xmlNodePtr tn = xmlNewDocText(docOf(doc), BAD_CAST t);
    xmlNodePtr added = tn != nullptr && parent != nullptr ? xmlAddChild(parent, tn) : nullptr;
    if (added == nullptr) {
        if (tn != nullptr) xmlFreeNode(tn);
        xml_SetErrorf(XML_E_FAIL, "xml_CreateAndAddTextNode('%s') failed 0x%x", text ? text : "",
                      code(XML_E_FAIL));
    }
    return added;
}

XmlNode *xml_CreateAndAddCommentNode(XmlDocument *doc, const char *text, XmlNode *parent) {
    if (failed()) return nullptr;
    std::string t = xml_ToUtf8(text);
    bool ok = xml_IsXmlText(t) && t.find("--") == std::string::npos &&
              (t.empty() || t.back() != '-') && parent != nullptr;
    xmlNodePtr cn = ok ? xmlNewDocComment(docOf(doc), BAD_CAST t.c_str()) : nullptr;
    xmlNodePtr added = cn != nullptr ? xmlAddChild(parent, cn) : nullptr;
    if (added == nullptr) {
        if (cn != nullptr) xmlFreeNode(cn);
        xml_SetErrorf(XML_E_FAIL, "xml_CreateAndAddCommentNode('%s') failed 0x%x", text ? text : "",
                      code(XML_E_FAIL));
    }
    return added;
}

XmlNode *xml_CreateAndAddCDATANode(XmlDocument *doc, const char *text, XmlNode *parent) {
    if (failed()) return nullptr;
    std::string t = xml_ToUtf8(text);
    bool ok = xml_IsXmlText(t) && t.find("]]>") == std::string::npos && parent != nullptr;
    xmlNodePtr cn =
        ok ? xmlNewCDataBlock(docOf(doc), BAD_CAST t.c_str(), static_cast<int>(t.size())) : nullptr;
    xmlNodePtr added = cn != nullptr ? xmlAddChild(parent, cn) : nullptr;
    if (added == nullptr) {
        if (cn != nullptr) xmlFreeNode(cn);
        xml_SetErrorf(XML_E_FAIL, "xml_CreateAndAddCDATANode('%s') failed 0x%x", text ? text : "",
                      code(XML_E_FAIL));
    }
    return added;
}

XmlNode *xml_FindByName(XmlNode *parent, const char *name) {
    if (failed() || parent == nullptr) return nullptr;
    std::string scratch;
    return childNamed(parent, xml_Utf8(name, scratch));
}

XmlNode *xml_FindByAttribute(XmlNode *parent, const char *element, const char *attribute,
                             const char *value) {
    if (failed() || parent == nullptr) return nullptr;
    std::string n = xml_ToUtf8(element);
    std::string a = xml_ToUtf8(attribute);
    std::string v = xml_ToUtf8(value);
    const bool qualified = n.find(':') != std::string::npos;
    for (xmlNodePtr c = parent->children; c != nullptr; c = c->next) {
        if (!nameMatches(c, n.c_str(), qualified)) continue;
        xmlChar *have = xmlGetProp(c, BAD_CAST a.c_str());
        bool match = have != nullptr && valuesEqual(reinterpret_cast<char *>(have), v.c_str());
        xmlFree(have);
        if (match) return c;
    }
    return nullptr;
}

XmlNode *xml_FirstChild(XmlNode *node) {
    return failed() || node == nullptr ? nullptr : node->children;
}

XmlNode *xml_LastChild(XmlNode *node) {
    return failed() || node == nullptr ? nullptr : node->last;
}

XmlNode *xml_NextSibling(XmlNode *node) {
    return failed() || node == nullptr ? nullptr : node->next;
}

XmlNode *xml_PreviousSibling(XmlNode *node) {
    return failed() || node == nullptr ? nullptr : node->prev;
}

int32_t xml_RemoveChild(XmlNode *parent, XmlNode *child) {
    if (failed()) return xml_GetError();
    if (parent == nullptr || child == nullptr || child->parent != parent) {
        xml_SetErrorf(XML_E_FAIL, "xml_RemoveChild() failed 0x%x", code(XML_E_FAIL));
        return xml_GetError();
    }
    xmlUnlinkNode(child);
    xmlFreeNode(child);
    return 0;
}

void xml_Release(XmlDocument *, XmlNode *node) {
    if (node != nullptr && g_nesting > 0) --g_nesting;
}

int xml_Nesting() {
    return g_nesting;
}

int xml_IsElement(const XmlNode *node) {
    return node != nullptr && node->type == XML_ELEMENT_NODE;
}

const char *xml_LocalName(const XmlNode *node) {
    return node != nullptr && node->name != nullptr ? reinterpret_cast<const char *>(node->name)
                                                    : "";
}

char *xml_getText(XmlNode *node) {
    if (failed() || node == nullptr) return nullptr;
    for (xmlNodePtr c = node->children; c != nullptr; c = c->next)
        if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE)
            return xml_FromUtf8(c->content);
    return strdup("");
}

const char *xml_TextOf(XmlNode *node, std::string &scratch) {
    if (failed() || node == nullptr) return nullptr;
    for (xmlNodePtr c = node->children; c != nullptr; c = c->next)
        if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
            const char *text =
                c->content != nullptr ? reinterpret_cast<const char *>(c->content) : "";
            for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0;
                 ++p)
                if (*p >= 0x80) {
                    scratch = plat_Utf8ToCp1252(text);
                    return scratch.c_str();
                }
            return text;
        }
    return "";
}

char *xml_getName(XmlNode *node) {
    if (failed() || node == nullptr) return nullptr;
    return xml_FromUtf8(BAD_CAST qualifiedName(node).c_str());
}

char *xml_getAttribute(XmlNode *node, const char *name) {
    if (failed() || node == nullptr || node->type != XML_ELEMENT_NODE) return nullptr;
    std::string n = xml_ToUtf8(name);
    xmlChar *value = xmlGetProp(node, BAD_CAST n.c_str());
    if (value == nullptr) return nullptr;
    char *narrow = xml_FromUtf8(value);
    xmlFree(value);
    return narrow;
}

int xml_IterateChan(XmlNode *node, XmlPair *pairs, int count) {
    if (failed() || node == nullptr) return -1;
    int n = 0;
    for (xmlNodePtr c = node->children; c != nullptr; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) {
            xml_SetErrorf(XML_E_FAIL, "xml_IterateChan() failed 0x%x", code(XML_E_FAIL));
            return -1;
        }
        if (pairs != nullptr && n < count) {
            pairs[n].name = xml_getName(c);
            pairs[n].text = xml_getText(c);
        }
        ++n;
    }
    return n;
}

namespace {
// Line break and tabs: valid text in any encoding, so the nodes are made directly. A node that
// cannot be made leaves the document unindented there, as a failed insert always did.
void addPad(xmlDocPtr doc, xmlNodePtr node, int depth, bool before) {
    static const char pads[] = "\n\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
    std::string deep;
    const char *pad = pads;
    int length = (depth > 0 ? depth : 0) + 1;
    if (length > static_cast<int>(sizeof pads) - 1) {
        deep = "\n" + std::string(static_cast<size_t>(length - 1), '\t');
        pad = deep.c_str();
    }
    xmlNodePtr tn = xmlNewDocTextLen(doc, BAD_CAST pad, length);
    if (tn == nullptr) return;
    // Text next to text merges into it, as in the public calls.
    xmlNodePtr added = before ? xmlAddPrevSibling(node, tn) : xmlAddChild(node, tn);
    if (added == nullptr) xmlFreeNode(tn);
}

int indent(xmlDocPtr doc, xmlNodePtr node, int depth) {
    if (depth > 0) addPad(doc, node, depth, true);
    int elements = 0;
    for (xmlNodePtr c = node->children; c != nullptr; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        ++elements;
        indent(doc, c, depth + 1);
    }
    if (elements > 0) addPad(doc, node, depth, false);
    return elements;
}
} // namespace

int xml_IndentTree(XmlDocument *doc, XmlNode *node, int depth) {
    if (failed() || node == nullptr) return 0;
    return indent(docOf(doc), node, depth);
}
