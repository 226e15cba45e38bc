// Internals shared by the XML helper sources: the document record and the text checks.
#pragma once

#include "xml.h"

#include <libxml/tree.h>

#include <string>

struct XmlDocument {
    xmlDocPtr doc;
};

// UTF-8 of a Windows-1252 text (null counts as "").
std::string xml_ToUtf8(const char *text);
// A malloc'ed Windows-1252 copy of a UTF-8 text (null counts as ""); null when out of memory.
char *xml_FromUtf8(const xmlChar *text);
// 1 when every character of the UTF-8 text is an XML 1.0 Char.
int xml_IsXmlText(const std::string &utf8);
