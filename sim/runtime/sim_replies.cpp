#include "sim_replies.h"

#include <cstdlib>

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool decodeHex(const std::string &text, std::string *bytes) {
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    if (digits.size() % 2 != 0) return false;
    bytes->clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        int hi = hexValue(digits[i]), lo = hexValue(digits[i + 1]);
        if (hi < 0 || lo < 0) return false;
        *bytes += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

// Splits "word rest" at the first space.
void firstWord(const std::string &text, std::string *word, std::string *rest) {
    size_t space = text.find(' ');
    *word = text.substr(0, space);
    *rest = space == std::string::npos ? "" : text.substr(space + 1);
}

bool positive(const std::string &text, int *out) {
    char *end = nullptr;
    long v = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v <= 0 || v > 100000000) return false;
    *out = static_cast<int>(v);
    return true;
}

std::string withNul(const std::string &text) {
    return text + '\0';
}
} // namespace

bool SimReplyScript::add(const std::string &statement) {
    std::string text = statement;
    if (text.compare(0, 6, "reply ") == 0) text.erase(0, 6);
    std::string prefix, rest, word, argument;
    firstWord(text, &prefix, &rest);
    if (prefix.empty()) return false;
    firstWord(rest, &word, &argument);
    SimReply reply;
    reply.scripted = true;
    if (word == "raw") {
        reply.action = SimAction::Raw;
        if (!decodeHex(argument, &reply.bytes)) return false;
    } else if ((word == "close" || word == "empty" || word == "stall" || word == "negative" ||
                word == "unauthorized") &&
               argument.empty()) {
        reply.action = word == "close"      ? SimAction::Close
                       : word == "empty"    ? SimAction::Empty
                       : word == "stall"    ? SimAction::Stall
                       : word == "negative" ? SimAction::Negative
                                            : SimAction::Unauthorized;
    } else if (word == "big") {
        reply.action = SimAction::Big;
        if (!positive(argument, &reply.number)) return false;
    } else if (word == "split" || word == "short" || word == "notsoap") {
        reply.action = word == "split"   ? SimAction::Split
                       : word == "short" ? SimAction::Short
                                         : SimAction::NotSoap;
        reply.bytes = word == "notsoap" ? argument : withNul(argument);
    } else if (word == "chunks" || word == "delay") {
        std::string number, answer;
        firstWord(argument, &number, &answer);
        reply.action = word == "chunks" ? SimAction::Chunks : SimAction::Delay;
        if (!positive(number, &reply.number)) return false;
        reply.bytes = withNul(answer);
    } else if (word == "fault") {
        reply.action = SimAction::Fault;
        firstWord(argument, &reply.faultString, &reply.detail);
    } else {
        reply.action = SimAction::Text;
        reply.bytes = withNul(rest);
    }
    script_[prefix] = reply;
    return true;
}

SimReply SimReplyScript::find(const std::string &text) const {
    auto exact = script_.find(text);
    if (exact != script_.end()) return exact->second;
    const SimReply *best = nullptr;
    size_t bestLength = 0;
    for (const auto &[prefix, reply] : script_)
        if (prefix.size() > bestLength && text.compare(0, prefix.size(), prefix) == 0) {
            best = &reply;
            bestLength = prefix.size();
        }
    if (best != nullptr) return *best;
    return SimReply{};
}

std::string sim_RequestMatchText(const std::string &request) {
    auto headerEnd = [&](char separator, int count) -> size_t {
        size_t at = 2;
        for (int i = 0; i < count; ++i) {
            at = request.find(separator, at + 1);
            if (at == std::string::npos) return std::string::npos;
        }
        return at + 1;
    };
    size_t end = std::string::npos;
    if (request.compare(0, 3, "WF,") == 0) end = headerEnd('\t', 9);
    if (request.compare(0, 3, "CF,") == 0) end = headerEnd(',', 4);
    std::string text = end == std::string::npos ? request : request.substr(0, end);
    return std::string(text.c_str());
}

std::string sim_BigAnswer(int n) {
    std::string bytes(static_cast<size_t>(n), 'X');
    if (bytes.size() >= 3) {
        bytes.replace(0, 2, "1,");
        bytes.back() = '\0';
    }
    return bytes;
}
