// Loadable modules (the Windows DLLs) as dlopen'ed shared objects.
#pragma once

#include <string>

// Loads a module by bare name from the default search path, or by a path when the name
// holds a '/'. Returns the handle, or null with errno 126.
void *plat_ModuleLoad(const char *name);

// The address of an exported symbol; null when the module does not export it.
void *plat_ModuleSymbol(void *module, const char *symbol);

void plat_ModuleFree(void *module);

// The path of the loaded module (shared object or program) that holds the address, as the
// loader opened it; empty when no module holds it.
std::string plat_ModulePath(const void *address);
