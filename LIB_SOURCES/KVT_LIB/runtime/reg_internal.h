// Helpers shared by the registry and product-name sources of this library.
#pragma once

#include "plat_registry.h"
#include "plat_regfile.h"

#include <string>

// HKEY_CURRENT_USER for HKEY_LOCAL_MACHINE while the user redirect is on.
PlatHKey reg_RedirectHive(PlatHKey hive);

// ASCII case folding only.
bool reg_EqualNoCase(const std::string &a, const std::string &b);

// Opens the key as given (no product word, no redirect) and reads one value. *openFailed
// (may be null) tells whether the key itself could not be opened.
uint32_t reg_ReadPlain(PlatHKey hive, const std::string &path, uint32_t access, const char *name,
                       uint32_t *type, void *data, uint32_t *size, bool *openFailed);
