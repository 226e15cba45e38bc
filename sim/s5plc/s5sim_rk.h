// RK512 responder of the simulated controller: decodes a command telegram and builds the
// reaction telegram over the memory.
#pragma once

#include "s5sim_memory.h"

#include <cstdint>
#include <string>
#include <vector>

namespace s5sim {

constexpr uint8_t kOpFetch = 'E';
constexpr uint8_t kOpSend = 'A';

// The header of a command as the controller reads it.
struct Command {
    uint8_t op = 0;            // kOpFetch, kOpSend, or 0 when the telegram is not one of them
    int area = -1;             // area index, -1 for an unknown letter
    uint16_t address = 0;      // telegram address; for D/X the block in the high byte
    uint16_t count = 0;        // elements
    uint8_t tail[2] = {};      // bytes 8-9, taken as they come
    std::vector<uint8_t> data; // SEND data as on the wire
    uint8_t error = 0;         // 0x0C when the controller cannot take the telegram
};

Command DecodeCommand(const uint8_t *telegram, size_t length);

// Runs the command against the memory (a SEND writes it) and returns the reaction telegram:
// 00 00 00 00 + data for FETCH, 00 00 00 00 for SEND, 00 00 00 EE on error.
std::vector<uint8_t> ServeCommand(const Command &cmd, Memory &memory);

// A SEND telegram of one word to D 1.0, as the controller sends when it starts a job itself.
std::vector<uint8_t> OwnSendJob(uint16_t value);

// Element range of a command for fault matching: block in bits 16-23 for D/X.
uint32_t CommandFirstKey(const Command &cmd);
uint32_t CommandLastKey(const Command &cmd);

std::string DescribeCommand(const Command &cmd);
std::string HexBytes(const uint8_t *p, size_t n);

} // namespace s5sim
