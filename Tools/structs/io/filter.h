// Byte-stream filters: a converter that takes input bytes and yields output bytes, and a stream
// layer that puts a filter in front of a standard stream.
#pragma once

#include <cstdio>

struct filter {
    // Input bytes; the count taken, or -1 with errno (bad input).
    int (*write)(struct filter *f, const void *data, int len);
    // Converted bytes available so far, at most count; 0 when none are waiting.
    int (*read)(struct filter *f, void *buf, int count);
    // No more input: the converter's tail (padding, a last partial group) becomes readable.
    int (*end)(struct filter *f);
    void (*destroy)(struct filter **fp);
};

// A stream over fp through the filter, which the stream owns once it is open (on failure the
// caller keeps it). Mode "r": reading
// pulls bytes from fp and converts them. Mode "w": written bytes are converted and pushed to
// fp. Closing the stream flushes the filter's tail and leaves fp open. Null with errno 22 for
// another mode.
FILE *filter_fopen(struct filter *f, FILE *fp, const char *mode);

// Runs a whole block through a filter; the output in a block allocated under mtype (with a NUL
// after it), its length in *outlen; -1 with errno on bad input.
int filter_convert(struct filter *f, const void *data, int len, const char *mtype, char **out,
                   int *outlen);
