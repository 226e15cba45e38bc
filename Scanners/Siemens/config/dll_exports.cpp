// The bodies of the module's exports.
#include "dll.h"

#include "advanced.h"
#include "channel.h"
#include "chrec.h"
#include "plat_dialog.h"
#include "plat_prompt.h"
#include "prn.h"

void dll_ConfigAdvanDevSpecific(uint8_t *deviceRecord, int *changed) {
    if (deviceRecord == nullptr || changed == nullptr) return;
    PlatResourceScope resources(dll_ResourceModule());
    CAdvanced dialog(nullptr, dll_DefaultPortNumber(),
                     reinterpret_cast<S5PortSettings *>(deviceRecord + HOST_DEVICE_PORT_SETTINGS),
                     changed);
    dialog.DoModal();
}

void dll_ConfigChanDevSpecific(int kind, ChannelRecord *record, int *changed) {
    if (record == nullptr || changed == nullptr) return;
    PlatResourceScope resources(dll_ResourceModule());
    CChannel dialog(nullptr, nullptr, kind, nullptr, record, changed);
    dialog.DoModal();
}

int dll_PrintAllConfig(PrinterDC *dc, const char *server, const uint8_t *entry, int status,
                       int autosave, int byTag, int saveRate, const DeviceConfig *config,
                       ChannelRecord *const *tables) {
    if (dc == nullptr || entry == nullptr) return -1;
    PlatWaitCursorScope wait;
    return prn_PrintDeviceReport(dc, server, entry, status, autosave, byTag, saveRate, config,
                                 tables);
}

int dll_PrintConfig(PrinterDC *dc, const char *server, const uint8_t *entry, int kind, int first,
                    int last, const DeviceConfig *config, const ChannelRecord *table) {
    if (dc == nullptr || entry == nullptr) return -1;
    PlatWaitCursorScope wait;
    return prn_PrintChannelGroup(dc, server, entry, kind, first, last, config, table);
}
