#include "def.h"

#include <climits>
#include <cstring>

namespace {

constexpr int k_reportedError = 1;
constexpr size_t k_maxName = 8;
constexpr size_t k_maxPrintName = 24;
constexpr int k_maxChannels = 62500;
constexpr int k_minAlarmQueue = 2;
constexpr int k_maxAlarmQueue = 1000;
constexpr int k_defaultAlarmQueue = 256;

bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithNoCase(const char *text, const char *prefix) {
    for (; *prefix != '\0'; ++prefix, ++text)
        if (lower(*text) != lower(*prefix)) return false;
    return true;
}

void copyUpper(char *dest, size_t room, const char *src) {
    memset(dest, 0, room);
    for (size_t i = 0; i + 1 < room && src[i] != '\0'; ++i)
        dest[i] = upper(src[i]);
}

// A decimal number as atoi reads it (leading blanks, a sign, digits up to the first
// non-digit), but saturating at the int range instead of overflowing.
int readNumber(const char *text) {
    while (*text == ' ' || *text == '\t')
        ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

int fail(const char *message, int offset, const char *field) {
    def_ReportError(k_reportedError, message, offset, static_cast<int>(strlen(field)));
    return -2;
}

} // namespace

int def_CheckChannelSpec(const char *prefixAndCount, int count, int fieldOffset, int fieldLength) {
    char first = prefixAndCount[0];
    char second = first != '\0' ? prefixAndCount[1] : '\0';
    if (!isLetter(first) || (second != '\0' && second != ':' && !isLetter(second))) {
        def_ReportError(k_reportedError, "invalid channel prefix", fieldOffset, fieldLength);
        return 0;
    }
    if (count < 1 || count > k_maxChannels) {
        def_ReportError(k_reportedError, "invalid number of channels", fieldOffset, fieldLength);
        return 0;
    }
    return 1;
}

int def_ParseProcessor(const char *server, ProcessorRecord *out, char **fields, const int *offsets,
                       int fieldCount, const ProcessorRecord *tableStart) {
    (void)server;
    memset(out, 0, sizeof *out);
    const char *name = fieldCount >= 1 ? fields[0] : "";
    int nameOffset = fieldCount >= 1 ? offsets[0] : 0;
    if (*name == '\0') return fail("no processor name specified", nameOffset, name);
    if (strlen(name) > k_maxName) return fail("processor name too long", nameOffset, name);
    copyUpper(out->name, sizeof out->name, name);

    if (fieldCount >= 2 && fields[1][0] != '\0') {
        if (strlen(fields[1]) > k_maxPrintName)
            return fail("processor print name too long", offsets[1], fields[1]);
        copyUpper(out->printName, sizeof out->printName, fields[1]);
    } else {
        copyUpper(out->printName, sizeof out->printName, out->name);
    }

    for (const ProcessorRecord *r = tableStart; r != nullptr && r < out; ++r) {
        if (strncmp(r->name, out->name, sizeof r->name) == 0)
            return fail("duplicate processor name", nameOffset, name);
        if (strncmp(r->printName, out->printName, sizeof r->printName) == 0) {
            const char *print = fieldCount >= 2 ? fields[1] : "";
            return fail("duplicate processor print name", fieldCount >= 2 ? offsets[1] : 0, print);
        }
    }

    bool alarm = strcmp(out->name, "ALARM") == 0;
    if (fieldCount >= 3 && fields[2][0] != '\0' && !alarm) {
        char *spec = fields[2];
        if (spec[1] == '-') {
            spec[0] = upper(spec[0]);
            if (startsWithNoCase(out->name, "MODB"))
                out->kind = 6;
            else if (spec[0] == 'A')
                out->kind = 2;
            else if (spec[0] == 'D')
                out->kind = 3;
            else
                return fail("channel type must be A or D", offsets[2], spec);
        } else {
            out->kind = 3;
        }
        // The prefix starts at the third character; a ':' as the fourth ends it early.
        const char *prefix = spec[1] != '\0' ? spec + 2 : spec + 1;
        const char *colon = strchr(spec, ':');
        int count = colon != nullptr ? readNumber(colon + 1) : 0;
        if (!def_CheckChannelSpec(prefix, count, offsets[2], static_cast<int>(strlen(spec))))
            return -2;
        out->prefix[0] = prefix[0];
        out->prefix[1] = prefix[1] != ':' ? prefix[1] : '\0';
        out->count = static_cast<uint16_t>(count);
    }
    if (strcmp(out->name, "USERA") == 0) out->kind = 2;

    if (fieldCount >= 4 && fields[3][0] != '\0') {
        for (char *p = fields[3]; *p != '\0'; ++p)
            *p = lower(*p);
        out->run = strcmp(fields[3], "run") == 0 ? 1 : 0;
        if (out->run && alarm) {
            const char *queue = fieldCount >= 3 ? fields[2] : "";
            int size = k_defaultAlarmQueue;
            if (*queue != '\0') {
                size = readNumber(queue);
                if (size < k_minAlarmQueue || size > k_maxAlarmQueue)
                    return fail("invalid number of alarm queue entries", offsets[2], queue);
            }
            out->count = static_cast<uint16_t>(size);
        }
    }
    return 1;
}

int def_ParseLogger(char *typeName, int fieldCount, char **fields) {
    memset(typeName, 0, DEF_LOGGER_TYPE_SIZE);
    const char *name = fieldCount >= 1 ? fields[0] : "";
    if (*name == '\0') {
        def_ReportError(k_reportedError, "no logger name specified", 0, 0);
        return -2;
    }
    if (strlen(name) > DEF_LOGGER_TYPE_SIZE - 1) {
        def_ReportError(k_reportedError, "logger type name too long", 0,
                        static_cast<int>(strlen(name)));
        return -2;
    }
    for (size_t i = 0; name[i] != '\0'; ++i)
        typeName[i] = lower(name[i]);
    return 1;
}
