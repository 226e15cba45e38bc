// The listener thread and the delivery gate of the notification mailslot.
//
// The gate is one mutex with a condition variable rather than an event plus a critical
// section: the main thread may take the hold at any moment, and with a separate ready test a
// code could slip past the hold and be delivered while the flags are inspected.
#include "msl.h"
#include "msl_state.h"

#include "plat_error.h"
#include "plat_event.h"
#include "plat_system.h"

#include <cerrno>

MslState g_msl;

namespace {
void listenerThread() {
    char buffer[PLAT_MAILSLOT_MAX_MESSAGE];
    while (g_msl.active.load()) {
        int length = plat_MailslotReceive(&g_msl.slot, buffer, sizeof buffer);
        if (length < 0) {
            if (errno == WERR_OPERATION_ABORTED) break;
            continue;
        }
        // Only whole codes are codes; anything else on the slot is not ours to interpret.
        if (length != 4 || !g_msl.active.load()) continue;
        int32_t code;
        memcpy(&code, buffer, sizeof code);
        msl_Deliver(code);
    }
}

void releaseResources() {
    plat_MailslotDestroy(&g_msl.slot);
    plat_EventDestroy(g_msl.arrived);
    g_msl.arrived = -1;
    std::lock_guard<std::mutex> lock(g_msl.listMutex);
    g_msl.waitCount = 0;
}
} // namespace

msl_Callback msl_Open(msl_Callback callback) {
    std::lock_guard<std::mutex> openLock(g_msl.openMutex);
    if (g_msl.active.load()) {
        std::lock_guard<std::mutex> gate(g_msl.gateMutex);
        msl_Callback previous = g_msl.callback;
        g_msl.callback = callback;
        errno = 0;
        return previous;
    }
    std::string name = msl_ProcessSlotName(plat_ProcessId());
    if (plat_MailslotCreate(&g_msl.slot, name.c_str()) != 0) return nullptr;
    g_msl.arrived = plat_EventCreate(false);
    if (g_msl.arrived < 0) {
        int e = errno;
        releaseResources();
        plat_Fail(static_cast<uint32_t>(e));
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(g_msl.listMutex);
        g_msl.waitList[0] = g_msl.arrived;
        g_msl.waitCount = 1;
    }
    {
        std::lock_guard<std::mutex> gate(g_msl.gateMutex);
        g_msl.held.store(false);
        g_msl.callback = callback;
    }
    g_msl.lastCode.store(0);
    g_msl.active.store(true);
    try {
        g_msl.listener = std::thread(listenerThread);
    } catch (...) {
        g_msl.active.store(false);
        releaseResources();
        plat_Fail(WERR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    errno = 0;
    return nullptr;
}

void msl_Close() {
    std::lock_guard<std::mutex> openLock(g_msl.openMutex);
    if (!g_msl.active.exchange(false)) return;
    plat_MailslotWake(&g_msl.slot);
    {
        // A delivery waiting at the gate sees active cleared and drops its code.
        std::lock_guard<std::mutex> gate(g_msl.gateMutex);
        g_msl.gateChanged.notify_all();
    }
    if (g_msl.listener.joinable()) {
        if (g_msl.listener.get_id() == std::this_thread::get_id())
            g_msl.listener.detach();
        else
            g_msl.listener.join();
    }
    releaseResources();
    std::lock_guard<std::mutex> gate(g_msl.gateMutex);
    g_msl.held.store(false);
    g_msl.callback = nullptr;
}

void msl_Deliver(int code) {
    if (!g_msl.active.load()) return;
    {
        std::unique_lock<std::mutex> gate(g_msl.gateMutex);
        g_msl.gateChanged.wait(gate, [] { return !g_msl.held.load() || !g_msl.active.load(); });
        if (!g_msl.active.load()) return;
        if (g_msl.beforeCallback != nullptr) g_msl.beforeCallback();
        g_msl.lastCode.store(code);
        if (g_msl.callback != nullptr) g_msl.callback(code);
    }
    int arrived = g_msl.arrived;
    if (arrived >= 0) plat_EventSet(arrived);
}

int msl_HoldDelivery(int hold) {
    if (!g_msl.active.load()) return plat_Fail(WERR_INVALID_HANDLE);
    std::lock_guard<std::mutex> gate(g_msl.gateMutex);
    g_msl.held.store(hold != 0);
    if (!g_msl.held.load()) g_msl.gateChanged.notify_all();
    return 0;
}

void msl_ResetReady() {
    // Without the gate lock: a callback that runs now finishes, the next delivery waits.
    g_msl.held.store(true);
}

int msl_LastCode() {
    return g_msl.lastCode.load();
}

void msl_ClearLastCode() {
    g_msl.lastCode.store(0);
}
