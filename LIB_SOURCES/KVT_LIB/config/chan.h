// Channel configuration load, save and validation.
//
// The channels of one kind of a device live in the device folder as the binary channel file
// ("ai", ...) or as channel XML ("ai.xml", ...) with its schema in the root's SCHEMA folder.
// The device part of each record and an optional extra block per channel go through the
// device's extension module. Functions return 0 (or a count), or -1 with errno: a Windows
// number from the files, or 1465 for an XML failure whose text xml_GetErrorText() gives (also
// reported to the event log). Records are handed out only when the whole read succeeded.
#pragma once

#include "chrec.h"

#include <cstdint>

struct ChannelTableHeader;

// Fills records[0 .. count - 1] with channels first .. first + count - 1. The XML form is read
// when the module exports Ex_DoXml, ReadXML is on and "<kind>.xml" exists. extra (extraSize
// bytes) receives the channels' extra blocks one after another.
int chan_ReadChannels(const char *folder, int kind, ChannelRecord *records, int first, int count,
                      void *extra, int extraSize, const char *extraFile);
int chan_LoadChannels(int kind, ChannelRecord *records, int first, int count);

// Writes channels first .. first + count - 1 as the switches say (binary, XML or both), with
// the change history. update 1 changes an existing XML file in place, 0 builds it afresh. A
// save that a check refuses (a field whose text would not read back, a channel its reader
// would refuse, a file that cannot be written) fails before any file changes, with no history.
int chan_WriteChannelFiles(const char *user, const char *folder, int kind,
                           const ChannelRecord *records, int first, int count, const void *extra,
                           int extraSize, const char *extraFile, int update);
int chan_WriteChannels(const char *user, const char *folder, int kind, const ChannelRecord *records,
                       int first, int count, const void *extra, int extraSize,
                       const char *extraFile);
int chan_RewriteChannels(const char *user, const char *folder, int kind,
                         const ChannelRecord *records, int first, int count, const void *extra,
                         int extraSize, const char *extraFile);
int chan_SaveChannels(int kind, const ChannelRecord *records, int first, int count);

// The XML step of the writer.
int chan_WriteChannelsXml(const char *folder, int kind, const ChannelRecord *records, int first,
                          int count, const void *extra, int extraSize, int update);

// Reloads the kind's "_conf" segment from the channel file of the current directory when the
// file's time differs from the stamp in the table header: the bytes loaded, 0 when unchanged,
// -1 with errno (67 when the segment cannot hold the header's channels). The segment and the
// stamp change only after a complete read.
int chan_ReloadIfChanged(int kind, ChannelTableHeader *header);
// The same, also reloading the extra file into extra when all three extra arguments are given.
int chan_ReloadIfChangedExtra(int kind, ChannelTableHeader *header, void *extra, int extraSize,
                              const char *extraFile);

// Checks that the fields a record needs were read (names: ",Enable,Tag,...,"). 0, or -1 with
// the XML error "<field> Required" (or the event-limit message).
int chan_ValidateCommon(const char *names, const ChannelRecord *record);
// 1 when the field was read; otherwise sets "<field> Required" and returns 0.
int chan_CheckRequired(const char *names, const char *field);
// Ex_ValidateChanWithConfig of the current directory's device (0 without it); a refusal is
// reported like a read failure.
int chan_ValidateWithConfig(intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e, intptr_t f,
                            intptr_t g);
