#include "funopen.h"

#include "typed_mem.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Callbacks {
    void *cookie;
    funopen_read_t *readfn;
    funopen_write_t *writefn;
    funopen_seek_t *seekfn;
    funopen_close_t *closefn;
};

const char *const k_files = "funopen.files";
const char *const k_filepds = "funopen.filepds";

int clamp(size_t n) {
    return n > 0x40000000 ? 0x40000000 : static_cast<int>(n);
}

ssize_t cb_read(void *c, char *buf, size_t size) {
    auto *cb = static_cast<Callbacks *>(c);
    return cb->readfn(cb->cookie, buf, clamp(size));
}

ssize_t cb_write(void *c, const char *buf, size_t size) {
    auto *cb = static_cast<Callbacks *>(c);
    int n = cb->writefn(cb->cookie, buf, clamp(size));
    // A stream write of nothing would be taken as an error by the C library.
    return n == 0 && size > 0 ? -1 : n;
}

int cb_seek(void *c, off64_t *offset, int whence) {
    auto *cb = static_cast<Callbacks *>(c);
    off_t pos = cb->seekfn(cb->cookie, static_cast<off_t>(*offset), whence);
    if (pos == -1) return -1;
    *offset = pos;
    return 0;
}

int cb_close(void *c) {
    auto *cb = static_cast<Callbacks *>(c);
    int r = cb->closefn ? cb->closefn(cb->cookie) : 0;
    typed_mem_free(k_files, cb);
    return r;
}

struct Descriptor {
    int fd;
    bool socket;
};

ssize_t fd_read(void *c, char *buf, size_t size) {
    auto *d = static_cast<Descriptor *>(c);
    for (;;) {
        ssize_t n = d->socket ? recv(d->fd, buf, size, 0) : read(d->fd, buf, size);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        // The peer went away: what it sent has been read, so this is the end of the stream.
        if (d->socket && errno == ECONNRESET) return 0;
        return -1;
    }
}

ssize_t fd_write(void *c, const char *buf, size_t size) {
    auto *d = static_cast<Descriptor *>(c);
    for (;;) {
        ssize_t n = d->socket ? send(d->fd, buf, size, MSG_NOSIGNAL) : write(d->fd, buf, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

int fd_seek(void *c, off64_t *offset, int whence) {
    auto *d = static_cast<Descriptor *>(c);
    if (d->socket) {
        errno = ESPIPE;
        return -1;
    }
    off_t pos = lseek(d->fd, static_cast<off_t>(*offset), whence);
    if (pos == -1) return -1;
    *offset = pos;
    return 0;
}

int fd_close(void *c) {
    auto *d = static_cast<Descriptor *>(c);
    int r = close(d->fd);
    typed_mem_free(k_filepds, d);
    return r;
}

} // namespace

FILE *funopen(const void *cookie, funopen_read_t *readfn, funopen_write_t *writefn,
              funopen_seek_t *seekfn, funopen_close_t *closefn) {
    if (readfn == nullptr && writefn == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    auto *cb = static_cast<Callbacks *>(typed_mem_calloc(k_files, 1, sizeof(Callbacks)));
    if (cb == nullptr) return nullptr;
    *cb = {const_cast<void *>(cookie), readfn, writefn, seekfn, closefn};
    cookie_io_functions_t io{};
    io.read = readfn ? cb_read : nullptr;
    io.write = writefn ? cb_write : nullptr;
    io.seek = seekfn ? cb_seek : nullptr;
    io.close = cb_close;
    const char *mode = readfn && writefn ? "r+" : readfn ? "r" : "w";
    FILE *fp = fopencookie(cb, mode, io);
    if (fp == nullptr) {
        typed_mem_free(k_files, cb);
        errno = ENOMEM;
    }
    return fp;
}

FILE *funopen_fd(int fd, const char *mode) {
    struct stat st;
    if (fstat(fd, &st) == -1) return nullptr;
    auto *d = static_cast<Descriptor *>(typed_mem_calloc(k_filepds, 1, sizeof(Descriptor)));
    if (d == nullptr) return nullptr;
    *d = {fd, S_ISSOCK(st.st_mode)};
    cookie_io_functions_t io{fd_read, fd_write, fd_seek, fd_close};
    FILE *fp = fopencookie(d, mode, io);
    if (fp == nullptr) {
        typed_mem_free(k_filepds, d);
        errno = ENOMEM;
    }
    return fp;
}
