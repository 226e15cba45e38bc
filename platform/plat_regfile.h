// The text form of one registry key's values (the ".values" file of the registry store).
//
// One line per value: "name=type:data". The type is "sz" (text), "dword" (decimal), "hex"
// (REG_BINARY, bytes as hex pairs) or "hex(N)" for any other type number N. In names and
// texts a backslash escapes '\', '=', and CR and LF are written "\r" and "\n".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PlatRegValue {
    std::string name;
    uint32_t type = 0;
    std::string data; // the value's bytes; a text without its NUL
};

// Parses a whole file. Lines that cannot be read are skipped rather than losing the others.
void plat_RegFileParse(const std::string &text, std::vector<PlatRegValue> *values);

std::string plat_RegFileFormat(const std::vector<PlatRegValue> &values);

// The value whose name matches without regard to ASCII case, or null.
PlatRegValue *plat_RegFileFind(std::vector<PlatRegValue> &values, const std::string &name);

// ASCII-only case folding: bytes of 0x80 and above compare as they are.
bool plat_EqualNoCase(const std::string &a, const std::string &b);
