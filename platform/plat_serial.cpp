#include "plat_serial.h"

#include "plat_error.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

int64_t MonotonicMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The open's own mapping: callers show "in use" and "missing" differently, and any other
// failure of a port is a general failure rather than whatever the table would make of it.
uint32_t OpenError(int e) {
    switch (e) {
    case ENOENT:
    case ENOTDIR:
        return WERR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
        return WERR_ACCESS_DENIED;
    default:
        return WERR_GEN_FAILURE;
    }
}

bool EntryExists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Entry of `dir` whose name equals `name` without regard to case; "" when none.
std::string FindCaseless(const std::string &dir, const char *name) {
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return std::string();
    std::string found;
    while (dirent *e = readdir(d)) {
        if (strcasecmp(e->d_name, name) == 0) {
            found = dir + "/" + e->d_name;
            break;
        }
    }
    closedir(d);
    return found;
}

// n of "COMn" (any case, n >= 1); 0 when the name is not of that form.
unsigned ComNumber(const char *name) {
    if (strncasecmp(name, "COM", 3) != 0 || name[3] == '\0') return 0;
    unsigned n = 0;
    for (const char *p = name + 3; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || n > 100000) return 0;
        n = n * 10 + static_cast<unsigned>(*p - '0');
    }
    return n;
}

speed_t StandardSpeed(uint32_t baud) {
    switch (baud) {
    case 50:
        return B50;
    case 75:
        return B75;
    case 110:
        return B110;
    case 134:
        return B134;
    case 150:
        return B150;
    case 200:
        return B200;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 1800:
        return B1800;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 500000:
        return B500000;
    case 576000:
        return B576000;
    case 921600:
        return B921600;
    case 1000000:
        return B1000000;
    default:
        return B0;
    }
}

void Note(std::vector<std::string> *failures, const char *step, int e) {
    if (failures != nullptr) failures->push_back(std::string(step) + ": " + strerror(e));
}

} // namespace

int plat_SerialResolve(const char *name, std::string &path) {
    if (name == nullptr || name[0] == '\0' || strchr(name, '/') != nullptr)
        return plat_Fail(WERR_FILE_NOT_FOUND);
    const char *dir = getenv("KVT_SERIAL_DIR");
    if (dir != nullptr && dir[0] != '\0') {
        std::string exact = std::string(dir) + "/" + name;
        if (EntryExists(exact)) {
            path = exact;
            return 0;
        }
        std::string caseless = FindCaseless(dir, name);
        if (!caseless.empty()) {
            path = caseless;
            return 0;
        }
    }
    unsigned n = ComNumber(name);
    if (n == 0) return plat_Fail(WERR_FILE_NOT_FOUND);
    path = "/dev/ttyS" + std::to_string(n - 1);
    return 0;
}

int plat_SerialOpen(const char *name) {
    std::string path;
    if (plat_SerialResolve(name, path) != 0) return -1;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return plat_Fail(OpenError(errno));
    // A device file that is no tty (ENOTTY) still gets exclusivity from the lock below.
    if (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
        int e = errno;
        close(fd);
        return plat_Fail(OpenError(e));
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        ioctl(fd, TIOCNXCL);
        close(fd);
        return plat_Fail(OpenError(e));
    }
    return fd;
}

void plat_SerialMakeRaw(termios *t_ptr, const PlatSerialLine &line) {
    termios &t = *t_ptr;
    // Raw: RK512 data carry every byte value, 0xFF included, so nothing may strip, mark or
    // translate bytes, and no byte may act as flow control or a signal.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                   IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~CRTSCTS;
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    if (line.byte_size >= 5 && line.byte_size <= 8) {
        t.c_cflag &= ~CSIZE;
        t.c_cflag |= sizes[line.byte_size - 5];
    }
    static const tcflag_t parities[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                        PARENB | CMSPAR};
    if (line.parity <= 4) {
        t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
        t.c_cflag |= parities[line.parity];
    }
    bool parity_on = (t.c_cflag & PARENB) != 0;
    if (line.parity_check && parity_on) t.c_iflag |= INPCK;
    if (line.stop_bits == 2)
        t.c_cflag |= CSTOPB;
    else if (line.stop_bits == 0)
        t.c_cflag &= ~CSTOPB;
}

int plat_SerialConfigure(int fd, const PlatSerialLine &line, std::vector<std::string> *failures) {
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        Note(failures, "read line settings", errno);
        return 1;
    }
    int failed = 0;
    plat_SerialMakeRaw(&t, line);

    speed_t speed = StandardSpeed(line.baud);
    if (speed != B0 && cfsetspeed(&t, speed) != 0) {
        Note(failures, "set speed", errno);
        ++failed;
    }
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        Note(failures, "apply line settings", errno);
        ++failed;
    }
    if (speed == B0 && plat_SerialSetCustomBaud(fd, line.baud) != 0) {
        Note(failures, "set custom speed", errno);
        ++failed;
    }
    int bits = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIS, &bits) != 0 && errno != ENOTTY && errno != EINVAL) {
        Note(failures, "raise DTR and RTS", errno);
        ++failed;
    }
    return failed;
}

namespace {
// While the line is down nothing will come; look again in short ticks so that a line that
// comes back is used, but never spin.
std::atomic<uint64_t> g_wakeups{0};

void Woken() {
    g_wakeups.fetch_add(1, std::memory_order_relaxed);
}

void WaitTick(int64_t deadline) {
    int64_t left = deadline - MonotonicMs();
    int64_t tick = left < 20 ? left : 20;
    if (tick <= 0) return;
    timespec ts{0, static_cast<long>(tick) * 1000000};
    nanosleep(&ts, nullptr);
    Woken();
}

void Count(PlatSerialCalls *calls, uint64_t PlatSerialCalls::*which) {
    if (calls != nullptr) ++(calls->*which);
}
} // namespace

int plat_SerialRead(int fd, uint8_t *buf, int n, int timeout_ms, PlatSerialCalls *calls) {
    if (n <= 0) return 1;
    int64_t deadline = MonotonicMs() + (timeout_ms > 0 ? timeout_ms : 0);
    int got = 0;
    // A tty in raw mode with VMIN 0 answers an empty read with 0, just as at end of file;
    // only a 0 right after poll said "readable" means the other side is gone.
    bool readable = false;
    for (;;) {
        Count(calls, &PlatSerialCalls::reads);
        ssize_t r = read(fd, buf + got, static_cast<size_t>(n - got));
        bool dead = false;
        Woken();
        if (r > 0) {
            got += static_cast<int>(r);
            if (got == n) return 1;
            readable = false;
            continue;
        }
        if (r == 0) {
            dead = readable;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EBADF) {
            plat_SetLastError(WERR_INVALID_HANDLE);
            return 0;
        } else if (errno != EAGAIN) {
            dead = true; // EIO and the like: a pulled adapter or a closed pty master
        }
        readable = false;
        int64_t left = deadline - MonotonicMs();
        if (left <= 0) return 0;
        if (dead) {
            WaitTick(deadline);
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        Count(calls, &PlatSerialCalls::polls);
        int pr = poll(&p, 1, static_cast<int>(left));
        Woken();
        if (pr < 0 && errno != EINTR) {
            plat_SetLastError(plat_WinErrorFromPosix(errno));
            return 0;
        }
        if (pr <= 0) continue;
        if (p.revents & POLLNVAL) {
            plat_SetLastError(WERR_INVALID_HANDLE);
            return 0;
        }
        if (p.revents & POLLIN)
            readable = true;
        else if (p.revents & (POLLHUP | POLLERR))
            WaitTick(deadline);
    }
}

int plat_SerialReadSome(int fd, uint8_t *buf, int capacity, int timeout_ms,
                        PlatSerialCalls *calls) {
    if (capacity <= 0) return 0;
    int64_t deadline = MonotonicMs() + (timeout_ms > 0 ? timeout_ms : 0);
    // Poll first: the callers wait for the partner's answer to what they just wrote, which has
    // seldom arrived yet, so a read first would mostly cost a call that finds nothing.
    for (;;) {
        int64_t left = deadline - MonotonicMs();
        pollfd p{fd, POLLIN, 0};
        Count(calls, &PlatSerialCalls::polls);
        int pr = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        Woken();
        if (pr < 0) {
            if (errno == EINTR) continue;
            plat_SetLastError(plat_WinErrorFromPosix(errno));
            return -1;
        }
        if (pr == 0) {
            if (MonotonicMs() < deadline) continue; // woken early: wait out the rest
            return 0;
        }
        if (p.revents & POLLNVAL) {
            plat_SetLastError(WERR_INVALID_HANDLE);
            return -1;
        }
        if (p.revents & POLLIN) {
            Count(calls, &PlatSerialCalls::reads);
            ssize_t r = read(fd, buf, static_cast<size_t>(capacity));
            Woken();
            if (r > 0) return static_cast<int>(r);
            if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (r < 0 && errno == EBADF) {
                plat_SetLastError(WERR_INVALID_HANDLE);
                return -1;
            }
            // 0 right after "readable", EIO and the like: a pulled adapter or a closed pty
            // master, which stays readable and would make the poll above spin.
        }
        // Hung up or dead: nothing will come, but a line that comes back is used.
        if (MonotonicMs() >= deadline) return 0;
        WaitTick(deadline);
    }
}

int plat_SerialWrite(int fd, const uint8_t *buf, int n, int timeout_ms, PlatSerialCalls *calls) {
    if (n <= 0) return 1;
    int64_t deadline = MonotonicMs() + (timeout_ms > 0 ? timeout_ms : 1);
    int done = 0;
    for (;;) {
        Count(calls, &PlatSerialCalls::writes);
        ssize_t w = write(fd, buf + done, static_cast<size_t>(n - done));
        Woken();
        if (w > 0) {
            done += static_cast<int>(w);
            if (done == n) return 1;
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR) {
            uint32_t code = plat_WinErrorFromPosix(errno);
            plat_SetLastError(code != 0 ? code : WERR_GEN_FAILURE);
            return 0;
        }
        int64_t left = deadline - MonotonicMs();
        if (left <= 0) {
            plat_SetLastError(WERR_SEM_TIMEOUT);
            return 0;
        }
        pollfd p{fd, POLLOUT, 0};
        Count(calls, &PlatSerialCalls::polls);
        if (poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) {
            plat_SetLastError(plat_WinErrorFromPosix(errno));
            return 0;
        }
    }
}

int plat_SerialPurge(int fd, PlatSerialCalls *calls) {
    // Only input is dropped. A Windows write returns once its bytes are on the line, so the
    // transmit queue it purged was empty; here a write returns as soon as the kernel holds the
    // bytes, and flushing output would throw away the acknowledgement just written for the
    // previous reply (a pty loses it at once, a UART when the next telegram follows quickly).
    Count(calls, &PlatSerialCalls::flushes);
    if (tcflush(fd, TCIFLUSH) != 0) {
        plat_SetLastError(plat_WinErrorFromPosix(errno));
        return 0;
    }
    return 1;
}

void plat_SerialClose(int fd) {
    if (fd < 0) return;
    // Without this a pty whose other side stays open would refuse the next scanner (EBUSY).
    ioctl(fd, TIOCNXCL);
    close(fd);
}

uint64_t plat_SerialWakeups() {
    return g_wakeups.load(std::memory_order_relaxed);
}
