// Posting notification codes to a process's mailslot.
#include "msl.h"

#include "env.h"
#include "plat_error.h"
#include "plat_mailslot.h"
#include "plat_system.h"

#include <cstdio>
#include <cstring>

namespace {
const char k_mailslotPrefix[] = "\\\\.\\mailslot\\";
}

std::string msl_ProcessSlotName(uint32_t pid) {
    char name[32];
    if (env_GetOsPlatformId() == 1)
        snprintf(name, sizeof name, "process\\%X", pid);
    else
        snprintf(name, sizeof name, "dm_%u.slt", pid);
    return name;
}

std::string msl_EndpointPath(const char *name) {
    return std::string(k_mailslotPrefix) + name;
}

int msl_OpenEndpoint(const char *name) {
    // Callers may pass the full Windows path; the socket is named after the mailslot name.
    size_t prefix = strlen(k_mailslotPrefix);
    if (strncmp(name, k_mailslotPrefix, prefix) == 0) name += prefix;
    return plat_MailslotConnect(name);
}

int msl_WriteAll(int handle, const void *buffer, int length) {
    return plat_MailslotSend(handle, buffer, length);
}

void msl_CloseEndpoint(int handle) {
    plat_MailslotDisconnect(handle);
}

int msl_PostCode(uint32_t pid, int32_t code) {
    if (pid == plat_ProcessId()) {
        msl_Deliver(code);
        return 0;
    }
    std::string name = msl_ProcessSlotName(pid);
    int handle = msl_OpenEndpoint(name.c_str());
    if (handle < 0) return -1;
    int written = msl_WriteAll(handle, &code, sizeof code);
    int e = errno;
    msl_CloseEndpoint(handle);
    if (written != static_cast<int>(sizeof code)) return plat_Fail(static_cast<uint32_t>(e));
    return 0;
}
