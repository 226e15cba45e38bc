// The run's text file: sections and event lines, the text time, and renaming the run's files.
#include "lfile.h"
#include "lstore_file.h"
#include "plat_error.h"
#include "plat_fileops.h"
#include "rfile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string sectionHeader(const char *section, const char *fallback) {
    if (section == nullptr || *section == '\0') return fallback;
    return std::string("[") + section + "]";
}

// 1 moved (or already named with the stem: *done set), 0 failed.
int renameWithStem(const std::string &file, const char *extension, const char *stem, bool *done) {
    size_t slash = file.find_last_of("/\\");
    if (slash == std::string::npos) return 0;
    std::string name = file.substr(slash + 1);
    size_t n = strlen(stem);
    bool same = name.size() >= n;
    for (size_t i = 0; same && i < n; ++i)
        same = upper(name[i]) == upper(stem[i]);
    if (same) {
        *done = true;
        return 1;
    }
    const char *part = lfile_FindTimeSuffix(name.c_str(), extension);
    if (part == nullptr) return 0;
    std::string target = file.substr(0, slash + 1) + stem + part;
    if (target.size() > LFILE_MAX_PATH) {
        plat_Fail(WERR_FILENAME_EXCED_RANGE);
        return 0;
    }
    return plat_FileMove(file.c_str(), target.c_str()) == 0 ? 1 : 0;
}
} // namespace

int CLogFileStore::TextFile(std::string *path) {
    char found[LFILE_MAX_PATH + 1];
    if (lfile_FindTextFileEx(Remote() ? server_.c_str() : nullptr, path_.c_str(), found) == nullptr)
        return -1;
    *path = found;
    return 0;
}

int CLogFileStore::ReadSectionW(const char *section, char16_t *buffer, int *size, const TimeStamp *,
                                const TimeStamp *) {
    if (Remote()) return RemoteUnavailable();
    std::string text;
    if (TextFile(&text) != 0) return -1;
    return lfile_ReadSectionW(text.c_str(), section, buffer, size);
}

int CLogFileStore::ReadSection(const char *section, char *buffer, int *size, const TimeStamp *,
                               const TimeStamp *) {
    std::string text;
    if (TextFile(&text) != 0) return -1;
    return lfile_ReadSectionEx(Remote() ? server_.c_str() : nullptr, text.c_str(), section, buffer,
                               size);
}

int CLogFileStore::ReadSectionLinesW(const char *section, char16_t **lines, int *count,
                                     char16_t *buffer, int *size, const TimeStamp *,
                                     const TimeStamp *) {
    if (Remote()) return RemoteUnavailable();
    std::string text;
    if (TextFile(&text) != 0) return -1;
    return lfile_ReadSectionLinesW(text.c_str(), section, lines, count, buffer, size);
}

int CLogFileStore::ReadSectionLines(const char *section, char **lines, int *count, char *buffer,
                                    int *size, const TimeStamp *, const TimeStamp *) {
    std::string text;
    if (TextFile(&text) != 0) return -1;
    return lfile_ReadSectionLinesEx(Remote() ? server_.c_str() : nullptr, text.c_str(), section,
                                    lines, count, buffer, size);
}

int CLogFileStore::AddEvent(const char *section, const PreciseTimeStamp &stamp, const char *text,
                            const char *match) {
    std::string file;
    if (TextFile(&file) != 0) return -1;
    std::string header = sectionHeader(section, "[TEXT]");
    return lfile_AddEventEx(Remote() ? server_.c_str() : nullptr, file.c_str(), header.c_str(),
                            &stamp, text, match) == 0
               ? 0
               : -1;
}

int CLogFileStore::AddEventW(const char *section, const PreciseTimeStamp &stamp,
                             const char16_t *text, const char16_t *match) {
    if (Remote()) return RemoteUnavailable();
    std::string file;
    if (TextFile(&file) != 0) return -1;
    std::string header = sectionHeader(section, "[TEXT]");
    return lfile_AddEventW(file.c_str(), header.c_str(), &stamp, text, match) == 0 ? 0 : -1;
}

int CLogFileStore::WriteTextW(int32_t time, const char16_t *text, const char16_t *match,
                              const char *section) {
    return AddEventW(section, PreciseTimeStamp{time, 0, 0}, text, match);
}

int CLogFileStore::WriteText(int32_t time, const char *text, const char *match,
                             const char *section) {
    return AddEvent(section, PreciseTimeStamp{time, 0, 0}, text, match);
}

int CLogFileStore::WriteTextExW(const PreciseTimeStamp *stamp, const char16_t *text,
                                const char16_t *match, const char *section) {
    if (stamp == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    return AddEventW(section, *stamp, text, match);
}

int CLogFileStore::WriteTextEx(const PreciseTimeStamp *stamp, const char *text, const char *match,
                               const char *section) {
    if (stamp == nullptr) return plat_Fail(WERR_INVALID_PARAMETER);
    return AddEvent(section, *stamp, text, match);
}

int CLogFileStore::WritePosition(int32_t time, int hasValue, float value) {
    char text[64] = "";
    if (hasValue) lfile_Sprintf(text, sizeof text, "%f", static_cast<double>(value));
    return AddEvent("POSITIONS", PreciseTimeStamp{time, 0, 0}, text, nullptr);
}

int CLogFileStore::ReplaceSection(const char *section, const char *text) {
    std::string file;
    if (TextFile(&file) != 0) return -1;
    return lfile_ReplaceSectionEx(Remote() ? server_.c_str() : nullptr, file.c_str(), section,
                                  text) == 1
               ? 0
               : -1;
}

int CLogFileStore::WriteHeaderTextW(const char16_t *text) {
    if (Remote()) return RemoteUnavailable();
    std::string file;
    if (TextFile(&file) != 0) return -1;
    return lfile_ReplaceSectionW(file.c_str(), "[HEADER]", text) == 1 ? 0 : -1;
}

int CLogFileStore::WriteHeaderText(const char *text) {
    return ReplaceSection("[HEADER]", text);
}

int CLogFileStore::WriteFormulae(const char *prefix, int number, const char *text) {
    char section[64];
    if (lfile_Sprintf(section, sizeof section, "[%1.2s_%d_FORMULAE]",
                      prefix != nullptr ? prefix : "", number) < 0)
        return -1;
    return ReplaceSection(section, text);
}

int CLogFileStore::WriteUnitCategory(const char *name, const char *text) {
    char section[300];
    if (lfile_Sprintf(section, sizeof section, "[%s_UNIT_CATEGORY]", name != nullptr ? name : "") <
        0)
        return -1;
    return ReplaceSection(section, text);
}

int CLogFileStore::GetTextTime(int32_t *time) {
    std::string file;
    if (TextFile(&file) != 0) return -1;
    int64_t mtime;
    if (Remote()) {
        // A FILETIME counts 100 ns from 1601.
        uint64_t written = 0;
        if (!rfile_GetFileTime(server_.c_str(), -1, file.c_str(), nullptr, nullptr, &written) ||
            written == 0)
            return -1;
        if (time)
            *time =
                lfile_StoreTime(static_cast<int64_t>(written / 10000000u) - INT64_C(11644473600));
        return 0;
    }
    if (plat_FileInfoPath(file.c_str(), nullptr, &mtime) != 0) return -1;
    if (lfile_UseEventsFile()) {
        size_t slash = file.find_last_of("/\\");
        std::string events =
            (slash == std::string::npos ? std::string() : file.substr(0, slash + 1)) + "events.txt";
        int64_t eventsTime;
        if (plat_FileInfoPath(events.c_str(), nullptr, &eventsTime) == 0)
            mtime = std::max(mtime, eventsTime);
    }
    if (time) *time = lfile_StoreTime(mtime);
    return 0;
}

int CLogFileStore::Rename(const char *stem) {
    if (stem == nullptr) return 0;
    // The text file is found through the data file, so before the data file moves.
    char text[LFILE_MAX_PATH + 1];
    bool hasText = lfile_FindTextFile(path_.c_str(), text) != nullptr;
    bool done = false;
    if (!renameWithStem(path_, ".odl", stem, &done)) return 0;
    if (done || !hasText) return 1;
    return renameWithStem(text, ".txt", stem, &done);
}
