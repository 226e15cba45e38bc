// Facts about the running system and process that the Windows code read from the OS:
// platform id and version, process id, computer and user name, priority, current folder.
#pragma once

#include <cstdint>
#include <string>

// Platform id as GetVersionEx reported it: always 2 (NT family) on Linux, unless the
// environment variable KVT_PLATFORM_ID is "1" (to exercise the older shared layouts).
// Read once per process.
int plat_PlatformId();

// Test hook: force the platform id (1 or 2) for this process; 0 returns to the value read
// from the environment.
void plat_OverridePlatformId(int id);

// Prefix of every named IPC object (shared memory, mutexes, mailslots, pipes): the value of
// KVT_IPC_PREFIX, "kvt" when unset or empty. Read at each call, so a test can choose its own.
std::string plat_IpcPrefix();

// Major version of the system: 6 (the NT family of the original target).
int plat_OsMajorVersion();

// Process id, read once and cached (the cache is refreshed in a forked child).
uint32_t plat_ProcessId();

// Computer name: short host name, upper-cased, at most 15 characters ("" when unknown).
std::string plat_ComputerName();

// Name of the effective user: password entry, else $USER, else ""; at most 256 characters.
std::string plat_UserName();

// Raises the process to the best nice value it may take. Never a real-time class, and a
// refusal is not an error: the call always returns 0 (the value it reached is only a hint).
int plat_RaiseProcessPriority();

// Changes the current folder; -1 with errno 2 for a missing folder, 3 when a folder above
// it is missing, 5 for no access, 267 when it is not a folder.
int plat_ChangeDirectory(const char *path);

// Id of the calling thread as the kernel knows it (gettid).
uint32_t plat_ThreadId();

// The short host name as it stands (no cut, no case change); "" when unknown. A host name
// longer than the computer name's 15 characters still names this computer.
std::string plat_HostShortName();
