#include "plat_error.h"
#include "plat_system.h"
#include "srv_state.h"

#include <atomic>
#include <cstring>
#include <strings.h>

namespace {
std::atomic<int (*)(const char *)> g_classifier{nullptr};

// Names that mean this computer, without a URL around them.
bool isLocalName(const char *name) {
    if (name[0] == '\0' || strcmp(name, ".") == 0 || strcasecmp(name, "localhost") == 0 ||
        strcmp(name, "127.0.0.1") == 0)
        return true;
    // Cached once, as the computer name never changes while the process runs.
    static const std::string computer = plat_ComputerName();
    static const std::string host = plat_HostShortName();
    return (!computer.empty() && strcasecmp(name, computer.c_str()) == 0) ||
           (!host.empty() && strcasecmp(name, host.c_str()) == 0);
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}
} // namespace

void srv_SetSpecClassifier(int (*classifier)(const char *spec)) {
    g_classifier.store(classifier);
}

int srv_IsLocal(const char *spec) {
    if (spec == nullptr || isLocalName(spec)) return 1;
    char host[SRV_SPEC_SIZE];
    PlatUrlParts parts{};
    parts.host = host;
    parts.hostSize = sizeof host;
    if (srv_CrackServerUrl(spec, 0, 0, &parts) == 0) return 0;
    // A URL without a host ("file:///...") names no computer, so it is no local server.
    return host[0] != '\0' && isLocalName(host) ? 1 : 0;
}

std::string srv_NormaliseSpec(const char *spec) {
    return srv_IsLocal(spec) ? std::string(".") : std::string(spec);
}

int srv_ServerKind(const char *spec) {
    if (int (*classify)(const char *) = g_classifier.load()) {
        int kind = classify(spec);
        if (kind >= 1 && kind <= 4) return kind;
    }
    if (srv_IsLocal(spec)) return SRV_KIND_PIPE;
    char scheme[PLAT_URL_MAX_SCHEME + 1];
    PlatUrlParts parts{};
    parts.scheme = scheme;
    parts.schemeSize = sizeof scheme;
    if (srv_CrackServerUrl(spec, 0, 0, &parts) == 0) return SRV_KIND_PIPE;
    if (strcasecmp(scheme, "http") == 0 || strcasecmp(scheme, "https") == 0) return SRV_KIND_SOAP;
    if (strcasecmp(scheme, "file") == 0) return SRV_KIND_INPROC;
    return scheme[0] != '\0' ? SRV_KIND_TLS : SRV_KIND_PIPE;
}

int srv_IsUrlServer(const char *spec) {
    if (srv_IsLocal(spec)) return 0;
    return srv_ServerKind(spec) == SRV_KIND_PIPE ? 0 : 1;
}

int srv_IsLocalPath(const char *path) {
    if (path == nullptr || !isSeparator(path[0]) || !isSeparator(path[1])) return 1;
    const char *start = path + 2;
    size_t n = strcspn(start, "\\/");
    // A host longer than a path can hold is no name of this computer.
    if (n > 259) return 0;
    std::string host(start, n);
    return srv_IsLocal(host.c_str());
}

int srv_CrackServerUrl(const char *spec, int length, uint32_t flags, PlatUrlParts *parts) {
    if (spec == nullptr) return 0;
    size_t n = length > 0 ? strnlen(spec, static_cast<size_t>(length)) : strlen(spec);
    if (n >= static_cast<size_t>(SRV_SPEC_SIZE)) return 0;
    std::string copy(spec, n);
    // The cracker ends the user part at the first '@'; a password may hold '@' as well, so
    // those between the password's ':' and the last '@' are hidden from it.
    size_t lastAt = copy.rfind('@');
    size_t swapFrom = std::string::npos;
    if (lastAt != std::string::npos && lastAt > 0) {
        size_t colon = copy.rfind(':', lastAt - 1);
        if (colon != std::string::npos) {
            swapFrom = colon + 1;
            for (size_t i = swapFrom; i < lastAt; ++i)
                if (copy[i] == '@') copy[i] = '&';
        }
    }
    if (plat_CrackUrl(copy.c_str(), 0, flags, parts) == 0) return 0;
    if (swapFrom != std::string::npos && parts->password != nullptr)
        for (char *p = parts->password; *p != '\0'; ++p)
            if (*p == '&') *p = '@';
    return 1;
}
