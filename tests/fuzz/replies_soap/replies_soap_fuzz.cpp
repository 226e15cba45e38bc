// Server replies as the SOAP kind receives them: every request the configuration side sends,
// through gSOAP to a loopback HTTP peer that answers each connection with the next of the
// input's replies (HTTP head and envelope as the input has them, written in pieces) and then
// closes it: soap_client_Call's result, its size check against the caller's buffer, and the
// failure trace of what it could not take.
//
// Input: the reader (a byte), two bytes that shape its arguments, the piece size (a byte, 0:
// whole), then the replies: a little-endian length word and that many bytes, each.
// A seed generator: FUZZ_REPLIES_SEEDS=<folder>.
#include "dbg.h"
#include "replies_peer.h"
#include "replies_readers.h"
#include "srv_kinds.h"

#include <openssl/evp.h>
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

const char k_head[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:ns=\"urn:service\"><SOAP-ENV:Body "
    "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">";
const char k_tail[] = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

std::string http(int status, const char *reason, const std::string &body) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: keep-alive\r\n\r\n" + body;
}

// The envelope the stand-in's SOAP endpoint answers with.
std::string envelope(const std::string &payload) {
    std::string b64(4 * ((payload.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(b64.data()),
                            reinterpret_cast<const unsigned char *>(payload.data()),
                            static_cast<int>(payload.size()));
    b64.resize(static_cast<size_t>(n));
    return http(200, "OK",
                std::string(k_head) + "<ns:SendRequestResponse><result>" + b64 +
                    "</result></ns:SendRequestResponse>" + k_tail);
}
} // namespace

// FUZZ_REPLIES_SEEDS=<folder>: writes the seeds there and ends.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *folder = getenv("FUZZ_REPLIES_SEEDS");
    if (folder == nullptr) return 0;
    int n = 0;
    for (const fuzz::ReplySeed &seed : fuzz::replySeeds()) {
        static const uint8_t pieces[] = {0, 1, 17, 200};
        std::string bytes = {static_cast<char>(seed.which), static_cast<char>(seed.a),
                             static_cast<char>(seed.b),
                             static_cast<char>(pieces[n++ % sizeof pieces])};
        for (const std::string &reply : seed.replies)
            bytes += fuzz::lengthPrefixed(envelope(reply));
        fuzz::writeSeed(folder, seed.name, bytes);
    }
    // What the failure trace is made of: a fault, an HTTP error, an envelope cut short.
    std::string fault =
        http(500, "Internal Server Error",
             std::string(k_head) +
                 "<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode><faultstring>refused"
                 "</faultstring><detail>no such file</detail></SOAP-ENV:Fault>" +
                 k_tail);
    std::string cut = envelope("1,5");
    cut.resize(cut.size() - 30);
    const std::pair<const char *, std::string> failures[] = {
        {"fault", fault},
        {"unauthorized", http(401, "Unauthorized", "")},
        {"cut", cut},
        {"not-soap", http(200, "OK", "<html>no</html>")},
    };
    for (const auto &f : failures)
        fuzz::writeSeed(folder, f.first,
                        std::string("\x01\x00\x00\x00", 4) + fuzz::lengthPrefixed(f.second));
    exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = (setUp(), true);
    (void)ready;
    fuzz::Reader in{data, size};
    int which = in.byte();
    uint8_t a = in.byte();
    uint8_t b = in.byte();
    size_t piece = in.byte();
    g_peer->feed(fuzz::splitReplies(in), piece);
    fuzz::readReplies(g_spec.c_str(), which, a, b);
    srv_CloseAll();
    fuzz::trimEventLog();
    return 0;
}
