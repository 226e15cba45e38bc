#include "def.h"

#include "plat_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

thread_local std::unique_ptr<DefReaderState> t_state;
// Another reader whose records are being checked: the message names its file and line.
thread_local DefReaderState *t_reportTo = nullptr;

bool isComment(const char *line) {
    while (*line == ' ' || *line == '\t')
        ++line;
    return *line == '\0' || *line == '*';
}

// Reads one line into buf (at most DEF_MAX_LINE characters; the rest of a longer line is
// skipped). The trailing LF and then CR are removed. False at the end of the file.
bool readLine(FILE *file, char *buf) {
    size_t len = 0;
    int c = 0;
    bool any = false;
    while ((c = getc(file)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (len < static_cast<size_t>(DEF_MAX_LINE)) buf[len++] = static_cast<char>(c);
    }
    buf[len] = '\0';
    if (len > 0 && buf[len - 1] == '\r') buf[--len] = '\0';
    return any;
}

std::string pathFor(const char *name) {
    std::string path(name);
    if (path.find_first_of("/\\") == std::string::npos) {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr) return std::string(cwd) + "/" + path;
        return path;
    }
    for (char &c : path)
        if (c == '\\') c = '/';
    return path;
}

} // namespace

int def_ReaderOpen(DefReaderState &state, const char *name) {
    def_ReaderClose(state);
    if (name == nullptr || *name == '\0') return plat_Fail(WERR_FILE_NOT_FOUND);
    state.path = pathFor(name);
    state.file = fopen(state.path.c_str(), "r");
    if (state.file == nullptr) return plat_FailFromPosixPath(state.path.c_str());
    // A folder opens for reading here but holds no lines; Windows refuses to open it at all.
    struct stat st;
    if (fstat(fileno(state.file), &st) != 0 || !S_ISREG(st.st_mode)) {
        def_ReaderClose(state);
        return plat_Fail(WERR_ACCESS_DENIED);
    }
    int count = 0;
    while (readLine(state.file, state.line))
        if (!isComment(state.line)) ++count;
    rewind(state.file);
    state.line[0] = '\0';
    state.record.clear();
    state.lineNumber = 0;
    return count;
}

int def_ReaderNextRecord(DefReaderState &state) {
    if (state.file == nullptr) return -1;
    while (readLine(state.file, state.line)) {
        ++state.lineNumber;
        if (!isComment(state.line)) {
            state.record = state.line;
            return 1;
        }
    }
    rewind(state.file);
    state.lineNumber = 0;
    return 0;
}

int def_ReaderNextFields(DefReaderState &state, char **fields, int *offsets, int max) {
    int r = def_ReaderNextRecord(state);
    if (r <= 0) return r;
    int n = 0;
    char *p = state.line;
    while (n < max) {
        fields[n] = p;
        offsets[n] = static_cast<int>(p - state.line);
        ++n;
        char *comma = strchr(p, ',');
        if (comma == nullptr) break;
        *comma = '\0';
        p = comma + 1;
    }
    return n;
}

void def_ReaderClose(DefReaderState &state) {
    if (state.file != nullptr) fclose(state.file);
    state.file = nullptr;
}

int def_Open(const char *name) {
    if (!t_state) t_state = std::make_unique<DefReaderState>();
    return def_ReaderOpen(*t_state, name);
}

int def_NextRecord() {
    return t_state ? def_ReaderNextRecord(*t_state) : -1;
}

int def_NextFields(char **fields, int *offsets, int max) {
    return t_state ? def_ReaderNextFields(*t_state, fields, offsets, max) : -1;
}

void def_Close() {
    if (t_state) def_ReaderClose(*t_state);
    t_state.reset();
}

int def_LineNumber() {
    return t_state ? t_state->lineNumber : -1;
}

std::string def_CurrentLine() {
    return t_state ? t_state->record : std::string();
}

std::string def_FileName() {
    return t_state ? t_state->path : std::string();
}

std::string def_MessageText() {
    return t_state ? t_state->message : std::string();
}

int def_SetMessage(const char *text) {
    if (!t_state) return -1;
    if (text != nullptr) t_state->message += text;
    return static_cast<int>(t_state->message.size());
}

DefReaderState *def_SetReportTarget(DefReaderState *target) {
    DefReaderState *previous = t_reportTo;
    t_reportTo = target;
    return previous;
}

void def_ReportError(int error, const char *message, int fieldOffset, int fieldLength) {
    if (t_reportTo == nullptr && !t_state) t_state = std::make_unique<DefReaderState>();
    DefReaderState &s = t_reportTo != nullptr ? *t_reportTo : *t_state;
    char head[64];
    snprintf(head, sizeof head, "\nLine %d : **** ", s.lineNumber);
    std::string text = "Can't Parse " + s.path + head + (message ? message : "") + " ****\n";

    const std::string &line = s.record;
    size_t off = fieldOffset < 0 ? 0 : static_cast<size_t>(fieldOffset);
    size_t len = fieldLength < 0 ? 0 : static_cast<size_t>(fieldLength);
    if (len == 0 || off > line.size()) {
        text += line;
    } else {
        len = std::min(len, line.size() - off);
        text += line.substr(0, off) + ">" + line.substr(off, len) + "<" + line.substr(off + len);
    }
    if (error != 0) text += "\nError : " + std::to_string(error) + "\n";
    s.message = text;
}
