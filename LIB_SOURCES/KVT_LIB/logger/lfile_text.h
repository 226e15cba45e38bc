// Inside the lfile module: stamp forms and the file plumbing the section functions share.
#pragma once

#include "lfile.h"

#include <string>

// How a stamp was written: its order, its fraction digits (0, 3 or 6) and its fields.
struct LfileStampForm {
    bool timeFirst = false;
    int digits = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, fraction = 0;
};

const char *lfile_ParseStampForm(const char *line, PreciseTimeStamp *stamp, LfileStampForm *form);
const char16_t *lfile_ParseStampFormW(const char16_t *line, PreciseTimeStamp *stamp,
                                      LfileStampForm *form);

// "YY/MM/DD hh:mm:ss[.fff[uuu]] " or, time first, "hh:mm:ss[.fff[uuu]] DD/MM/YY ".
std::string lfile_FormatStamp(const PreciseTimeStamp &stamp, bool timeFirst);

// Order of two stamps, seconds read unsigned: -1, 0, 1.
int lfile_CompareStamps(const PreciseTimeStamp &a, const PreciseTimeStamp &b);

// A whole text file: its bytes and whether it is UTF-16 (FF FE first).
struct LfileText {
    bool utf16 = false;
    std::string bytes;
};

// Reads a whole file (create: a missing one is made, mode 0666). 0, -1 read error, -2 open error.
int lfile_LoadText(const char *path, bool create, LfileText *text);

// The same through the server's file requests (reads in pieces of 9999 bytes). 0, -1, or -2
// when the file cannot be read.
int lfile_LoadRemoteText(const char *server, const char *path, LfileText *text);
// Writes a whole file back through the server, the first piece creating it. 0, or -1.
int lfile_SaveRemoteText(const char *server, const char *path, const std::string &bytes);

// The content as UTF-16 (ANSI widened through the Windows-1252 table), without the mark.
std::u16string lfile_TextWide(const LfileText &text);
// The content as Windows-1252 ('?' for what the table lacks).
std::string lfile_TextNarrow(const LfileText &text);
// Bytes of a UTF-16 content (with FF FE) or of an ANSI one.
std::string lfile_EncodeText(const std::u16string &content, bool utf16);

// Writes bytes to a temporary file beside path and moves it over path in one step (retried 10
// times, 100 ms apart). 0, or -1 (the temporary file removed).
int lfile_ReplaceFile(const char *path, const std::string &bytes);

// events.txt in the folder of file.
std::string lfile_EventsPath(const char *file);
