// Debug trace: one trace per process, created for the device, switched on and off through
// the registry while the process runs.
#pragma once

// Replaces any trace of this process by one for the device name.
void dbg_CreateTrace(const char *deviceName);
void dbg_DeleteTrace();

// Writes the text through the trace when there is one; nothing otherwise.
void dbg_WriteTrace(const char *text);

// Writes each byte as "0x%02x ".
void dbg_HexDump(const void *bytes, int length);
