// Text tables of the configuration library: the comma-separated files of the configuration
// root (DATPROC.TXT) read with a reader of their own, one per thread, so that reading one while
// a definition file is open on the same thread disturbs neither its position nor its messages.
#pragma once

#include "def.h"

#include <string>

// Opens a table for this thread (a name without '/' or '\' is taken from the current folder;
// an open table is closed first). The number of records, or -1 with errno set.
int txt_Open(const char *name);

// The fields of the next record (at most max), each NUL-terminated in place, with their
// offsets in the line; 0 at the end, -1 without an open table.
int txt_NextLine(char **fields, int *offsets, int max);

// 1 with the next record in the reader, 0 at the end, -1 without an open table.
int txt_NextRecord();

// Closes the table and frees this thread's reader.
void txt_Close();

int txt_LineNumber(); // -1 without a table
std::string txt_MessageText();

// def_ParseProcessor over the current record of the table: its message names the table's
// file and line.
int txt_ParseProcessor(ProcessorRecord *out, char **fields, const int *offsets, int fieldCount,
                       const ProcessorRecord *tableStart);
