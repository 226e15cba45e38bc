// Simulated S5 controller: the passive 3964R partner with an RK512 responder over a memory of
// the S5 areas, on a pseudo-terminal or a real line, with fault injection and an event log.
//
// Runs on its own thread inside a test (Start/Stop) or on the caller's thread (Run) in the
// s5sim command. Memory, faults, counters and the event log may be used from any thread while
// it runs.
#pragma once

#include "s5sim_fault.h"
#include "s5sim_log.h"
#include "s5sim_memory.h"
#include "s5sim_port.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace s5sim {

struct Settings {
    bool bcc = true;
    bool high_priority = true; // the partner must run at the other priority
    int char_delay_ms = 220;   // each byte inside a block, and the BCC
    int ack_timeout_ms = 2000; // the partner's answer after our STX and after our frame
    int retries = 6;           // attempts at sending a reply
    int reaction_ms = 5;       // between acknowledging a command and the STX of the reply
    uint64_t seed = 1;         // for rules drawn by probability
    bool wire_log = true;      // log every byte (off for measurements)
    // Blocks of D and X as (number, words); empty: every block 0..255 with 256 words.
    std::vector<std::pair<int, int>> db;
    std::vector<std::pair<int, int>> dx;
};

struct Counters {
    uint64_t commands = 0; // command telegrams decoded
    uint64_t naks_received = 0;
    uint64_t retransmissions = 0; // reply attempts after the first
    uint64_t naks_sent = 0;
    uint64_t replies = 0; // replies acknowledged by the partner
    uint64_t conflicts = 0;
    uint64_t faults = 0; // fault rules applied
};

class Simulator {
public:
    explicit Simulator(const Settings &settings);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    bool OpenPty(const std::string &link, std::string *error);
    bool OpenDevice(const std::string &path, std::string *error);
    const std::string &PortPath() const { return port_.Path(); }

    // Serves the line on a thread of its own until Stop.
    void Start();
    // Serves the line on the calling thread until Stop (from another thread or a signal).
    void Run();
    void Stop();

    Memory &memory() { return memory_; }
    FaultList &faults() { return faults_; }
    EventLog &log() { return log_; }
    bool AddFault(const std::string &rule, std::string *error);
    Counters counters() const;

    // Waits until at least k commands have been decoded since the simulator was made.
    bool WaitCommands(uint64_t k, int timeout_ms);
    // Waits until at least k replies have been acknowledged.
    bool WaitReplies(uint64_t k, int timeout_ms);

private:
    // One byte after STX: the passive side from there to the end of the exchange.
    void ServeStx();
    // Our STX in answer to the partner's, per the conflict fault; false when the exchange ended.
    bool AnswerWithConflict();
    // Reads a block after our DLE into data; false (and NAK sent) on error or time-out.
    bool ReceiveFrame(std::vector<uint8_t> *data);
    void AnswerCommand(const std::vector<uint8_t> &telegram);
    // Sends a telegram as the active side, with retries.
    bool SendTelegram(const std::vector<uint8_t> &telegram, const FaultRule *fault);
    // Puts one frame on the wire, shaped by the fault.
    bool WriteFrame(const std::vector<uint8_t> &telegram, const FaultRule *fault);
    bool WriteControl(uint8_t byte);
    void EndExchange();
    void Count(std::atomic<uint64_t> &counter);

    Settings settings_;
    Memory memory_;
    FaultList faults_;
    EventLog log_;
    Port port_;
    std::thread thread_;
    std::atomic<bool> stop_{false};

    // Exchange state: faults that hold for all repeats of one command of the partner.
    // The partner is taken to make as many attempts as we do, so a held fault also ends
    // after that many repeats, should the partner's closing NAK be lost.
    int repeats_ = 0;
    bool sticky_no_ack_ = false;
    uint32_t conflicts_left_ = 0;
    bool sticky_nak_ = false;
    std::vector<uint8_t> nak_frame_;

    std::atomic<uint64_t> commands_{0}, naks_received_{0}, retransmissions_{0}, naks_sent_{0},
        replies_{0}, conflicts_{0}, faults_applied_{0};
};

} // namespace s5sim
