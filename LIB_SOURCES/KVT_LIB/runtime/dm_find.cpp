#include "dm_state.h"

#include "plat_error.h"
#include "util.h"

#include <cerrno>
#include <cstring>

namespace {
// The caller's text is never written: a literal may be passed.
void copyFirst8(const char *name, char out[9]) {
    memset(out, 0, 9);
    if (name != nullptr) strncpy(out, name, 8);
}
} // namespace

DeviceSlot *dm_FindDevice(const char *typeName, int number) {
    std::lock_guard<std::recursive_mutex> guard(dm_Lock());
    if (dm_MapDeviceTable() != 0) return nullptr;
    char name[9];
    copyFirst8(typeName, name);
    util_LowerN(name, 8);
    uint16_t wanted = static_cast<uint16_t>(number & 0xFFFF);
    int count = dm_DeviceCount();
    for (int i = 0; i < count; ++i) {
        DeviceSlot *slot = dm_GetDeviceSlot(i);
        if (util_StrNICmp(name, slot->typeName, 5) == 0 && slot->deviceNumber == wanted)
            return slot;
    }
    return nullptr;
}

DataProcessEntry *dm_FindDataProcess(const char *name) {
    std::lock_guard<std::recursive_mutex> guard(dm_Lock());
    if (dm_MapDataProcessTable() != 0) return nullptr;
    char wanted[9];
    copyFirst8(name, wanted);
    util_UpperN(wanted, 8);
    int count = dm_DataProcessCount();
    DataProcessEntry *partial = nullptr;
    for (int i = 0; i < count; ++i) {
        DataProcessEntry *e = dm_GetDataProcess(i);
        if (util_StrNICmp(wanted, e->name, sizeof e->name) == 0) return e;
        if (partial == nullptr && util_StrNICmp(wanted, e->name, 5) == 0) partial = e;
    }
    return partial;
}

int dm_FindLogger(const char *name) {
    std::lock_guard<std::recursive_mutex> guard(dm_Lock());
    if (name != nullptr && dm_MapLoggerTable() == 0) {
        int count = dm_LoggerCount();
        for (int i = 0; i < count; ++i) {
            LoggerEntry *e = dm_GetLogger(i);
            size_t length = strnlen(e->name, sizeof e->name);
            if (strlen(name) == length && util_StrNICmp(name, e->name, length) == 0) return i + 1;
        }
    }
    errno = 0;
    return 0;
}
