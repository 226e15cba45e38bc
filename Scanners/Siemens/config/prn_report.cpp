// The device part of the report: header, scan rate and communication settings.
#include "prn.h"

#include "chrec.h"
#include "fmt.h"
#include "rfile_config.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// A page that could not be started or ended fails the report, not only its line.
bool g_failed = false;

int Print(const std::string &text) {
    int rc = prn_PrintLine(text.c_str());
    if (rc < 0) g_failed = true;
    return rc;
}

const char *YesNo(int value) {
    return value != 0 ? "Y" : "N";
}

// A text field of the host's entry, terminated or not within its bytes.
std::string EntryText(const uint8_t *entry, int offset, int size) {
    const char *p = reinterpret_cast<const char *>(entry + offset);
    return std::string(p, strnlen(p, static_cast<size_t>(size)));
}

} // namespace

std::string prn_Format(const char *format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string prn_FormatFloat(float value) {
    char buffer[64];
    for (int decimals = 6; decimals >= 0; --decimals) {
        snprintf(buffer, sizeof buffer, "%8.*f", decimals, static_cast<double>(value));
        if (strlen(buffer) <= 8) return buffer;
    }
    return std::string(buffer, 8);
}

std::string prn_FormatMinSecMs(int32_t milliseconds) {
    MinutesSeconds split;
    fmt_SplitMilliseconds(&split, milliseconds);
    int minutes = split.minutes > 99 ? 99 : split.minutes;
    return prn_Format("%02d(min) %02d(sec) %03d(ms)", minutes, split.seconds, split.milliseconds);
}

int prn_PrintDeviceHeader(const char *title, const char *server, const char *deviceName, int status,
                          int autosave, int byTag, int saveRate) {
    Print(prn_Format("        SERVER NAME    [%s]\n", server != nullptr ? server : ""));
    Print(prn_Format("        %-14s [%s]\n", prn_Format("%s NAME", title).c_str(), deviceName));
    Print(prn_Format("        STATUS         [%s]\n", status != 0 ? "ENABLED " : "DISABLED"));
    Print(prn_Format("        AUTOSAVE       [%s]", YesNo(autosave)));
    if (autosave != 0)
        Print(prn_Format("                    BY TAG  [%s]       SAVE RATE %s", YesNo(byTag),
                         prn_FormatMinSecMs(saveRate).c_str()));
    Print("\n\n\n");
    return 0;
}

int prn_PrintCommSettings(const char *, const uint8_t *entry, const DeviceConfig *config) {
    S5PortSettings s;
    std::memcpy(&s, config->bytes + DEVICE_CONFIG_PORT_SETTINGS, sizeof s);
    std::string port(s.port_name, strnlen(s.port_name, sizeof s.port_name));
    if (port.empty()) {
        uint16_t number;
        std::memcpy(&number, entry + HOST_ENTRY_PORT_NUMBER, sizeof number);
        port = prn_Format("COM%d", number);
    }
    int baud = s.baud_rate == 0 ? 9600 : static_cast<int>(s.baud_rate);
    static const char *const parities[] = {"NONE", "ODD", "EVEN", "MARK", "SPACE"};
    std::string parity = s.parity <= 4 ? parities[s.parity] : prn_Format("%d", s.parity);
    Print("COMMUNICATION SETTINGS:\n");
    Print(prn_Format("        PORT           [%-6.6s]            BAUD RATE [%-6d]\n", port.c_str(),
                     baud));
    Print(prn_Format("        PRIORITY                                     [%-4.4s]\n",
                     s.priority != 0 ? "HIGH" : "LOW"));
    Print(prn_Format("        PARITY                                       %-4.4s\n",
                     parity.c_str()));
    Print(
        prn_Format("        PROTOCOL MODE                                %-3d\n", s.protocol_mode));
    Print(prn_Format("        DATA FORMAT                                  %-3d\n", s.data_format));
    Print(prn_Format("        NUMBER OF RETRIES                            %-3d\n\n", s.retries));
    Print("TIMEOUTS:\n");
    Print(
        prn_Format("        CHARACTER DELAY TIMEOUT                      %-4d\n", s.char_delay_ms));
    Print(prn_Format("        TIMEOUT (SEC)                                %-6d\n",
                     s.ack_timeout_ms));
    Print(prn_Format("        BLOCK WAIT TIME                              %-6d\n\n",
                     s.block_wait_ms));
    Print("OUTPUT SCAN OPTIONS:\n");
    Print(prn_Format("        READ OUTPUTS FROM DEVICE ON FIRST SCAN       [%s]\n",
                     YesNo(s.read_outputs_first)));
    Print(prn_Format("        READ OUTPUTS BACK FROM DEVICE IF NOT WRITING [%s]\n\n",
                     YesNo(s.read_back_outputs)));
    return 0;
}

int prn_PrintDeviceReport(PrinterDC *dc, const char *server, const uint8_t *entry, int status,
                          int autosave, int byTag, int saveRate, const DeviceConfig *config,
                          ChannelRecord *const *tables) {
    if (dc == nullptr || entry == nullptr || prn_Attach(dc) < 0) return -1;
    g_failed = false;
    std::string folder = EntryText(entry, HOST_ENTRY_FOLDER, HOST_ENTRY_FOLDER_SIZE);
    DeviceConfig read{};
    if (config == nullptr) {
        uint8_t autoEnable = 0, saveOutputs = 0, saveByTag = 0;
        int32_t rate = 0;
        if (rfile_ReadDeviceAutoEnable(server, folder.c_str(), &autoEnable) < 0 ||
            rfile_ReadDeviceConfig(server, folder.c_str(), read.bytes, sizeof read.bytes) < 0 ||
            rfile_ReadDeviceSaveSettings(server, folder.c_str(), &saveOutputs, &saveByTag, &rate) <
                0)
            return -1;
        status = autoEnable;
        autosave = saveOutputs;
        byTag = saveByTag;
        saveRate = rate;
        config = &read;
    }
    prn_PrintDeviceHeader("DEVICE", server,
                          EntryText(entry, HOST_ENTRY_NAME, HOST_ENTRY_NAME_SIZE).c_str(), status,
                          autosave, byTag, saveRate);
    int32_t scanRate;
    std::memcpy(&scanRate, config->bytes + DEVICE_CONFIG_SCAN_RATE, sizeof scanRate);
    Print(prn_Format("        SCAN RATE %s\n\n", prn_FormatMinSecMs(scanRate).c_str()));
    prn_PrintCommSettings(server, entry, config);
    if (g_failed) return -1;
    for (int kind = 0; kind < HOST_ENTRY_KIND_COUNT; ++kind) {
        const uint8_t *k = entry + HOST_ENTRY_KINDS + 4 * kind;
        if (k[0] == 0) continue;
        uint16_t count;
        std::memcpy(&count, k + 2, sizeof count);
        // A kind without channels has nothing to print; it does not end the device.
        if (count == 0) continue;
        const ChannelRecord *table = tables != nullptr ? tables[kind] : nullptr;
        int rc = prn_PrintChannelGroup(dc, server, entry, kind, 0, 0, config, table);
        if (rc < 0) return rc;
    }
    return 0;
}
