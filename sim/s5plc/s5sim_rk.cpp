#include "s5sim_rk.h"

#include <cstdio>

namespace s5sim {

namespace {
constexpr size_t k_headerLength = 10;
} // namespace

Command DecodeCommand(const uint8_t *telegram, size_t length) {
    Command cmd;
    if (length < k_headerLength || telegram[0] != 0 || telegram[1] != 0 ||
        (telegram[2] != kOpFetch && telegram[2] != kOpSend)) {
        cmd.error = kErrBadTelegram;
        if (length >= 3 && telegram[0] == 0 && telegram[1] == 0)
            cmd.op = telegram[2] == kOpFetch || telegram[2] == kOpSend ? telegram[2] : 0;
        if (length >= 4) cmd.area = AreaFromLetter(telegram[3]);
        return cmd;
    }
    cmd.op = telegram[2];
    cmd.area = AreaFromLetter(telegram[3]);
    cmd.address = static_cast<uint16_t>(telegram[4] << 8 | telegram[5]);
    cmd.count = static_cast<uint16_t>(telegram[6] << 8 | telegram[7]);
    cmd.tail[0] = telegram[8];
    cmd.tail[1] = telegram[9];
    cmd.data.assign(telegram + k_headerLength, telegram + length);
    if (cmd.area < 0)
        cmd.error = kErrBadTelegram;
    else if (cmd.op == kOpSend &&
             cmd.data.size() != static_cast<size_t>(cmd.count) * AreaElementSize(cmd.area))
        cmd.error = kErrBadTelegram;
    return cmd;
}

std::vector<uint8_t> ServeCommand(const Command &cmd, Memory &memory) {
    std::vector<uint8_t> reply = {0, 0, 0, 0};
    uint8_t error = cmd.error;
    if (error == 0 && cmd.op == kOpFetch) {
        std::vector<uint8_t> data;
        error = memory.Fetch(cmd.area, cmd.address, cmd.count, &data);
        if (error == 0) reply.insert(reply.end(), data.begin(), data.end());
    } else if (error == 0) {
        error = memory.Store(cmd.area, cmd.address, cmd.count, cmd.data.data());
    }
    if (error != 0) reply.resize(4);
    reply[3] = error;
    return reply;
}

std::vector<uint8_t> OwnSendJob(uint16_t value) {
    return {0,
            0,
            kOpSend,
            'D',
            1,
            0,
            0,
            1,
            0xFF,
            0xFF,
            static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

uint32_t CommandFirstKey(const Command &cmd) {
    if (AreaIsBlock(cmd.area))
        return static_cast<uint32_t>(cmd.address >> 8) << 16 | (cmd.address & 0xFF);
    return cmd.address;
}

uint32_t CommandLastKey(const Command &cmd) {
    return CommandFirstKey(cmd) + (cmd.count > 0 ? cmd.count - 1u : 0u);
}

std::string DescribeCommand(const Command &cmd) {
    std::string s = cmd.op == kOpFetch ? "FETCH" : cmd.op == kOpSend ? "SEND" : "UNKNOWN";
    if (cmd.area >= 0) {
        s += " ";
        s += kAreaLetters[cmd.area];
        if (AreaIsBlock(cmd.area))
            s += std::to_string(cmd.address >> 8) + "." + std::to_string(cmd.address & 0xFF);
        else
            s += std::to_string(cmd.address);
    }
    s += " count " + std::to_string(cmd.count);
    if (!cmd.data.empty()) s += " data " + HexBytes(cmd.data.data(), cmd.data.size());
    if (cmd.error) s += " error " + std::to_string(cmd.error);
    return s;
}

std::string HexBytes(const uint8_t *p, size_t n) {
    std::string s;
    s.reserve(n * 3);
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

} // namespace s5sim
