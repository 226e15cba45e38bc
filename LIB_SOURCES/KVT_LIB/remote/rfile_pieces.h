// One RF or WF exchange of the configuration file access, by path on a server.
#pragma once

#include <cstdint>

// Reads up to count bytes at offset; *got is the number read. 0, or -1 with the last error.
int rfile_ReadPiece(const char *server, const char *path, void *out, int count, int64_t offset,
                    int disposition, int *got);
// Writes count bytes at offset (the whole piece or -1).
int rfile_WritePiece(const char *server, const char *path, const void *data, int count,
                     int64_t offset, int disposition);
