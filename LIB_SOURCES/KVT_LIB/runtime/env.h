// Folders, environment variables, product name and the operating-system facts that
// select shared layouts.
#pragma once

// Platform id (1 = the old consumer family, 2 = NT family) and major version, read once
// per process; the shared-memory and mailslot layouts depend on the id.
int env_GetOsPlatformId();
int env_GetOsMajorVersion();

#include <cstdint>
#include <string>

// Access rights for env_CheckFileAccess, with the Windows values.
enum : uint32_t {
    ENV_GENERIC_READ = 0x80000000u,
    ENV_GENERIC_WRITE = 0x40000000u,
    ENV_GENERIC_EXECUTE = 0x20000000u,
    ENV_GENERIC_ALL = 0x10000000u,
};

// The folder named by a suite variable ("KVT_CURRENT_CONFIG", "KVT_BIN", ...; "DM2_" reads as
// "KVT_"). Unset, it is "<root>/<NAME>" with the name upper-cased and without "KVT_". A value
// "%\Hive\key path\value%" is read from the registry; any other value is taken as it
// stands. "" with errno 22 for a name of more than 249 characters.
std::string env_ResolveFolder(const char *name);

// As env_ResolveFolder; for REPLAY_OPTIONS, EXPORTED_DATA and EXPORTED_IMAGES (with or without
// the prefix) the folder is created when missing, and when the process may not write to it
// a per-user folder "<user data>/Tallowbrook/<product>/<name>" is used instead. "" with errno
// set when the name cannot be resolved.
std::string env_GetFolder(const char *name);

// The suite's root folder: "/<product>" (the "Root:" value under the product key overrides
// it). env_GetRootFolder uses the installed product's name.
std::string env_GetRootFolder();
std::string env_GetRootFolderFor(const char *product);

// The drive letter of the system folder: '/' here (no drive letters), 'D' on the embedded
// controller platform, 'C' with errno set when the system folder cannot be read.
char env_GetSystemDrive();

// Nonzero when the process may access the path with the ENV_GENERIC_* rights asked for.
int env_CheckFileAccess(const char *path, uint32_t desiredAccess);

// A driver's module ("<name>_<suffix>.so", or "<name>.so" without suffix) or program (no
// extension, returned in double quotes), searched in KVT_BIN and then LD_LIBRARY_PATH (modules)
// or PATH (programs). "calc" and "opddx" followed by digits lose the digits. "" when not found.
std::string env_FindDriverDll(const char *server, const char *name, const char *suffix);
std::string env_FindDriverExe(const char *server, const char *name, const char *suffix);
