// The partner's end of a simulated controller's line in tests: raw bytes over the pty slave,
// reads bounded by deadlines, and 3964R framing written out by hand.
#pragma once

#include "s5sim.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace wire {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t STX = 0x02, ETX = 0x03, DLE = 0x10, NAK = 0x15;

inline Bytes Hex(const std::string &text) {
    Bytes out;
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string ToHex(const Bytes &b) {
    return s5sim::HexBytes(b.data(), b.size());
}

// The bytes after STX: the telegram with DLE doubled, DLE ETX, and the BCC when on.
inline Bytes Frame(const Bytes &telegram, bool bcc = true) {
    Bytes f;
    for (uint8_t b : telegram) {
        f.push_back(b);
        if (b == DLE) f.push_back(DLE);
    }
    f.push_back(DLE);
    f.push_back(ETX);
    if (bcc) {
        uint8_t x = 0;
        for (uint8_t b : f)
            x ^= b;
        f.push_back(x);
    }
    return f;
}

inline int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class Line {
public:
    explicit Line(const std::string &path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0) {
            termios t;
            tcgetattr(fd_, &t);
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Line() { Close(); }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    bool ok() const { return fd_ >= 0; }

    void Send(const Bytes &b) { Send(b.data(), b.size()); }
    void Send(uint8_t b) { Send(&b, 1); }
    void Send(const uint8_t *p, size_t n) {
        while (n > 0) {
            ssize_t w = write(fd_, p, n);
            if (w > 0) {
                p += w;
                n -= static_cast<size_t>(w);
            } else {
                pollfd q = {fd_, POLLOUT, 0};
                poll(&q, 1, 100);
            }
        }
    }

    // Up to n bytes, waiting at most timeout_ms for all of them.
    Bytes Read(size_t n, int timeout_ms) {
        Bytes out;
        int64_t deadline = NowMs() + timeout_ms;
        while (out.size() < n) {
            int64_t left = deadline - NowMs();
            if (left <= 0) break;
            pollfd q = {fd_, POLLIN, 0};
            if (poll(&q, 1, static_cast<int>(left)) <= 0) continue;
            if (!(q.revents & POLLIN)) break;
            uint8_t buf[512];
            ssize_t r = read(fd_, buf, std::min(sizeof buf, n - out.size()));
            if (r <= 0) break;
            out.insert(out.end(), buf, buf + r);
        }
        return out;
    }
    // One byte, or -1 when none came in time.
    int ReadByte(int timeout_ms) {
        Bytes b = Read(1, timeout_ms);
        return b.empty() ? -1 : b[0];
    }

    // Reads a frame after STX up to DLE ETX (and the BCC); the telegram with DLE undoubled.
    // ok is false on a time-out, a bad DLE pair or a wrong BCC.
    Bytes ReadFrame(bool bcc, int timeout_ms, bool *ok) {
        Bytes telegram;
        uint8_t x = 0;
        *ok = false;
        for (;;) {
            int b = ReadByte(timeout_ms);
            if (b < 0) return telegram;
            x ^= static_cast<uint8_t>(b);
            if (b == DLE) {
                int c = ReadByte(timeout_ms);
                if (c < 0) return telegram;
                x ^= static_cast<uint8_t>(c);
                if (c == ETX) break;
                if (c != DLE) return telegram;
            }
            telegram.push_back(static_cast<uint8_t>(b));
        }
        if (bcc) {
            int c = ReadByte(timeout_ms);
            if (c < 0 || c != x) return telegram;
        }
        *ok = true;
        return telegram;
    }

    // One whole exchange as a low-priority scanner runs it; returns the reply telegram, or an
    // empty one when any step failed.
    Bytes Exchange(const Bytes &telegram, bool bcc = true, int timeout_ms = 1000) {
        Send(STX);
        if (ReadByte(timeout_ms) != DLE) return {};
        Send(Frame(telegram, bcc));
        if (ReadByte(timeout_ms) != DLE) return {};
        if (ReadByte(timeout_ms) != STX) return {};
        Send(DLE);
        bool ok = false;
        Bytes reply = ReadFrame(bcc, timeout_ms, &ok);
        if (!ok) return {};
        Send(DLE);
        return reply;
    }

    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// Settings that keep tests short.
inline s5sim::Settings FastSettings() {
    s5sim::Settings s;
    s.char_delay_ms = 100;
    s.ack_timeout_ms = 300;
    s.retries = 3;
    s.reaction_ms = 0;
    return s;
}

// A simulator on a pty of its own, running, with the partner's line open.
struct Rig {
    explicit Rig(const s5sim::Settings &settings = FastSettings()) : sim(settings) {
        std::string error;
        opened = sim.OpenPty("", &error);
        if (opened) {
            line = std::make_unique<Line>(sim.PortPath());
            sim.Start();
        }
    }
    s5sim::Simulator sim;
    bool opened = false;
    std::unique_ptr<Line> line;
};

} // namespace wire
