// The registry the system's settings live in, kept as a file tree.
//
// Each hive is a folder below the store root ($KVT_REGISTRY_ROOT, else /var/lib/kvt/registry):
// "HKLM", "HKCU", "HKCR", "HKU", "HKCC", "HKPD", "HKDD". A key is a folder holding one text
// file ".values" with one line per value, "name=type:data", where type is "sz" (text),
// "dword" (decimal), "hex" (bytes as hex pairs) or "hex(N)" for other type numbers; backslash
// escapes cover '\', '=', CR and LF, so a test can seed the store from a shell. Key and value
// names match without regard to ASCII case and keep the case they were first written with.
//
// Volatile keys live in a second tree that does not survive a restart: /run/kvt/registry, or
// "<KVT_REGISTRY_ROOT>.volatile" when the root is set (a test simulates a restart by
// deleting it).
//
// Every change takes one store-wide flock, rewrites the whole ".values" through a temporary
// file and a rename, and bumps one change counter; readers never see half a file. The
// functions mirror the Windows registry calls: they return a Windows error number (0 on
// success) rather than -1 with errno.
#pragma once

#include <cstdint>

// A key handle. The predefined hives have the Windows values; opened keys are other values.
using PlatHKey = uintptr_t;

constexpr PlatHKey PLAT_HKEY_CLASSES_ROOT = 0x80000000u;
constexpr PlatHKey PLAT_HKEY_CURRENT_USER = 0x80000001u;
constexpr PlatHKey PLAT_HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr PlatHKey PLAT_HKEY_USERS = 0x80000003u;
constexpr PlatHKey PLAT_HKEY_PERFORMANCE_DATA = 0x80000004u;
constexpr PlatHKey PLAT_HKEY_CURRENT_CONFIG = 0x80000005u;
constexpr PlatHKey PLAT_HKEY_DYN_DATA = 0x80000006u;

// Value types.
enum : uint32_t {
    PLAT_REG_NONE = 0,
    PLAT_REG_SZ = 1,
    PLAT_REG_EXPAND_SZ = 2,
    PLAT_REG_BINARY = 3,
    PLAT_REG_DWORD = 4,
    PLAT_REG_MULTI_SZ = 7,
};

// Access masks. They are accepted and kept but not enforced.
enum : uint32_t {
    PLAT_KEY_QUERY_VALUE = 0x0001,
    PLAT_KEY_SET_VALUE = 0x0002,
    PLAT_KEY_CREATE_SUB_KEY = 0x0004,
    PLAT_KEY_ENUMERATE_SUB_KEYS = 0x0008,
    PLAT_KEY_NOTIFY = 0x0010,
    PLAT_KEY_READ = 0x20019,
    PLAT_KEY_WRITE = 0x20006,
    PLAT_KEY_ALL_ACCESS = 0xF003F,
};

// Key creation options and dispositions.
enum : uint32_t {
    PLAT_REG_OPTION_NON_VOLATILE = 0,
    PLAT_REG_OPTION_VOLATILE = 1,
    PLAT_REG_CREATED_NEW_KEY = 1,
    PLAT_REG_OPENED_EXISTING_KEY = 2,
};

// Opens an existing key below an open key or hive; 2 when it is missing.
uint32_t plat_RegOpenKey(PlatHKey parent, const char *subkey, uint32_t access, PlatHKey *out);

// Opens a key, creating every missing level. The disposition (may be null) tells whether the
// key was created or already there. Folders are made 0777 and files 0666 whatever the umask;
// a refusal of the file system gives 5.
uint32_t plat_RegCreateKey(PlatHKey parent, const char *subkey, uint32_t options, uint32_t access,
                           PlatHKey *out, uint32_t *disposition);

// Closes an opened key; closing a hive does nothing.
uint32_t plat_RegCloseKey(PlatHKey key);

// Reads a value. With data null only the type and size are returned. A buffer too small fails
// with 234 and gives the size needed; a missing value fails with 2. Texts (REG_SZ) count
// their NUL in the size and always come back terminated.
uint32_t plat_RegQueryValue(PlatHKey key, const char *name, uint32_t *type, void *data,
                            uint32_t *size);

// Writes a value; a REG_SZ is stored up to its first NUL.
uint32_t plat_RegSetValue(PlatHKey key, const char *name, uint32_t type, const void *data,
                          uint32_t size);

// Deletes a value; 2 when it is missing.
uint32_t plat_RegDeleteValue(PlatHKey key, const char *name);

// Deletes a key that has no subkeys, with its values; 2 when it is missing, 5 for a hive, 145
// for a key that still has subkeys.
uint32_t plat_RegDeleteKey(PlatHKey parent, const char *subkey);

// The registry of another computer: a null or empty machine name gives the local hive, any
// other name fails with 53 (there is no remote registry).
uint32_t plat_RegConnectRegistry(const char *machine, PlatHKey hive, PlatHKey *out);

// Change notification. Arming a watch on a key records the store's change counter; the key
// reports changed (1) once the counter differs, until armed again. Any change anywhere in
// the store counts, so spurious reports are possible.
uint32_t plat_RegNotifyArm(PlatHKey key);
int plat_RegNotifyChanged(PlatHKey key);

// The store's change counter (0 when nothing was ever changed).
uint64_t plat_RegChangeCounter();
