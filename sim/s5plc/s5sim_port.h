// The simulator's end of the line: the master of a pseudo-terminal pair whose slave the
// scanner opens, or an existing tty (a socat pty, a real serial line).
//
// The slave is never held open here, so a closed slave shows as hang-up or EIO on the master;
// that only means "no partner yet" and reads wait it out in short ticks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace s5sim {

class Port {
public:
    static constexpr int kTimeout = -1;
    static constexpr int kStopped = -2;
    static constexpr int kClosed = -3;

    Port();
    ~Port();
    Port(const Port &) = delete;
    Port &operator=(const Port &) = delete;

    // Creates a pty pair, makes the slave raw and publishes it as the symlink link (replaced
    // when it exists). An empty link publishes nothing.
    bool OpenPty(const std::string &link, std::string *error);
    // Opens an existing tty in raw mode.
    bool OpenDevice(const std::string &path, std::string *error);
    // The path a partner opens: the pty slave or the device.
    const std::string &Path() const { return path_; }
    bool IsOpen() const { return fd_ >= 0; }

    // One byte within timeout_ms (negative: no limit), or kTimeout, kStopped, kClosed.
    int ReadByte(int timeout_ms);
    // All n bytes within timeout_ms; false when they could not be written.
    bool Write(const uint8_t *data, size_t n, int timeout_ms);
    // Waits ms unless stopped first; false when stopped.
    bool Pause(int ms);

    // Closes the line as a pulled cable would; the published link is left dangling.
    void Close();
    // Wakes every wait; later waits return kStopped at once.
    void Stop();
    void ClearStop();

    // Sees every byte read (tx false) and every write (tx true).
    std::function<void(const uint8_t *, size_t, bool tx)> wire;

private:
    bool Raw(int fd, std::string *error);

    int fd_ = -1;
    int stop_fd_ = -1;
    std::string path_;
    std::string link_;
    uint8_t buf_[512];
    size_t head_ = 0;
    size_t tail_ = 0;
};

} // namespace s5sim
