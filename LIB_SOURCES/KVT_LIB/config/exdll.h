// Loading a driver's extension module and handling what its entry points hand back.
//
// The module of a driver prefix is "<prefix>_ex.so" with the first 5 characters of the prefix
// as given; when that is not found the prefix is tried upper-cased. Each name is tried on the
// default search path, then in $KVT_BIN. A module is loaded for one operation and freed at its
// end; nothing it returns is kept past that.
#pragma once

#include "ex.h"

#include <string>

// The file name of a prefix's module, "<first 5 characters>_ex.so".
std::string exdll_ModuleName(const char *prefix);

// The loaded module, or null with errno 126.
void *exdll_Load(const char *prefix);

// An entry point, cast to its pointer type by the caller; null when absent.
void *exdll_Symbol(void *module, const char *name);

template <typename Fn>
Fn exdll_Entry(void *module, const char *name) {
    return reinterpret_cast<Fn>(exdll_Symbol(module, name));
}

void exdll_Free(void *module);

// Message and text buffers handed to an entry point: zero-filled before the call, and the
// last byte made NUL after it, whatever the module wrote.
void exdll_BeginText(char *buffer, int size);
void exdll_EndText(char *buffer, int size);

// Takes over a block an entry point may have put into the buffer. A block counts as replaced
// only with owned set, a data pointer and a non-negative size: then at most targetSize bytes
// are copied to target, the block is freed, the buffer points at target again, and the
// copied size is returned. Otherwise nothing is freed and -1 is returned.
int exdll_TakeBlock(ExBuffer *buffer, void *target, int targetSize);

// The port text of a device from the prefix's module (Ex_Get_Config_Port with 20 as size):
// 0 with the text, or -1 with "" when there is no module or no such entry point.
int exdll_GetConfigPort(const char *prefix, void *slot, char *text, int size);
