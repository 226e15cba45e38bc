// What the round-trip fuzz programs share beside the installation: a field read back judged by
// its value against the field saved, with the expectation made here rather than by the writer;
// records made ordinary, which a save must take; and targets a save cannot write (marked
// read-only, or replaced by a folder so that no rename or open reaches them), which it must
// refuse with every file left as it was.
#pragma once

#include "fuzz_install.h"
#include "structs_chan.h"
#include "structs_type_id.h"
#include "typed_mem.h"
#include "xml.h"

#include "../common/xsd_check.h"

#include <cinttypes>
#include <cmath>
#include <dirent.h>
#include <map>
#include <string>
#include <vector>

namespace fuzz {

// Whether XML carries a Windows-1252 text as it is: every byte maps to a character XML 1.0
// allows (the five unassigned ones to C1 controls), all but the C0 controls other than tab,
// line feed and carriage return.
inline bool xmlCarries(const std::string &text) {
    for (unsigned char c : text)
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    return true;
}

inline std::string leafText(const StructsLeaf &leaf, const uint8_t *record) {
    char *text = leaf.type->ascify(leaf.type, "fuzz", record + leaf.offset);
    std::string out = text != nullptr ? text : "(no text)";
    typed_mem_free("fuzz", text);
    return out;
}

inline bool isNamed(const StructsLeaf &leaf, const char *name) {
    return leaf.type->name != nullptr && strcmp(leaf.type->name, name) == 0;
}

inline bool isFloat(const StructsLeaf &leaf) {
    return isNamed(leaf, "float") || isNamed(leaf, "double");
}

inline bool isInteger(const StructsLeaf &leaf) {
    return isNamed(leaf, "int") || isNamed(leaf, "uint") || isNamed(leaf, "hint") ||
           isNamed(leaf, "id");
}

inline bool isText(const StructsLeaf &leaf) {
    return isNamed(leaf, "fixedstring") || isNamed(leaf, "chanconfignstring") ||
           isNamed(leaf, "string");
}

// The value of an integer field of 1, 2, 4 or 8 bytes (little-endian), signed for "int".
inline int64_t integerOf(const StructsLeaf &leaf, const uint8_t *record) {
    const size_t size = std::min<size_t>(leaf.type->size, 8);
    uint64_t u = 0;
    for (size_t i = 0; i < size; ++i)
        u |= static_cast<uint64_t>(record[leaf.offset + i]) << (8 * i);
    if (isNamed(leaf, "int") && size < 8 && (u >> (8 * size - 1) & 1) != 0)
        u |= ~uint64_t{0} << (8 * size);
    return static_cast<int64_t>(u);
}

inline double floatOf(const StructsLeaf &leaf, const uint8_t *record) {
    if (leaf.type->size == sizeof(float)) {
        float f;
        memcpy(&f, record + leaf.offset, sizeof f);
        return f;
    }
    double d;
    memcpy(&d, record + leaf.offset, sizeof d);
    return d;
}

// The text a password field holds (its text form is encrypted and says nothing of it).
inline std::string passwordOf(const StructsLeaf &leaf, const uint8_t *record) {
    const char *text = reinterpret_cast<const char *>(record + leaf.offset);
    return std::string(text, strnlen(text, leaf.type->size));
}

inline std::string shownText(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

// "" when the field read back holds what a save that returned 0 must give for the field
// saved; otherwise what differs. Floats compare by their bits (a NaN by being one), integers
// and named values by value, a flag by its truth, raw bytes as bytes; a text compares with
// itself when XML carries it and otherwise reads back as the marker, as much of it as fits.
inline std::string compareLeaf(const StructsLeaf &leaf, const uint8_t *saved, const uint8_t *read) {
    char line[200];
    if (isFloat(leaf)) {
        const double a = floatOf(leaf, saved), b = floatOf(leaf, read);
        if (std::isnan(a) ? std::isnan(b)
                          : memcmp(saved + leaf.offset, read + leaf.offset, leaf.type->size) == 0)
            return "";
        snprintf(line, sizeof line, "saved %.9g (%a), read back %.9g (%a)", a, a, b, b);
        return line;
    }
    if (isInteger(leaf)) {
        const int64_t a = integerOf(leaf, saved), b = integerOf(leaf, read);
        if (a == b) return "";
        snprintf(line, sizeof line, "saved %" PRId64 ", read back %" PRId64, a, b);
        return line;
    }
    if (isNamed(leaf, "boolean")) {
        auto truth = [&leaf](const uint8_t *r) {
            for (size_t i = 0; i < leaf.type->size; ++i)
                if (r[leaf.offset + i] != 0) return true;
            return false;
        };
        if (truth(saved) == truth(read)) return "";
        return std::string("saved ") + (truth(saved) ? "on" : "off") + ", read back " +
               (truth(read) ? "on" : "off");
    }
    if (isNamed(leaf, "fixeddata")) {
        if (memcmp(saved + leaf.offset, read + leaf.offset, leaf.type->size) == 0) return "";
        return "bytes differ";
    }
    std::string before, after;
    if (isNamed(leaf, "password")) {
        // Carried encrypted, whatever it holds.
        before = passwordOf(leaf, saved);
        after = passwordOf(leaf, read);
    } else {
        before = leafText(leaf, saved);
        after = leafText(leaf, read);
    }
    if (!isNamed(leaf, "password") && !xmlCarries(before)) {
        const std::string marker = XML_ILLEGAL_TEXT;
        if (!after.empty() && marker.compare(0, after.size(), after) == 0) return "";
        return "\"" + shownText(before) + "\" XML cannot carry read back as \"" + shownText(after) +
               "\", not the marker";
    }
    if (before == after) return "";
    return "saved \"" + shownText(before) + "\", read back \"" + shownText(after) + "\"";
}

// Makes a field a value a user types: a finite float (the digits kept, the exponent brought
// into range), a named value from the type's table, a text of printable characters that
// neither begins nor ends in a blank. Other types keep their bytes. Returns whether the type
// was one of these or an integer or flag, which take every value.
inline bool makeOrdinary(const StructsLeaf &leaf, uint8_t *record) {
    uint8_t *at = record + leaf.offset;
    if (isFloat(leaf)) {
        if (!std::isfinite(floatOf(leaf, record))) at[leaf.type->size - 1] ^= 0x40;
        return true;
    }
    if (isNamed(leaf, "id")) {
        auto *table = static_cast<const structs_id *>(leaf.type->args[0].v);
        int n = 0;
        while (table[n].id != nullptr)
            ++n;
        const int64_t v = integerOf(leaf, record);
        for (int i = 0; i < n; ++i)
            if (table[i].value == v) return true;
        const int32_t value = table[static_cast<uint64_t>(v) % static_cast<uint64_t>(n)].value;
        memcpy(at, &value, std::min<size_t>(leaf.type->size, sizeof value));
        return true;
    }
    if (isText(leaf) || isNamed(leaf, "password")) {
        std::string text =
            isNamed(leaf, "password") ? passwordOf(leaf, record) : leafText(leaf, record);
        for (char &c : text) {
            unsigned char u = static_cast<unsigned char>(c);
            if (u < 0x20 || (u >= 0x7F && u <= 0xA0)) c = static_cast<char>('a' + u % 26);
        }
        if (!text.empty() && text.front() == ' ') text.front() = 'x';
        if (!text.empty() && text.back() == ' ') text.back() = 'x';
        char message[256];
        // A field whose bytes hold no NUL has a text longer than it takes.
        while (text.size() > 1 &&
               leaf.type->binify(leaf.type, text.c_str(), at, message, sizeof message) != 0)
            text.pop_back();
        if (!text.empty() && text.back() == ' ') text.back() = 'x';
        if (leaf.type->binify(leaf.type, text.c_str(), at, message, sizeof message) != 0) {
            fprintf(stderr, "fuzz: field %s does not take the text \"%s\": %s\n", leaf.name.c_str(),
                    shownText(text).c_str(), message);
            abort();
        }
        return true;
    }
    return isInteger(leaf) || isNamed(leaf, "boolean") || isNamed(leaf, "bitfield") ||
           isNamed(leaf, "fixeddata");
}

// A file or folder's state as a save may leave it: missing, a folder, or its bytes and mode.
inline std::string stateOf(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return "";
    if (S_ISDIR(st.st_mode)) return "d";
    return "+" + std::to_string(st.st_mode & 07777) + ":" + readFile(path);
}

// Ways a target is kept from a save.
enum class Block { ReadOnly, Folder };

// Keeps a save from its target: the file marked read-only (made empty when missing), or put
// aside with a non-empty folder in its place, which neither a rename nor an open replaces.
inline void block(const std::string &path, Block how) {
    if (how == Block::ReadOnly) {
        struct stat st;
        if (stat(path.c_str(), &st) != 0) writeFile(path, nullptr, 0);
        if (chmod(path.c_str(), 0444) != 0) abort();
        return;
    }
    if (rename(path.c_str(), (path + "~").c_str()) != 0 && errno != ENOENT) abort();
    if (mkdir(path.c_str(), 0777) != 0) abort();
    writeFile(path + "/held", reinterpret_cast<const uint8_t *>("x"), 1);
}

// Undoes block: the file as it was before it.
inline void unblock(const std::string &path, Block how) {
    if (how == Block::ReadOnly) {
        chmod(path.c_str(), 0644);
        return;
    }
    unlink((path + "/held").c_str());
    rmdir(path.c_str());
    rename((path + "~").c_str(), path.c_str());
}

// The staged copies a save left in folder ("config.xml.XXXXXX", "KSTRN_ai.xsd.XXXXXX"), or "".
inline std::string stagedFileIn(const std::string &folder) {
    DIR *d = opendir(folder.c_str());
    if (d == nullptr) return "";
    std::string found;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        const bool lock = name.size() > 5 && name.compare(name.size() - 5, 5, ".lock") == 0;
        if (!lock &&
            (name.find(".xml.") != std::string::npos || name.find(".xsd.") != std::string::npos)) {
            found = folder + "/" + name;
            break;
        }
    }
    closedir(d);
    return found;
}

// "" when the XML file at xmlPath is valid against the schema at xsdPath, by libxml2's XSD
// processor as xsdcheck::Validate runs it; otherwise why not. A schema is compiled once per text
// it holds: a logger schema of a thousand fields, the same for every input, would cost more
// than the save itself.
inline std::string invalidAgainst(const std::string &xmlPath, const std::string &xsdPath) {
    // Freed at exit, so that the leak check of the run sees no schema left behind.
    struct Compiled {
        std::string text;
        xmlSchemaPtr schema = nullptr;
        Compiled() = default;
        Compiled(const Compiled &) = delete;
        Compiled &operator=(const Compiled &) = delete;
        ~Compiled() {
            if (schema != nullptr) xmlSchemaFree(schema);
        }
    };
    static std::map<std::string, Compiled> cache;
    const std::string text = readFile(xsdPath);
    Compiled *c = &cache[xsdPath];
    if (c->schema == nullptr || c->text != text) {
        if (c->schema != nullptr) xmlSchemaFree(c->schema);
        c->text.clear();
        std::string why;
        xmlSchemaParserCtxtPtr parser =
            xmlSchemaNewMemParserCtxt(text.data(), static_cast<int>(text.size()));
        if (parser == nullptr) return "cannot read schema " + xsdPath;
        xmlSchemaSetParserErrors(parser, xsdcheck::collect, xsdcheck::collect, &why);
        c->schema = xmlSchemaParse(parser);
        xmlSchemaFreeParserCtxt(parser);
        if (c->schema == nullptr) return "schema " + xsdPath + " does not compile: " + why;
        c->text = text;
    }
    std::string why;
    xmlSchemaValidCtxtPtr valid = xmlSchemaNewValidCtxt(c->schema);
    if (valid == nullptr) return "no validation context";
    xmlSchemaSetValidErrors(valid, xsdcheck::collect, xsdcheck::collect, &why);
    const int rc = xmlSchemaValidateFile(valid, xmlPath.c_str(), 0);
    xmlSchemaFreeValidCtxt(valid);
    if (rc == 0) return "";
    return xmlPath + " is not valid against " + xsdPath + " (" + std::to_string(rc) + "): " + why;
}

} // namespace fuzz
