// Logger files: the time part of run file names, the open check of a data file, folder
// listings, a bounded formatter, the background log-file writer, and the text files of runs
// (named sections, time-ordered event lines, events.txt).
//
// Times are seconds since 1970 kept in 32 bits and read unsigned: lfile_TimeOf widens a stored
// time for comparing, subtracting and formatting, so runs from 2038 on sort after older ones.
// Functions return 0 (or a count) or -1 with errno and the Windows last error.
#pragma once

#include "lstore.h"
#include "ts.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

// Longest path a logger file name may have (the fields that carry it hold 260 with the NUL).
enum : size_t { LFILE_MAX_PATH = 259 };

// A stored 32-bit time as seconds since 1970.
inline int64_t lfile_TimeOf(int32_t stored) {
    return static_cast<int64_t>(static_cast<uint32_t>(stored));
}
// A computed time as stored: below 0 becomes 0, above 2^32 - 1 becomes 2^32 - 1.
int32_t lfile_StoreTime(int64_t seconds);

// Brings every field of tm into its range (carrying in both directions, February 29 by the
// Gregorian rule), counting tm_year from 1900 and ignoring the time zone, and returns the
// moment as seconds since 1970-01-01 00:00:00 (negative before it). tm_wday and tm_yday are
// set; tm_isdst becomes 0.
int64_t lfile_NormalizeTm(struct tm *tm);

// ---- Run names ----

// The start of the time part of a run name: 6 digit pairs (one time) or 12 (start and stop)
// before the extension, with an optional '.' or '_' after every third pair. A prefix ending in
// digits belongs to the prefix: of 7 to 11 pairs, the 6 nearest the extension are the time. The
// extension compares without case; an empty one matches any name. Null when there is none.
const char *lfile_FindTimeSuffix(const char *name, const char *extension);
int lfile_HasTimeSuffix(const char *name, const char *extension);

// The seconds of the time at the start of a time part ("YYMMDD?hhmmss", years below 70 are
// 20xx): 0, or -1 when it does not scan.
int lfile_ReadRunTime(const char *timePart, int64_t *seconds);

// "YYMMDD_hhmmss" of a stored time.
std::string lfile_FormatRunTime(int32_t seconds);

// Copies (into name, 260 bytes) the name of the folder's newest run with the extension: 1 found,
// 0 none, -1 when the folder cannot be listed. Of equal times the first listed is kept.
int lfile_FindNewest(const char *folder, char *name, const char *extension);

// ---- Folders and data files ----

struct LfileFolderList;
// Lists every entry of a folder: null when it cannot be listed.
LfileFolderList *lfile_OpenFolderList(const char *folder);
// The next name, null at the end.
const char *lfile_NextFolderEntry(LfileFolderList *list);
void lfile_CloseFolderList(LfileFolderList *list);

// Size of an open file, or -1.
int64_t lfile_GetFileSize(int fd);

// The open check of a data file: the write position (byte-swapped when the file was written in
// the other byte order), or -1 with 13 when the marker is outside 0x8001..0xE001 or the first 6
// bytes cannot be read.
int64_t lfile_GetValidLength(int fd);

// Creates one folder level: 0, or -1.
int lfile_MakeDir(const char *path);

// vsnprintf in the C locale; a result that does not fit leaves "" and fails with 206.
int lfile_Sprintf(char *buffer, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Header of the data file and, when it holds records, the first 16 bytes of its last record
// (*hasRecord 1): 0, or -1 (a damaged header fails with 13).
int lfile_ReadRunInfo(const char *path, LogHeader *header, uint8_t lastRecord[16], int *hasRecord);

// ---- Background log-file writer (nothing in the system starts it) ----

struct LfileWriterSettings {
    std::string folder;    // created when missing
    std::string prefix;    // file prefix
    std::string extension; // with its dot
    int32_t start = 0;     // start time of the run (its name)
    int capacity = 16;     // ring entries
    int64_t mapSize = 0;   // bytes of the byte map (the file area queued writes may cover)
    int intervalMs = 1000; // the thread writes what is queued at this interval and at the stop
    int positionWord = 0;  // 1: keep the write position in the first four bytes
};

struct LfileWriter;
// Creates the run file and starts the thread: null on failure.
LfileWriter *lfile_StartWriter(const LfileWriterSettings &settings);
// Queues size bytes (copied) for offset: 0, or -1 with the first write error of the thread, or
// 87 for a range outside the byte map.
int lfile_QueueWrite(LfileWriter *writer, const void *data, int size, int64_t offset);
// Stops the thread after it has written everything queued; closes the file and gives it its
// closed name (start and stop time; read-only on request). 0, or -1 with the first error.
int lfile_StopWriter(LfileWriter *writer, int32_t stop, int readOnly);
// Path of the writer's current file.
std::string lfile_WriterPath(const LfileWriter *writer);
// Deletes the folder's closed runs (prefix + extension) whose start and stop both lie more than
// the period (years, months, days, hours, minutes, seconds) before now: the number deleted.
int lfile_DeleteOlder(const char *folder, const char *prefix, const char *extension, int32_t now,
                      const uint8_t period[6]);

// ---- Text files of runs: sections and events ----

// The text file of a data file into out (260 bytes): out, or null with errno 2 (206 for a path
// too long).
char *lfile_FindTextFile(const char *dataPath, char *out);

// The same, probing the server's files when the data file's text file is not found here. The
// second form gives the path by value ("" when none is found).
char *lfile_FindTextFileEx(const char *server, const char *dataPath, char *out);
std::string lfile_FindTextFileEx(const char *server, const char *dataPath);

// 1 when TEXT events live in events.txt of the run's folder.
int lfile_UseEventsFile();

// A section into buffer (null: count only). size in/out, out = bytes + 1. Lines read, 0 for a
// missing section, -1 read error, -2 when the file cannot be opened.
int lfile_ReadSection(const char *file, const char *section, char *buffer, int *size);
int lfile_ReadSectionW(const char *file, const char *section, char16_t *buffer, int *size);
// The section split into lines (each CR LF becomes a NUL). 0 / -1.
int lfile_ReadSectionLines(const char *file, const char *section, char **lines, int *count,
                           char *buffer, int *size);
int lfile_ReadSectionLinesW(const char *file, const char *section, char16_t **lines, int *count,
                            char16_t *buffer, int *size);

// The Ex forms try this computer first and go through the server's file requests only when the
// file cannot be opened here. A UTF-16 file on a server is never rewritten (-1, 13).
int lfile_ReadSectionEx(const char *server, const char *file, const char *section, char *buffer,
                        int *size);
int lfile_ReadSectionLinesEx(const char *server, const char *file, const char *section,
                             char **lines, int *count, char *buffer, int *size);

// Replaces (or appends) a section: 1, -1, or -2 when the file cannot be opened.
int lfile_ReplaceSection(const char *file, const char *section, const char *text);
int lfile_ReplaceSectionW(const char *file, const char *section, const char16_t *text);
int lfile_ReplaceSectionEx(const char *server, const char *file, const char *section,
                           const char *text);

// Adds a time-stamped line to a section in time order: 0, -1, or -2.
int lfile_AddEvent(const char *file, const char *header, const PreciseTimeStamp *stamp,
                   const char *text, const char *match);
int lfile_AddEventAt(const char *file, const char *header, int32_t seconds, const char *text,
                     const char *match);
int lfile_AddEventEx(const char *server, const char *file, const char *header,
                     const PreciseTimeStamp *stamp, const char *text, const char *match);
int lfile_AddEventAtEx(const char *server, const char *file, const char *header, int32_t seconds,
                       const char *text, const char *match);
int lfile_AddEventW(const char *file, const char *header, const PreciseTimeStamp *stamp,
                    const char16_t *text, const char16_t *match);
int lfile_AddEventAtW(const char *file, const char *header, int32_t seconds, const char16_t *text,
                      const char16_t *match);

// The text after a line's stamp, with the stamp in *stamp; null when the line has none.
const char *lfile_ParseStamp(const char *line, PreciseTimeStamp *stamp);
const char16_t *lfile_ParseStampW(const char16_t *line, PreciseTimeStamp *stamp);
const char *lfile_StampSeconds(const char *line, int32_t *seconds);
const char16_t *lfile_StampSecondsW(const char16_t *line, int32_t *seconds);

// Sections of a logger's definition text file: "<kind>_<number>.txt" in the working folder for
// this computer or a server of connection kind 1, else on the server's LOGGERS folder.
int lfile_ReadLoggerSection(const char *server, const char *kind, int number, const char *section,
                            char *buffer, int *size);
int lfile_WriteLoggerSection(const char *server, const char *kind, int number, const char *section,
                             const char *text);

// The temporary name of a rewrite of file: "<folder>/<stem> <pid>.tmp" or "<folder>/logger
// <pid>.tmp".
std::string lfile_MakeTempName(const char *file);
