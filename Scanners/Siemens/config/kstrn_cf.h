// What a host of KSTRN_CF.so sees: the records the exports take, the host services that stand
// in for the host application object, and the types of the exports for dlsym.
//
// Hosts include this header alone; it brings no library with it.
#pragma once

#include "plat_dialog.h"
#include "plat_printer.h"

#include <cstddef>
#include <cstdint>

struct ChannelRecord;

// The device's configuration record: int32 scan rate (ms) at 0, the S5 port settings at 4.
constexpr int DEVICE_CONFIG_SIZE = 704;
struct DeviceConfig {
    uint8_t bytes[DEVICE_CONFIG_SIZE];
};
static_assert(sizeof(DeviceConfig) == DEVICE_CONFIG_SIZE);
constexpr int DEVICE_CONFIG_SCAN_RATE = 0;
constexpr int DEVICE_CONFIG_PORT_SETTINGS = 4;

// The host's device record: the DeviceConfig at 220, so the port settings at 224.
constexpr int HOST_DEVICE_RECORD_SIZE = 924;
constexpr int HOST_DEVICE_CONFIG = 220;
constexpr int HOST_DEVICE_PORT_SETTINGS = HOST_DEVICE_CONFIG + DEVICE_CONFIG_PORT_SETTINGS;

// The host's device entry (70 bytes): port number, device name, device folder, and for kinds
// 0 to 4 a 2-character kind id (empty: no channels of the kind) and the channel count.
constexpr int HOST_ENTRY_SIZE = 70;
constexpr int HOST_ENTRY_PORT_NUMBER = 10; // uint16
constexpr int HOST_ENTRY_NAME = 12;        // bytes 12 to 36
constexpr int HOST_ENTRY_NAME_SIZE = 25;
constexpr int HOST_ENTRY_FOLDER = 37; // bytes 37 to 49
constexpr int HOST_ENTRY_FOLDER_SIZE = 13;
constexpr int HOST_ENTRY_KINDS = 50; // + 4 x kind: id (2 bytes), uint16 count
constexpr int HOST_ENTRY_KIND_COUNT = 5;

// The host's services, handed over once after loading. Entries the host leaves null (or that
// lie beyond its size) keep the defaults.
struct KstrnHostServices {
    uint32_t size;                             // sizeof(KstrnHostServices) as the host knows it
    void *host;                                // handed back to every callback
    uint16_t (*defaultPortNumber)(void *host); // read at each advanced dialog
    int (*runModal)(void *host, DialogView *dialog); // the modal driver
    int (*messageBox)(void *host, const char *text, const char *title,
                      unsigned style); // IDOK, IDYES or IDNO; title null
    void (*showHelp)(void *host, const char *helpFile, const char *topic);
    void (*waitCursor)(void *host, int on);
};

// The exports, as a host resolves them.
extern "C" {
typedef void (*DLL_SetHostServices_t)(const KstrnHostServices *services);
typedef void (*DLL_ConfigAdvanDevSpecific_t)(void *parent, uint8_t *deviceRecord, int *changed);
typedef void (*DLL_ConfigChanDevSpecific_t)(void *parent, void *unused1, int kind, void *unused2,
                                            ChannelRecord *record, int *changed);
typedef void (*DLL_PasteChannel_t)(void *unused1, void *unused2, int newKind, void *unused3,
                                   ChannelRecord *destination, ChannelRecord *source, int *done);
typedef int (*PrintAllConfig_t)(PrinterDC *dc, const char *server, const uint8_t *entry, int status,
                                int autosave, int byTag, int saveRate, const DeviceConfig *config,
                                ChannelRecord *const *tables);
typedef int (*PrintConfig_t)(PrinterDC *dc, const char *server, const uint8_t *entry, int kind,
                             int first, int last, const DeviceConfig *config, ChannelRecord *table);
}
