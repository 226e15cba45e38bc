// A device's configuration, channels and logger configurations from the current configuration
// of a server. A local spec or a pipe server (kind 1) is read in the configuration folder with
// the loaders of the configuration library; the other kinds are asked with one request (IF, GF,
// CF) and, when the server refuses it, served piece by piece with the remote file requests.
//
// Functions return 0 (or the server's result for CF), or -1 with errno and the last error. A
// refusal with 1465 is final and leaves the server's text in the XML error state; any other
// failure or a reply of the wrong length takes the fallback. A short piece fails with 38.
#pragma once

#include <cstdint>

struct ChannelRecord;

// Channels first .. first + count - 1 (0-based) of the kind into records[0 .. count - 1].
int rfile_ReadChannels(const char *server, const char *folder, int kind, ChannelRecord *records,
                       int first, int count);
// The same plus extraLength bytes of the channels' extra block from the extra file.
int rfile_ReadChannelsEx(const char *server, const char *folder, int kind, ChannelRecord *records,
                         int first, int count, void *extra, int extraLength, const char *extraFile);

// The DeviceConfig (size bytes, from "config" byte 1 on). Outputs may be null (not wanted).
int rfile_ReadDeviceConfig(const char *server, const char *folder, void *buffer, int size);
int rfile_ReadDeviceConfigEx(const char *server, const char *folder, void *buffer, int size,
                             void *extra, int extraSize, const char *extraFile, uint8_t *autoEnable,
                             uint8_t *saveOutputs, uint8_t *saveByTag, int32_t *saveRate);
// "saveconfig" (6 bytes) and the auto-enable byte of "config".
int rfile_ReadDeviceSaveSettings(const char *server, const char *folder, uint8_t *saveOutputs,
                                 uint8_t *saveByTag, int32_t *saveRate);
int rfile_ReadDeviceAutoEnable(const char *server, const char *folder, uint8_t *autoEnable);
int rfile_WriteDeviceSaveSettings(const char *server, const char *folder, uint8_t saveOutputs,
                                  uint8_t saveByTag, int32_t saveRate);
int rfile_WriteDeviceAutoEnable(const char *server, const char *folder, uint8_t autoEnable);

// Logger kind and number name the file "<kind>_<number>" in the LOGGERS folder.
int rfile_ReadLoggerConfig(const char *server, const char *kind, int number, void *buffer,
                           int size);
// user null: the logged-on user.
int rfile_WriteLoggerConfig(const char *server, const char *kind, int number, const void *buffer,
                            int size, const char *user);

// The local logger file reader and writer (the logger services install them; without them the
// local logger path fails with 50).
using RfileLoggerRead = int (*)(const char *folder, const char *kind, int number, void *buffer,
                                int size);
using RfileLoggerWrite = int (*)(const char *folder, const char *user, const char *kind, int number,
                                 const void *record, int size);
void rfile_SetLoggerFileHooks(RfileLoggerRead read, RfileLoggerWrite write);
