// Validates a file against a schema with libxml2's own XSD processor, which is not the code
// that wrote either of them: a schema that does not compile, or a file it refuses, comes back
// with the processor's first messages.
#pragma once

#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

namespace xsdcheck {

inline void collect(void *context, const char *format, ...) {
    auto *out = static_cast<std::string *>(context);
    if (out->size() > 2000) return;
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    *out += line;
}

// "" when the file at xmlPath is valid against the schema at xsdPath; otherwise why not.
inline std::string Validate(const std::string &xmlPath, const std::string &xsdPath) {
    std::string why;
    struct ParserFree {
        void operator()(xmlSchemaParserCtxtPtr p) const { xmlSchemaFreeParserCtxt(p); }
    };
    struct SchemaFree {
        void operator()(xmlSchemaPtr s) const { xmlSchemaFree(s); }
    };
    struct ValidFree {
        void operator()(xmlSchemaValidCtxtPtr v) const { xmlSchemaFreeValidCtxt(v); }
    };
    std::unique_ptr<xmlSchemaParserCtxt, ParserFree> parser(
        xmlSchemaNewParserCtxt(xsdPath.c_str()));
    if (!parser) return "cannot open schema " + xsdPath;
    xmlSchemaSetParserErrors(parser.get(), collect, collect, &why);
    std::unique_ptr<xmlSchema, SchemaFree> schema(xmlSchemaParse(parser.get()));
    if (!schema) return "schema " + xsdPath + " does not compile: " + why;
    std::unique_ptr<xmlSchemaValidCtxt, ValidFree> valid(xmlSchemaNewValidCtxt(schema.get()));
    if (!valid) return "no validation context";
    xmlSchemaSetValidErrors(valid.get(), collect, collect, &why);
    int rc = xmlSchemaValidateFile(valid.get(), xmlPath.c_str(), 0);
    if (rc == 0) return "";
    return xmlPath + " is not valid against " + xsdPath + " (" + std::to_string(rc) + "): " + why;
}

} // namespace xsdcheck
