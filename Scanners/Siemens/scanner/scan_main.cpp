// Start-up of the scanner and its main loop.
#include "scan.h"

#include "dbg.h"
#include "dm.h"
#include "env.h"
#include "msl.h"
#include "plat_error.h"
#include "plat_system.h"
#include "shm.h"
#include "stch.h"
#include "syser.h"
#include "xml.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
// Ends the process before the frame is set up; the listener is stopped first so that no
// thread outlives main.
[[noreturn]] void exitAtOnce(int code) {
    msl_Close();
    exit(code);
}

} // namespace

std::string scan_TypeName(const char *program) {
    std::string name(program != nullptr ? program : "");
    size_t cut = name.find_last_of('_');
    if (cut == std::string::npos) return "";
    name.resize(cut);
    size_t sep = name.find_last_of("/\\");
    return sep == std::string::npos ? name : name.substr(sep + 1);
}

int scan_DeviceNumber(const char *text) {
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    uint32_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value * 10u + static_cast<uint32_t>(*p - '0');
    if (negative) value = 0u - value;
    return static_cast<int>(value & 0xFFFFu);
}

namespace {

std::string slotText(int offset, int width) {
    const char *text = reinterpret_cast<const char *>(g_scan.slotBytes + offset);
    return std::string(text, strnlen(text, static_cast<size_t>(width)));
}

} // namespace

void scan_ReinitialiseStatusChannels() {
    char id[3];
    if (dm_GetOwnTableId(g_scan.slot, id) == 0) stch_Init(g_scan.slot, id);
}

namespace {

void report(const char *format, int code, bool configText) {
    if (configText && plat_GetLastError() == WERR_XML_PARSE_ERROR)
        syser_Printf("%s", xml_GetErrorText());
    else
        syser_Printf(format, code);
}

void mainLoop() {
    // With a SaveRate of 0 every idle pass saves; the pass after a save sleeps, so the loop
    // never spins.
    bool justSaved = false;
    while (g_scan.running.load() != 0) {
        msl_HoldDelivery(1);
        int request = scan_TakeRequest();
        if (request == SCAN_REQUEST_NONE) {
            TimeStamp now = ts_Now();
            if (!justSaved && scan_SaveIsDue(now) != 0) {
                msl_HoldDelivery(0);
                scan_PeriodicSave(now);
                dbg_WriteTrace("outputs saved\n");
                justSaved = true;
                continue;
            }
            justSaved = false;
            // The wait releases the hold itself, after it has armed the wake-up, so a code
            // delivered in between still ends the wait.
            msl_Sleep(0);
            continue;
        }
        justSaved = false;
        msl_HoldDelivery(0);
        int result = 0;
        const char *format = nullptr;
        bool configText = false;
        switch (request) {
        case SCAN_REQUEST_RECONFIGURE:
            result = scan_ReconfigureDevice();
            format = "CAN'T RECONFIGURE DEVICE -%04d";
            configText = true;
            break;
        case SCAN_REQUEST_INITIALISE_VALUES:
            result = scan_InitialiseValues();
            format = "CAN'T INITIALISE VALUES - %04d";
            break;
        case SCAN_REQUEST_RESET_COUNTERS:
            result = scan_ResetCounters();
            format = "CAN'T RESET COUNTERS -%04d";
            break;
        default:
            result = scan_ScanDevice(0);
            format = "CAN'T SCAN DEVICE -%04d";
            break;
        }
        if (result == -1 && g_scan.running.load() != 0) {
            int error = errno;
            report(format, error & 0xFFF, configText);
            scan_InitialiseDevice(error);
        }
    }
}
} // namespace

int scan_TakeRequest() {
    if (g_scan.reconfigure.exchange(0) != 0) return SCAN_REQUEST_RECONFIGURE;
    if (g_scan.initialiseValues.exchange(0) != 0) return SCAN_REQUEST_INITIALISE_VALUES;
    if (g_scan.resetCounters.exchange(0) != 0) return SCAN_REQUEST_RESET_COUNTERS;
    if (g_scan.pendingScans.load() > 0) {
        g_scan.pendingScans.fetch_sub(1);
        return SCAN_REQUEST_SCAN;
    }
    return SCAN_REQUEST_NONE;
}

void scan_ReportConfigError(const char *format, int code) {
    report(format, code, true);
}

void scan_Main(int argc, char **argv) {
    // Best nice value only; a refusal is no reason to stop.
    plat_RaiseProcessPriority();

    // A scanner that cannot receive codes could never be scanned or stopped.
    if (msl_Open(scan_OnMessage) == nullptr && errno != 0) exit(errno);

    g_scan.typeName = scan_TypeName(argc > 0 ? argv[0] : nullptr);
    if (g_scan.typeName.empty() || argc != 2) exitAtOnce(0);
    int number = scan_DeviceNumber(argv[1]);
    if (number == 0) exitAtOnce(0);

    g_scan.slot = dm_FindDevice(g_scan.typeName.c_str(), number);
    if (g_scan.slot == nullptr) exitAtOnce(0);
    g_scan.slotBytes = reinterpret_cast<uint8_t *>(g_scan.slot);
    g_scan.deviceSegment = dm_GetDeviceSegment();
    g_scan.deviceName = slotText(SLOT_NAME, 25);
    g_scan.folder = slotText(SLOT_FOLDER, 12);
    // Registered before the first message, so that the start-up failures are shown.
    syser_Register(SYSER_KIND_SCANNER, g_scan.deviceName.c_str());

    dbg_CreateTrace(g_scan.folder.c_str());

    std::string root = env_GetFolder("KVT_CURRENT_CONFIG");
    if (root.empty()) {
        int error = errno;
        syser_Printf("CAN'T GET CONFIG DIR -%04d", error & 0xFFF);
        scan_Shutdown(error);
    }
    if (plat_ChangeDirectory(root.c_str()) != 0 ||
        plat_ChangeDirectory(g_scan.folder.c_str()) != 0) {
        int error = errno;
        syser_Printf("CAN'T ACCESS CONFIG DIR -%04d", error & 0xFFF);
        scan_Shutdown(error);
    }

    scan_ReinitialiseStatusChannels();

    scan_LockSlot();
    g_scan.slotBytes[SLOT_RUNNING] = 1;
    int32_t pid = static_cast<int32_t>(plat_ProcessId());
    memcpy(g_scan.slotBytes + SLOT_PID, &pid, sizeof pid);
    scan_UnlockSlot();

    ts_SetTimeZone();

    if (scan_LoadConfig() == -1) scan_Shutdown(errno);
    scan_LockSlot();
    g_scan.slotBytes[SLOT_CONFIGURED] = 1;
    scan_UnlockSlot();

    scan_InitialiseDevice(0);
    mainLoop();

    scan_SaveOutputs();
    scan_Shutdown(0);
}
