// Kind 4: requests through the SOAP service (ns:SendRequest) over HTTP or HTTPS, with gSOAP's
// own transport. The request bytes go as base64 in Request; the reply comes back in result.
//
// This is the one module that includes the generated namespace table; it is compiled into
// an object library with default visibility, because the shared gSOAP library takes the table
// and the generated callbacks from the module that loads it.
#include "dbg.h"
#include "plat_error.h"
#include "plat_net.h"
#include "reg.h"
#include "soapH.h"
#include "srv_kinds.h"
#include "srv_remote.h"

#include "WebServ.nsmap"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {
constexpr int k_connectSeconds = 15;
constexpr int k_transferSeconds = 30;

// What an open kind-4 entry holds.
struct SoapHandle {
    struct soap *soap = nullptr;
    std::string endpoint;
    std::string host;
    char user[128] = {};
    char password[128] = {};
    ~SoapHandle() {
        if (soap != nullptr) {
            soap_destroy(soap);
            soap_end(soap);
            soap_free(soap);
        }
    }
};

void sslInitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { soap_ssl_init(); });
}

// "/<product>/" for an empty path; "/BIN/mod_gsoap.dll" where the path names only its first
// level; "?Service" for an empty query.
std::string endpointOf(const std::string &scheme, const char *host, int port, std::string path,
                       std::string query) {
    std::string lower = scheme;
    for (char &c : lower)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    std::string endpoint = lower + "://" + host;
    bool standard = (lower == "http" && port == 80) || (lower == "https" && port == 443);
    if (port != 0 && !standard) endpoint += ":" + std::to_string(port);
    if (path.empty() || path == "/") path = "/" + reg_GetProductName() + "/";
    size_t second = path.find('/', 1);
    if (second == std::string::npos)
        path += "/BIN/mod_gsoap.dll";
    else if (path.size() == second + 1 || path.compare(second + 1, std::string::npos, "/") == 0)
        path = path.substr(0, second) + "/BIN/mod_gsoap.dll";
    if (query.empty()) query = "?Service";
    return endpoint + path + query;
}

void setTimeouts(struct soap *s) {
    int ms = srv_RemoteTimeoutForTests();
    // gSOAP takes negative values as microseconds.
    s->connect_timeout = ms > 0 ? -ms * 1000 : k_connectSeconds;
    s->send_timeout = ms > 0 ? -ms * 1000 : k_transferSeconds;
    s->recv_timeout = ms > 0 ? -ms * 1000 : k_transferSeconds;
}

void traceFailure(struct soap *s, int rc) {
    std::string text;
    char line[256];
    if (rc >= 100 && rc <= 599) {
        snprintf(line, sizeof line, "HTTP Error %d\n", rc);
        text = line;
    } else {
        const char **code = soap_faultcode(s);
        // SOAP 1.1 has no subcode; gSOAP would answer the fault code again.
        const char *subcode = s->version == 2 ? soap_fault_subcode(s) : nullptr;
        const char *reason = soap_fault_string(s);
        const char *detail = soap_fault_detail(s);
        text = s->version != 0 ? "SOAP 1." + std::to_string(s->version)
                               : "Error " + std::to_string(rc);
        text += " fault: ";
        text += code != nullptr && *code != nullptr ? *code : "";
        text += " [";
        text += subcode != nullptr ? subcode : "no subcode";
        text += "]\n\"";
        text += reason != nullptr ? reason : "[no reason]";
        text += "\"\nDetail: ";
        text += detail != nullptr ? detail : "[no detail]";
        text += "\n";
        size_t length = s->buflen < sizeof s->buf ? s->buflen : sizeof s->buf;
        if (length > 0) {
            size_t at = s->bufidx > 0 ? (s->bufidx <= length ? s->bufidx : length) : 1;
            text.append(s->buf, at - 1);
            text += s->buf[at - 1];
            text += "\n<!-- ** HERE ** -->\n";
            text.append(s->buf + at, length - at);
            text += "\n";
        }
    }
    dbg_WriteTrace(text.c_str());
}

// gSOAP looks the host up inside its connect, with no time-out of its own. Before a call that
// will connect, the same name is looked up within the connect's time, so that a resolver that
// does not answer ends the call in 10060 rather than in its own time-outs; gSOAP's lookup
// that follows is then answered. 1, or 0 with the last error.
int lookUpBeforeConnect(SoapHandle *handle) {
    struct soap *s = handle->soap;
    if (soap_valid_socket(s->socket) && soap_poll(s) == SOAP_OK) return 1;
    int ms = srv_RemoteTimeoutForTests();
    int64_t deadline = plat_NowMs() + (ms > 0 ? ms : k_connectSeconds * 1000);
    uint32_t address = 0;
    return plat_NetResolveBefore(handle->host.c_str(), &address, deadline) == 0 ? 1 : 0;
}

// A failed exchange: errno and the last error, result 0.
int failCall(uint32_t code) {
    plat_Fail(code);
    return 0;
}

// The Windows number of a failed call.
uint32_t errorOf(struct soap *s, int rc) {
    if (rc >= 100 && rc <= 599) return static_cast<uint32_t>(rc);
    if (rc == SOAP_TCP_ERROR || rc == SOAP_HTTP_ERROR || rc == SOAP_EOF) {
        if (s->errnum != 0) return plat_WinErrorFromSocket(s->errnum);
        return rc == SOAP_EOF ? WERR_WSAECONNRESET : static_cast<uint32_t>(rc);
    }
    return static_cast<uint32_t>(rc);
}
} // namespace

int soap_client_Open(ServerConnection *entry) {
    auto handle = std::make_unique<SoapHandle>();
    char scheme[32], host[256], path[2048], extra[2084];
    PlatUrlParts parts{};
    parts.scheme = scheme;
    parts.schemeSize = sizeof scheme;
    parts.host = host;
    parts.hostSize = sizeof host;
    parts.user = handle->user;
    parts.userSize = sizeof handle->user;
    parts.password = handle->password;
    parts.passwordSize = sizeof handle->password;
    parts.path = path;
    parts.pathSize = sizeof path;
    parts.extra = extra;
    parts.extraSize = sizeof extra;
    plat_SetLastError(0);
    if (srv_CrackServerUrl(entry->name, 0, PLAT_URL_DECODE, &parts) == 0) {
        if (plat_GetLastError() == 0) plat_SetLastError(WERR_INTERNET_INVALID_URL);
        dbg_WriteTrace("InternetCrackUrl failed\r\n");
        return 0;
    }
    handle->endpoint = endpointOf(scheme, host, parts.port, path, extra);
    handle->host = host;
    bool https = strcasecmp(scheme, "https") == 0;
    if (https) sslInitOnce();
    handle->soap = soap_new2(SOAP_IO_KEEPALIVE, SOAP_IO_KEEPALIVE);
    if (handle->soap == nullptr) {
        plat_SetLastError(WERR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    struct soap *s = handle->soap;
    soap_set_namespaces(s, namespaces);
    setTimeouts(s);
    s->socket_flags = MSG_NOSIGNAL;
    // The chain is checked against the default store (SSL_CERT_FILE, SSL_CERT_DIR); the host
    // name is not, as the original transport did not check it.
    if (https && soap_ssl_client_context(
                     s, SOAP_SSL_REQUIRE_SERVER_AUTHENTICATION | SOAP_SSL_SKIP_HOST_CHECK, nullptr,
                     nullptr, nullptr, nullptr, nullptr) != SOAP_OK) {
        dbg_WriteTrace("soap_register_plugin_arg failed\r\n");
        plat_SetLastError(static_cast<uint32_t>(s->error));
        return 0;
    }
    entry->handle = handle.release();
    return 1;
}

int soap_client_Call(ServerConnection *entry, const char *request, int length, char *reply,
                     int *size) {
    auto *handle = static_cast<SoapHandle *>(entry->handle);
    int capacity = *size;
    *size = 0;
    if (handle == nullptr) {
        plat_SetLastError(WERR_INVALID_HANDLE);
        return 0;
    }
    struct soap *s = handle->soap;
    setTimeouts(s);
    if (lookUpBeforeConnect(handle) == 0) return failCall(plat_GetLastError());
    // gSOAP forgets the credentials at the end of every call.
    if (handle->user[0] != '\0') {
        s->userid = handle->user;
        s->passwd = handle->password;
    }
    struct xsd__base64Binary *payload = soap_new_xsd__base64Binary(s);
    if (payload == nullptr) {
        dbg_WriteTrace("soap_new_xsd__base64Binary failed\r\n");
        return failCall(WERR_NOT_ENOUGH_MEMORY);
    }
    if (request == nullptr || length < 0) {
        dbg_WriteTrace("no request\r\n");
        soap_destroy(s);
        soap_end(s);
        return failCall(WERR_INVALID_PARAMETER);
    }
    payload->__ptr = static_cast<unsigned char *>(soap_malloc(s, static_cast<size_t>(length) + 1));
    if (payload->__ptr == nullptr) {
        soap_destroy(s);
        soap_end(s);
        return failCall(WERR_NOT_ENOUGH_MEMORY);
    }
    memcpy(payload->__ptr, request, static_cast<size_t>(length));
    payload->__size = length;
    struct ns__SendRequestResponse response;
    soap_default_ns__SendRequestResponse(s, &response);
    char host[] = ".";
    int rc;
    {
        PlatSigpipeGuard guard;
        rc = soap_call_ns__SendRequest(s, handle->endpoint.c_str(), nullptr, host, payload,
                                       capacity, &response);
    }
    uint32_t error = 0;
    if (rc != SOAP_OK) {
        traceFailure(s, rc);
        error = errorOf(s, rc);
    } else if (response.result.__size < 0 || response.result.__size > capacity) {
        // The server does not cut its reply to ResultSize; the caller's buffer decides.
        error = WERR_MORE_DATA;
    } else {
        if (response.result.__size > 0)
            memcpy(reply, response.result.__ptr, static_cast<size_t>(response.result.__size));
        *size = response.result.__size;
    }
    soap_destroy(s);
    soap_end(s);
    if (error != 0) return failCall(error);
    plat_SetLastError(0);
    return 1;
}

void soap_client_Close(ServerConnection *entry) {
    auto *handle = static_cast<SoapHandle *>(entry->handle);
    entry->handle = nullptr;
    uint32_t error = plat_GetLastError();
    delete handle;
    plat_SetLastError(error);
}
