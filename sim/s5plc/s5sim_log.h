// Event log of the simulated controller: what crossed the wire and what the controller made
// of it, each with milliseconds on the monotonic clock since the simulator was made.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace s5sim {

enum class EventKind {
    Ready,
    Rx, // one byte read
    Tx, // bytes written in one go
    StxIn,
    DleIn,
    NakIn,
    StxOut,
    DleOut,
    NakOut,
    Command,   // a decoded command telegram
    Reply,     // a reply telegram put on the wire (each attempt)
    ReplyDone, // the partner acknowledged the reply
    ReplyFailed,
    BccError,
    DleError,
    Timeout, // a byte of a block did not come in time
    Overflow,
    Conflict,
    Dropped, // a block of the partner taken and dropped in a conflict
    Fault,   // a fault rule applied
    PortClosed,
    Stopped,
};

const char *EventName(EventKind kind);

struct Event {
    uint64_t seq = 0;
    int64_t ms = 0;
    EventKind kind = EventKind::Ready;
    std::string text;
};

class EventLog {
public:
    EventLog();

    void Add(EventKind kind, std::string text = {});
    int64_t NowMs() const;

    // Events with a sequence number >= from (the oldest may have been dropped).
    std::vector<Event> Since(uint64_t from);
    uint64_t NextSeq();

    // Called for every event, on the thread that adds it; used to print the log.
    void SetSink(std::function<void(const Event &)> sink);
    // Keep at most this many events in memory (older ones are dropped first).
    void SetCapacity(size_t capacity);

    // Waits until pred() holds (checked under the log's lock after every event), at most
    // timeout_ms. Counters the predicate reads must change before their event is added.
    bool WaitUntil(const std::function<bool()> &pred, int timeout_ms);
    // Waits for an event of this kind with a sequence number >= from.
    bool WaitFor(EventKind kind, uint64_t from, int timeout_ms, Event *found = nullptr);
    // Wakes the waiters without an event (after a counter changed).
    void Notify();

private:
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Event> events_;
    uint64_t next_seq_ = 0;
    size_t capacity_ = 200000;
    std::function<void(const Event &)> sink_;
};

} // namespace s5sim
