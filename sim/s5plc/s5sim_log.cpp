#include "s5sim_log.h"

namespace s5sim {

const char *EventName(EventKind kind) {
    switch (kind) {
    case EventKind::Ready:
        return "ready";
    case EventKind::Rx:
        return "rx";
    case EventKind::Tx:
        return "tx";
    case EventKind::StxIn:
        return "stx-in";
    case EventKind::DleIn:
        return "dle-in";
    case EventKind::NakIn:
        return "nak-in";
    case EventKind::StxOut:
        return "stx-out";
    case EventKind::DleOut:
        return "dle-out";
    case EventKind::NakOut:
        return "nak-out";
    case EventKind::Command:
        return "command";
    case EventKind::Reply:
        return "reply";
    case EventKind::ReplyDone:
        return "reply-done";
    case EventKind::ReplyFailed:
        return "reply-failed";
    case EventKind::BccError:
        return "bcc-error";
    case EventKind::DleError:
        return "dle-error";
    case EventKind::Timeout:
        return "timeout";
    case EventKind::Overflow:
        return "overflow";
    case EventKind::Conflict:
        return "conflict";
    case EventKind::Dropped:
        return "dropped";
    case EventKind::Fault:
        return "fault";
    case EventKind::PortClosed:
        return "port-closed";
    case EventKind::Stopped:
        return "stopped";
    }
    return "?";
}

EventLog::EventLog() : start_(std::chrono::steady_clock::now()) {}

int64_t EventLog::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start_)
        .count();
}

void EventLog::Add(EventKind kind, std::string text) {
    Event e;
    std::function<void(const Event &)> sink;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Stamped under the lock so that the order of sequence numbers is the order of stamps.
        e.ms = NowMs();
        e.seq = next_seq_++;
        e.kind = kind;
        e.text = std::move(text);
        events_.push_back(e);
        while (events_.size() > capacity_)
            events_.pop_front();
        sink = sink_;
    }
    changed_.notify_all();
    if (sink) sink(e);
}

std::vector<Event> EventLog::Since(uint64_t from) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Event> out;
    for (const Event &e : events_)
        if (e.seq >= from) out.push_back(e);
    return out;
}

uint64_t EventLog::NextSeq() {
    std::lock_guard<std::mutex> lock(mutex_);
    return next_seq_;
}

void EventLog::SetSink(std::function<void(const Event &)> sink) {
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = std::move(sink);
}

void EventLog::SetCapacity(size_t capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    capacity_ = capacity > 0 ? capacity : 1;
    while (events_.size() > capacity_)
        events_.pop_front();
}

bool EventLog::WaitUntil(const std::function<bool()> &pred, int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), pred);
}

bool EventLog::WaitFor(EventKind kind, uint64_t from, int timeout_ms, Event *found) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto has = [&] {
        for (auto it = events_.rbegin(); it != events_.rend() && it->seq >= from; ++it) {
            if (it->kind == kind) {
                // The first such event after from, not the last.
                auto first = it;
                for (auto jt = it; jt != events_.rend() && jt->seq >= from; ++jt)
                    if (jt->kind == kind) first = jt;
                if (found) *found = *first;
                return true;
            }
        }
        return false;
    };
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), has);
}

void EventLog::Notify() {
    { std::lock_guard<std::mutex> lock(mutex_); }
    changed_.notify_all();
}

} // namespace s5sim
