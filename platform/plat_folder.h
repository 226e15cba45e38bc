// Folders as the system's Windows code used them: created open to everybody (the null
// DACL), tested for access with the process's own rights, and the per-user data folder.
#pragma once

#include <cstdint>
#include <string>

// Creates one folder with mode 0777 whatever the umask. 0, or -1 with errno and the last
// error: 183 when it already exists, 3 when the folder above is missing, 5 when refused.
int plat_MakeFolder(const char *path);

// 1 when the path names an existing folder.
int plat_FolderExists(const char *path);

// Access wanted by plat_CheckAccess; bits may be combined.
enum : int { PLAT_ACCESS_READ = 4, PLAT_ACCESS_WRITE = 2, PLAT_ACCESS_EXECUTE = 1 };

// 1 when the process may access the path as asked, checked with its effective ids.
int plat_CheckAccess(const char *path, int access);

// The folder that held the system's own files on Windows: "/" here.
std::string plat_SystemDirectory();

// The per-user data folder: $XDG_DATA_HOME, else $HOME/.local/share, else the password
// entry's home + "/.local/share"; "" when none can be found.
std::string plat_UserDataFolder();

// A remote-desktop session never exists here: 0.
int plat_RemoteSession();

// 1 when the path names a folder on another computer ("\\host\..." or "//host/..."); the file
// functions cannot reach those (53).
int plat_IsUncPath(const char *path);

// 1 when the folder exists and holds at least one file (not counting sub-folders); 0
// otherwise, with errno 53 for a folder on another computer.
int plat_FolderHasFile(const char *path);

// Last change of a folder (a file added, removed or renamed in it): seconds and nanoseconds.
// 0, or -1 with errno and the last error.
int plat_FolderWriteTime(const char *path, int32_t *seconds, int32_t *nanoseconds);
