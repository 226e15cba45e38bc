// Channel tag, description and units stored in pieces of the channel record, the flag-bit
// helpers, and the names under which logger channels appear in status tables.
//
// Texts are Windows-1252 bytes, copied and compared as bytes.
#pragma once

#include "chrec.h"

#include <cstdint>
#include <string>

// Joining: the pieces one after another; a piece shorter than its width ends the text.
std::string tag_GetTag(const ChannelRecord &rec);         // (0, 8) (138, 4) (158, 3)
std::string tag_GetDescription(const ChannelRecord &rec); // (8, 16) (142, 16)
std::string tag_GetUnits(const ChannelRecord &rec);       // (32, 4) (161, 4), any layout

// Splitting: each piece takes at most its width and is NUL-padded; pieces the text does not
// reach are emptied; a longer text is cut (15, 32, 8 characters). A null text is empty.
void tag_SetTag(ChannelRecord *rec, const char *text);
void tag_SetDescription(ChannelRecord *rec, const char *text);
void tag_SetUnits(ChannelRecord *rec, const char *text);

// Longest texts the configuration allows (at most 15, 32, 8).
int tag_TagSize();
int tag_DescSize();
int tag_UnitsSize();

// The name of a logger channel in the status tables (at most 47 characters): a name of up to
// 15 characters as it is; for a "resub" logger a name A_B_C_D_E[_F...] becomes a 15-character
// tag from B and C followed by a description from D, E and F; any other name is cut to 47.
std::string tag_ShortName(const char *typeName, const char *name);
// "EXP " and the short name, at most 47 characters in all.
std::string tag_ExpName(const char *typeName, const char *name);

// Bit i of an array is the bit 128 >> (i & 7) of byte i >> 3 (most significant bit first).
int util_TestBit(const uint8_t *array, int i);
void util_SetBit(uint8_t *array, int i);
void util_ClearBit(uint8_t *array, int i);
