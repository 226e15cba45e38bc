// Texts of S5 addresses, as the operator reads them in station status texts and reports.
#pragma once

#include "s5types.h"

#include <cstdint>
#include <string>

// "DB12DW0" for data blocks (block number high byte, word low byte), else the area's short
// text and the decimal address ("I4", "F7", "SYSADDR3"); an unknown area gives "ERR" and the
// address.
std::string s5_FormatAddress(uint16_t address, int area);
