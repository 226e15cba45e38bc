// Server replies as the SOAP kind receives them: every request the configuration side sends,
// through gSOAP to a loopback HTTP peer that answers each connection with the next of the
// input's replies (HTTP head and envelope as the input has them, written in pieces) and then
// closes it: soap_client_Call's result, its size check against the caller's buffer, and the
// failure trace of what it could not take.
//
// Input: the reader (a byte), two bytes that shape its arguments, the piece size (a byte, 0:
// whole), then the replies: a little-endian length word and that many bytes, each.
// A seed generator: FUZZ_REPLIES_SEEDS=<folder>.
#include "replies_peer.h"
#include "replies_readers.h"
#include "srv_kinds.h"

#include <string>

namespace {
fuzz::ReplyPeer *g_peer;
std::string g_spec;

void setUp() {
    fuzz::install();
    srv_RegisterServerKinds();
    srv_SetRemoteTimeoutForTests(1000);
    g_peer = new fuzz::ReplyPeer(false, fuzz::ReplyPeer::Request::Http);
    g_spec = "http://127.0.0.2:" + std::to_string(g_peer->port()) + "/";
}
} // namespace

// FUZZ_REPLIES_SEEDS=<folder>: writes the seeds there and ends.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *folder = getenv("FUZZ_REPLIES_SEEDS");
    if (folder == nullptr) return 0;
    int n = 0;
    for (const fuzz::ReplySeed &seed : fuzz::replySeeds()) {
        static const uint8_t pieces[] = {0, 1, 17, 200};
        fuzz::writeSeed(folder, seed.name,
                        fuzz::encodeSeed(seed, pieces[n++ % sizeof pieces], sim_SoapAnswer));
    }
    // What the failure trace is made of: a fault, an HTTP error, an envelope cut short.
    std::string cut = sim_SoapAnswer("1,5");
    cut.resize(cut.size() - 30);
    const std::pair<const char *, std::string> failures[] = {
        {"fault", sim_SoapFaultAnswer("refused", "no such file")},
        {"unauthorized", sim_HttpAnswer(401, "Unauthorized", "text/html", "<html>401</html>")},
        {"cut", cut},
        {"not-soap", sim_HttpAnswer(200, "OK", "text/html", "<html>no</html>")},
    };
    for (const auto &f : failures)
        fuzz::writeSeed(folder, f.first,
                        fuzz::encodeSeed({f.first, 1, 0, 0, {f.second}}, 0, fuzz::asIs));
    exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = (setUp(), true);
    (void)ready;
    fuzz::Reader in{data, size};
    fuzz::ReaderChoice reader = fuzz::takeReader(in);
    size_t piece = in.byte();
    g_peer->feed(fuzz::splitReplies(in), piece);
    fuzz::readReplies(g_spec.c_str(), reader);
    srv_CloseAll();
    fuzz::trimEventLog();
    return 0;
}
