// Files as the logger's Windows code used them: CreateFile with access bits and dispositions,
// SetEndOfFile, one-byte LockFile/UnlockFile, MoveFile, DeleteFile, the read-only attribute and
// FindFirstFile/FindNextFile listings.
//
// Failures return -1 (or null) with errno and the last error set to the Windows number: 2 missing
// file, 3 missing folder, 5 refused or a folder opened as a file, 17 move across file systems,
// 18 end of a listing, 33 lock held by another open, 53 a path on another computer, 183 target
// exists, 206 name too long, 223 file too large. Paths may use '\' or '/'.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Access bits (GENERIC_READ, GENERIC_WRITE).
enum : uint32_t {
    PLAT_GENERIC_READ = 0x80000000u,
    PLAT_GENERIC_WRITE = 0x40000000u,
};

// Dispositions, with CreateFile's numbers.
enum PlatDisposition : int {
    PLAT_CREATE_NEW = 1,
    PLAT_CREATE_ALWAYS = 2,
    PLAT_OPEN_EXISTING = 3,
    PLAT_OPEN_ALWAYS = 4,
};

// Open flags.
enum : uint32_t {
    PLAT_OPEN_WRITE_THROUGH = 0x1,   // every write reaches the disk before it returns (O_DSYNC)
    PLAT_OPEN_NULL_ACCESS_LIST = 0x2 // a file this open creates gets mode 0666 whatever the umask
};

// Opens a file. Share modes are not taken: every open shares reading and writing, and nothing
// here enforces exclusion. The descriptor, or -1.
int plat_FileCreate(const char *path, uint32_t access, PlatDisposition disposition, uint32_t flags);

// Cuts or extends the file to size bytes: 0, or -1.
int plat_FileSetEnd(int fd, int64_t size);

// Locks the byte at pos for this open of the file (not the process: a second descriptor of the
// same process conflicts, closing the descriptor releases it). A byte past the end may be
// locked. A byte another open holds fails at once with 33. Locks are advisory: reads and writes
// are never refused. 0, or -1.
int plat_FileLockByte(int fd, int64_t pos);

// Releases the byte (releasing an unlocked byte succeeds): 0, or -1.
int plat_FileUnlockByte(int fd, int64_t pos);

// Moves a file, never replacing one: an existing target fails with 183, a missing source with 2.
// Moving a file onto itself succeeds and changes nothing. 0, or -1.
int plat_FileMove(const char *from, const char *to);

// Moves a file over its target in one step: readers see the old file or the new one. 0, or -1.
int plat_FileReplace(const char *from, const char *to);

// Deletes a file: 0, or -1 (2 when it is missing).
int plat_FileDelete(const char *path);

// Read-only clears every write bit; otherwise the owner's write bits come back as the umask
// allows. 0, or -1.
int plat_FileSetReadOnly(const char *path, int readOnly);

// Size and modification time (seconds since 1970, UTC) of an open file or a path. 0, or -1.
int plat_FileInfo(int fd, int64_t *size, int64_t *mtime);
int plat_FileInfoPath(const char *path, int64_t *size, int64_t *mtime);

// Sleeps for ms milliseconds (the retry pause of rewrites).
void plat_SleepMs(int ms);

// One entry of a folder listing.
struct PlatFindEntry {
    std::string name;
    int isFolder = 0;
    int64_t size = 0;
    int64_t mtime = 0; // seconds since 1970, UTC
};

struct PlatFindList;
struct PlatFindListClose {
    void operator()(PlatFindList *list) const;
};
using PlatFindHandle = std::unique_ptr<PlatFindList, PlatFindListClose>;

// Starts a listing of "folder/pattern" ('*' and '?' match without regard to case; "*" and "*.*"
// match every name). The listing is a snapshot taken now, sorted as Windows lists (ASCII letters
// folded to upper case, ties by bytes), "." and ".." included. The first entry goes to *first.
// Null with 3 for a missing folder, 2 when nothing matches.
PlatFindHandle plat_FindFirst(const char *pattern, PlatFindEntry *first);

// The next entry: 0, or -1 with 18 at the end.
int plat_FindNext(PlatFindList *list, PlatFindEntry *entry);

// 1 when the name matches the pattern as plat_FindFirst matches it.
int plat_MatchPattern(const char *pattern, const char *name);
