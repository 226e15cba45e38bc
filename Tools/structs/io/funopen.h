// Streams over callbacks and over descriptors, usable with every standard stream function
// (fprintf, fscanf, fread, fwrite, fseek, fflush, fclose, ...).
#pragma once

#include <cstdio>
#include <sys/types.h>

typedef int funopen_read_t(void *cookie, char *buf, int len);
typedef int funopen_write_t(void *cookie, const char *buf, int len);
typedef off_t funopen_seek_t(void *cookie, off_t offset, int whence);
typedef int funopen_close_t(void *cookie);

// A stream over the callbacks; any of them may be null (no reading, no writing, no seeking,
// nothing to do at close). Readable and writable as the read and write callbacks are given.
// Null with errno 22 when neither is given.
FILE *funopen(const void *cookie, funopen_read_t *readfn, funopen_write_t *writefn,
              funopen_seek_t *seekfn, funopen_close_t *closefn);

// A stream over a descriptor, which fclose closes. For a socket, reads and writes go to its
// receive and send, the stream cannot seek, and a connection reset reads as the end of the
// stream; anything else is read, written and positioned as a file.
FILE *funopen_fd(int fd, const char *mode);
