// Registry values of the suite, the product's names and the per-user redirect.
//
// Settings live under the maker's key "SOFTWARE\Tallowbrook", in a subkey named after the
// installed product. Callers always name the product key "SOFTWARE\Tallowbrook\Trellane";
// the access functions put the installed product's name in its place. Every write passes
// the write-filter guard (ewf.h). Functions return a Windows error number, 0 on success.
#pragma once

#include "plat_registry.h"

#include <cstdint>
#include <string>

// The maker's key and the product key as callers spell it.
#define REG_MAKER_KEY "SOFTWARE\\Tallowbrook"
#define REG_PRODUCT_KEY "SOFTWARE\\Tallowbrook\\Trellane"

// Reads (access with bit 0, KEY_QUERY_VALUE, set) or writes (any other access) one value.
// A read fills data and *size (and *type when not null); a write creates the key and stores
// *type, data and *size. A key path ending with "Trellane" (any case) is first tried with the
// product name in its place: a write uses only that path; a read whose value is missing there
// tries the path as given, and so does a read with exactly KEY_QUERY_VALUE whose replaced key
// cannot be opened. With the user redirect on, HKEY_LOCAL_MACHINE means HKEY_CURRENT_USER.
uint32_t reg_AccessValue(PlatHKey hive, const char *keyPath, uint32_t access, const char *valueName,
                         uint32_t *type, void *data, uint32_t *size);

// Deletes one value (product-name replacement without fallback, redirect applied).
uint32_t reg_DeleteValue(PlatHKey hive, const char *keyPath, const char *valueName);

// The process-wide per-user redirect, off at start.
int reg_GetUserRedirect();
void reg_SetUserRedirect();
void reg_ClearUserRedirect();

// The installed product's name and the replication product's name, read once per process.
const std::string &reg_GetProductName();
const std::string &reg_GetReplicationProductName();

// 1 when the installed product is the Lumbrel edition (its name is "Lumbrel", any case).
int reg_IsLumbrelEdition();

// Opens or creates HKEY_LOCAL_MACHINE "SOFTWARE\Tallowbrook\<name>"; 1 on success, else 0.
int reg_ProductKeyExists(const char *name);

// Test hook: the next call of the name functions reads the registry again.
void reg_ForgetProductNames();
