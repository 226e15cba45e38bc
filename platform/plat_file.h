// Files as the system's Windows callers used them: shared opens, positioned whole-length reads
// and writes, failures as Windows error numbers.
//
// Every function returns -1 on failure with errno and the last error set to the Windows number
// (2 missing file, 3 missing folder, 5 access denied or a folder given as a file, 38 end of file
// on a short read). Paths may use '\' or '/' as separators.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum PlatFileAccess {
    PLAT_FILE_READ = 0,
    PLAT_FILE_READ_WRITE = 1,
};

// Whether a writer may change or replace the file at path: 0 when it is missing (its folder is
// then the writer's concern) or when it is a file the caller may write that is not marked
// read-only; -1 otherwise (5 access denied, or what the path's lookup failed with). A file with
// no write bit is marked read-only, which refuses an administrator too, as Windows does.
int plat_FileMayWrite(const char *path);

// The same rule for a file already open: 0 when it may be written through, -1 with 5 when it
// is a folder or marked read-only (no write bit). Every opener for writing asks this before the
// first byte changes.
int plat_FileMayWriteOpen(int fd);

// Opens an existing file; the descriptor, or -1.
int plat_FileOpen(const char *path, PlatFileAccess access);

// Opens a file for reading and writing, creating it (mode 0666 less the umask) when missing;
// an existing file is never truncated. The descriptor, or -1.
int plat_FileOpenOrCreate(const char *path);

// Reads exactly length bytes at offset: 0, or -1 (38 when the file ends first).
int plat_FileReadAt(int fd, void *buffer, size_t length, int64_t offset);

// Reads up to length bytes at offset, stopping early only at the end of the file: the number
// of bytes read, or -1.
int64_t plat_FileReadAtMost(int fd, void *buffer, size_t length, int64_t offset);

// Writes exactly length bytes at offset (extending the file; a gap reads as zeros): 0, or -1.
int plat_FileWriteAt(int fd, const void *buffer, size_t length, int64_t offset);

// The file's size in bytes, or -1.
int64_t plat_FileSize(int fd);

// Closes the descriptor (a negative one is ignored): 0, or -1.
int plat_FileClose(int fd);

// The path with every '\' turned into '/'.
std::string plat_FileNativePath(const char *path);

// Positions of plat_FileSeek, as SetFilePointer takes them.
enum PlatFileMoveMethod {
    PLAT_FILE_BEGIN = 0,
    PLAT_FILE_CURRENT = 1,
    PLAT_FILE_END = 2,
};

// Moves the file position: the new position, or -1 (87 for a bad method or a negative result).
int64_t plat_FileSeek(int fd, int64_t offset, int moveMethod);

// Reads up to length bytes at the position, stopping early only at the end of the file: the
// number of bytes read, or -1.
int64_t plat_FileRead(int fd, void *buffer, size_t length);

// Writes the whole buffer at the position: the number of bytes written (length), or -1.
int64_t plat_FileWrite(int fd, const void *buffer, size_t length);

// The file's times as FILETIMEs (100 ns since 1601-01-01 UTC). Creation is the birth time, or
// the last write time where the file system keeps none. 0, or -1.
int plat_FileGetTimes(int fd, uint64_t *creation, uint64_t *lastAccess, uint64_t *lastWrite);
