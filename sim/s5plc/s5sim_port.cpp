#include "s5sim_port.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace s5sim {

namespace {
// How often a line without a partner is looked at again.
constexpr int k_hangupTickMs = 10;

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}
} // namespace

Port::Port() {
    stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Port::~Port() {
    Close();
    if (!link_.empty()) {
        // Take the link away only while it is still ours.
        char target[PATH_MAX];
        ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == path_) unlink(link_.c_str());
    }
    if (stop_fd_ >= 0) close(stop_fd_);
}

bool Port::Raw(int fd, std::string *error) {
    termios t;
    if (tcgetattr(fd, &t) != 0) {
        *error = std::string("tcgetattr: ") + std::strerror(errno);
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        *error = std::string("tcsetattr: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool Port::OpenPty(const std::string &link, std::string *error) {
    Close();
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
        *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        if (m >= 0) close(m);
        return false;
    }
    char name[128];
    if (ptsname_r(m, name, sizeof name) != 0) {
        *error = std::string("ptsname: ") + std::strerror(errno);
        close(m);
        return false;
    }
    // Raw at once, so that nothing the partner writes before it configures the line is echoed
    // or translated. The setting outlives this open of the slave.
    int s = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s < 0) {
        *error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        close(m);
        return false;
    }
    bool raw = Raw(s, error);
    close(s);
    if (!raw) {
        close(m);
        return false;
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    if (!link.empty()) {
        std::string tmp = link + ".new" + std::to_string(getpid());
        unlink(tmp.c_str());
        if (symlink(name, tmp.c_str()) != 0 || rename(tmp.c_str(), link.c_str()) != 0) {
            *error = "cannot publish " + link + ": " + std::strerror(errno);
            unlink(tmp.c_str());
            close(m);
            return false;
        }
        link_ = link;
    }
    fd_ = m;
    path_ = name;
    head_ = tail_ = 0;
    return true;
}

bool Port::OpenDevice(const std::string &path, std::string *error) {
    Close();
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!Raw(fd, error)) {
        close(fd);
        return false;
    }
    tcflush(fd, TCIOFLUSH);
    fd_ = fd;
    path_ = path;
    head_ = tail_ = 0;
    return true;
}

void Port::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    head_ = tail_ = 0;
}

void Port::Stop() {
    uint64_t one = 1;
    if (write(stop_fd_, &one, sizeof one) < 0) {
        // The counter cannot overflow from a handful of stops; nothing else can fail here.
    }
}

void Port::ClearStop() {
    uint64_t v;
    while (read(stop_fd_, &v, sizeof v) > 0) {
    }
}

bool Port::Pause(int ms) {
    if (ms <= 0) return true;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        pollfd p = {stop_fd_, POLLIN, 0};
        int left = RemainingMs(deadline);
        int r = poll(&p, 1, left);
        if (r > 0) return false;
        if (r == 0 && RemainingMs(deadline) == 0) return true;
    }
}

int Port::ReadByte(int timeout_ms) {
    if (head_ < tail_) {
        uint8_t b = buf_[head_++];
        if (wire) wire(&b, 1, false);
        return b;
    }
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int wait = timeout_ms < 0 ? -1 : RemainingMs(deadline);
        if (fd_ < 0) {
            // No line any more: only a stop ends this.
            pollfd p = {stop_fd_, POLLIN, 0};
            if (poll(&p, 1, wait) > 0) return kStopped;
            if (wait >= 0 && RemainingMs(deadline) == 0) return kClosed;
            continue;
        }
        pollfd p[2] = {{stop_fd_, POLLIN, 0}, {fd_, POLLIN, 0}};
        int r = poll(p, 2, wait);
        if (r < 0 && errno != EINTR) return kClosed;
        if (p[0].revents) return kStopped;
        bool idle = false;
        if (r > 0 && (p[1].revents & POLLIN)) {
            ssize_t n = read(fd_, buf_, sizeof buf_);
            if (n > 0) {
                head_ = 0;
                tail_ = static_cast<size_t>(n);
                uint8_t b = buf_[head_++];
                if (wire) wire(&b, 1, false);
                return b;
            }
            idle = n == 0 || (errno != EAGAIN && errno != EINTR);
        } else if (r > 0) {
            idle = true; // hang-up or error without data: no partner on the line
        }
        if (idle) {
            int tick = wait < 0 ? k_hangupTickMs : std::min(wait, k_hangupTickMs);
            pollfd s = {stop_fd_, POLLIN, 0};
            if (poll(&s, 1, tick) > 0) return kStopped;
        }
        if (timeout_ms >= 0 && RemainingMs(deadline) == 0) return kTimeout;
    }
}

bool Port::Write(const uint8_t *data, size_t n, int timeout_ms) {
    if (fd_ < 0) return false;
    if (wire) wire(data, n, true);
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t done = 0;
    while (done < n) {
        ssize_t w = write(fd_, data + done, n - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) return false;
        int left = RemainingMs(deadline);
        if (left == 0) return false;
        pollfd p[2] = {{stop_fd_, POLLIN, 0}, {fd_, POLLOUT, 0}};
        int r = poll(p, 2, std::min(left, k_hangupTickMs));
        if (r > 0 && p[0].revents) return false;
    }
    return true;
}

} // namespace s5sim
