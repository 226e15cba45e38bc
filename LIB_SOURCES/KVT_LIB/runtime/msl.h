// Notification mailslot: every runtime process owns one, other processes (and the process
// itself) post 4-byte notification codes into it, a listener thread hands each code to the
// process's callback, and the main thread waits for deliveries or holds them while it
// inspects what the callback changed.
#pragma once

#include <cstdint>
#include <string>

// Codes posted through the mailslots.
enum : int32_t {
    NC_STOP = 31,
    NC_DATA_CHANGED = 32,
    NC_SCAN = 300,
    NC_RECONFIGURE = 302,
    NC_RESET_COUNTERS = 303,
    NC_INITIALISE_VALUES = 304,
    NC_VALUES_WRITTEN = 305,
    NC_LOGGER_EVENTS = 200000,
};
// Logger code base when significant changes were counted (negative as int32).
constexpr int32_t NC_LOGGER_CHANGES = static_cast<int32_t>(0x80030D40u);

typedef void (*msl_Callback)(int code);

// Creates the own mailslot, the events and the listener thread on the first call and returns
// the previous callback (0, with errno 0). Later calls only swap the callback. 0 with errno set
// on failure.
msl_Callback msl_Open(msl_Callback callback);

// Stops and joins the listener, then releases mailslot, events and gate. A later msl_Open
// starts afresh.
void msl_Close();

// 1: deliveries wait (after a callback that runs has finished); 0: they may go on.
// -1 when the mailslot is not open.
int msl_HoldDelivery(int hold);

// Allows deliveries and waits until a code has been delivered after the start, or another
// handle of the wait list is signalled, or milliseconds passed (0 = no limit).
int msl_Wait(uint32_t milliseconds);

// msl_Wait (n x 10 ms); 0 waits without limit.
int msl_Sleep(uint32_t ticks);

// The wait list holds 10 handles, entry 0 being the own arrived event.
int msl_AddWaitHandle(int handle);
int msl_RemoveWaitHandle(int handle);

// Kept for the callers that pump window messages; there are none to pump here.
void msl_EnableMessagePump();

int msl_LastCode();
void msl_ClearLastCode();

// Holds deliveries without waiting for a callback that is running.
void msl_ResetReady();

// Posts a code to a process. To the own process the code is delivered directly in the
// calling thread (which must not hold deliveries itself).
int msl_PostCode(uint32_t pid, int32_t code);

// Runs the callback for one code, in the hold/deliver order.
void msl_Deliver(int code);

// The own mailslot name of a process: "dm_%u.slt", or "process\%X" on platform id 1.
std::string msl_ProcessSlotName(uint32_t pid);

// "\\.\mailslot\" + name.
std::string msl_EndpointPath(const char *name);

// Opens a mailslot by name (or by its full path) for writing: a handle, or -1 with errno.
int msl_OpenEndpoint(const char *name);

// Writes the whole buffer as one message: length, or -1 with errno.
int msl_WriteAll(int handle, const void *buffer, int length);

void msl_CloseEndpoint(int handle);
