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
// The UTF-8 form of a Windows-1252 text (null counts as ""): the text itself when it is plain
// ASCII, as names and numbers are, else a converted copy kept in scratch.
const char *xml_Utf8(const char *text, std::string &scratch);
// A malloc'ed Windows-1252 copy of a UTF-8 text (null counts as ""); null when out of memory.
char *xml_FromUtf8(const xmlChar *text);
// 1 when every character of the UTF-8 text is an XML 1.0 Char.
int xml_IsXmlText(const std::string &utf8);
int xml_IsXmlText(const char *utf8, size_t size);
