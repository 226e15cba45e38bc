#include "dbg.h"
#include "plat_error.h"
#include "srv_state.h"
#include "xml.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// The two letters of a request for the trace, '?' for what is not there.
char letter(const char *request, int length, int i) {
    return request != nullptr && length > i && request[i] != '\0' ? request[i] : '?';
}

// Reads a decimal number as atoi does, but never beyond the end of the text.
int readNumber(const std::string &text, size_t from) {
    return from < text.size() ? atoi(text.c_str() + from) : 0;
}

// A -1 reply: the error in errno and the last error. 1465 carries the server's configuration
// message, which replaces whatever the XML error state held, so that it is the one reported.
void applyErrorReply(const std::string &text) {
    int error = readNumber(text, 3);
    if (error == static_cast<int>(WERR_XML_PARSE_ERROR)) {
        size_t comma = text.find(',', 3);
        std::string message = comma == std::string::npos ? "" : text.substr(comma + 1);
        xml_ClearError();
        xml_SetErrorObject("");
        xml_SetErrorContext("");
        xml_SetError(error, message.c_str());
    }
    plat_SetLastError(static_cast<uint32_t>(error));
    errno = error;
}
} // namespace

int srv_FailFromLastError() {
    errno = static_cast<int>(plat_GetLastError());
    return -1;
}

int srv_Transact(const char *spec, const char *request, int length, char *reply, int *size) {
    std::string name = srv_NormaliseSpec(spec);
    char line[SRV_SPEC_SIZE + 64];
    ServerConnection *entry = srv_Lock(name.c_str());
    if (entry == nullptr) return srv_FailFromLastError();
    int ok = srv_TransactRecord(entry, request, length, reply, size);
    srv_Unlock(entry);
    if (ok == 0) {
        int error = static_cast<int>(plat_GetLastError());
        errno = error;
        snprintf(line, sizeof line, "<<%s Error %d to %c%c\r\n", name.c_str(), error,
                 letter(request, length, 0), letter(request, length, 1));
        dbg_WriteTrace(line);
        errno = error;
        return -1;
    }
    if (*size <= 0) {
        snprintf(line, sizeof line, "<<%s No Result to %c%c\r\n", name.c_str(),
                 letter(request, length, 0), letter(request, length, 1));
        dbg_WriteTrace(line);
        return plat_Fail(WERR_SERVER_NO_RESULT);
    }
    std::string text(reply, strnlen(reply, static_cast<size_t>(*size)));
    int result = readNumber(text, 0);
    if (result == -1) {
        applyErrorReply(text);
        return -1;
    }
    plat_SetLastError(0);
    return result;
}

int srv_Command(const char *spec, const char *request, char *reply, int *size) {
    return srv_Transact(spec, request, static_cast<int>(strlen(request)) + 1, reply, size);
}
