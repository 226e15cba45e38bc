// Named sections of text files: reading, replacing, and time-ordered event lines.
//
// A file is read whole (in 64 KiB blocks) and rewritten whole through a temporary file moved
// over it in one step, so a reader never finds the file missing or half written.
#include "lfile_text.h"

#include "plat_cp1252.h"
#include "plat_error.h"
#include "plat_file.h"
#include "plat_fileops.h"
#include "plat_folder.h"
#include "srv.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {
// Where a text file is read and written: this computer, or a server through its file requests.
struct TextSource {
    const char *server = nullptr;
    bool remote() const { return server != nullptr && *server != '\0'; }
    int load(const char *path, bool create, LfileText *text) const {
        if (!remote()) return lfile_LoadText(path, create, text);
        int rc = lfile_LoadRemoteText(server, path, text);
        if (rc == -2 && create) {
            *text = LfileText{};
            return 0;
        }
        return rc;
    }
    int save(const char *path, const std::string &bytes) const {
        return remote() ? lfile_SaveRemoteText(server, path, bytes)
                        : lfile_ReplaceFile(path, bytes);
    }
    bool readable(const std::string &path) const {
        LfileText probe;
        return remote() ? lfile_LoadRemoteText(server, path.c_str(), &probe) == 0
                        : plat_CheckAccess(path.c_str(), PLAT_ACCESS_READ) != 0;
    }
};

template <typename Ch>
Ch fold(Ch c) {
    return c >= 'a' && c <= 'z' ? static_cast<Ch>(c - 'a' + 'A') : c;
}

template <typename S>
bool startsWith(const S &line, const S &prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
}

template <typename S>
bool startsNoCase(const S &text, const S &prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (fold(text[i]) != fold(prefix[i])) return false;
    return true;
}

template <typename S>
S crlf() {
    return S{'\r', '\n'};
}

bool hasLineBreak(const char *text) {
    return strpbrk(text, "\r\n") != nullptr;
}

template <typename S>
bool endsWithCrlf(const S &text) {
    return text.size() >= 2 && text[text.size() - 2] == '\r' && text.back() == '\n';
}

// Lines with their CR LF; the last may have none.
template <typename S>
std::vector<S> splitLines(const S &content) {
    std::vector<S> lines;
    size_t at = 0;
    while (at < content.size()) {
        size_t end = content.find(crlf<S>(), at);
        end = end == S::npos ? content.size() : end + 2;
        lines.push_back(content.substr(at, end - at));
        at = end;
    }
    return lines;
}

template <typename S>
S widenAscii(const char *text) {
    S out;
    for (; text != nullptr && *text != '\0'; ++text)
        out += static_cast<typename S::value_type>(static_cast<uint8_t>(*text));
    return out;
}

std::string bracketed(const char *section) {
    return section[0] == '[' ? std::string(section) : std::string("[") + section + "]";
}

bool isTextSection(const char *section) {
    std::string s = section;
    return startsNoCase(s, std::string("TEXT")) && s.size() == 4
               ? true
               : startsNoCase(s, std::string("[TEXT]")) && s.size() == 6;
}

// A time-first stamp rewritten date-first, keeping its fraction digits.
std::string dateFirst(const LfileStampForm &f) {
    char text[64];
    if (f.digits == 6)
        snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d.%06d ", f.year, f.month, f.day,
                 f.hour, f.minute, f.second, f.fraction);
    else if (f.digits == 3)
        snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d.%03d ", f.year, f.month, f.day,
                 f.hour, f.minute, f.second, f.fraction);
    else
        snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d ", f.year, f.month, f.day,
                 f.hour, f.minute, f.second);
    return text;
}

std::string rewriteDateFirst(const std::string &line) {
    LfileStampForm form;
    const char *rest = lfile_ParseStampForm(line.c_str(), nullptr, &form);
    if (rest == nullptr || !form.timeFirst) return line;
    return dateFirst(form) + rest;
}

std::u16string rewriteDateFirst(const std::u16string &line) {
    LfileStampForm form;
    const char16_t *rest = lfile_ParseStampFormW(line.c_str(), nullptr, &form);
    if (rest == nullptr || !form.timeFirst) return line;
    return widenAscii<std::u16string>(dateFirst(form).c_str()) + rest;
}

// The section's lines into buffer (or counted). fromStart: every line of the file is the section.
template <typename S>
int collectSection(const S &content, const S &header, bool fromStart, bool isText,
                   typename S::value_type *buffer, int *size) {
    std::vector<S> lines = splitLines(content);
    size_t i = 0;
    if (!fromStart) {
        while (i < lines.size() && !startsWith(lines[i], header))
            ++i;
        if (i == lines.size()) {
            // A buffer of no size gets nothing, not even the NUL.
            if (buffer != nullptr && *size > 0) buffer[0] = 0;
            *size = 0;
            return 0;
        }
        ++i;
    }
    int64_t capacity = *size;
    int64_t used = 0;
    int count = 0;
    for (; i < lines.size(); ++i) {
        if (!fromStart && !lines[i].empty() && lines[i][0] == '[') break;
        S line = isText ? rewriteDateFirst(lines[i]) : lines[i];
        int64_t length = static_cast<int64_t>(line.size());
        if (buffer != nullptr) {
            if (used + length + 1 > capacity) break;
            memcpy(buffer + used, line.data(), line.size() * sizeof(typename S::value_type));
        }
        used += length;
        ++count;
    }
    if (buffer != nullptr && capacity >= 1) buffer[used] = 0;
    *size = static_cast<int>(std::min<int64_t>(used + 1, INT32_MAX));
    return count;
}

// Reads a section as ANSI or UTF-16; TEXT comes from events.txt when events live there.
template <typename S>
int readSection(const TextSource &src, const char *file, const char *section,
                typename S::value_type *buffer, int *size) {
    if (section == nullptr || *section == '\0' || size == nullptr)
        return plat_Fail(WERR_INVALID_PARAMETER);
    bool isText = isTextSection(section);
    const char *path = file;
    std::string events;
    bool fromStart = false;
    if (isText && lfile_UseEventsFile()) {
        // Without an events.txt the events were added to the run's own file: read them there.
        events = lfile_EventsPath(file);
        if (src.readable(events)) {
            path = events.c_str();
            fromStart = true;
        }
    }
    LfileText text;
    int rc = src.load(path, false, &text);
    if (rc != 0) return rc;
    S header = widenAscii<S>(bracketed(section).c_str());
    if constexpr (sizeof(typename S::value_type) == 1)
        return collectSection(lfile_TextNarrow(text), header, fromStart, isText, buffer, size);
    else
        return collectSection(lfile_TextWide(text), header, fromStart, isText, buffer, size);
}

// Splits what readSection put into buffer; room is the buffer's size before the read, size what
// the read reported. A buffer without room holds no text and is never looked at.
template <typename Ch>
int readLines(int rc, Ch **lines, int *count, Ch *buffer, int room, int size) {
    if (rc < 0) return -1;
    if (lines == nullptr || buffer == nullptr) {
        if (count) *count = rc;
        return 0;
    }
    int capacity = count != nullptr ? *count : 0;
    int filled = 0;
    static Ch empty[1] = {0};
    Ch *p = room > 0 ? buffer : empty;
    Ch *end = p + (room > 0 && size > 0 ? std::min(room, size) - 1 : 0);
    while (filled < capacity && p < end && *p != 0) {
        Ch *q = p;
        while (*q != 0 && !(q[0] == '\r' && q[1] == '\n'))
            ++q;
        lines[filled++] = p;
        if (*q == 0) {
            p = q;
            break;
        }
        q[0] = 0;
        p = q + 2;
    }
    // Entries past the last line point at an empty text.
    for (int i = filled; i < capacity; ++i)
        lines[i] = *p == 0 ? p : empty;
    if (count) *count = filled;
    return 0;
}

// A Lines form: read(buffer or null, size) reads the section, then the text is split.
template <typename Ch, typename Read>
int readSectionLines(Read read, Ch **lines, int *count, Ch *buffer, int *size) {
    int room = size != nullptr ? *size : 0;
    int rc = read(lines != nullptr ? buffer : nullptr, size);
    return readLines(rc, lines, count, buffer, room, size != nullptr ? *size : 0);
}

// ---- Events ----

bool textBegins(const std::u16string &text, const std::u16string &prefix) {
    return startsNoCase(text, prefix);
}

// An event is one line: a CR or LF inside its text would start lines of any date, so each
// becomes a blank; a final CR LF is the line's own end.
std::u16string oneLine(const std::u16string &text) {
    std::u16string line = text;
    if (endsWithCrlf(line)) line.resize(line.size() - 2);
    for (char16_t &c : line)
        if (c == '\r' || c == '\n') c = ' ';
    if (!text.empty()) line += crlf<std::u16string>();
    return line;
}

// Inserts, replaces or removes the event line of one time in content. header empty: the whole
// content is the section (events.txt). true when the content changed.
bool insertEvent(std::u16string &content, const std::u16string &header, bool timeFirst,
                 const PreciseTimeStamp &stamp, const std::u16string &text, const char16_t *match) {
    std::u16string line;
    std::u16string newText = oneLine(text);
    if (!newText.empty())
        line = widenAscii<std::u16string>(lfile_FormatStamp(stamp, timeFirst).c_str()) + newText;
    std::u16string matchText = match != nullptr ? std::u16string(match) : std::u16string();
    std::vector<std::u16string> lines = splitLines(content);
    size_t i = 0;
    if (!header.empty()) {
        while (i < lines.size() && !startsWith(lines[i], header))
            ++i;
        if (i == lines.size()) {
            if (newText.empty()) return false;
            if (!content.empty() && !endsWithCrlf(content)) content += crlf<std::u16string>();
            content += header + crlf<std::u16string>() + line;
            return true;
        }
        ++i;
    }
    std::u16string out;
    for (size_t k = 0; k < i; ++k)
        out += lines[k];
    bool written = false;
    for (; i < lines.size(); ++i) {
        const std::u16string &old = lines[i];
        if (!header.empty() && !old.empty() && old[0] == '[') break;
        PreciseTimeStamp at{};
        const char16_t *rest = written ? nullptr : lfile_ParseStampW(old.c_str(), &at);
        if (rest == nullptr) {
            out += old;
            continue;
        }
        int order = lfile_CompareStamps(at, stamp);
        if (order > 0) {
            out += line;
            written = true;
            out += old;
            continue;
        }
        if (order < 0) {
            out += old;
            continue;
        }
        std::u16string oldText(rest);
        if (match == nullptr) {
            if (newText.empty() || textBegins(oldText, text)) continue; // dropped
            out += line; // takes the first other line's place
            written = true;
        } else if (textBegins(oldText, matchText)) {
            if (newText.empty()) continue;
            if (oldText != newText) {
                out += line;
            } else {
                out += old; // the same event is already there
            }
            written = true;
        } else {
            out += old;
        }
    }
    if (!written) {
        if (!out.empty() && !endsWithCrlf(out) && !line.empty()) out += crlf<std::u16string>();
        out += line;
    }
    for (; i < lines.size(); ++i)
        out += lines[i];
    if (out == content) return false;
    content = std::move(out);
    return true;
}

// 1 when a "*.txt" of the folder (events.txt aside) has a TEXT section with lines.
bool folderHasTextSection(const std::string &events) {
    size_t slash = events.find_last_of("/\\");
    std::string folder = slash == std::string::npos ? std::string(".") : events.substr(0, slash);
    PlatFindEntry entry;
    PlatFindHandle list = plat_FindFirst((folder + "/*.txt").c_str(), &entry);
    if (!list) return false;
    do {
        if (entry.isFolder || entry.name == "events.txt") continue;
        LfileText text;
        if (lfile_LoadText((folder + "/" + entry.name).c_str(), false, &text) != 0) continue;
        int size = 0;
        if (collectSection(lfile_TextNarrow(text), std::string("[TEXT]"), false, false, nullptr,
                           &size) > 0 &&
            size > 1)
            return true;
    } while (plat_FindNext(list.get(), &entry) == 0);
    return false;
}

// The file an event of the header goes to, and whether its stamps are time-first.
std::string eventTarget(const TextSource &src, const char *file, const char *header,
                        bool *timeFirst) {
    *timeFirst = false;
    std::string h = header != nullptr ? header : "";
    if (startsNoCase(h, std::string("[TEXT]")) && h.size() == 6 && lfile_UseEventsFile()) {
        std::string events = lfile_EventsPath(file);
        bool use = src.remote()
                       ? src.readable(events)
                       : plat_CheckAccess(events.c_str(), PLAT_ACCESS_READ | PLAT_ACCESS_WRITE) ||
                             !folderHasTextSection(events);
        if (use) {
            *timeFirst = true;
            return events;
        }
    }
    return file;
}

bool hasWide(const std::u16string &text) {
    for (char16_t c : text)
        if (c > 127) return true;
    return false;
}

int addEvent(const TextSource &src, const char *file, const char *header,
             const PreciseTimeStamp &stamp, const std::u16string &text, const char16_t *match,
             bool wideCaller) {
    if (file == nullptr || header == nullptr || hasLineBreak(header))
        return plat_Fail(WERR_INVALID_PARAMETER);
    bool timeFirst;
    std::string target = eventTarget(src, file, header, &timeFirst);
    if (target.size() > LFILE_MAX_PATH) return plat_Fail(WERR_FILENAME_EXCED_RANGE);
    LfileText loaded;
    int rc = src.load(target.c_str(), true, &loaded);
    if (rc != 0) return rc;
    // A UTF-16 file on a server is never rewritten from here.
    if (src.remote() && loaded.utf16) return plat_Fail(WERR_INVALID_DATA);
    std::u16string content = lfile_TextWide(loaded);
    std::u16string sectionHeader =
        timeFirst ? std::u16string() : widenAscii<std::u16string>(header);
    if (!insertEvent(content, sectionHeader, timeFirst, stamp, text, match)) return 0;
    // A wide text with characters ANSI cannot hold turns an ANSI file into UTF-16.
    bool utf16 = loaded.utf16 || (wideCaller && hasWide(text));
    return src.save(target.c_str(), lfile_EncodeText(content, utf16)) == 0 ? 0 : -1;
}
} // namespace

int lfile_ReadSection(const char *file, const char *section, char *buffer, int *size) {
    return readSection<std::string>(TextSource{}, file, section, buffer, size);
}

int lfile_ReadSectionW(const char *file, const char *section, char16_t *buffer, int *size) {
    return readSection<std::u16string>(TextSource{}, file, section, buffer, size);
}

int lfile_ReadSectionLines(const char *file, const char *section, char **lines, int *count,
                           char *buffer, int *size) {
    return readSectionLines(
        [&](char *b, int *n) {
            return readSection<std::string>(TextSource{}, file, section, b, n);
        },
        lines, count, buffer, size);
}

int lfile_ReadSectionLinesW(const char *file, const char *section, char16_t **lines, int *count,
                            char16_t *buffer, int *size) {
    return readSectionLines(
        [&](char16_t *b, int *n) {
            return readSection<std::u16string>(TextSource{}, file, section, b, n);
        },
        lines, count, buffer, size);
}

namespace {
int replaceSection(const TextSource &src, const char *file, const char *section, const char *text) {
    // A section name is its header line: a line break in it would make lines of its own.
    if (file == nullptr || section == nullptr || *section == '\0' || hasLineBreak(section))
        return plat_Fail(WERR_INVALID_PARAMETER);
    if (strlen(file) > LFILE_MAX_PATH) return plat_Fail(WERR_FILENAME_EXCED_RANGE);
    LfileText loaded;
    int rc = src.load(file, true, &loaded);
    if (rc != 0) return rc;
    if (loaded.utf16) return plat_Fail(WERR_INVALID_DATA);
    std::string header = bracketed(section);
    std::string newText = text != nullptr ? text : "";
    if (!newText.empty() && !endsWithCrlf(newText)) newText += "\r\n";
    std::string out;
    bool found = false, skipping = false;
    for (const std::string &line : splitLines(loaded.bytes)) {
        if (skipping) {
            if (line.empty() || line[0] != '[') continue;
            skipping = false;
        }
        if (!found && startsWith(line, header)) {
            found = skipping = true;
            out += line;
            if (!endsWithCrlf(line)) out += "\r\n";
            out += newText;
            continue;
        }
        out += line;
    }
    if (!found) {
        if (!out.empty() && !endsWithCrlf(out)) out += "\r\n";
        out += header + "\r\n" + newText;
    }
    return src.save(file, out) == 0 ? 1 : -1;
}

// The local form first; the server's file requests only when the file cannot be opened here.
template <typename F>
int localThenRemote(const char *server, F run) {
    int rc = run(TextSource{});
    if (rc != -2 || server == nullptr || *server == '\0') return rc;
    return run(TextSource{server});
}
} // namespace

int lfile_ReplaceSection(const char *file, const char *section, const char *text) {
    return replaceSection(TextSource{}, file, section, text);
}

int lfile_ReplaceSectionEx(const char *server, const char *file, const char *section,
                           const char *text) {
    return localThenRemote(
        server, [&](const TextSource &src) { return replaceSection(src, file, section, text); });
}

int lfile_ReadSectionEx(const char *server, const char *file, const char *section, char *buffer,
                        int *size) {
    return localThenRemote(server, [&](const TextSource &src) {
        return readSection<std::string>(src, file, section, buffer, size);
    });
}

int lfile_ReadSectionLinesEx(const char *server, const char *file, const char *section,
                             char **lines, int *count, char *buffer, int *size) {
    return readSectionLines(
        [&](char *b, int *n) { return lfile_ReadSectionEx(server, file, section, b, n); }, lines,
        count, buffer, size);
}

int lfile_AddEventEx(const char *server, const char *file, const char *header,
                     const PreciseTimeStamp *stamp, const char *text, const char *match) {
    if (stamp == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    std::u16string wideText = plat_Cp1252ToUtf16(text != nullptr ? text : "");
    std::u16string wideMatch = plat_Cp1252ToUtf16(match != nullptr ? match : "");
    return localThenRemote(server, [&](const TextSource &src) {
        return addEvent(src, file, header, *stamp, wideText,
                        match != nullptr ? wideMatch.c_str() : nullptr, false);
    });
}

int lfile_AddEventAtEx(const char *server, const char *file, const char *header, int32_t seconds,
                       const char *text, const char *match) {
    PreciseTimeStamp stamp{seconds, 0, 0};
    return lfile_AddEventEx(server, file, header, &stamp, text, match);
}

namespace {
std::string loggerTextFile(const char *server, const char *kind, int number) {
    char name[300];
    if (server == nullptr || *server == '\0' || srv_IsLocal(server) || srv_ServerKind(server) == 1)
        snprintf(name, sizeof name, "%s_%d.txt", kind != nullptr ? kind : "", number);
    else
        snprintf(name, sizeof name, "\\\\%s\\KVT_CURRENT_CONFIG\\LOGGERS\\%s_%d.txt", server,
                 kind != nullptr ? kind : "", number);
    return name;
}
} // namespace

int lfile_ReadLoggerSection(const char *server, const char *kind, int number, const char *section,
                            char *buffer, int *size) {
    return lfile_ReadSectionEx(server, loggerTextFile(server, kind, number).c_str(), section,
                               buffer, size);
}

int lfile_WriteLoggerSection(const char *server, const char *kind, int number, const char *section,
                             const char *text) {
    return lfile_ReplaceSectionEx(server, loggerTextFile(server, kind, number).c_str(), section,
                                  text);
}

int lfile_ReplaceSectionW(const char *file, const char *section, const char16_t *text) {
    std::u16string t = text != nullptr ? std::u16string(text) : std::u16string();
    if (hasWide(t)) return plat_Fail(WERR_INVALID_PARAMETER);
    if (file != nullptr) {
        LfileText loaded;
        if (lfile_LoadText(file, false, &loaded) == 0 && loaded.utf16)
            return plat_Fail(WERR_INVALID_DATA);
    }
    return lfile_ReplaceSection(file, section, plat_Utf16ToCp1252(t).c_str());
}

int lfile_AddEvent(const char *file, const char *header, const PreciseTimeStamp *stamp,
                   const char *text, const char *match) {
    if (stamp == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    std::u16string wideMatch = plat_Cp1252ToUtf16(match != nullptr ? match : "");
    return addEvent(TextSource{}, file, header, *stamp,
                    plat_Cp1252ToUtf16(text != nullptr ? text : ""),
                    match != nullptr ? wideMatch.c_str() : nullptr, false);
}

int lfile_AddEventAt(const char *file, const char *header, int32_t seconds, const char *text,
                     const char *match) {
    PreciseTimeStamp stamp{seconds, 0, 0};
    return lfile_AddEvent(file, header, &stamp, text, match);
}

int lfile_AddEventW(const char *file, const char *header, const PreciseTimeStamp *stamp,
                    const char16_t *text, const char16_t *match) {
    if (stamp == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    return addEvent(TextSource{}, file, header, *stamp,
                    text != nullptr ? std::u16string(text) : std::u16string(), match, true);
}

int lfile_AddEventAtW(const char *file, const char *header, int32_t seconds, const char16_t *text,
                      const char16_t *match) {
    PreciseTimeStamp stamp{seconds, 0, 0};
    return lfile_AddEventW(file, header, &stamp, text, match);
}
