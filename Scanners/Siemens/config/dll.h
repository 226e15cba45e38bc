// The configuration module's own set-up and the bodies of its exports.
//
// The module KSTRN_CF.so is a thin shell over these: its constructor calls dll_WireServices
// and each export calls its dll_ twin, so that tests run the same code in-process.
#pragma once

#include "kstrn_cf.h"

#include <cstdint>
#include <string>

// The one place that wires the logger services into the server connections: the server kinds,
// the logger-file hooks of the configuration file access, the host-service defaults and the
// help path. Repeating it is harmless.
void dll_WireServices();

// The help file beside the module: a final "_CF" with its extension (".so" or ".dll", any
// case) is replaced by "_Guide.chm"; any other name loses only its extension.
std::string dll_HelpPathFor(const std::string &modulePath);
// The help path of the module holding this code, as dll_WireServices set it.
std::string dll_GetHelpFilePath();
const char *dll_HelpFile();

// The value that stands for this module's resources.
void *dll_ResourceModule();

// Host services (null: the defaults). The message box and the Yes/No prompt of this module's
// platform layer both reach the host's messageBox.
void dll_SetHostServices(const KstrnHostServices *services);
uint16_t dll_DefaultPortNumber();

// Export bodies. A null record, flag or device context does nothing (the prints return -1).
void dll_ConfigAdvanDevSpecific(uint8_t *deviceRecord, int *changed);
void dll_ConfigChanDevSpecific(int kind, ChannelRecord *record, int *changed);
void dll_PasteChannel(int newKind, ChannelRecord *destination, const ChannelRecord *source,
                      int *done);
int dll_PrintAllConfig(PrinterDC *dc, const char *server, const uint8_t *entry, int status,
                       int autosave, int byTag, int saveRate, const DeviceConfig *config,
                       ChannelRecord *const *tables);
int dll_PrintConfig(PrinterDC *dc, const char *server, const uint8_t *entry, int kind, int first,
                    int last, const DeviceConfig *config, const ChannelRecord *table);
