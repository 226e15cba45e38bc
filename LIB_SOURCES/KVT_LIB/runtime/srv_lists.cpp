#include "plat_error.h"
#include "srv_state.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <strings.h>
#include <vector>

namespace {
// Copies text into a fixed field of the given size, cut to leave room for the NUL.
void copyField(char *field, size_t size, const std::string &text) {
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    memcpy(field, text.data(), n);
    field[n] = '\0';
}

std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// A short text cut to 30 characters, or the long one when there is one.
std::string chooseText(const std::vector<std::string> &f, size_t shortIndex) {
    if (f.size() > shortIndex + 1 && !f[shortIndex + 1].empty()) return f[shortIndex + 1];
    return f.size() > shortIndex ? f[shortIndex].substr(0, 30) : "";
}

// A number field read as atoi reads it, into *out when it lies within low..high: a record
// whose number does not fit its field is no record the server meant.
bool number(const std::string &text, long long low, long long high, long long *out) {
    errno = 0;
    long long v = strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || v < low || v > high) return false;
    *out = v;
    return true;
}

bool byteField(const std::string &text, uint8_t *out) {
    long long v;
    if (!number(text, 0, UINT8_MAX, &v)) return false;
    *out = static_cast<uint8_t>(v);
    return true;
}

// Parses a list reply: "<n>,<record>;<record>;..." within what was received. Each non-empty
// record must have at least minFields fields; store gets the record's fields and its index and
// refuses a record whose numbers do not fit (-1 with 13, as a short record). The count stored,
// at most capacity; the result itself when it is -1 or 0.
int parseList(int result, const std::string &reply, size_t minFields, int capacity,
              const std::function<bool(const std::vector<std::string> &, int)> &store) {
    if (result == -1 || result == 0) return result;
    std::string text(reply.c_str()); // up to the NUL
    size_t comma = text.find(',');
    if (comma == std::string::npos) return 0;
    int count = 0;
    for (const std::string &record : split(text.substr(comma + 1), ';')) {
        if (record.empty()) continue;
        std::vector<std::string> fields = split(record, ',');
        if (fields.size() < minFields) return plat_Fail(WERR_INVALID_DATA);
        if (count >= capacity) break;
        if (!store(fields, count)) return plat_Fail(WERR_INVALID_DATA);
        ++count;
    }
    return count;
}

bool storeProcessor(ProcessorRecord *r, const std::vector<std::string> &f) {
    memset(r, 0, sizeof *r);
    copyField(r->name, sizeof r->name, f[0]);
    copyField(r->printName, sizeof r->printName, f[1]);
    size_t colon = f[2].find(':');
    if (colon != std::string::npos) {
        std::string prefix = f[2].substr(0, colon < 2 ? colon : 2);
        memcpy(r->prefix, prefix.data(), prefix.size());
        long long n;
        if (!number(f[2].substr(colon + 1), 0, UINT16_MAX, &n)) return false;
        uint16_t count = static_cast<uint16_t>(n);
        memcpy(&r->count, &count, sizeof count);
    }
    if (!byteField(f[3], &r->run)) return false;
    if (f[4].empty() || strncasecmp(r->name, "modb", 4) == 0)
        r->kind = 6;
    else
        r->kind = f[4][0] == 'A' ? 2 : 3;
    return true;
}

std::string configFile(const char *spec, const char *file) {
    std::string folder = srv_ResolveFolder(spec, "KVT_CURRENT_CONFIG");
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
    return folder + file;
}

// Number of records of a definition file of the server's configuration.
int countRecords(const char *spec, const char *file) {
    int count = def_Open(configFile(spec, file).c_str());
    def_Close();
    return count;
}

bool isDigits(const char *s) {
    if (*s == '\0') return false;
    for (; *s != '\0'; ++s)
        if (!isdigit(static_cast<unsigned char>(*s))) return false;
    return true;
}

// IP answered from DATPROC.TXT. A record that fails the checks leaves its message in the
// definition reader, which then stays open so that the caller can read it.
int processorsFromFile(const char *spec, const char *selector, ProcessorRecord *table,
                       int capacity) {
    if (def_Open(configFile(spec, "DATPROC.TXT").c_str()) < 0) return -1;
    constexpr int k_maxFields = 16;
    char *fields[k_maxFields];
    int offsets[k_maxFields];
    int result = 0;
    if (strncmp(selector, "*,", 2) == 0) {
        int wanted = atoi(selector + 2);
        if (wanted > capacity) wanted = capacity;
        int n;
        while (result < wanted && (n = def_NextFields(fields, offsets, k_maxFields)) > 0) {
            // Records that fail the checks are stored and counted all the same.
            def_ParseProcessor(spec, &table[result], fields, offsets, n, table);
            ++result;
        }
    } else if (capacity > 0) {
        bool byIndex = isDigits(selector);
        int wanted = byIndex ? atoi(selector) : 0;
        int index = 0;
        int n;
        while ((n = def_NextFields(fields, offsets, k_maxFields)) > 0) {
            ++index;
            bool match;
            if (byIndex) {
                match = index == wanted;
            } else {
                const char *printName = n >= 2 && fields[1][0] != '\0' ? fields[1] : fields[0];
                match = strcasecmp(printName, selector) == 0 ||
                        strncasecmp(fields[0], selector, 5) == 0;
            }
            if (match) {
                result = def_ParseProcessor(spec, &table[0], fields, offsets, n, table);
                break;
            }
        }
    }
    if (result != -2) def_Close();
    return result;
}
} // namespace

int srv_CountProcessors(const char *spec) {
    int result = srv_Request(spec, "QP,", SRV_LINE_SHORT, SRV_REPLY_LIST);
    if (result != -1) return result;
    return countRecords(spec, "DATPROC.TXT");
}

int srv_CountLoggers(const char *spec) {
    int result = srv_Request(spec, "QL", SRV_LINE_SHORT, SRV_REPLY_SMALL);
    if (result != -1) return result;
    return countRecords(spec, "LOGCAP.TXT");
}

int srv_GetProcessors(const char *spec, const char *selector, ProcessorRecord *table,
                      int capacity) {
    std::string sel = selector != nullptr ? selector : "";
    std::string line = "IP," + sel;
    // A selector too long for the line is the caller's fault, not the server's: no fallback.
    if (line.size() + 1 > SRV_LINE_SHORT) return plat_Fail(WERR_INSUFFICIENT_BUFFER);
    std::string reply;
    int result = srv_Request(spec, line, SRV_LINE_SHORT, SRV_REPLY_LIST, &reply);
    if (result == -1) return processorsFromFile(spec, sel.c_str(), table, capacity);
    return parseList(result, reply, 5, capacity, [&](const std::vector<std::string> &f, int i) {
        return storeProcessor(&table[i], f);
    });
}

int srv_QueryTP(const char *spec, const char *selector, TpEntry *table, int capacity) {
    std::string reply;
    std::string line = "TP," + std::string(selector != nullptr ? selector : "");
    int result = srv_Request(spec, line, SRV_LINE_SHORT, SRV_REPLY_LIST, &reply);
    return parseList(result, reply, 2, capacity, [&](const std::vector<std::string> &f, int i) {
        TpEntry *e = &table[i];
        memset(e, 0, sizeof *e);
        if (!byteField(f[0], &e->value1) || !byteField(f[1], &e->value2)) return false;
        copyField(e->text, sizeof e->text, chooseText(f, 2));
        return true;
    });
}

int srv_GetLoggers(const char *spec, const char *selector, LoggerRecord *table, int capacity) {
    std::string reply;
    std::string line = "TL," + std::string(selector != nullptr ? selector : "");
    int result = srv_Request(spec, line, SRV_LINE_MEDIUM, SRV_REPLY_LIST, &reply);
    return parseList(result, reply, 5, capacity, [&](const std::vector<std::string> &f, int i) {
        LoggerRecord *r = &table[i];
        memset(r, 0, sizeof *r);
        copyField(r->name, sizeof r->name, f[0]);
        long long n;
        if (!byteField(f[1], &r->enabled) || !byteField(f[2], &r->value1) ||
            !byteField(f[3], &r->value2) || !number(f[4], INT32_MIN, INT32_MAX, &n))
            return false;
        int32_t value = static_cast<int32_t>(n);
        memcpy(&r->value, &value, sizeof value);
        copyField(r->text, sizeof r->text, chooseText(f, 5));
        return true;
    });
}
