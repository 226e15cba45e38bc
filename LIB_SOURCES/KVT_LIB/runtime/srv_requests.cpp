#include "plat_error.h"
#include "plat_system.h"
#include "srv_state.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

int srv_Request(const char *spec, const std::string &line, size_t bufferSize, int capacity,
                std::string *reply) {
    if (line.size() + 1 > bufferSize) return plat_Fail(WERR_INSUFFICIENT_BUFFER);
    std::string buffer(static_cast<size_t>(capacity), '\0');
    int size = capacity;
    int result = srv_Command(spec, line.c_str(), buffer.data(), &size);
    if (reply != nullptr) reply->assign(buffer.data(), size > 0 ? static_cast<size_t>(size) : 0);
    return result;
}

namespace {

std::string text(const char *s) {
    return s != nullptr ? s : "";
}

// The action part of CP and CL: ",<letter>" upper-cased, or ",<n>" above 255; "" for a
// letter the request does not know.
std::string action(int value, const char *letters) {
    if (value > 255) return "," + std::to_string(value);
    int upper = value >= 0 ? toupper(value) : value;
    if (upper <= 0 || strchr(letters, upper) == nullptr) return "";
    return std::string(",") + static_cast<char>(upper);
}

// Unknown actions: -1 with errno 0 and nothing sent.
int unknownAction() {
    errno = 0;
    return -1;
}

// DL and EL: the user name gets what is left of the line buffer.
int sendWithUser(const char *spec, const char *letters, const char *name) {
    std::string head = std::string(letters) + "," + text(name) + ",";
    if (head.size() + 1 > SRV_LINE_USER) return plat_Fail(WERR_INSUFFICIENT_BUFFER);
    std::string user = plat_UserName();
    size_t room = SRV_LINE_USER - 1 - head.size();
    if (user.size() > room) user.resize(room);
    return srv_Request(spec, head + user, SRV_LINE_USER, SRV_REPLY_SMALL);
}
} // namespace

int srv_CommandProcessor(const char *spec, const char *name, int value) {
    std::string act = action(value, "CIRT");
    if (act.empty()) return unknownAction();
    std::string line = "CP," + text(name) + act;
    if (line.size() + 1 > SRV_LINE_SHORT) return plat_Fail(WERR_INSUFFICIENT_BUFFER);
    bool bracket = act == ",C" || act == ",T";
    if (bracket && srv_DisableLoggersForReconfig(spec) == -1) return -1;
    int result = srv_Request(spec, line, SRV_LINE_SHORT, SRV_REPLY_SMALL);
    if (bracket) {
        int savedErrno = errno;
        uint32_t savedError = plat_GetLastError();
        if (srv_ReenableLoggers(spec) == -1) return -1;
        errno = savedErrno;
        plat_SetLastError(savedError);
    }
    return result;
}

int srv_DisableProcessor(const char *spec, const char *name) {
    return srv_Request(spec, "DP," + text(name), SRV_LINE_SHORT, SRV_REPLY_SMALL);
}

int srv_EnableProcessor(const char *spec, const char *name) {
    return srv_Request(spec, "EP," + text(name), SRV_LINE_SHORT, SRV_REPLY_SMALL);
}

int srv_SendYL(const char *spec, const char *a, const char *b) {
    return srv_Request(spec, "YL," + text(a) + "," + text(b), SRV_LINE_MEDIUM, SRV_REPLY_SMALL);
}

int srv_SendML(const char *spec, const char *a, const char *b) {
    return srv_Request(spec, "ML," + text(a) + "," + text(b), SRV_LINE_MEDIUM, SRV_REPLY_SMALL);
}

int srv_SendXL(const char *spec, const char *a, const char *b) {
    return srv_Request(spec, "XL," + text(a) + "," + text(b), SRV_LINE_MEDIUM, SRV_REPLY_SMALL);
}

int srv_SendRL(const char *spec, const char *a) {
    return srv_Request(spec, "RL," + text(a), SRV_LINE_MEDIUM, SRV_REPLY_SMALL);
}

int srv_CommandLogger(const char *spec, const char *name, int value) {
    std::string act = action(value, "FS");
    if (act.empty()) return unknownAction();
    return srv_Request(spec, "CL," + text(name) + act, SRV_LINE_LOGGER, SRV_REPLY_SMALL);
}

int srv_DisableLogger(const char *spec, const char *name) {
    return sendWithUser(spec, "DL", name);
}

int srv_EnableLogger(const char *spec, const char *name) {
    return sendWithUser(spec, "EL", name);
}

int srv_GetLoggerName(const char *spec, int number, char *name) {
    std::string reply;
    int result =
        srv_Request(spec, "NL," + std::to_string(number), SRV_LINE_MEDIUM, SRV_REPLY_NAME, &reply);
    if (name == nullptr) return result;
    memset(name, 0, 25);
    // Only what was received is copied; a short reply leaves NULs in the rest.
    if (result == 1 && reply.size() > 2) {
        size_t n = reply.size() - 2 < 24 ? reply.size() - 2 : 24;
        memcpy(name, reply.data() + 2, n);
    }
    return result;
}
