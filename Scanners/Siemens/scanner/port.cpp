#include "port.h"

#include "link_report.h"
#include "plat_error.h"

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

int64_t MonotonicMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Bytes read ahead from a source and not yet taken. The link asks for one byte at a time; a
// refill takes whatever the source holds in one call and the requests are served from it, so
// that a received block costs a wait and a read rather than a system call per byte. Each request
// still has its own time-out: a byte that is neither buffered nor arrives in time fails as it
// would unbuffered, and the bytes a failed request took are gone, as from an unbuffered read.
class ReadAhead {
public:
    int Read(PortBytes &source, uint8_t *buf, int n, int timeout_ms) {
        if (n <= 0) return 1;
        int got = Take(buf, n);
        if (got == n) return 1;
        int64_t deadline = MonotonicMs() + (timeout_ms > 0 ? timeout_ms : 0);
        for (int wait = timeout_ms;;) {
            int r = source.ReadSome(in_, sizeof in_, wait);
            if (r <= 0) return 0;
            head_ = 0;
            tail_ = r < static_cast<int>(sizeof in_) ? r : static_cast<int>(sizeof in_);
            got += Take(buf + got, n - got);
            if (got == n) return 1;
            wait = static_cast<int>(deadline - MonotonicMs());
        }
    }
    // What was read ahead is input not yet taken: a purge drops it with the source's.
    void Drop() { head_ = tail_ = 0; }

private:
    int Take(uint8_t *buf, int n) {
        int k = tail_ - head_ < n ? tail_ - head_ : n;
        if (k > 0) {
            std::memcpy(buf, in_ + head_, static_cast<size_t>(k));
            head_ += k;
        }
        return k;
    }

    // in_[head_, tail_). Larger than any 3964R block, so one read takes a whole reply.
    uint8_t in_[512];
    int head_ = 0;
    int tail_ = 0;
};

// The real line: one descriptor per process, -1 while closed.
class TermiosPort final : public LinkPort, private PortBytes {
public:
    int Open(const char *name, const PlatSerialLine &line) override {
        Close();
        int fd = plat_SerialOpen(name);
        if (fd < 0) return 0;
        fd_ = fd;
        plat_SerialPurge(fd_, &calls_);
        std::vector<std::string> failures;
        plat_SerialConfigure(fd_, line, &failures);
        for (const std::string &f : failures)
            link_TraceLine((std::string("port ") + name + ": " + f + " (ignored)").c_str());
        return 1;
    }
    int Read(uint8_t *buf, int n, int timeout_ms) override {
        if (fd_ < 0) {
            plat_SetLastError(WERR_INVALID_HANDLE);
            return 0;
        }
        return ahead_.Read(*this, buf, n, timeout_ms);
    }
    int Write(const uint8_t *buf, int n, int timeout_ms) override {
        if (fd_ < 0) {
            plat_SetLastError(WERR_INVALID_HANDLE);
            return 0;
        }
        return plat_SerialWrite(fd_, buf, n, timeout_ms, &calls_);
    }
    int Purge() override {
        ahead_.Drop();
        Flush();
        return 1;
    }
    void Close() override {
        ahead_.Drop();
        plat_SerialClose(fd_);
        fd_ = -1;
    }
    const PlatSerialCalls &Calls() const { return calls_; }

private:
    int ReadSome(uint8_t *buf, int capacity, int timeout_ms) override {
        return plat_SerialReadSome(fd_, buf, capacity, timeout_ms, &calls_);
    }
    void Flush() override {
        if (fd_ >= 0) plat_SerialPurge(fd_, &calls_);
    }
    int fd_ = -1;
    ReadAhead ahead_;
    PlatSerialCalls calls_;
};

// The same reading ahead over another source; opening and closing are the source's owner's.
class BufferedPort final : public LinkPort {
public:
    explicit BufferedPort(PortBytes &source) : source_(source) {}
    int Open(const char *, const PlatSerialLine &) override {
        ahead_.Drop();
        return 1;
    }
    int Read(uint8_t *buf, int n, int timeout_ms) override {
        return ahead_.Read(source_, buf, n, timeout_ms);
    }
    int Write(const uint8_t *buf, int n, int timeout_ms) override {
        return source_.Write(buf, n, timeout_ms);
    }
    int Purge() override {
        ahead_.Drop();
        source_.Flush();
        return 1;
    }
    void Close() override { ahead_.Drop(); }

private:
    PortBytes &source_;
    ReadAhead ahead_;
};

TermiosPort g_termios;
LinkPort *g_port = &g_termios;

} // namespace

LinkPort *port_Select(LinkPort *port) {
    LinkPort *previous = g_port;
    g_port = port != nullptr ? port : &g_termios;
    return previous;
}

LinkPort &port_Current() {
    return *g_port;
}

std::unique_ptr<LinkPort> port_MakeBuffered(PortBytes &source) {
    return std::make_unique<BufferedPort>(source);
}

PlatSerialCalls port_TermiosCalls() {
    return g_termios.Calls();
}
