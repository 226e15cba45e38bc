// Server replies handed over by a transport of a connection kind: every request the
// configuration side sends, with its replies taken from the input as a transport may give
// them (any size up to the reply buffer, none at all, a failed exchange).
//
// Input: the reader (a byte), two bytes that shape its arguments, then one reply per request:
// a little-endian length word and that many bytes; 0xFFFF fails the exchange, and an input
// that has ended fails every further one. A seed generator: FUZZ_REPLIES_SEEDS=<folder>.
#include "plat_error.h"
#include "replies_readers.h"
#include "srv_kinds.h"

#include <string>

namespace {
fuzz::Reader g_replies{nullptr, 0};

int standInOpen(ServerConnection *) {
    return 1;
}

int standInTransact(ServerConnection *, const char *, int, char *reply, int *size) {
    int capacity = *size;
    *size = 0;
    if (g_replies.size < 2) {
        g_replies.size = 0;
        plat_SetLastError(WERR_WSAECONNRESET);
        return 0;
    }
    uint16_t length = g_replies.word();
    if (length == 0xFFFF) {
        plat_SetLastError(WERR_WSAECONNRESET);
        return 0;
    }
    size_t n = length < g_replies.size ? length : g_replies.size;
    if (n > static_cast<size_t>(capacity)) n = static_cast<size_t>(capacity);
    memcpy(reply, g_replies.data, n);
    g_replies.data += length < g_replies.size ? length : g_replies.size;
    g_replies.size -= length < g_replies.size ? length : g_replies.size;
    *size = static_cast<int>(n);
    return 1;
}

void standInClose(ServerConnection *) {}

const ServerTransport k_standIn = {standInOpen, standInTransact, standInClose, 0};
const char k_spec[] = "tls://stand.in";

void setUp() {
    fuzz::install();
    srv_RegisterServerKinds();
    srv_RegisterTransport(SRV_KIND_TLS, &k_standIn);
}
} // namespace

// FUZZ_REPLIES_SEEDS=<folder>: writes the seeds there and ends.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *folder = getenv("FUZZ_REPLIES_SEEDS");
    if (folder == nullptr) return 0;
    for (const fuzz::ReplySeed &seed : fuzz::replySeeds())
        fuzz::writeSeed(folder, seed.name, fuzz::encodeSeed(seed, -1, fuzz::asIs));
    exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = (setUp(), true);
    (void)ready;
    fuzz::Reader in{data, size};
    fuzz::ReaderChoice reader = fuzz::takeReader(in);
    g_replies = in;
    fuzz::readReplies(k_spec, reader);
    srv_CloseAll();
    fuzz::trimEventLog();
    return 0;
}
