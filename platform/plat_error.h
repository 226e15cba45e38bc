// Last-error value and the Windows error numbers the system keeps in errno.
//
// The system was written against Windows: its callers test errno and the last error for
// Windows numbers (2 missing file, 67 bad range, 1465 XML parse error, ...). Everything in
// platform/ that wraps a POSIX call translates the POSIX failure through one table here, so
// that no other module sees a POSIX errno.
#pragma once

#include <cstdint>

// Windows error numbers used by the system. The names are ours; the numbers are Windows'.
enum : uint32_t {
    WERR_SUCCESS = 0,
    WERR_INVALID_FUNCTION = 1,
    WERR_FILE_NOT_FOUND = 2,
    WERR_PATH_NOT_FOUND = 3,
    WERR_TOO_MANY_OPEN_FILES = 4,
    WERR_ACCESS_DENIED = 5,
    WERR_INVALID_HANDLE = 6,
    WERR_NOT_ENOUGH_MEMORY = 8,
    WERR_INVALID_DATA = 13,
    WERR_WRITE_FAULT = 29,
    WERR_READ_FAULT = 30,
    WERR_GEN_FAILURE = 31,
    WERR_SHARING_VIOLATION = 32,
    WERR_LOCK_VIOLATION = 33,
    WERR_HANDLE_EOF = 38,
    WERR_HANDLE_DISK_FULL = 39,
    WERR_NOT_SAME_DEVICE = 17,
    WERR_NO_MORE_FILES = 18,
    WERR_NOT_SUPPORTED = 50,
    WERR_BAD_NETPATH = 53,
    WERR_BAD_NET_NAME = 67,
    WERR_FILE_EXISTS = 80,
    WERR_INVALID_PARAMETER = 87,
    WERR_BROKEN_PIPE = 109,
    WERR_BUFFER_OVERFLOW = 111,
    WERR_DISK_FULL = 112,
    WERR_INSUFFICIENT_BUFFER = 122,
    WERR_SEM_TIMEOUT = 121,
    WERR_INVALID_NAME = 123,
    WERR_MOD_NOT_FOUND = 126,
    WERR_PROC_NOT_FOUND = 127,
    WERR_DIR_NOT_EMPTY = 145,
    WERR_BUSY = 170,
    WERR_ALREADY_EXISTS = 183,
    WERR_ENVVAR_NOT_FOUND = 203,
    WERR_FILENAME_EXCED_RANGE = 206,
    WERR_FILE_TOO_LARGE = 223,
    WERR_PIPE_BUSY = 231,
    WERR_NO_DATA = 232,
    WERR_PIPE_NOT_CONNECTED = 233,
    WERR_MORE_DATA = 234,
    WERR_DIRECTORY = 267,
    WERR_OPERATION_ABORTED = 995,
    WERR_IO_PENDING = 997,
    WERR_NOACCESS = 998,
    WERR_CANTOPEN = 1011,
    WERR_BAD_COMMAND_LENGTH = 24,
    WERR_NOT_FOUND = 1168,
    WERR_TIMEOUT = 1460,
    WERR_XML_PARSE_ERROR = 1465,
    WERR_WSAEINTR = 10004,
    WERR_WSAEADDRNOTAVAIL = 10049,
    WERR_WSAENETUNREACH = 10051,
    WERR_WSAECONNABORTED = 10053,
    WERR_WSAECONNRESET = 10054,
    WERR_WSAETIMEDOUT = 10060,
    WERR_WSAECONNREFUSED = 10061,
    WERR_WSAEHOSTUNREACH = 10065,
    WERR_WSAHOST_NOT_FOUND = 11001,
    WERR_WSATRY_AGAIN = 11002,
    WERR_NOT_OWNER = 288,
    WERR_SERVER_NO_RESULT = 8001,
    WERR_INTERNET_INVALID_URL = 12005,
};

// Thread-local last error, as GetLastError / SetLastError.
void plat_SetLastError(uint32_t code);
uint32_t plat_GetLastError();

// Windows number for a POSIX errno value (anything unknown becomes 31, general failure).
uint32_t plat_WinErrorFromPosix(int posix_errno);

// As above for a failure on a path: ENOENT where a folder above the last component is
// missing becomes 3 (path not found) instead of 2.
uint32_t plat_WinErrorForPath(int posix_errno, const char *path);

// Sets the last error and errno to the Windows code and returns -1: the usual failure return.
int plat_Fail(uint32_t code);

// Translates the current POSIX errno, sets the last error and errno, and returns -1.
int plat_FailFromPosix();
int plat_FailFromPosixPath(const char *path);

// errno value the system uses for "function not supported" (the C runtime's number on the
// original platform; on Linux 40 is ELOOP, so it gets its own text below).
enum : int { KVT_ENOTSUPP = 40 };

// Standard text for an errno value the system keeps: the C library's text where the numbers
// agree with Linux (2, 12, 22, 33, 34, ...), "Function not supported" for 40.
#include <cstring>
inline const char *plat_ErrnoText(int err) {
    return err == KVT_ENOTSUPP ? "Function not supported" : strerror(err);
}
