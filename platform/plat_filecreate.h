// File opens whose created files every user of the suite may read and write, whatever the
// process's umask (the runtime, scanners and tools run under different accounts), and plain
// sequential writes for files that only grow.
#pragma once

#include <cstddef>

// Opens a file for reading and writing, creating it with mode 0666 when missing; an existing
// file is never truncated and keeps its mode. The descriptor, or -1 (2, 3, 5 as plat_file.h).
int plat_FileOpenOrCreateShared(const char *path);

// Creates or truncates a file for writing; a created file gets mode 0666. The descriptor, or -1.
int plat_FileCreateTruncated(const char *path);

// Writes the whole buffer at the descriptor's position: 0, or -1.
int plat_FileWriteAll(int fd, const void *buffer, size_t length);
