// Server replies as the TLS kind receives them: every request the configuration side sends,
// over a real TLS connection to a loopback peer that answers each request with the next of
// the input's replies (length prefix and payload as the input has them, written in pieces)
// and closes the connection after the input's last bytes, unless they ended a whole frame.
//
// Input: the reader (a byte), two bytes that shape its arguments, the delivery (a byte: the
// piece size in bits 0-6, 0 whole; bit 7 set: the replies carry their own length prefix, else
// the peer puts the payload's in front), then the replies: a little-endian length word and that
// many bytes, each.
// A seed generator: FUZZ_REPLIES_SEEDS=<folder>.
#include "replies_peer.h"
#include "replies_readers.h"
#include "srv_kinds.h"

#include <cstdio>
#include <string>

// Each input opens a TLS session, and OpenSSL makes a context of many small blocks for it:
// recording a deep stack for each block would take most of the program's time.
extern "C" const char *__asan_default_options() {
    return "malloc_context_size=2:quarantine_size_mb=8";
}

namespace {
fuzz::ReplyPeer *g_peer;
std::string g_spec;

void setUp() {
    fuzz::install();
    // Every open prints the peer's certificate.
    if (freopen("/dev/null", "w", stdout) == nullptr) abort();
    srv_RegisterServerKinds();
    // A peer that closes ends every exchange; the limit only bounds one that goes wrong.
    srv_SetRemoteTimeoutForTests(1000);
    g_peer = new fuzz::ReplyPeer(true, fuzz::ReplyPeer::Request::UpToNul);
    g_spec = "tls://127.0.0.2:" + std::to_string(g_peer->port());
}

std::string framed(const std::string &payload) {
    uint32_t n = static_cast<uint32_t>(payload.size());
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[static_cast<size_t>(i)] = static_cast<char>(n >> (8 * i));
    return out + payload;
}
} // namespace

// FUZZ_REPLIES_SEEDS=<folder>: writes the seeds there and ends.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *folder = getenv("FUZZ_REPLIES_SEEDS");
    if (folder == nullptr) return 0;
    int n = 0;
    for (const fuzz::ReplySeed &seed : fuzz::replySeeds()) {
        // The pieces vary from seed to seed; every other seed carries its own length prefix.
        static const uint8_t pieces[] = {0, 1, 2, 3, 7, 100};
        bool own = n % 2 == 0;
        uint8_t delivery = pieces[n++ % sizeof pieces] | (own ? 0x80 : 0);
        fuzz::writeSeed(folder, seed.name,
                        fuzz::encodeSeed(seed, delivery, own ? framed : fuzz::asIs));
    }
    exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = (setUp(), true);
    (void)ready;
    fuzz::Reader in{data, size};
    fuzz::ReaderChoice reader = fuzz::takeReader(in);
    uint8_t delivery = in.byte();
    std::vector<std::string> replies = fuzz::splitReplies(in);
    if ((delivery & 0x80) == 0)
        for (std::string &reply : replies)
            reply = framed(reply);
    g_peer->feed(std::move(replies), delivery & 0x7F);
    // The connection stays open into the next input when its last reply was whole, as a
    // client's connection to a server does; it is opened afresh after every other.
    fuzz::readReplies(g_spec.c_str(), reader);
    fuzz::trimEventLog();
    return 0;
}
