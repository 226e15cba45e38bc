// What the scanner's fuzz programs share beyond the installation: a serial port whose partner
// sends the input's bytes.
#pragma once

#include "fuzz_install.h"
#include "port.h"

namespace fuzz {

// The partner's side of the line: every byte it sends is in the input, there from the start;
// whatever the link writes is taken. Nothing waits: a read of bytes that are not there fails
// at once, as a time-out would.
class InputPort final : public LinkPort {
public:
    void feed(const uint8_t *data, size_t size) {
        data_ = data;
        size_ = size;
        at_ = 0;
    }
    int Open(const char *, const PlatSerialLine &) override { return 1; }
    int Read(uint8_t *buf, int n, int) override {
        if (n <= 0) return 1;
        size_t want = static_cast<size_t>(n);
        if (size_ - at_ < want) {
            at_ = size_;
            return 0;
        }
        memcpy(buf, data_ + at_, want);
        at_ += want;
        return 1;
    }
    int Write(const uint8_t *, int, int) override { return 1; }
    int Purge() override { return 1; }
    void Close() override {}

private:
    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
    size_t at_ = 0;
};

// The partner's bytes as the source of a port that reads ahead (port_MakeBuffered): handed out
// in pieces of `piece` bytes (0: all that is left at once), then nothing, as a line that stays
// silent. What the port writes goes nowhere; a purge drops only what was read ahead, the rest
// being bytes still on their way.
class InputBytes final : public PortBytes {
public:
    void feed(const uint8_t *data, size_t size, size_t piece) {
        data_ = data;
        size_ = size;
        at_ = 0;
        piece_ = piece;
    }
    int ReadSome(uint8_t *buf, int capacity, int) override {
        size_t n = size_ - at_;
        if (piece_ != 0 && n > piece_) n = piece_;
        if (capacity >= 0 && n > static_cast<size_t>(capacity)) n = static_cast<size_t>(capacity);
        memcpy(buf, data_ + at_, n);
        at_ += n;
        return static_cast<int>(n);
    }
    int Write(const uint8_t *, int, int) override { return 1; }
    void Flush() override {}

private:
    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
    size_t at_ = 0;
    size_t piece_ = 0;
};

} // namespace fuzz
