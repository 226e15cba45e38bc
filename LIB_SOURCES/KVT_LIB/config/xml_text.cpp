// Texts across the document boundary: Windows-1252 outside, UTF-8 inside.
#include "xml_dom.h"

#include "plat_cp1252.h"

#include <cstdlib>
#include <cstring>

namespace {
bool isAscii(const char *text) {
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; ++p)
        if (*p >= 0x80) return false;
    return true;
}
} // namespace

std::string xml_ToUtf8(const char *text) {
    return plat_Cp1252ToUtf8(text != nullptr ? text : "");
}

const char *xml_Utf8(const char *text, std::string &scratch) {
    if (text == nullptr) return "";
    if (isAscii(text)) return text;
    scratch = plat_Cp1252ToUtf8(text);
    return scratch.c_str();
}

char *xml_FromUtf8(const xmlChar *text) {
    if (text == nullptr) return strdup("");
    // ASCII reads the same in both encodings.
    if (isAscii(reinterpret_cast<const char *>(text)))
        return strdup(reinterpret_cast<const char *>(text));
    std::string narrow =
        plat_Utf8ToCp1252(text != nullptr ? reinterpret_cast<const char *>(text) : "");
    return strdup(narrow.c_str());
}

int xml_IsXmlText(const std::string &utf8) {
    return xml_IsXmlText(utf8.data(), utf8.size());
}

int xml_IsXmlText(const char *utf8, size_t size) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(utf8);
    const unsigned char *end = p + size;
    while (p < end) {
        unsigned char b = *p;
        if (b < 0x80) {
            if (b < 0x20 && b != '\t' && b != '\n' && b != '\r') return 0;
            ++p;
            continue;
        }
        int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
        if (extra < 0 || b >= 0xF8 || end - p <= extra) return 0;
        uint32_t cp = extra == 3 ? (b & 0x07u) : extra == 2 ? (b & 0x0Fu) : (b & 0x1Fu);
        for (int k = 1; k <= extra; ++k) {
            if ((p[k] & 0xC0) != 0x80) return 0;
            cp = (cp << 6) | (p[k] & 0x3Fu);
        }
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF || cp > 0x10FFFF)
            return 0;
        p += extra + 1;
    }
    return 1;
}

void xml_AppendContent(std::string *out, const char *text) {
    std::string scratch;
    const char *t = xml_Utf8(text, scratch);
    if (!xml_IsXmlText(t, strlen(t))) t = XML_ILLEGAL_TEXT;
    for (;;) {
        size_t plain = strcspn(t, "&<>\r");
        out->append(t, plain);
        t += plain;
        switch (*t) {
        case '\0':
            return;
        case '&':
            out->append("&amp;");
            break;
        case '<':
            out->append("&lt;");
            break;
        case '>':
            out->append("&gt;");
            break;
        default:
            out->append("&#13;");
        }
        ++t;
    }
}

namespace {
bool asciiLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
} // namespace

int xml_IsElementName(const char *name) {
    // The names of record fields are plain ASCII, which needs no conversion and no table.
    const unsigned char *p = reinterpret_cast<const unsigned char *>(name != nullptr ? name : "");
    if (asciiLetter(*p) || *p == '_') {
        ++p;
        while (asciiLetter(*p) || (*p >= '0' && *p <= '9') || *p == '_' || *p == '-' || *p == '.')
            ++p;
        if (*p == '\0') return 1;
    }
    std::string scratch;
    return xmlValidateName(BAD_CAST xml_Utf8(name, scratch), 0) == 0 ? 1 : 0;
}

namespace {
std::string g_buffers[2];
} // namespace

const char *BstrFromChar(const char *text) {
    g_buffers[0] = xml_ToUtf8(text);
    return g_buffers[0].c_str();
}

const char *BstrFromChar2(const char *text) {
    g_buffers[1] = xml_ToUtf8(text);
    return g_buffers[1].c_str();
}
