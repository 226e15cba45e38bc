// KSTRN_CF.so: the load-time set-up and the exports the configuration tool resolves. Everything
// else is hidden in the module, so its copy of the libraries below never meets the host's.
#include "dll.h"

#define KSTRN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
__attribute__((constructor)) void ModuleLoaded() {
    dll_WireServices();
}
} // namespace

KSTRN_EXPORT void DLL_SetHostServices(const KstrnHostServices *services) {
    dll_SetHostServices(services);
}

KSTRN_EXPORT void DLL_ConfigAdvanDevSpecific(void *, uint8_t *deviceRecord, int *changed) {
    dll_ConfigAdvanDevSpecific(deviceRecord, changed);
}

KSTRN_EXPORT void DLL_ConfigChanDevSpecific(void *, void *, int kind, void *, ChannelRecord *record,
                                            int *changed) {
    dll_ConfigChanDevSpecific(kind, record, changed);
}

KSTRN_EXPORT void DLL_PasteChannel(void *, void *, int newKind, void *, ChannelRecord *destination,
                                   ChannelRecord *source, int *done) {
    dll_PasteChannel(newKind, destination, source, done);
}

KSTRN_EXPORT int PrintAllConfig(PrinterDC *dc, const char *server, const uint8_t *entry, int status,
                                int autosave, int byTag, int saveRate, const DeviceConfig *config,
                                ChannelRecord *const *tables) {
    return dll_PrintAllConfig(dc, server, entry, status, autosave, byTag, saveRate, config, tables);
}

KSTRN_EXPORT int PrintConfig(PrinterDC *dc, const char *server, const uint8_t *entry, int kind,
                             int first, int last, const DeviceConfig *config,
                             ChannelRecord *table) {
    return dll_PrintConfig(dc, server, entry, kind, first, last, config, table);
}
