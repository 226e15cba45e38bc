#include "req.h"

#include "plat_error.h"
#include "srv.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace {
constexpr int k_shortReply = 16;

int send(const char *server, const std::string &line, char *reply, int capacity) {
    errno = 0;
    if (line.size() + 1 > static_cast<size_t>(REQ_REPLY_SIZE))
        return plat_Fail(WERR_INSUFFICIENT_BUFFER);
    int size = capacity;
    return srv_Command(server, line.c_str(), reply, &size);
}

int sendShort(const char *server, const std::string &line) {
    char reply[k_shortReply] = {};
    return send(server, line, reply, sizeof reply);
}
} // namespace

int req_CurrentValues(const char *server, const char *channels, char *reply) {
    return send(server, std::string("CV,") + channels, reply, REQ_REPLY_SIZE);
}

int req_ReadValues(const char *server, const char *channels, char *reply) {
    return send(server, std::string("RV,") + channels, reply, REQ_REPLY_SIZE);
}

int req_SetValue(const char *server, const char *a, const char *b, const char *c) {
    return sendShort(server, std::string("SV,") + a + "," + b + "," + c + ",");
}

int req_ForceValue(const char *server, const char *a, const char *b, const char *c, double value) {
    char number[64];
    snprintf(number, sizeof number, "%g", value);
    return sendShort(server, std::string("FV,") + a + "," + b + "," + c + "," + number);
}

int req_SendBS(const char *server) {
    return sendShort(server, "BS");
}
int req_SendRS(const char *server) {
    return sendShort(server, "RS");
}
int req_SendAS(const char *server, const char *text) {
    return sendShort(server, std::string("AS,") + text);
}
int req_SendOS(const char *server) {
    return sendShort(server, "OS");
}
