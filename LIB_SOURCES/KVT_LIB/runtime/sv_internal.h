// Shared by the saved-values files.
#pragma once

#include "chrec.h"

#include <string>

// The .bin and .tag paths of a device and kind; -1 (errno) when the folder is unknown.
int sv_FilePaths(const char *deviceFolder, int kind, std::string *bin, std::string *tag);

// The tag a channel is saved under: empty for a disabled channel.
std::string sv_ChannelTag(const ChannelRecord &rec);

// Tags compare without regard to ASCII case over at most 15 characters.
int sv_TagsEqual(const std::string &a, const std::string &b);
