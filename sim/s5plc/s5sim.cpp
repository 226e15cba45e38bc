#include "s5sim.h"

namespace s5sim {

Simulator::Simulator(const Settings &settings) : settings_(settings), faults_(settings.seed) {
    if (settings_.retries < 1) settings_.retries = 1;
    if (!settings_.db.empty()) memory_.DefineBlocks(0, settings_.db);
    if (!settings_.dx.empty()) memory_.DefineBlocks(1, settings_.dx);
    port_.wire = [this](const uint8_t *p, size_t n, bool tx) {
        if (settings_.wire_log) log_.Add(tx ? EventKind::Tx : EventKind::Rx, HexBytes(p, n));
    };
}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::OpenPty(const std::string &link, std::string *error) {
    return port_.OpenPty(link, error);
}

bool Simulator::OpenDevice(const std::string &path, std::string *error) {
    return port_.OpenDevice(path, error);
}

void Simulator::Start() {
    Stop();
    stop_ = false;
    port_.ClearStop();
    thread_ = std::thread([this] { Run(); });
}

void Simulator::Stop() {
    stop_ = true;
    port_.Stop();
    if (thread_.joinable()) thread_.join();
}

bool Simulator::AddFault(const std::string &rule, std::string *error) {
    FaultRule r;
    if (!ParseFaultRule(rule, &r, error)) return false;
    faults_.Add(r);
    return true;
}

Counters Simulator::counters() const {
    Counters c;
    c.commands = commands_;
    c.naks_received = naks_received_;
    c.retransmissions = retransmissions_;
    c.naks_sent = naks_sent_;
    c.replies = replies_;
    c.conflicts = conflicts_;
    c.faults = faults_applied_;
    return c;
}

bool Simulator::WaitCommands(uint64_t k, int timeout_ms) {
    return log_.WaitUntil([&] { return commands_ >= k; }, timeout_ms);
}

bool Simulator::WaitReplies(uint64_t k, int timeout_ms) {
    return log_.WaitUntil([&] { return replies_ >= k; }, timeout_ms);
}

void Simulator::Count(std::atomic<uint64_t> &counter) {
    ++counter;
}

} // namespace s5sim
