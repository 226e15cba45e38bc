// Device configuration load and save, the extension module of a device folder, the XML and
// history switches and the change history.
//
// A device folder holds the device's DeviceConfig record, its save settings and an optional
// extra block that the device's extension module defines, either as the binary files "config"
// (byte 0 AutoEnable, then the record), "saveconfig" (SaveOutputs, SaveByTag, int32 SaveRate)
// and the extra file, or as "config.xml" with its schema in the SCHEMA folder of the
// configuration root. Functions return 0, or -1 with errno: a Windows number from the files,
// or 1465 for an XML failure whose text xml_GetErrorText() gives (also reported to the event
// log). Outputs are written only when the whole read succeeded.
#pragma once

#include <cstdint>
#include <string>

// Namespaces of the files written: the host, followed by "/" and the device prefix (device
// configuration) or "/<prefix>_<kind>" (channels).
#define CFG_NAMESPACE_HOST "http://www.tallowbrook.com"
#define CFG_XSI_NAMESPACE "http://www.w3.org/2001/XMLSchema-instance"
#define CFG_XS_NAMESPACE "http://www.w3.org/2001/XMLSchema"
#define CFG_CREATED_COMMENT "Created Automatically by Corvane."
#define CFG_DOCUMENT_PI "version='1.0' encoding='UTF-8'"
#define CFG_SCHEMA_PI "version='1.0' encoding='UTF-8' standalone='yes'"

// ---- Folders ----

// The last component of a folder path ('/' or '\').
std::string cfg_FolderName(const char *folder);
// The device prefix: the last component cut at its last underscore ("KSTRN_01" -> "KSTRN").
std::string cfg_DevicePrefix(const char *folder);
// 1 for the CURRENT_CONFIG folder, which always uses the binary files.
int cfg_IsCurrentConfig(const char *folder);
// 1 when the folder is the configuration root (KVT_CURRENT_CONFIG).
int cfg_IsConfigRoot(const char *folder);
// The folder above (".." appended when the path has no separator).
std::string cfg_ParentFolder(const char *folder);
// The current directory.
std::string cfg_CurrentFolder();

// ---- Extension module ----

// Loads the module of the folder's device: "<prefix>_ex.so" (prefix at most 5 characters;
// "calc" and "opddx" lose a trailing number), else the user module that DATPROC.TXT in the
// folder above names for a data process that is not run. Null when none loads.
void *cfg_LoadExtensionDll(const char *folder);
// 1 when the folder's module exports Ex_DoXml; the answer is kept for the last folder asked.
int cfg_HasDoXml(const char *folder);

// ---- Read ----

// Any output may be null (not read). The XML form is read when the module exports Ex_DoXml,
// the folder is not CURRENT_CONFIG, ReadXML is on and config.xml exists.
int cfg_ReadDeviceConfig(const char *folder, void *record, int size, void *extra, int extraSize,
                         const char *extraFile, uint8_t *autoEnable, uint8_t *saveOutputs,
                         uint8_t *saveByTag, int32_t *saveRate);
int cfg_LoadDeviceConfig(void *record, int size);
int cfg_LoadDeviceConfigFrom(const char *folder, void *record, int size, void *extra, int extraSize,
                             const char *extraFile);
int cfg_LoadSaveSettings(uint8_t *saveOutputs, uint8_t *saveByTag, int32_t *saveRate);

// ---- Write ----

// Any input may be null (not written). user names the history lines (null: the logged-on
// user).
int cfg_WriteDeviceConfig(const char *user, const char *folder, const void *record, int size,
                          const void *extra, int extraSize, const char *extraFile,
                          const uint8_t *autoEnable, const uint8_t *saveOutputs,
                          const uint8_t *saveByTag, const int32_t *saveRate);
int cfg_SaveDeviceConfig(const void *record, int size);
int cfg_SaveDeviceConfigTo(const char *user, const char *folder, const void *record, int size,
                           const void *extra, int extraSize, const char *extraFile);

// The XML steps of the writer: config.xml updated in place (or built), then the schema.
int cfg_WriteConfigXml(const char *folder, const void *record, int size, const void *extra,
                       int extraSize, const uint8_t *autoEnable, const uint8_t *saveOutputs,
                       const uint8_t *saveByTag, const int32_t *saveRate);

// ---- The device folder that is the current directory ----

// Its AutoEnable byte alone, read or written; the save settings alone, written.
int cfg_ReadAutoEnableInCwd(uint8_t *autoEnable);
int cfg_WriteAutoEnableInCwd(uint8_t autoEnable);
int cfg_WriteSaveSettingsInCwd(uint8_t saveOutputs, uint8_t saveByTag, int32_t saveRate);

// ---- Switches ----

// ReadXML of the folder's machine: "ON" 1, "OFF" 0, else the default (on for Lumbrel).
int cfg_GetReadXml(const char *folder);
// WriteXML: "BIN" 0, "BOTH" 1, "XML" 2, any other text 0; missing: 2 for Lumbrel, else 0.
int cfg_GetWriteXml(const char *folder);
// ExcelCompatibleXSD (DWORD, default 1).
uint32_t cfg_GetExcelCompatibleXsd(const char *folder);

// ---- Change history ----

// The history switch: byte 0 of the configuration root's record, read once per process.
int cfg_GetHistoryFlag();
void cfg_SetHistoryFlag(int value);
// Makes the next cfg_GetHistoryFlag read the root again.
void cfg_ForgetHistoryFlag();

// Opens recent_history.txt for a device folder's object (kind + 1, or 0 for the device);
// 1 when open, 0 when it cannot be opened. Stays open, with its object, until closed.
int cfg_OpenHistoryIn(const char *folder, int kindPlusOne);
int cfg_OpenHistory(int kindPlusOne); // the current directory
// One line: date, time, user, object, "<channel>." when channel > 0, field, old -> new.
void cfg_AppendHistory(const char *user, int channel, const char *field, const char *oldText,
                       const char *newText);
void cfg_CloseHistory();

// Rewrites byte 0 of the root's "config" so that its time changes; -1 with errno when it is
// missing or cannot be rewritten.
int cfg_TouchRootConfigOf(const char *folder);
int cfg_TouchRootConfig(); // the current directory
