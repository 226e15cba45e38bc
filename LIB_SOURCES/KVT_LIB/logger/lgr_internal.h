// Internals shared by the logger sources.
#pragma once

#include "structs_chan.h"

#include <cstdint>
#include <string>
#include <vector>

// A path in a folder, joined with '/' ("" or null folder: the name alone).
std::string lgr_Join(const char *folder, const char *name);

// The leaf fields of a kind's record in type order (empty for an unknown kind).
const std::vector<StructsLeaf> &lgr_Leaves(int kind);
