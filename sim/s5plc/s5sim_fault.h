// Fault injection of the simulated controller.
//
// A rule is NAME[:ARG][@CMD[,AREA[,FROM-TO]]][*N|%P]. It matches a command by kind, area and an
// element range that the command overlaps, and applies to the next N matching exchanges
// (default 1) or to each with probability P percent, drawn from a seeded generator. Rules are
// tried in order and the first that matches applies. An exchange is one command of the partner
// with all its repeats, so a fault that makes the partner retry stays in force until the
// partner gives up (its closing NAK), succeeds, or has made as many attempts as the simulator's
// own retries.
#pragma once

#include "s5sim_rk.h"

#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace s5sim {

enum class FaultKind {
    NoAck,
    NakCommand,
    AckNoReply,
    ErrorByte,
    ShortReply,
    LongReply,
    TinyReply,
    HugeReply,
    BadBcc,
    BadDle,
    DropEtx,
    SlowBytes,
    GarbageBeforeStx,
    Conflict,
    UnsolicitedSend,
    DelayReply,
    ClosePort,
};

const char *FaultName(FaultKind kind);

// Faults decided when the partner's STX arrives, before its command is known; such rules
// take no command, area or range.
bool FaultAtStx(FaultKind kind);

struct FaultRule {
    FaultKind kind = FaultKind::NoAck;
    uint32_t arg = 0;
    uint8_t op = 0; // 0 any, kOpFetch, kOpSend
    int area = -1;  // -1 any
    bool ranged = false;
    uint32_t from = 0; // keys as CommandFirstKey
    uint32_t to = 0;
    int remaining = 1;        // exchanges left; -1 when drawn by probability
    double probability = 0.0; // percent
    std::string text;
};

bool ParseFaultRule(const std::string &text, FaultRule *rule, std::string *error);

class FaultList {
public:
    explicit FaultList(uint64_t seed) : random_(seed) {}

    void Add(const FaultRule &rule);
    void Clear();
    std::vector<FaultRule> Rules();

    // The rule that applies to a new exchange, taking one of its uses. At STX only the STX
    // rules are tried (cmd is null); for a decoded command only the others.
    bool Match(const Command *cmd, FaultRule *applied);

private:
    std::mutex mutex_;
    std::mt19937_64 random_;
    std::vector<FaultRule> rules_;
};

} // namespace s5sim
