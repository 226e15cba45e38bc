#include "filter.h"

#include "typed_mem.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace {

struct FilterStream {
    filter *f;
    FILE *under;
    bool writing;
    bool ended;
};

const char *const k_mtype = "filter_stream";

// Moves everything the filter has ready to the underlying stream.
int drain(FilterStream *s) {
    char buf[512];
    int n;
    while ((n = s->f->read(s->f, buf, sizeof buf)) > 0)
        if (fwrite(buf, 1, static_cast<size_t>(n), s->under) != static_cast<size_t>(n)) return -1;
    return n < 0 ? -1 : 0;
}

ssize_t stream_read(void *cookie, char *buf, size_t size) {
    auto *s = static_cast<FilterStream *>(cookie);
    const int want = size > 65536 ? 65536 : static_cast<int>(size);
    for (;;) {
        int n = s->f->read(s->f, buf, want);
        if (n != 0) return n;
        if (s->ended) return 0;
        char in[512];
        size_t got = fread(in, 1, sizeof in, s->under);
        if (got == 0) {
            if (ferror(s->under)) return -1;
            s->ended = true;
            if (s->f->end(s->f) == -1) return -1;
        } else if (s->f->write(s->f, in, static_cast<int>(got)) == -1) {
            return -1;
        }
    }
}

ssize_t stream_write(void *cookie, const char *buf, size_t size) {
    auto *s = static_cast<FilterStream *>(cookie);
    size_t done = 0;
    while (done < size) {
        const int chunk = size - done > 65536 ? 65536 : static_cast<int>(size - done);
        if (s->f->write(s->f, buf + done, chunk) == -1 || drain(s) == -1)
            return done ? static_cast<ssize_t>(done) : -1;
        done += static_cast<size_t>(chunk);
    }
    return static_cast<ssize_t>(size);
}

int stream_close(void *cookie) {
    auto *s = static_cast<FilterStream *>(cookie);
    int r = 0;
    if (s->writing) {
        if (s->f->end(s->f) == -1 || drain(s) == -1 || fflush(s->under) != 0) r = -1;
    }
    s->f->destroy(&s->f);
    typed_mem_free(k_mtype, s);
    return r;
}

} // namespace

FILE *filter_fopen(struct filter *f, FILE *fp, const char *mode) {
    const bool writing = strcmp(mode, "w") == 0;
    if (!writing && strcmp(mode, "r") != 0) {
        errno = EINVAL;
        return nullptr;
    }
    auto *s = static_cast<FilterStream *>(typed_mem_calloc(k_mtype, 1, sizeof(FilterStream)));
    if (s == nullptr) return nullptr;
    *s = {f, fp, writing, false};
    cookie_io_functions_t io{};
    io.close = stream_close;
    if (writing)
        io.write = stream_write;
    else
        io.read = stream_read;
    FILE *stream = fopencookie(s, mode, io);
    if (stream == nullptr) {
        typed_mem_free(k_mtype, s);
        errno = ENOMEM;
    }
    return stream;
}

int filter_convert(struct filter *f, const void *data, int len, const char *mtype, char **out,
                   int *outlen) {
    if (f->write(f, data, len) == -1 || f->end(f) == -1) return -1;
    std::string result;
    char buf[512];
    int n;
    while ((n = f->read(f, buf, sizeof buf)) > 0)
        result.append(buf, static_cast<size_t>(n));
    if (n < 0) return -1;
    char *block = static_cast<char *>(typed_mem_realloc(mtype, nullptr, result.size() + 1));
    if (block == nullptr) return -1;
    memcpy(block, result.data(), result.size());
    block[result.size()] = '\0';
    *out = block;
    *outlen = static_cast<int>(result.size());
    return 0;
}
