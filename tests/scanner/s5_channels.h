// Channel records and 3964R exchanges for the tests of the S5 planner and handlers.
#pragma once

#include "chrec.h"
#include "fake_port.h"
#include "s5.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace s5test {

struct Ch {
    uint8_t station = 1;
    uint8_t type = 0; // S5TypeByte
    uint16_t address = 0;
    uint8_t bit = 0;
    uint8_t byteSelect = 0;
    bool enabled = true;
    uint8_t channelType = CHANNEL_TYPE_AI;
};

inline uint16_t Db(int block, int word) {
    return static_cast<uint16_t>(block << 8 | word);
}

inline ChannelRecord Record(const Ch &c) {
    ChannelRecord r{};
    chrec_SetType(&r, c.channelType);
    chrec_SetFlag(&r, ChannelAnalog::Enable, c.enabled ? 1 : 0);
    S5ChannelAddress a{};
    a.station = c.station;
    a.type = c.type;
    a.address = c.address;
    a.bit_number = c.bit;
    a.byte_select = c.byteSelect;
    a.block_link = 0xDEADBEEF; // whatever a previous run left
    std::memcpy(chrec_DevicePart(&r), &a, sizeof a);
    return r;
}

inline std::vector<ChannelRecord> Records(const std::vector<Ch> &channels) {
    std::vector<ChannelRecord> out;
    for (const Ch &c : channels)
        out.push_back(Record(c));
    return out;
}

inline uint32_t Link(const ChannelRecord &r) {
    return s5_ChannelAddress(r).block_link;
}

// The block as "station area start count", e.g. "1 D 0x050a 3".
inline std::string Describe(const S5RequestBlock &b) {
    char text[64];
    std::snprintf(text, sizeof text, "%d %c 0x%04x %d", b.station, S5_AREA_LETTERS[b.type], b.start,
                  b.count);
    return text;
}

inline std::vector<std::string> Describe(const S5BlockList &list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.count; ++i)
        out.push_back(Describe(list.blocks[i]));
    return out;
}

// A 3964R frame as it goes on the line after STX: DLE doubled, DLE ETX, the block check.
inline std::string Framed(const std::string &telegram) {
    std::vector<uint8_t> frame;
    for (uint8_t b : Hex(telegram)) {
        frame.push_back(b);
        if (b == LINK_DLE) frame.push_back(b);
    }
    frame.push_back(LINK_DLE);
    frame.push_back(LINK_ETX);
    uint8_t bcc = 0;
    for (uint8_t b : frame)
        bcc ^= b;
    frame.push_back(bcc);
    return ToHex(frame);
}

// The command telegram, acknowledged, then the controller's reply telegram, acknowledged.
inline void Exchange(FakePort &port, const std::string &command, const std::string &reply) {
    port.ExpectWrite("02").Deliver("10").ExpectWrite(Framed(command)).Deliver("10");
    port.Deliver("02").ExpectWrite("10").Deliver(Framed(reply)).ExpectWrite("10");
}

// The controller does not answer the STX (one attempt).
inline void NoAnswer(FakePort &port) {
    port.ExpectWrite("02").Silence().ExpectWrite("15");
}

inline std::string Hex4(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x %02x", (value >> 8) & 0xFF, value & 0xFF);
    return text;
}

inline std::string Fetch(char letter, int start, int count) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", letter);
    return std::string("00 00 45 ") + text + " " + Hex4(start) + " " + Hex4(count) + " ff ff";
}

inline std::string Send(char letter, int start, const std::string &data) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x", letter);
    int count = 1;
    return std::string("00 00 41 ") + text + " " + Hex4(start) + " " + Hex4(count) + " ff ff " +
           data;
}

inline const char *const REPLY_OK = "00 00 00 00";

} // namespace s5test
