// The endpoints of the alarm process ("xalarms") and the derived-value process ("derived").
//
// Both processes may start after this one or restart while it runs, so an endpoint is kept
// only while it works: a failed open is tried again at the next message, and a failed write
// closes it so that the next message opens it afresh.
#include "alm_state.h"

#include "dm.h"
#include "msl.h"

#include <cerrno>

namespace {
int g_alarm = -1;
int g_derived = -1;
bool g_derivedTried = false; // the patient first open was made

bool processEnabled(const char *name) {
    DataProcessEntry *entry = dm_FindDataProcess(name);
    return entry != nullptr && entry->enabled != 0;
}

void closeHandle(int *handle) {
    if (*handle >= 0) msl_CloseEndpoint(*handle);
    *handle = -1;
}
} // namespace

int alm_WriteAlarm(const AlarmMessage &message, bool closeAfter) {
    if (g_alarm < 0) {
        if (!processEnabled("ALARM")) return 0;
        g_alarm = msl_OpenEndpoint("xalarms");
        if (g_alarm < 0) return 0; // nobody listens yet: the message is dropped
    }
    int length = static_cast<int>(sizeof message);
    int written = msl_WriteAll(g_alarm, &message, length);
    int result = 0;
    if (written != length) {
        int e = errno;
        closeHandle(&g_alarm);
        errno = e;
        result = -1;
    }
    if (closeAfter) closeHandle(&g_alarm);
    return result;
}

void alm_WriteDerived(const char id[2]) {
    if (g_derived < 0) {
        if (!processEnabled("DERIVED")) return;
        // The first open waits up to a second for a derived-value process that is starting;
        // later ones try once, so a missing process never slows every pass.
        int attempts = g_derivedTried ? 1 : 10;
        g_derivedTried = true;
        for (int i = 0; i < attempts && g_derived < 0; ++i) {
            if (i > 0) msl_Sleep(10);
            g_derived = msl_OpenEndpoint("derived");
        }
        if (g_derived < 0) return;
    }
    if (msl_WriteAll(g_derived, id, 2) != 2) closeHandle(&g_derived);
}

void alm_CloseEndpoints() {
    closeHandle(&g_alarm);
    closeHandle(&g_derived);
    g_derivedTried = false;
}
