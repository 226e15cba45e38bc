#include "plat_clock.h"

#include <atomic>
#include <ctime>
#include <mutex>

namespace {
enum FakeMode { REAL = 0, FAKE_INSTANT = 1, FIXED_LOCAL = 2 };

std::atomic<int> g_mode{REAL};
std::atomic<int64_t> g_fakeUnixMs{0};
std::mutex g_fixedLock;
PlatLocalTime g_fixed{};
std::atomic<bool> g_fakeTickOn{false};
std::atomic<uint32_t> g_fakeTick{0};

int64_t floorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

int64_t realUnixMs() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
} // namespace

PlatLocalTime plat_LocalTimeFromUnixMs(int64_t unixMs) {
    int64_t secs = floorDiv(unixMs, 1000);
    time_t t = static_cast<time_t>(secs);
    struct tm tm {};
    localtime_r(&t, &tm);
    PlatLocalTime out;
    out.year = tm.tm_year + 1900;
    out.month = tm.tm_mon + 1;
    out.dayOfWeek = tm.tm_wday;
    out.day = tm.tm_mday;
    out.hour = tm.tm_hour;
    out.minute = tm.tm_min;
    // A leap second shows as :60 in some zone databases; the system knows no such second.
    out.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
    out.milliseconds = static_cast<int>(unixMs - secs * 1000);
    return out;
}

int64_t plat_UnixMs() {
    if (g_mode.load() == FAKE_INSTANT) return g_fakeUnixMs.load();
    return realUnixMs();
}

PlatLocalTime plat_GetLocalTime() {
    if (g_mode.load() == FIXED_LOCAL) {
        std::lock_guard<std::mutex> lock(g_fixedLock);
        return g_fixed;
    }
    return plat_LocalTimeFromUnixMs(plat_UnixMs());
}

uint32_t plat_TickCount() {
    if (g_fakeTickOn.load()) return g_fakeTick.load();
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void plat_SetFakeTick(uint32_t ms) {
    g_fakeTick.store(ms);
    g_fakeTickOn.store(true);
}

void plat_AdvanceFakeTick(uint32_t ms) {
    g_fakeTick.fetch_add(ms);
}

void plat_SetTimeZone() {
    tzset();
}

void plat_SetFakeClock(int64_t unixMs) {
    g_fakeUnixMs.store(unixMs);
    g_mode.store(FAKE_INSTANT);
}

void plat_AdvanceFakeClock(int64_t ms) {
    g_fakeUnixMs.fetch_add(ms);
}

void plat_SetFixedLocalTime(const PlatLocalTime &local) {
    {
        std::lock_guard<std::mutex> lock(g_fixedLock);
        g_fixed = local;
    }
    g_mode.store(FIXED_LOCAL);
}

void plat_ClearFakeClock() {
    g_mode.store(REAL);
    g_fakeTickOn.store(false);
}
