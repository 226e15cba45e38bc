// The module-wide error state of the XML helpers.
#include "xml.h"

#include "evlog.h"
#include "plat_error.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {
constexpr size_t k_textSize = 256;

struct ErrorState {
    int32_t hr = 0;
    char message[k_textSize] = {};
    char object[k_textSize] = {};
    char context[k_textSize] = {};
    std::string joined;
};

ErrorState &state() {
    static ErrorState s;
    return s;
}

void copyText(char *to, const char *text) {
    snprintf(to, k_textSize, "%s", text != nullptr ? text : "");
}
} // namespace

int32_t xml_GetError() {
    return state().hr;
}

void xml_ClearError() {
    state().hr = 0;
    state().message[0] = '\0';
}

void xml_SetError(int32_t hr, const char *message) {
    ErrorState &s = state();
    if (s.hr != 0) return;
    s.hr = hr != 0 ? hr : XML_E_FAIL;
    copyText(s.message, message);
}

void xml_SetErrorf(int32_t hr, const char *format, ...) {
    if (state().hr != 0) return;
    char text[k_textSize];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    xml_SetError(hr, text);
}

void xml_WrapError(const char *format, const char *name) {
    ErrorState &s = state();
    char text[k_textSize];
    snprintf(text, sizeof text, format, name != nullptr ? name : "", s.message);
    copyText(s.message, text);
}

void xml_SetErrorObject(const char *text) {
    copyText(state().object, text);
}

void xml_SetErrorContext(const char *text) {
    copyText(state().context, text);
}

const char *xml_GetErrorMessage() {
    return state().message;
}

const char *xml_GetErrorText() {
    ErrorState &s = state();
    s.joined = std::string(s.object) + s.context + " - " + s.message;
    return s.joined.c_str();
}

int xml_ReportError() {
    evlog_ReportEvent(nullptr, EVLOG_ERROR, xml_GetErrorText());
    return plat_Fail(WERR_XML_PARSE_ERROR);
}
