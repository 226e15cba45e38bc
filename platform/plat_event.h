// Manual-reset events on eventfd, and a wait for any of several of them.
//
// An event stays signalled until it is reset, like a Windows manual-reset event; waiting never
// consumes the signal. A handle is the eventfd descriptor, so it can also be given to poll.
#pragma once

#include <cstdint>

// Result of plat_WaitAny when the time passed without a signal.
constexpr int PLAT_WAIT_TIMEOUT = 258;

// Most handles one wait takes (as WaitForMultipleObjects in the system's use).
constexpr int PLAT_WAIT_MAX = 10;

// A new event, signalled or not. Returns the handle, or -1 with errno.
int plat_EventCreate(bool signalled);
int plat_EventSet(int event);
int plat_EventReset(int event);
bool plat_EventIsSet(int event);
void plat_EventDestroy(int event);

// Waits until any of the count events is signalled: returns its index (the lowest when several
// are), PLAT_WAIT_TIMEOUT when milliseconds passed first (0 = wait without limit), or -1 with
// errno 87 for a bad count or handle. The time is measured on the monotonic clock.
int plat_WaitAny(const int *events, int count, uint32_t milliseconds);

// Sleeps the given time on the monotonic clock.
void plat_SleepMs(uint32_t milliseconds);

// Test hook: while set, plat_SleepMs hands its time to the hook and returns at once, so that a
// test of a timed pause records it instead of waiting. Null restores real sleeping; returns
// the hook it replaces.
using PlatSleepHook = void (*)(uint32_t milliseconds);
PlatSleepHook plat_SetSleepHook(PlatSleepHook hook);
