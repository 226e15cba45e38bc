// The port text of a device, "<port> <baud>", from the DeviceConfig copy in its DeviceSlot.
// Also the whole of the binary-only build of the module.
#include "ex.h"

#include <cstdio>
#include <cstring>

namespace {
// Offsets in a DeviceSlot, as the runtime lays it out.
constexpr int k_slotNumber = 34;
constexpr int k_slotPort = 64; // DeviceConfig byte 4: the port name, 8 characters
constexpr int k_slotBaud = 72; // DeviceConfig byte 12
} // namespace

extern "C" int Ex_Get_Config_Port(void *slot, int size, char *text) {
    if (text == nullptr || size <= 0) return 0;
    const unsigned char *s = static_cast<const unsigned char *>(slot);
    char port[9] = {};
    memcpy(port, s + k_slotPort, 8);
    uint16_t number;
    memcpy(&number, s + k_slotNumber, sizeof number);
    uint32_t baud;
    memcpy(&baud, s + k_slotBaud, sizeof baud);
    char name[16];
    if (port[0] == '\0')
        snprintf(name, sizeof name, "COM%d", number);
    else
        snprintf(name, sizeof name, "%s", port);
    snprintf(text, static_cast<size_t>(size), "%s %u", name, baud != 0 ? baud : 9600u);
    return 0;
}
