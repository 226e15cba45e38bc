// Support of the configuration module's tests: a scripted user for the dialogs, the host's
// device entry, and a device folder with its configuration and channel files.
#pragma once

#include "chfile.h"
#include "chrec.h"
#include "dll.h"
#include "plat_dialog.h"
#include "plat_prompt.h"
#include "s5types.h"
#include "tag.h"
#include "temp_registry.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

// The scripted user: runs the script on the dialog and records the message boxes shown.
class ScriptedUser {
public:
    ScriptedUser() {
        // The module's load-time set-up, as in-process hosts run it; then this host's services.
        dll_WireServices();
        KstrnHostServices s{};
        s.size = sizeof s;
        s.host = this;
        s.defaultPortNumber = [](void *h) { return static_cast<ScriptedUser *>(h)->port; };
        s.runModal = [](void *h, DialogView *d) {
            auto *u = static_cast<ScriptedUser *>(h);
            u->runs++;
            if (u->script) u->script(d);
            return 0;
        };
        s.messageBox = [](void *h, const char *text, const char *, unsigned) {
            static_cast<ScriptedUser *>(h)->messages.push_back(text);
            return static_cast<int>(PLAT_IDOK);
        };
        s.showHelp = [](void *h, const char *file, const char *topic) {
            static_cast<ScriptedUser *>(h)->help.push_back(std::string(file) + " " + topic);
        };
        s.waitCursor = [](void *h, int on) { static_cast<ScriptedUser *>(h)->waits += on ? 1 : 0; };
        dll_SetHostServices(&s);
    }
    ~ScriptedUser() { dll_SetHostServices(nullptr); }
    ScriptedUser(const ScriptedUser &) = delete;
    ScriptedUser &operator=(const ScriptedUser &) = delete;

    std::function<void(DialogView *)> script;
    std::vector<std::string> messages;
    std::vector<std::string> help;
    uint16_t port = 1;
    int runs = 0;
    int waits = 0;
};

// The host's 70-byte device entry.
inline std::vector<uint8_t> test_HostEntry(const char *name, const char *folder, uint16_t port,
                                           std::vector<std::pair<std::string, uint16_t>> kinds) {
    std::vector<uint8_t> e(HOST_ENTRY_SIZE, 0);
    std::memcpy(e.data() + HOST_ENTRY_PORT_NUMBER, &port, 2);
    std::memcpy(e.data() + HOST_ENTRY_NAME, name,
                std::min<size_t>(strlen(name), HOST_ENTRY_NAME_SIZE));
    std::memcpy(e.data() + HOST_ENTRY_FOLDER, folder,
                std::min<size_t>(strlen(folder), HOST_ENTRY_FOLDER_SIZE));
    for (size_t k = 0; k < kinds.size() && k < HOST_ENTRY_KIND_COUNT; ++k) {
        uint8_t *p = e.data() + HOST_ENTRY_KINDS + 4 * k;
        std::memcpy(p, kinds[k].first.data(), std::min<size_t>(kinds[k].first.size(), 2));
        std::memcpy(p + 2, &kinds[k].second, 2);
    }
    return e;
}

inline void test_SetFlag(ChannelRecord *r, int n, bool on = true) {
    uint32_t f;
    std::memcpy(&f, r->bytes + 28, 4);
    f = on ? (f | (1u << n)) : (f & ~(1u << n));
    std::memcpy(r->bytes + 28, &f, 4);
}

inline void test_SetFloat(ChannelRecord *r, int offset, float v) {
    std::memcpy(r->bytes + offset, &v, 4);
}

inline void test_SetAddress(ChannelRecord *r, const S5ChannelAddress &a) {
    std::memcpy(r->bytes + ((r->bytes[24] & 1) ? 192 : 188), &a, sizeof a);
}

// An analogue channel with every column filled; enabled unless told otherwise.
inline ChannelRecord test_AnalogChannel(const char *tag, int number, bool enabled = true) {
    ChannelRecord r{};
    r.bytes[24] = 0;
    tag_SetTag(&r, tag);
    tag_SetDescription(&r, ("Tank level " + std::to_string(number)).c_str());
    tag_SetUnits(&r, "m3");
    test_SetFlag(&r, 0, enabled);
    test_SetFlag(&r, 1);
    test_SetFlag(&r, 2);
    test_SetFlag(&r, 5);
    test_SetFlag(&r, 6);
    test_SetFlag(&r, 8);
    test_SetFlag(&r, 12);
    test_SetFloat(&r, 44, 90.5f);
    test_SetFloat(&r, 48, 3.14159265f);
    test_SetFloat(&r, 52, 123456.7f);
    test_SetFloat(&r, 56, 1.0f);
    test_SetFloat(&r, 60, 10.0f);
    test_SetFloat(&r, 64, 12.5f);
    test_SetFloat(&r, 68, 123456789.0f);
    test_SetFloat(&r, 180, 20.0f);
    r.bytes[72] = 3;
    r.bytes[73] = 2;
    uint16_t d = 15;
    std::memcpy(r.bytes + 186, &d, 2);
    chrec_SetText(&r, ChannelAnalog::LowAlarmText, "Level low");
    chrec_SetText(&r, ChannelAnalog::HighAlarmText, "Level high");
    test_SetAddress(
        &r, S5ChannelAddress{2, 0x40, static_cast<uint16_t>(0x0A00 + number), 0, {}, 0, 0, {}});
    return r;
}

inline ChannelRecord test_DigitalChannel(const char *tag, int number, bool enabled = true) {
    ChannelRecord r{};
    r.bytes[24] = 1;
    tag_SetTag(&r, tag);
    tag_SetDescription(&r, ("Pump " + std::to_string(number)).c_str());
    test_SetFlag(&r, 0, enabled);
    test_SetFlag(&r, 2);
    test_SetFlag(&r, 3);
    test_SetFlag(&r, 4);
    chrec_SetText(&r, ChannelDigital::HighStateText, "RUNNING");
    chrec_SetText(&r, ChannelDigital::LowStateText, "STOPPED");
    chrec_SetText(&r, ChannelDigital::AlarmText, "Pump tripped");
    r.bytes[96] = 4;
    uint16_t d = 30;
    std::memcpy(r.bytes + 190, &d, 2);
    test_SetAddress(&r,
                    S5ChannelAddress{1, 0x26, 12, static_cast<uint8_t>(number % 8), {}, 0, 0, {}});
    return r;
}

// The port settings every report test uses.
inline S5PortSettings test_PortSettings() {
    S5PortSettings s{};
    std::memcpy(s.port_name, "COM2", 4);
    s.baud_rate = 19200;
    s.parity = 2;
    s.protocol_mode = 1;
    s.data_format = 1;
    s.char_delay_ms = 220;
    s.ack_timeout_ms = 2000;
    s.block_wait_ms = 4000;
    s.priority = 1;
    s.retries = 6;
    s.read_outputs_first = 1;
    return s;
}

inline DeviceConfig test_DeviceConfig(int32_t scanRate = 61234) {
    DeviceConfig c{};
    std::memcpy(c.bytes, &scanRate, 4);
    S5PortSettings s = test_PortSettings();
    std::memcpy(c.bytes + DEVICE_CONFIG_PORT_SETTINGS, &s, sizeof s);
    return c;
}

// A device folder below root: "config", "saveconfig", and the channel files.
inline void
test_WriteDeviceFolder(const std::string &folder, const DeviceConfig &config, uint8_t autoEnable,
                       uint8_t saveOutputs, uint8_t byTag, int32_t saveRate,
                       const std::vector<std::pair<int, std::vector<ChannelRecord>>> &kinds) {
    mkdir(folder.c_str(), 0777);
    std::string c(1, static_cast<char>(autoEnable));
    c.append(reinterpret_cast<const char *>(config.bytes), sizeof config.bytes);
    std::ofstream(folder + "/config", std::ios::binary) << c;
    std::string s = {static_cast<char>(saveOutputs), static_cast<char>(byTag)};
    s.append(reinterpret_cast<const char *>(&saveRate), 4);
    std::ofstream(folder + "/saveconfig", std::ios::binary) << s;
    for (const auto &k : kinds)
        ASSERT_EQ(chfile_WriteChannels(chfile_Path(folder.c_str(), k.first).c_str(),
                                       k.second.data(), 0, static_cast<int>(k.second.size())),
                  0);
}
