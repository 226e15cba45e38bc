// Switches the process's debug trace on (debugger output) and keeps what it writes.
#pragma once

#include "dbg.h"
#include "plat_debugout.h"
#include "reg.h"
#include "temp_registry.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

class TraceCapture {
public:
    TraceCapture() {
        reg_ForgetProductNames();
        uint32_t type = PLAT_REG_SZ;
        const char on[] = "ON";
        uint32_t size = sizeof on;
        reg_AccessValue(PLAT_HKEY_LOCAL_MACHINE, REG_PRODUCT_KEY, PLAT_KEY_SET_VALUE,
                        "REMOTE_Debug", &type, const_cast<char *>(on), &size);
        dbg_CreateTrace("REMOTE");
        previous_ = plat_SetDebugOutputHook(capture);
        lines().clear();
    }
    ~TraceCapture() {
        plat_SetDebugOutputHook(previous_);
        dbg_DeleteTrace();
        reg_ForgetProductNames();
    }
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    // Everything written so far, in one text.
    std::string text() const {
        std::lock_guard<std::mutex> guard(lock());
        std::string all;
        for (const std::string &l : lines())
            all += l;
        return all;
    }

private:
    static std::vector<std::string> &lines() {
        static std::vector<std::string> l;
        return l;
    }
    static std::mutex &lock() {
        static std::mutex m;
        return m;
    }
    // The debugger output starts each text with the trace's name.
    static void capture(const char *text) {
        std::lock_guard<std::mutex> guard(lock());
        std::string line = text;
        if (line.compare(0, 9, "REMOTE : ") == 0) line.erase(0, 9);
        lines().push_back(line);
    }
    TempRegistry registry_;
    PlatDebugOutputHook previous_ = nullptr;
};
