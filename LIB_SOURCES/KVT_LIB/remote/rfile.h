// Files on a server, reached through the runtime's two-letter file requests (RF, WF, SF, TF,
// DF and the rest), or through an open local file handle.
//
// Every operation takes a server spec and either an open file descriptor, used directly, or
// -1, in which case the file is named by a path the server resolves ("KVT_CURRENT_CONFIG\" +
// folder + "\" + file, with backslashes) and one request is sent. Request fields after the
// two letters are separated by TAB; the Windows file-call values go as "%d".
//
// Failures return 0 (or -1 where the result is a number) with errno and the last error set.
#pragma once

#include <cstdint>

// The Windows open values a request carries.
struct RemoteFileMode {
    uint32_t access;      // 0x80000000 read, 0x40000000 write, 0xC0000000 both
    uint32_t share;       // 3: read and write
    uint32_t flag;        // interpreted by the server; 1 for writes
    uint32_t disposition; // 2 create always, 3 open existing, 4 open always
    uint32_t attributes;  // 128: normal
};
constexpr RemoteFileMode RFILE_READ = {0x80000000u, 3, 0, 3, 128};
constexpr RemoteFileMode RFILE_CREATE = {0xC0000000u, 3, 1, 2, 128};
constexpr RemoteFileMode RFILE_APPEND = {0xC0000000u, 3, 1, 3, 128};

// Largest count of one RF, and the longest request (text, data and NUL) of the connection.
constexpr int RFILE_MAX_READ = 65512;
constexpr int RFILE_MAX_REQUEST = 32768;
// Size of a DF name slot.
constexpr int RFILE_NAME_SLOT = 256;

// Reads up to count bytes at offset (moveMethod 0 begin, 1 current, 2 end; offset -1 the
// current position). Nonzero with *bytesRead set; 0 with *bytesRead 0.
int rfile_ReadFile(const char *server, int file, const char *path, void *buffer, int count,
                   int *bytesRead, int32_t offset, int moveMethod,
                   const RemoteFileMode &mode = RFILE_READ);

// Writes count bytes at offset. Nonzero with *bytesWritten = count; 0 with *bytesWritten 0.
int rfile_WriteFile(const char *server, int file, const char *path, const void *data, int count,
                    int *bytesWritten, int32_t offset, int moveMethod, const RemoteFileMode &mode);

// The file's size, or -1.
int64_t rfile_GetFileSize(const char *server, const char *path,
                          const RemoteFileMode &mode = RFILE_READ);

// The three FILETIMEs (creation, last access, last write). Nonzero, or 0.
int rfile_GetFileTime(const char *server, int file, const char *path, uint64_t *creation,
                      uint64_t *lastAccess, uint64_t *lastWrite);

// The names in folder matching pattern ('*', '?'), at most maximum of them copied into
// 256-byte slots (names is null: every name counted). The count, or -1.
int rfile_ListFiles(const char *server, const char *folder, const char *pattern, int maximum,
                    char (*names)[RFILE_NAME_SLOT]);

// Requests on one path, and on two; the server's result.
int rfile_SendUF(const char *server, const char *path);
int rfile_SendNF(const char *server, const char *path);
int rfile_SendOF(const char *server, const char *path);
int rfile_SendBF(const char *server, const char *path);
int rfile_SendEF(const char *server, const char *path, const char *other);
// MF: with result 1 the reply text after "1," goes into text (cut to textSize).
int rfile_SendMF(const char *server, const char *path, const char *other, char *text, int textSize);

// Whole-file copies: from the server to a local file, and from a local file to the server.
// Nonzero, or 0. A copy from the server that gets fewer bytes than the size the server gave
// fails with 38, and a failed copy leaves no local file.
int rfile_CopyFromServer(const char *server, const char *remotePath, const char *localPath);
int rfile_CopyToServer(const char *server, const char *localPath, const char *remotePath);
