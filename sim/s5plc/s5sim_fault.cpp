#include "s5sim_fault.h"

#include <cctype>
#include <cstdlib>

namespace s5sim {

namespace {
struct FaultInfo {
    FaultKind kind;
    const char *name;
    bool needs_arg;
};

constexpr FaultInfo k_faults[] = {
    {FaultKind::NoAck, "no_ack", false},
    {FaultKind::NakCommand, "nak_command", false},
    {FaultKind::AckNoReply, "ack_no_reply", false},
    {FaultKind::ErrorByte, "error_byte", true},
    {FaultKind::ShortReply, "short_reply", false},
    {FaultKind::LongReply, "long_reply", false},
    {FaultKind::TinyReply, "tiny_reply", false},
    {FaultKind::HugeReply, "huge_reply", false},
    {FaultKind::BadBcc, "bad_bcc", false},
    {FaultKind::BadDle, "bad_dle", false},
    {FaultKind::DropEtx, "drop_etx", false},
    {FaultKind::SlowBytes, "slow_bytes", true},
    {FaultKind::GarbageBeforeStx, "garbage_before_stx", true},
    {FaultKind::Conflict, "conflict", true},
    {FaultKind::UnsolicitedSend, "unsolicited_send", false},
    {FaultKind::DelayReply, "delay_reply", true},
    {FaultKind::ClosePort, "close_port", false},
};

std::string Upper(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Decimal or 0x hex, at most limit.
bool ParseValue(const std::string &text, uint64_t limit, uint64_t *out) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    char *end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || v > limit) return false;
    *out = v;
    return true;
}

// One end of a range: BLOCK.WORD for D/X, an address otherwise.
bool ParseKey(const std::string &text, int area, uint32_t *key) {
    uint64_t a = 0, b = 0;
    if (AreaIsBlock(area)) {
        size_t dot = text.find('.');
        if (dot == std::string::npos || !ParseValue(text.substr(0, dot), 255, &a) ||
            !ParseValue(text.substr(dot + 1), 65535, &b))
            return false;
        *key = static_cast<uint32_t>(a << 16 | b);
        return true;
    }
    if (!ParseValue(text, 65535, &a)) return false;
    *key = static_cast<uint32_t>(a);
    return true;
}

bool Fail(std::string *error, const std::string &text, const std::string &why) {
    *error = "fault rule '" + text + "': " + why;
    return false;
}
} // namespace

const char *FaultName(FaultKind kind) {
    for (const FaultInfo &f : k_faults)
        if (f.kind == kind) return f.name;
    return "?";
}

bool FaultAtStx(FaultKind kind) {
    return kind == FaultKind::NoAck || kind == FaultKind::Conflict;
}

bool ParseFaultRule(const std::string &text, FaultRule *rule, std::string *error) {
    FaultRule r;
    r.text = text;
    std::string s = text;

    size_t mark = s.find_first_of("*%");
    if (mark != std::string::npos) {
        std::string how = s.substr(mark + 1);
        if (s[mark] == '*') {
            uint64_t n = 0;
            if (!ParseValue(how, 1000000000, &n) || n == 0)
                return Fail(error, text, "*N needs a count of 1 or more");
            r.remaining = static_cast<int>(n);
        } else {
            char *end = nullptr;
            double p = std::strtod(how.c_str(), &end);
            if (how.empty() || *end != '\0' || !(p >= 0.0 && p <= 100.0))
                return Fail(error, text, "%P needs a percentage 0..100");
            r.remaining = -1;
            r.probability = p;
        }
        s.resize(mark);
    }

    std::string filter;
    size_t at = s.find('@');
    if (at != std::string::npos) {
        filter = s.substr(at + 1);
        s.resize(at);
    }

    std::string name = s, arg;
    size_t colon = s.find(':');
    if (colon != std::string::npos) {
        name = s.substr(0, colon);
        arg = s.substr(colon + 1);
    }
    const FaultInfo *info = nullptr;
    for (const FaultInfo &f : k_faults)
        if (name == f.name) info = &f;
    if (!info) return Fail(error, text, "unknown fault '" + name + "'");
    r.kind = info->kind;
    if (info->needs_arg) {
        uint64_t v = 0;
        uint64_t limit = r.kind == FaultKind::ErrorByte ? 255 : 3600000;
        if (!ParseValue(arg, limit, &v))
            return Fail(error, text, std::string(info->name) + " needs :N");
        r.arg = static_cast<uint32_t>(v);
    } else if (colon != std::string::npos) {
        return Fail(error, text, std::string(info->name) + " takes no argument");
    }

    if (!filter.empty()) {
        if (FaultAtStx(r.kind))
            return Fail(error, text,
                        "it acts on STX, before the command is known, so it takes no @filter");
        std::vector<std::string> parts;
        size_t start = 0;
        for (;;) {
            size_t comma = filter.find(',', start);
            parts.push_back(filter.substr(start, comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (parts.size() > 3) return Fail(error, text, "@CMD[,AREA[,FROM-TO]] has too many parts");
        std::string cmd = Upper(parts[0]);
        if (cmd == "FETCH")
            r.op = kOpFetch;
        else if (cmd == "SEND")
            r.op = kOpSend;
        else if (cmd != "ANY")
            return Fail(error, text, "command must be FETCH, SEND or ANY");
        if (parts.size() > 1) {
            std::string area = Upper(parts[1]);
            if (area != "ANY") {
                r.area = area.size() == 1 ? AreaFromLetter(area[0]) : -1;
                if (r.area < 0) return Fail(error, text, "area must be one of DXEAPQMZTBS or ANY");
            }
        }
        if (parts.size() > 2) {
            if (r.area < 0) return Fail(error, text, "a range needs an area");
            size_t dash = parts[2].find('-');
            if (dash == std::string::npos || !ParseKey(parts[2].substr(0, dash), r.area, &r.from) ||
                !ParseKey(parts[2].substr(dash + 1), r.area, &r.to) || r.to < r.from)
                return Fail(error, text,
                            AreaIsBlock(r.area) ? "range must be DB.DW-DB.DW"
                                                : "range must be FROM-TO");
            r.ranged = true;
        }
    }
    *rule = r;
    return true;
}

void FaultList::Add(const FaultRule &rule) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.push_back(rule);
}

void FaultList::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
}

std::vector<FaultRule> FaultList::Rules() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rules_;
}

bool FaultList::Match(const Command *cmd, FaultRule *applied) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (FaultRule &r : rules_) {
        if (r.remaining == 0 || FaultAtStx(r.kind) != (cmd == nullptr)) continue;
        if (cmd) {
            // A reply can only be short or long against a count of elements.
            bool fetch_only = r.kind == FaultKind::ShortReply || r.kind == FaultKind::LongReply;
            if (fetch_only && (cmd->op != kOpFetch || cmd->error != 0)) continue;
            if (r.op != 0 && cmd->op != r.op) continue;
            if (r.area >= 0 && cmd->area != r.area) continue;
            if (r.ranged && (CommandLastKey(*cmd) < r.from || CommandFirstKey(*cmd) > r.to))
                continue;
        }
        if (r.remaining < 0) {
            std::uniform_real_distribution<double> draw(0.0, 100.0);
            if (!(draw(random_) < r.probability)) continue;
        } else {
            --r.remaining;
        }
        *applied = r;
        return true;
    }
    return false;
}

} // namespace s5sim
