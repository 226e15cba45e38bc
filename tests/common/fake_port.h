// Scripted serial port and fake clock for the link layer tests.
//
// A script is an ordered list of steps. Every write of the code under test must match the
// next expect_write (or meets write_fails); the deliver / silence / hang_up steps that follow
// it take effect as soon as that write has happened (deliveries relative to the fake time of
// the write). A read takes delivered bytes that have arrived by its deadline; a read that
// cannot get n bytes moves the fake clock on by its time-out and returns 0. Nothing sleeps.
#pragma once

#include "port.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// Bytes from "02 10 ff" (spaces optional).
std::vector<uint8_t> Hex(const std::string &text);
// "02 10 ff"
std::string ToHex(const std::vector<uint8_t> &bytes);

struct FakeClock {
    int64_t now_ms = 0;
};

class FakePort final : public LinkPort {
public:
    struct LogEntry {
        int64_t at_ms;
        char kind; // 'W' write, 'F' failed write, 'R' read, 'T' read timed out (with the
                   // bytes it did take), 'P' purge, 'O' open, 'C' close
        std::vector<uint8_t> bytes;
        int timeout_ms = 0;
    };

    // Script steps.
    FakePort &ExpectWrite(const std::string &hex);
    FakePort &Deliver(const std::string &hex, int64_t after_ms = 0);
    FakePort &Silence();
    FakePort &WriteFails(uint32_t error);
    FakePort &HangUp();
    // Makes the next Open fail with this Windows error.
    FakePort &OpenFails(uint32_t error);

    // Steps before the first write take effect at the first port call, at fake time 0.
    bool Consumed() const;
    std::string Remaining() const;

    const std::vector<LogEntry> &Log() const { return log_; }
    // Fake times of the writes whose bytes equal `hex`.
    std::vector<int64_t> WriteTimes(const std::string &hex) const;
    // Every write, in order, as hex.
    std::vector<std::string> Writes() const;

    FakeClock clock;
    PlatSerialLine opened_line{};
    std::string opened_name;
    bool open = false;

    int Open(const char *name, const PlatSerialLine &line) override;
    int Read(uint8_t *buf, int n, int timeout_ms) override;
    int Write(const uint8_t *buf, int n, int timeout_ms) override;
    int Purge() override;
    void Close() override;

private:
    struct Step {
        enum Kind { EXPECT, DELIVER, SILENCE, WRITE_FAILS, HANG_UP } kind;
        std::vector<uint8_t> bytes;
        int64_t after_ms = 0;
        uint32_t error = 0;
    };
    struct Arrival {
        int64_t at_ms;
        uint8_t byte;
    };

    void RunPassiveSteps();

    std::deque<Step> script_;
    std::deque<Arrival> incoming_;
    std::vector<LogEntry> log_;
    bool hung_up_ = false;
    bool started_ = false;
    uint32_t open_error_ = 0;
    bool open_fails_ = false;
};

// Selects a fake port for the life of the object and restores the previous one afterwards.
class FakePortScope {
public:
    explicit FakePortScope(FakePort &port) : previous_(port_Select(&port)) {}
    ~FakePortScope() { port_Select(previous_); }

private:
    LinkPort *previous_;
};
