// Translated texts in the records' fixed tag fields.
#pragma once

#include <cstddef>

constexpr size_t TR_TAG_SIZE = 32;

// Stores a wide (UTF-16) text in a 32-byte tag field. When each of its first 32 characters is
// below U+0100, the field gets their Windows-1252 bytes (U+0080-U+009F as the table has them,
// '?' where it has none), terminated when shorter than 32. Otherwise it gets the marker bytes
// 0x00 0xFF and up to 15 UTF-16 characters, little-endian, terminated when fewer; a
// surrogate pair is never split. A null text stores the empty text.
void tr_SetTagText(char tag[TR_TAG_SIZE], const char16_t *text);
