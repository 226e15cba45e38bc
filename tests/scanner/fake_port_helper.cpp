#include "fake_port.h"

#include "plat_error.h"

#include <cctype>
#include <cstdio>
#include <gtest/gtest.h>

std::vector<uint8_t> Hex(const std::string &text) {
    std::vector<uint8_t> out;
    int nibbles = 0;
    uint8_t value = 0;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        int v = std::isdigit(static_cast<unsigned char>(c))
                    ? c - '0'
                    : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        value = static_cast<uint8_t>(value << 4 | v);
        if (++nibbles % 2 == 0) {
            out.push_back(value);
            value = 0;
        }
    }
    return out;
}

std::string ToHex(const std::vector<uint8_t> &bytes) {
    std::string out;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return out;
}

FakePort &FakePort::ExpectWrite(const std::string &hex) {
    script_.push_back({Step::EXPECT, Hex(hex)});
    return *this;
}

FakePort &FakePort::Deliver(const std::string &hex, int64_t after_ms) {
    Step s{Step::DELIVER, Hex(hex)};
    s.after_ms = after_ms;
    script_.push_back(s);
    return *this;
}

FakePort &FakePort::Silence() {
    script_.push_back({Step::SILENCE, {}});
    return *this;
}

FakePort &FakePort::WriteFails(uint32_t error) {
    Step s{Step::WRITE_FAILS, {}};
    s.error = error;
    script_.push_back(s);
    return *this;
}

FakePort &FakePort::HangUp() {
    script_.push_back({Step::HANG_UP, {}});
    return *this;
}

FakePort &FakePort::OpenFails(uint32_t error) {
    open_error_ = error;
    open_fails_ = true;
    return *this;
}

bool FakePort::Consumed() const {
    return script_.empty();
}

std::string FakePort::Remaining() const {
    std::string out;
    for (const Step &s : script_) {
        static const char *names[] = {"expect_write", "deliver", "silence", "write_fails",
                                      "hang_up"};
        out += names[s.kind];
        out += "(" + ToHex(s.bytes) + ") ";
    }
    return out;
}

std::vector<int64_t> FakePort::WriteTimes(const std::string &hex) const {
    std::vector<int64_t> times;
    std::vector<uint8_t> bytes = Hex(hex);
    for (const LogEntry &e : log_)
        if (e.kind == 'W' && e.bytes == bytes) times.push_back(e.at_ms);
    return times;
}

std::vector<std::string> FakePort::Writes() const {
    std::vector<std::string> out;
    for (const LogEntry &e : log_)
        if (e.kind == 'W') out.push_back(ToHex(e.bytes));
    return out;
}

void FakePort::RunPassiveSteps() {
    while (!script_.empty()) {
        Step &s = script_.front();
        if (s.kind == Step::EXPECT || s.kind == Step::WRITE_FAILS) return;
        if (s.kind == Step::DELIVER) {
            for (uint8_t b : s.bytes)
                incoming_.push_back({clock.now_ms + s.after_ms, b});
        } else if (s.kind == Step::HANG_UP) {
            hung_up_ = true;
            incoming_.clear();
        }
        script_.pop_front();
    }
}

int FakePort::Open(const char *name, const PlatSerialLine &line) {
    if (open_fails_) {
        plat_SetLastError(open_error_);
        open_fails_ = false;
        return 0;
    }
    opened_name = name;
    opened_line = line;
    open = true;
    log_.push_back({clock.now_ms, 'O', {}});
    return 1;
}

int FakePort::Read(uint8_t *buf, int n, int timeout_ms) {
    RunPassiveSteps();
    int64_t deadline = clock.now_ms + (timeout_ms > 0 ? timeout_ms : 0);
    if (hung_up_) {
        clock.now_ms = deadline;
        log_.push_back({clock.now_ms, 'T', {}, timeout_ms});
        return 0;
    }
    int ready = 0;
    int64_t last_arrival = clock.now_ms;
    // Deliveries may be scheduled out of order (one step delayed, the next not).
    std::vector<size_t> order;
    for (size_t i = 0; i < incoming_.size(); ++i)
        if (incoming_[i].at_ms <= deadline) order.push_back(i);
    ready = static_cast<int>(order.size());
    int take = ready < n ? ready : n;
    std::vector<uint8_t> taken;
    for (int i = 0; i < take; ++i) {
        const Arrival &a = incoming_[order[static_cast<size_t>(i)]];
        taken.push_back(a.byte);
        if (a.at_ms > last_arrival) last_arrival = a.at_ms;
    }
    for (int i = take - 1; i >= 0; --i)
        incoming_.erase(incoming_.begin() + static_cast<long>(order[static_cast<size_t>(i)]));
    for (int i = 0; i < take; ++i)
        buf[i] = taken[static_cast<size_t>(i)];
    if (take == n) {
        clock.now_ms = last_arrival;
        log_.push_back({clock.now_ms, 'R', taken, timeout_ms});
        return 1;
    }
    clock.now_ms = deadline;
    log_.push_back({clock.now_ms, 'T', taken, timeout_ms});
    return 0;
}

int FakePort::Write(const uint8_t *buf, int n, int timeout_ms) {
    RunPassiveSteps();
    std::vector<uint8_t> bytes(buf, buf + n);
    log_.push_back({clock.now_ms, 'W', bytes, timeout_ms});
    if (script_.empty()) {
        ADD_FAILURE() << "unexpected write at " << clock.now_ms << " ms: " << ToHex(bytes);
        return 1;
    }
    Step s = script_.front();
    script_.pop_front();
    if (s.kind == Step::WRITE_FAILS) {
        log_.back().kind = 'F';
        RunPassiveSteps();
        plat_SetLastError(s.error);
        return 0;
    }
    EXPECT_EQ(ToHex(s.bytes), ToHex(bytes)) << "write at " << clock.now_ms << " ms";
    RunPassiveSteps();
    return 1;
}

int FakePort::Purge() {
    RunPassiveSteps();
    for (size_t i = incoming_.size(); i-- > 0;)
        if (incoming_[i].at_ms <= clock.now_ms)
            incoming_.erase(incoming_.begin() + static_cast<long>(i));
    log_.push_back({clock.now_ms, 'P', {}});
    return 1;
}

void FakePort::Close() {
    open = false;
    log_.push_back({clock.now_ms, 'C', {}});
}
