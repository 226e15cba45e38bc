#include "port.h"

#include "link_report.h"
#include "plat_error.h"

#include <string>
#include <vector>

namespace {

// The real line: one descriptor per process, -1 while closed.
class TermiosPort final : public LinkPort {
public:
    int Open(const char *name, const PlatSerialLine &line) override {
        Close();
        int fd = plat_SerialOpen(name);
        if (fd < 0) return 0;
        fd_ = fd;
        plat_SerialPurge(fd_);
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
        return plat_SerialRead(fd_, buf, n, timeout_ms);
    }
    int Write(const uint8_t *buf, int n, int timeout_ms) override {
        if (fd_ < 0) {
            plat_SetLastError(WERR_INVALID_HANDLE);
            return 0;
        }
        return plat_SerialWrite(fd_, buf, n, timeout_ms);
    }
    int Purge() override {
        if (fd_ >= 0) plat_SerialPurge(fd_);
        return 1;
    }
    void Close() override {
        plat_SerialClose(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
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
