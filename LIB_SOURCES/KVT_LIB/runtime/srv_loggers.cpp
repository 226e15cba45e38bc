#include "plat_error.h"
#include "plat_prompt.h"
#include "plat_registry.h"
#include "reg.h"
#include "srv_state.h"

#include <cstdio>
#include <cstring>
#include <strings.h>
#include <vector>

namespace {
// The loggers disabled for a reconfiguration; one reconfiguration at a time.
std::vector<LoggerRecord> g_loggers;

// Reads a text value under the product key: of this computer, or of a remote kind-1 server's
// registry (which cannot be reached here, so it reads as missing).
bool readSwitch(const char *spec, bool remote, const char *value, char *data, uint32_t size) {
    PlatHKey hive = PLAT_HKEY_LOCAL_MACHINE;
    PlatHKey remoteHive = 0;
    if (remote) {
        std::string machine =
            strncmp(spec, "\\\\", 2) == 0 ? std::string(spec) : std::string("\\\\") + spec;
        if (plat_RegConnectRegistry(machine.c_str(), PLAT_HKEY_LOCAL_MACHINE, &remoteHive) != 0)
            return false;
        hive = remoteHive;
    }
    uint32_t type = PLAT_REG_SZ;
    memset(data, 0, size);
    uint32_t got = size - 1;
    uint32_t error =
        reg_AccessValue(hive, REG_PRODUCT_KEY, PLAT_KEY_QUERY_VALUE, value, &type, data, &got);
    if (remoteHive != 0) plat_RegCloseKey(remoteHive);
    return error == 0;
}

bool isRemotePipe(const char *spec) {
    return !srv_IsLocal(spec) && srv_ServerKind(spec) == SRV_KIND_PIPE;
}
} // namespace

int srv_ReconfigureLoggersEnabled(const char *spec) {
    char data[5];
    if (!readSwitch(spec, isRemotePipe(spec), "ReconfigureLoggers", data, sizeof data)) return 0;
    return strncasecmp(data, "ON", 2) == 0 ? 1 : 0;
}

int srv_IsFromDesktop(const char *spec, const char *name) {
    bool local = srv_IsLocal(spec) != 0;
    if (!local && srv_ServerKind(spec) != SRV_KIND_PIPE) return 0;
    std::string value = std::string(name != nullptr ? name : "") + " From Desktop";
    char data[11];
    if (!readSwitch(spec, !local, value.c_str(), data, sizeof data)) return 0;
    return strcasecmp(data, "ON") == 0 ? 1 : 0;
}

std::string srv_LoggerKeyName(const char *name, int number) {
    return std::string("LOGGERS\\") + (name != nullptr ? name : "") + "_" + std::to_string(number);
}

int srv_DisableLoggersForReconfig(const char *spec) {
    if (!srv_ReconfigureLoggersEnabled(spec)) return 0;
    int count = srv_CountLoggers(spec);
    if (count < 0 || count > SRV_MAX_LOGGERS) {
        g_loggers.clear();
        return -1;
    }
    // Nothing configured, nothing to bracket: the reconfiguration goes ahead.
    g_loggers.clear();
    if (count == 0) return 0;
    std::vector<LoggerRecord> loggers(static_cast<size_t>(count));
    std::string selector = "*," + std::to_string(count);
    int got = srv_GetLoggers(spec, selector.c_str(), loggers.data(), count);
    if (got < 0) return -1;
    loggers.resize(static_cast<size_t>(got));
    g_loggers = loggers;
    bool anyEnabled = false;
    for (const LoggerRecord &r : g_loggers)
        anyEnabled = anyEnabled || r.enabled != 0;
    if (!anyEnabled) return 0;
    if (plat_AskYesNo("Do you wish to disable and re-enable loggers", "Reconfigure Loggers") ==
        PLAT_PROMPT_NO)
        return 0;
    for (const LoggerRecord &r : g_loggers)
        if (r.enabled != 0 && srv_DisableLogger(spec, r.name) == -1) return -1;
    return 0;
}

int srv_ReenableLoggers(const char *spec) {
    if (!srv_ReconfigureLoggersEnabled(spec) || g_loggers.empty()) return 0;
    // Every logger that was on is asked back on, even after one refuses.
    int result = 0;
    for (const LoggerRecord &r : g_loggers)
        if (r.enabled != 0 && srv_EnableLogger(spec, r.name) == -1) result = -1;
    g_loggers.clear();
    return result;
}
