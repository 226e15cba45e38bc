// Definition files of the configuration root: "DATPROC.TXT" (the data processors) and
// "LOGCAP.TXT" (the logger types).
//
// Comma-separated text lines of at most 500 characters, read with one reader per thread.
// Empty lines, blank lines and lines whose first non-blank character is '*' are comments;
// line numbers count them. Fields are split at commas, with no quoting and no trimming. A bad
// record leaves a message in the reader that shows the offending field between '>' and '<'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

constexpr int DEF_MAX_LINE = 500;

// One data processor, as DATPROC.TXT defines it and the runtime server reports it.
struct ProcessorRecord {
    char name[10];      // 1..8 characters, upper case
    char printName[26]; // at most 24 characters, upper case; the name when not given
    char prefix[2];     // channel prefix, 1 or 2 letters; empty for ALARM or without a spec
    uint16_t count;     // channels 1..62500; for ALARM the alarm queue size 2..1000
    uint8_t run;        // 1 when the processor is started
    uint8_t kind;       // 2 analogue, 3 digital, 6 for "modb..." processors
};
static_assert(sizeof(ProcessorRecord) == 42);
static_assert(offsetof(ProcessorRecord, printName) == 10);
static_assert(offsetof(ProcessorRecord, prefix) == 36);
static_assert(offsetof(ProcessorRecord, count) == 38);
static_assert(offsetof(ProcessorRecord, run) == 40);
static_assert(offsetof(ProcessorRecord, kind) == 41);

constexpr size_t DEF_LOGGER_TYPE_SIZE = 9; // a LOGCAP.TXT type name and its NUL

// A reader's state. The definition-file functions below keep one per thread; another reader
// of the same files (the configuration library's text tables) keeps its own and uses the
// def_Reader* functions.
struct DefReaderState {
    FILE *file = nullptr;
    char line[DEF_MAX_LINE + 1] = {}; // the current record, split in place into fields
    std::string record;               // the current record, whole
    int lineNumber = 0;               // lines read, comments included
    std::string path;
    std::string message; // the last parse message
};

int def_ReaderOpen(DefReaderState &state, const char *name);
int def_ReaderNextRecord(DefReaderState &state);
int def_ReaderNextFields(DefReaderState &state, char **fields, int *offsets, int max);
void def_ReaderClose(DefReaderState &state);

// Opens a file for this thread (a name without '/' or '\' is taken from the current folder;
// an open file is closed first). The number of records, or -1 with errno set.
int def_Open(const char *name);

// 1 with the next record in the reader, 0 at the end (the file is rewound and the line
// number reset), -1 without an open file.
int def_NextRecord();

// The fields of the next record (at most max), each NUL-terminated in place, with their
// offsets in the line; 0 at the end, -1 without an open file.
int def_NextFields(char **fields, int *offsets, int max);

// Closes the file and frees this thread's reader.
void def_Close();

int def_LineNumber(); // -1 without a reader
std::string def_CurrentLine();
std::string def_FileName();
std::string def_MessageText(); // "" without a reader

// Appends a text to the message; the message's new length, or -1 without a reader.
int def_SetMessage(const char *text);

// Sets the message "Can't Parse <path>\nLine <n> : **** <message> ****\n", the current line
// with the field at offset/length between '>' and '<' (the whole line for length 0), and
// "\nError : <error>\n" when the error is nonzero.
void def_ReportError(int error, const char *message, int fieldOffset, int fieldLength);

// Sends the parse messages of this thread to another reader's state (null: back to the
// definition reader's own); the previous target.
DefReaderState *def_SetReportTarget(DefReaderState *target);

// Checks a DATPROC.TXT record and fills the processor record; the records from tableStart up
// to out are checked for duplicates. 1, or -2 with the message set.
int def_ParseProcessor(const char *server, ProcessorRecord *out, char **fields, const int *offsets,
                       int fieldCount, const ProcessorRecord *tableStart);

// Checks a LOGCAP.TXT record; the type name goes lower-cased into typeName (9 bytes).
// 1, or -2 with the message set.
int def_ParseLogger(char *typeName, int fieldCount, char **fields);

// Checks the prefix and count part of a channel spec ("AI:100" of "A-AI:100"); the field at
// offset/length is marked in the message. 1, or 0 with the message set.
int def_CheckChannelSpec(const char *prefixAndCount, int count, int fieldOffset, int fieldLength);
