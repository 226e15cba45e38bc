#include <atomic>
#include "plat_event.h"

#include "plat_error.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

int plat_EventCreate(bool signalled) {
    int fd = eventfd(signalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return plat_FailFromPosix();
    return fd;
}

int plat_EventSet(int event) {
    uint64_t one = 1;
    for (;;) {
        if (write(event, &one, sizeof one) == sizeof one) return 0;
        // The counter is saturated: the event is signalled anyway.
        if (errno == EAGAIN) return 0;
        if (errno != EINTR) return plat_FailFromPosix();
    }
}

int plat_EventReset(int event) {
    uint64_t value;
    for (;;) {
        if (read(event, &value, sizeof value) == sizeof value) return 0;
        if (errno == EAGAIN) return 0;
        if (errno != EINTR) return plat_FailFromPosix();
    }
}

bool plat_EventIsSet(int event) {
    pollfd p{event, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

void plat_EventDestroy(int event) {
    if (event >= 0) close(event);
}

int plat_WaitAny(const int *events, int count, uint32_t milliseconds) {
    if (count < 1 || count > PLAT_WAIT_MAX) return plat_Fail(WERR_INVALID_PARAMETER);
    pollfd fds[PLAT_WAIT_MAX];
    for (int i = 0; i < count; ++i)
        fds[i] = pollfd{events[i], POLLIN, 0};
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        int timeout = -1;
        if (milliseconds != 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now());
            timeout = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        int n = poll(fds, static_cast<nfds_t>(count), timeout);
        if (n < 0) {
            if (errno == EINTR) continue;
            return plat_FailFromPosix();
        }
        for (int i = 0; i < count; ++i) {
            if (fds[i].revents & POLLNVAL) return plat_Fail(WERR_INVALID_HANDLE);
            if (fds[i].revents & POLLIN) return i;
        }
        if (n == 0 && timeout == 0) return PLAT_WAIT_TIMEOUT;
    }
}

namespace {
std::atomic<PlatSleepHook> sleepHook{nullptr};
} // namespace

PlatSleepHook plat_SetSleepHook(PlatSleepHook hook) {
    return sleepHook.exchange(hook);
}

void plat_SleepMs(uint32_t milliseconds) {
    if (PlatSleepHook hook = sleepHook.load()) {
        hook(milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
