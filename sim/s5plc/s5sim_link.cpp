// The 3964R side of the simulated controller: passive for the partner's commands, active for
// its own replies.
#include "s5sim.h"

#include <cstdio>
#include <random>

namespace s5sim {

namespace {
constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;
constexpr uint8_t DLE = 0x10;
constexpr uint8_t NAK = 0x15;
// What a DLE inside a broken frame is followed by.
constexpr uint8_t k_badAfterDle = 0x04;
// Room for a command; any count whose telegram fits is served.
constexpr size_t k_frameCapacity = 4096;
// Writes of our own never wait longer than this for room on the line.
constexpr int k_writeTimeoutMs = 2000;
// Length of a reply the partner cannot take (its buffer holds 140 bytes).
constexpr size_t k_hugeReplyLength = 150;
// A wait that ended in a conflict the partner settled by yielding to us.
constexpr int k_restart = -100;

std::string Hex1(int b) {
    char s[8];
    std::snprintf(s, sizeof s, "%02X", b & 0xFF);
    return s;
}
} // namespace

void Simulator::Run() {
    while (!stop_) {
        int b = port_.ReadByte(-1);
        if (b == Port::kStopped) break;
        if (b == Port::kClosed) {
            port_.Pause(10);
            continue;
        }
        if (b == STX) {
            log_.Add(EventKind::StxIn);
            ServeStx();
        } else if (b == NAK) {
            // The partner gave up its exchange: faults held for its repeats end here.
            Count(naks_received_);
            log_.Add(EventKind::NakIn, "idle");
            EndExchange();
        } else if (b == DLE) {
            log_.Add(EventKind::DleIn, "stray");
        }
    }
    log_.Add(EventKind::Stopped);
}

void Simulator::EndExchange() {
    repeats_ = 0;
    sticky_no_ack_ = false;
    conflicts_left_ = 0;
    sticky_nak_ = false;
    nak_frame_.clear();
}

bool Simulator::WriteControl(uint8_t byte) {
    if (byte == NAK) Count(naks_sent_);
    log_.Add(byte == STX ? EventKind::StxOut : byte == DLE ? EventKind::DleOut : EventKind::NakOut);
    return port_.Write(&byte, 1, k_writeTimeoutMs);
}

void Simulator::ServeStx() {
    if (sticky_no_ack_) {
        if (++repeats_ < settings_.retries) {
            log_.Add(EventKind::Fault, "no_ack (repeat)");
            return;
        }
        EndExchange();
    }
    FaultRule rule;
    if (conflicts_left_ == 0 && faults_.Match(nullptr, &rule)) {
        Count(faults_applied_);
        log_.Add(EventKind::Fault, rule.text);
        if (rule.kind == FaultKind::NoAck) {
            sticky_no_ack_ = true;
            return;
        }
        conflicts_left_ = rule.arg;
    }
    if (conflicts_left_ > 0) {
        if (!AnswerWithConflict()) return;
    } else if (!WriteControl(DLE)) {
        return;
    }
    std::vector<uint8_t> telegram;
    if (ReceiveFrame(&telegram)) AnswerCommand(telegram);
}

bool Simulator::AnswerWithConflict() {
    for (;;) {
        if (conflicts_left_ == 0)
            return WriteControl(DLE); // yield: take the partner's block after all
        --conflicts_left_;
        Count(conflicts_);
        log_.Add(EventKind::Conflict,
                 "answering STX with STX, " + std::to_string(conflicts_left_) + " more to come");
        if (!WriteControl(STX)) return false;
        int b = port_.ReadByte(settings_.char_delay_ms);
        if (b == Port::kTimeout) continue; // a high-priority partner waits for our DLE
        if (b == STX) {
            log_.Add(EventKind::StxIn, "partner started again");
            continue;
        }
        if (b == DLE) {
            // A low-priority partner takes our block first; send it a job of our own.
            log_.Add(EventKind::DleIn);
            std::vector<uint32_t> v;
            std::string error;
            uint16_t value = 0;
            if (memory_.Get(Location{0, 1, 0}, 1, &v, &error)) value = static_cast<uint16_t>(v[0]);
            std::vector<uint8_t> job = OwnSendJob(value);
            log_.Add(EventKind::Reply, "own job " + HexBytes(job.data(), job.size()));
            if (!WriteFrame(job, nullptr)) return false;
            int a = port_.ReadByte(settings_.ack_timeout_ms);
            if (a == DLE) {
                log_.Add(EventKind::DleIn, "own job acknowledged");
            } else if (a == NAK) {
                Count(naks_received_);
                log_.Add(EventKind::NakIn, "own job refused");
            } else if (a == Port::kTimeout) {
                log_.Add(EventKind::Timeout, "own job not acknowledged");
            }
            return false; // the partner starts its send again with STX
        }
        if (b == NAK) {
            Count(naks_received_);
            log_.Add(EventKind::NakIn, "partner gave up");
            EndExchange();
        }
        return false;
    }
}

bool Simulator::ReceiveFrame(std::vector<uint8_t> *data) {
    data->clear();
    uint8_t bcc = 0;
    auto fail = [&](EventKind kind, const std::string &why) {
        log_.Add(kind, why + " after " + std::to_string(data->size()) + " data bytes");
        WriteControl(NAK);
        return false;
    };
    for (;;) {
        int b = port_.ReadByte(settings_.char_delay_ms);
        if (b == Port::kTimeout) return fail(EventKind::Timeout, "byte of block missing");
        if (b < 0) return false;
        if (b == DLE) {
            bcc ^= DLE;
            int c = port_.ReadByte(settings_.char_delay_ms);
            if (c == Port::kTimeout) return fail(EventKind::Timeout, "byte after DLE missing");
            if (c < 0) return false;
            if (c == ETX) {
                bcc ^= ETX;
                break;
            }
            if (c != DLE) return fail(EventKind::DleError, "DLE followed by " + Hex1(c));
            bcc ^= DLE;
        } else {
            bcc ^= static_cast<uint8_t>(b);
        }
        if (data->size() == k_frameCapacity)
            return fail(EventKind::Overflow,
                        "block longer than " + std::to_string(k_frameCapacity));
        data->push_back(static_cast<uint8_t>(b));
    }
    if (settings_.bcc) {
        int c = port_.ReadByte(settings_.char_delay_ms);
        if (c == Port::kTimeout) return fail(EventKind::Timeout, "BCC missing");
        if (c < 0) return false;
        if (c != bcc)
            return fail(EventKind::BccError, "BCC " + Hex1(c) + " instead of " + Hex1(bcc));
    }
    return true;
}

void Simulator::AnswerCommand(const std::vector<uint8_t> &telegram) {
    Command cmd = DecodeCommand(telegram.data(), telegram.size());
    Count(commands_);
    log_.Add(EventKind::Command, DescribeCommand(cmd));

    if (sticky_nak_) {
        if (telegram == nak_frame_ && ++repeats_ < settings_.retries) {
            log_.Add(EventKind::Fault, "nak_command (repeat)");
            WriteControl(NAK);
            return;
        }
        EndExchange();
    }
    FaultRule rule;
    const FaultRule *fault = nullptr;
    if (faults_.Match(&cmd, &rule)) {
        fault = &rule;
        Count(faults_applied_);
        log_.Add(EventKind::Fault, rule.text);
    }
    FaultKind kind = fault ? fault->kind : FaultKind::NoAck;
    if (fault && kind == FaultKind::NakCommand) {
        sticky_nak_ = true;
        nak_frame_ = telegram;
        WriteControl(NAK);
        return;
    }
    if (fault && kind == FaultKind::ClosePort) {
        port_.Close();
        log_.Add(EventKind::PortClosed, "as a pulled cable");
        return;
    }
    if (!WriteControl(DLE)) return;
    EndExchange();
    if (fault && kind == FaultKind::AckNoReply) return;

    std::vector<uint8_t> reply;
    if (fault && kind == FaultKind::ErrorByte)
        reply = {0, 0, 0, static_cast<uint8_t>(fault->arg)}; // the job is refused, not done
    else
        reply = ServeCommand(cmd, memory_);
    size_t size = static_cast<size_t>(AreaElementSize(cmd.area));
    if (fault) {
        switch (kind) {
        case FaultKind::ShortReply:
            if (reply.size() >= 4 + size && cmd.count > 0) reply.resize(reply.size() - size);
            break;
        case FaultKind::LongReply:
            reply.resize(reply.size() + size, 0);
            break;
        case FaultKind::TinyReply:
            reply = {0, 0, 0};
            break;
        case FaultKind::HugeReply:
            reply.resize(k_hugeReplyLength, 0);
            break;
        case FaultKind::UnsolicitedSend: {
            std::vector<uint32_t> v;
            std::string error;
            uint16_t value =
                memory_.Get(Location{0, 1, 0}, 1, &v, &error) ? static_cast<uint16_t>(v[0]) : 0;
            reply = OwnSendJob(value);
            break;
        }
        default:
            break;
        }
    }
    int delay = settings_.reaction_ms;
    if (fault && kind == FaultKind::DelayReply) delay += static_cast<int>(fault->arg);
    if (!port_.Pause(delay)) return;
    SendTelegram(reply, fault);
}

bool Simulator::SendTelegram(const std::vector<uint8_t> &telegram, const FaultRule *fault) {
    FaultKind kind = fault ? fault->kind : FaultKind::NoAck;
    int conflicts = 0;
    for (int attempt = 0; attempt < settings_.retries;) {
        if (fault && kind == FaultKind::GarbageBeforeStx && fault->arg > 0) {
            std::mt19937 random(static_cast<uint32_t>(settings_.seed + attempt));
            std::vector<uint8_t> junk;
            while (junk.size() < fault->arg) {
                uint8_t b = static_cast<uint8_t>(random());
                if (b != STX) junk.push_back(b);
            }
            if (!port_.Write(junk.data(), junk.size(), k_writeTimeoutMs)) return false;
        }
        if (!WriteControl(STX)) return false;
        int b;
        for (;;) {
            b = port_.ReadByte(settings_.ack_timeout_ms);
            if (b != STX) break;
            Count(conflicts_);
            ++conflicts;
            log_.Add(EventKind::Conflict, settings_.high_priority
                                              ? "partner STX, waiting on"
                                              : "partner STX, taking its block");
            if (conflicts > settings_.retries) break; // a partner that never yields costs attempts
            if (settings_.high_priority) continue;
            if (!WriteControl(DLE)) return false;
            std::vector<uint8_t> dropped;
            if (ReceiveFrame(&dropped)) {
                WriteControl(DLE);
                log_.Add(EventKind::Dropped, HexBytes(dropped.data(), dropped.size()));
            }
            b = k_restart;
            break;
        }
        if (b == k_restart) continue;
        if (b == Port::kStopped) return false;
        if (b == DLE) {
            log_.Add(EventKind::DleIn);
            log_.Add(EventKind::Reply, HexBytes(telegram.data(), telegram.size()));
            if (!WriteFrame(telegram, fault)) return false;
            b = port_.ReadByte(settings_.ack_timeout_ms);
            if (b == DLE) {
                Count(replies_);
                log_.Add(EventKind::ReplyDone);
                return true;
            }
            if (b == Port::kStopped) return false;
        }
        if (b == NAK) {
            Count(naks_received_);
            log_.Add(EventKind::NakIn);
        } else if (b == Port::kTimeout || b == Port::kClosed) {
            log_.Add(EventKind::Timeout, "no answer from the partner");
        } else if (b != STX) {
            log_.Add(EventKind::Fault, "unexpected answer " + Hex1(b));
        }
        if (++attempt < settings_.retries) Count(retransmissions_);
    }
    log_.Add(EventKind::ReplyFailed);
    return false;
}

bool Simulator::WriteFrame(const std::vector<uint8_t> &telegram, const FaultRule *fault) {
    FaultKind kind = fault ? fault->kind : FaultKind::NoAck;
    std::vector<uint8_t> frame;
    frame.reserve(telegram.size() * 2 + 3);
    for (uint8_t b : telegram) {
        frame.push_back(b);
        if (b == DLE) frame.push_back(DLE);
    }
    if (fault && kind == FaultKind::DropEtx)
        return port_.Write(frame.data(), frame.size(), k_writeTimeoutMs);
    frame.push_back(DLE);
    if (fault && kind == FaultKind::BadDle)
        frame.push_back(k_badAfterDle);
    else
        frame.push_back(ETX);
    if (settings_.bcc && !(fault && kind == FaultKind::BadDle)) {
        uint8_t bcc = 0;
        for (uint8_t b : frame)
            bcc ^= b;
        if (fault && kind == FaultKind::BadBcc) bcc ^= 0xFF;
        frame.push_back(bcc);
    }
    if (fault && kind == FaultKind::SlowBytes) {
        // The gap falls before the last byte, so little is left to the partner's STX hunt.
        if (!port_.Write(frame.data(), frame.size() - 1, k_writeTimeoutMs) ||
            !port_.Pause(static_cast<int>(fault->arg)))
            return false;
        return port_.Write(&frame.back(), 1, k_writeTimeoutMs);
    }
    return port_.Write(frame.data(), frame.size(), k_writeTimeoutMs);
}

} // namespace s5sim
