// Waiting for deliveries and the wait list of the notification mailslot.
#include "msl.h"
#include "msl_state.h"

#include "plat_error.h"
#include "plat_event.h"

int msl_Wait(uint32_t milliseconds) {
    int list[PLAT_WAIT_MAX];
    int count;
    {
        std::lock_guard<std::mutex> lock(g_msl.listMutex);
        count = g_msl.waitCount;
        for (int i = 0; i < count; ++i)
            list[i] = g_msl.waitList[i];
    }
    bool open = g_msl.active.load();
    if (open) {
        // Reset before the release: a code that was held back now counts as arrived.
        plat_EventReset(g_msl.arrived);
        msl_HoldDelivery(0);
    }
    if (count == 0) {
        if (milliseconds != 0) plat_SleepMs(milliseconds);
        return 0;
    }
    plat_WaitAny(list, count, milliseconds);
    if (open && g_msl.active.load()) plat_EventReset(g_msl.arrived);
    return 0;
}

int msl_Sleep(uint32_t ticks) {
    return msl_Wait(ticks * 10u);
}

int msl_AddWaitHandle(int handle) {
    std::lock_guard<std::mutex> lock(g_msl.listMutex);
    if (g_msl.waitCount >= PLAT_WAIT_MAX) return -1;
    g_msl.waitList[g_msl.waitCount++] = handle;
    return 0;
}

int msl_RemoveWaitHandle(int handle) {
    std::lock_guard<std::mutex> lock(g_msl.listMutex);
    for (int i = 0; i < g_msl.waitCount; ++i) {
        if (g_msl.waitList[i] == handle) {
            for (int j = i + 1; j < g_msl.waitCount; ++j)
                g_msl.waitList[j - 1] = g_msl.waitList[j];
            --g_msl.waitCount;
            return 0;
        }
    }
    return -1;
}

void msl_EnableMessagePump() {
    g_msl.messagePump.store(true);
}
