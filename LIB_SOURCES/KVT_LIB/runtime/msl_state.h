// Process-wide state of the notification mailslot, shared by its source files only.
#pragma once

#include "msl.h"
#include "plat_event.h"
#include "plat_mailslot.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

struct MslState {
    std::atomic<bool> active{false};
    PlatMailslot slot{-1, -1};
    std::thread listener;
    int arrived = -1;
    std::mutex openMutex;

    // The delivery gate: held and callback change only under gateMutex.
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    std::atomic<bool> held{false};
    msl_Callback callback = nullptr;
    std::atomic<int> lastCode{0};
    std::atomic<bool> messagePump{false};
    // Runs in the delivering thread after the hold was found released, right before the
    // callback: lets a test stop a delivery exactly there.
    void (*beforeCallback)() = nullptr;

    std::mutex listMutex;
    int waitList[PLAT_WAIT_MAX] = {};
    int waitCount = 0;
};

extern MslState g_msl;
