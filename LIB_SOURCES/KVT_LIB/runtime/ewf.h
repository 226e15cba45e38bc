// The write-filter guard of the embedded controller platform.
//
// There the system disk is protected by a write filter, so a registry change would be lost at
// the next start. Every registry write goes through the guarded calls below: the first write
// after a start commits and lifts the filter (once per boot, marked by a volatile key) and
// turns it on again afterwards. Off that platform the guarded calls are the plain ones.
#pragma once

#include "plat_registry.h"

#include <cstdint>

// The platform's support library, loaded once per process; null off the platform.
void *ewf_LoadXpacSdk();
void ewf_FreeXpacSdk();

// Once per process on the platform: creates the volatile marker HKEY_LOCAL_MACHINE
// "SOFTWARE\EWF"; when this process created it, runs "ewfmgr c: -commitanddisable -live" and
// remembers that it lifted the filter. 1, or 0 with the last error set when the marker cannot
// be created or the command cannot be started.
int ewf_DisableFilterOnce();

// When this process lifted the filter: runs "ewfmgr c: -enable". 1, or 0 with the last error
// set when the command cannot be started.
int ewf_ReenableFilter();

// The registry calls with the guard around them. Each returns the registry call's result, or
// the last error when a guard step failed.
uint32_t ewf_RegCreateKeyEx(PlatHKey parent, const char *subkey, uint32_t options, uint32_t access,
                            PlatHKey *out, uint32_t *disposition);
uint32_t ewf_RegSetValueEx(PlatHKey key, const char *name, uint32_t type, const void *data,
                           uint32_t size);
uint32_t ewf_RegDeleteValue(PlatHKey key, const char *name);

// Test hook: forget that the guard ran and that the filter was lifted in this process.
void ewf_ForgetStateForTest();
