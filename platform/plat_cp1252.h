// Windows-1252 texts to and from UTF-8: record texts are Windows-1252 bytes, while XML files,
// PDF output and databases carry UTF-8.
//
// Bytes 0x80-0x9F map as Windows maps them (0x80 is U+20AC ...); the five bytes Windows leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the same value, so every
// byte survives a round trip.
#pragma once

#include <cstdint>
#include <string>

// The code point of a Windows-1252 byte.
uint32_t plat_Cp1252ToCodePoint(uint8_t byte);

// The Windows-1252 byte of a code point: U+0000-U+007F and U+00A0-U+00FF are the same byte,
// the characters of the bytes 0x80-0x9F their byte, anything else '?'.
uint8_t plat_CodePointToCp1252(uint32_t codePoint);

// The UTF-8 form of a Windows-1252 text.
std::string plat_Cp1252ToUtf8(const std::string &text);

// The Windows-1252 form of a UTF-8 text: every character without a Windows-1252 byte, and
// every byte of a broken sequence, becomes one '?'.
std::string plat_Utf8ToCp1252(const std::string &text);

// The UTF-16 form of a Windows-1252 text (one unit per byte).
std::u16string plat_Cp1252ToUtf16(const std::string &text);

// The Windows-1252 form of a UTF-16 text: every character the table lacks, and every surrogate
// pair, becomes one '?'.
std::string plat_Utf16ToCp1252(const std::u16string &text);
