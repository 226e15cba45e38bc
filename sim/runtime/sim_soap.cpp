// The SOAP side of the stand-in's network endpoint: HTTP/1.1 with keep-alive and the
// ns:SendRequest envelope, read with libxml2.
#include "sim_net_connection.h"

#include <chrono>
#include <cstring>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <strings.h>
#include <sys/socket.h>
#include <thread>

namespace {
const char k_envelopeHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" xmlns:ns=\"urn:service\"><SOAP-ENV:Body "
    "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">";
const char k_envelopeTail[] = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

std::string base64Encode(const std::string &bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                            reinterpret_cast<const unsigned char *>(bytes.data()),
                            static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

bool base64Decode(const std::string &text, std::string *bytes) {
    std::string clean;
    for (char c : text)
        if (!isspace(static_cast<unsigned char>(c))) clean += c;
    if (clean.size() % 4 != 0) return false;
    bytes->assign(clean.size() / 4 * 3 + 1, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(bytes->data()),
                            reinterpret_cast<const unsigned char *>(clean.data()),
                            static_cast<int>(clean.size()));
    if (n < 0) return false;
    size_t padding = 0;
    for (size_t i = clean.size(); i > 0 && clean[i - 1] == '=' && padding < 2; --i)
        ++padding;
    bytes->resize(static_cast<size_t>(n) - padding);
    return true;
}

std::string escape(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '<')
            out += "&lt;";
        else if (c == '&')
            out += "&amp;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

std::string response(int status, const char *reason, const std::string &type,
                     const std::string &body, const std::string &extra = "") {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    head += extra;
    if (!type.empty()) head += "Content-Type: " + type + "\r\n";
    head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    head += "Connection: keep-alive\r\n\r\n";
    return head + body;
}

std::string faultBody(const std::string &code, const std::string &text, const std::string &detail) {
    return std::string(k_envelopeHead) + "<SOAP-ENV:Fault><faultcode>" + escape(code) +
           "</faultcode><faultstring>" + escape(text) + "</faultstring><detail>" + escape(detail) +
           "</detail></SOAP-ENV:Fault>" + k_envelopeTail;
}

std::string header(const std::string &head, const char *name) {
    size_t from = head.find("\r\n");
    size_t n = strlen(name);
    while (from != std::string::npos && from + 2 < head.size()) {
        size_t start = from + 2;
        size_t end = head.find("\r\n", start);
        std::string line = head.substr(start, end - start);
        if (line.size() > n && strncasecmp(line.c_str(), name, n) == 0 && line[n] == ':') {
            size_t v = n + 1;
            while (v < line.size() && line[v] == ' ')
                ++v;
            return line.substr(v);
        }
        from = end;
    }
    return "";
}

bool present(const std::string &head, const char *name) {
    std::string key = std::string("\r\n") + name + ":";
    std::string lower = head;
    for (char &c : lower)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (char &c : key)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return lower.find(key) != std::string::npos;
}

xmlNode *child(xmlNode *parent, const char *name) {
    for (xmlNode *n = parent != nullptr ? parent->children : nullptr; n != nullptr; n = n->next)
        if (n->type == XML_ELEMENT_NODE &&
            strcmp(reinterpret_cast<const char *>(n->name), name) == 0)
            return n;
    return nullptr;
}

xmlNode *findRequest(xmlNode *node) {
    for (xmlNode *n = node; n != nullptr; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        if (strcmp(reinterpret_cast<const char *>(n->name), "SendRequest") == 0 &&
            n->ns != nullptr &&
            strcmp(reinterpret_cast<const char *>(n->ns->href), "urn:service") == 0)
            return n;
        if (xmlNode *found = findRequest(n->children)) return found;
    }
    return nullptr;
}

std::string content(xmlNode *node) {
    if (node == nullptr) return "";
    xmlChar *text = xmlNodeGetContent(node);
    std::string out = text != nullptr ? reinterpret_cast<const char *>(text) : "";
    xmlFree(text);
    return out;
}

// Parses the envelope; false when it holds no SendRequest with its three parts.
bool parseEnvelope(const std::string &body, SimRequest *r) {
    xmlDoc *doc = xmlReadMemory(body.data(), static_cast<int>(body.size()), "request.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr) return false;
    xmlNode *request = findRequest(xmlDocGetRootElement(doc));
    xmlNode *host = child(request, "Host");
    xmlNode *bytes = child(request, "Request");
    xmlNode *size = child(request, "ResultSize");
    bool ok = request != nullptr && host != nullptr && bytes != nullptr && size != nullptr &&
              base64Decode(content(bytes), &r->bytes);
    if (ok) {
        r->host = content(host);
        r->resultSize = atoi(content(size).c_str());
    }
    xmlFreeDoc(doc);
    return ok;
}

bool credentials(const std::string &authorization, std::string *user, std::string *password) {
    if (strncasecmp(authorization.c_str(), "Basic ", 6) != 0) return false;
    std::string decoded;
    if (!base64Decode(authorization.substr(6), &decoded)) return false;
    size_t colon = decoded.find(':');
    if (colon == std::string::npos) return false;
    *user = decoded.substr(0, colon);
    *password = decoded.substr(colon + 1);
    return true;
}
} // namespace

std::string sim_SoapAnswer(const std::string &payload) {
    std::string envelope = std::string(k_envelopeHead) + "<ns:SendRequestResponse><result>" +
                           base64Encode(payload) + "</result></ns:SendRequestResponse>" +
                           k_envelopeTail;
    return response(200, "OK", "text/xml; charset=utf-8", envelope);
}

std::string sim_SoapFaultAnswer(const std::string &text, const std::string &detail) {
    return response(500, "Internal Server Error", "text/xml; charset=utf-8",
                    faultBody("SOAP-ENV:Server", text, detail));
}

std::string sim_HttpAnswer(int status, const char *reason, const std::string &type,
                           const std::string &body) {
    return response(status, reason, type, body);
}

void SimNetEndpoint::serveSoap(Connection &c) {
    std::string &pending = c.pending;
    const std::string unauthorized = response(401, "Unauthorized", "text/html", "<html>401</html>",
                                              "WWW-Authenticate: Basic realm=\"kvt\"\r\n");
    for (;;) {
        size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos)
            if (!c.fill()) return;
        std::string head = pending.substr(0, end + 2);
        pending.erase(0, end + 4);
        if (!present(head, "Content-Length")) {
            c.write(response(411, "Length Required", "", ""));
            return;
        }
        size_t length = strtoul(header(head, "Content-Length").c_str(), nullptr, 10);
        while (pending.size() < length)
            if (!c.fill()) return;
        std::string body = pending.substr(0, length);
        pending.erase(0, length);

        SimRequest r;
        r.endpoint = "soap";
        r.connection = c.number;
        std::string target = head.substr(0, head.find("\r\n"));
        size_t space = target.find(' ');
        target = space == std::string::npos
                     ? ""
                     : target.substr(space + 1, target.rfind(' ') - space - 1);
        size_t q = target.find('?');
        r.path = target.substr(0, q);
        r.query = q == std::string::npos ? "" : target.substr(q);
        bool hasCredentials = credentials(header(head, "Authorization"), &r.user, &r.password);
        bool parsed = parseEnvelope(body, &r);
        record(r);
        if (!settings_.user.empty() &&
            (!hasCredentials || r.user != settings_.user || r.password != settings_.password)) {
            if (!c.write(unauthorized)) return;
            continue;
        }
        if (!parsed) {
            std::string fault = faultBody("SOAP-ENV:Client", "no SendRequest", "");
            if (!c.write(response(500, "Internal Server Error", "text/xml; charset=utf-8", fault)))
                return;
            continue;
        }
        SimReply reply = replyFor(r.bytes);
        std::string payload = reply.bytes;
        std::string out;
        switch (reply.action) {
        case SimAction::Close:
            return;
        case SimAction::Stall:
            continue;
        case SimAction::Unauthorized:
            out = unauthorized;
            break;
        case SimAction::Fault:
            out = sim_SoapFaultAnswer(reply.faultString, reply.detail);
            break;
        case SimAction::NotSoap:
            out = response(200, "OK", "text/html", payload);
            break;
        case SimAction::Delay:
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.number));
            break;
        case SimAction::Big:
            payload = sim_BigAnswer(reply.number);
            break;
        case SimAction::Empty:
            payload.clear();
            break;
        default:
            break;
        }
        if (out.empty()) out = sim_SoapAnswer(payload);
        if (!c.write(out)) return;
    }
}
