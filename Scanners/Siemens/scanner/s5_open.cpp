// Opening the device from the port settings of its configuration. Settings left zero take
// the link's defaults, and those are written back so that the runtime shows what is in use.
#include "s5.h"

#include "dbg.h"
#include "dm.h"
#include "link.h"
#include "plat_error.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int SETTINGS_OFFSET = 4; // inside the DeviceConfig
constexpr int DATA_FORMATS = 9;

struct DataFormat {
    uint8_t byteSize; // 0: leave the port's
    uint8_t parityCheck;
    uint8_t stopBits; // 0 one, 2 two
};
constexpr DataFormat DATA_FORMAT_TABLE[DATA_FORMATS] = {
    {7, 1, 2}, {8, 1, 0}, {8, 0, 2}, {7, 0, 2}, {7, 1, 0},
    {8, 0, 0}, {0, 0, 0}, {7, 1, 2}, {8, 1, 0},
};
// Stop-bits code that the serial layer leaves as the port has it.
constexpr uint8_t STOP_BITS_UNCHANGED = 0xFF;

void Trace(const std::string &text) {
    dbg_WriteTrace((text + "\n").c_str());
}

// The name field holds up to 8 characters, terminated only when shorter.
std::string PortName(const S5PortSettings &settings) {
    return std::string(settings.port_name, strnlen(settings.port_name, sizeof settings.port_name));
}

void SetPortName(S5PortSettings *settings, unsigned deviceNumber) {
    char text[16];
    int n = std::snprintf(text, sizeof text, "COM%u", deviceNumber);
    std::memset(settings->port_name, 0, sizeof settings->port_name);
    std::memcpy(settings->port_name, text,
                n < static_cast<int>(sizeof settings->port_name) ? n : sizeof settings->port_name);
}

LinkLineSettings LineSettings(const S5PortSettings &settings) {
    LinkLineSettings line;
    line.baud = settings.baud_rate;
    line.parity = settings.parity; // above 4 the port keeps its parity
    if (settings.parity > 4)
        Trace("parity " + std::to_string(settings.parity) + " unknown: port parity kept");
    if (settings.data_format < DATA_FORMATS) {
        const DataFormat &row = DATA_FORMAT_TABLE[settings.data_format];
        line.byte_size = row.byteSize;
        line.parity_check = row.parityCheck;
        line.stop_bits = row.stopBits;
        if (row.byteSize == 0) Trace("data format 6: port byte size kept");
    } else {
        line.byte_size = 0;
        line.parity_check = 0;
        line.stop_bits = STOP_BITS_UNCHANGED;
        Trace("data format " + std::to_string(settings.data_format) +
              " unknown: port byte size and stop bits kept");
    }
    return line;
}

// A nonzero setting becomes the link's; a zero one shows the link's default.
template <typename Field>
void TakeTiming(Field *setting, int32_t *link) {
    if (*setting != 0)
        *link = *setting;
    else
        *setting = static_cast<Field>(*link);
}

} // namespace

int s5_OpenDevice(DeviceSlot *slot) {
    uint8_t *config = slot->deviceConfig + SETTINGS_OFFSET;
    S5PortSettings settings;
    std::memcpy(&settings, config, sizeof settings);

    if (settings.port_name[0] == '\0') {
        SetPortName(&settings, slot->deviceNumber);
        if (settings.baud_rate == 0) {
            settings.baud_rate = 9600;
            settings.parity = 2;
            settings.protocol_mode = 1;
            settings.data_format = 1;
        }
    }
    if (settings.baud_rate == 0) settings.baud_rate = 9600;

    std::string name = PortName(settings);
    LinkLineSettings line = LineSettings(settings);
    if (!link_OpenPort(name.c_str(), line)) {
        std::memcpy(config, &settings, sizeof settings);
        return plat_Fail(plat_GetLastError());
    }
    link_SetBccMode(settings.protocol_mode);

    LinkSettings &link = link_Settings();
    TakeTiming(&settings.char_delay_ms, &link.char_delay);
    TakeTiming(&settings.ack_timeout_ms, &link.ack_timeout);
    TakeTiming(&settings.block_wait_ms, &link.block_wait);
    TakeTiming(&settings.retries, &link.retries);
    link.priority = settings.priority;

    std::memcpy(config, &settings, sizeof settings);
    return 0;
}

int s5_CloseDevice() {
    link_ClosePort();
    return 0;
}

int s5_DeviceInitHook(DeviceSlot *) {
    return 0;
}

int s5_ResetCountersHook(void *, int, void *) {
    return 0;
}
