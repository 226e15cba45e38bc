// S5 records shared by the scanner and the configuration DLL: the areas of S5 memory, the
// channel type byte, and the device parts of the device and channel configuration records.
// The DLL includes this header alone, so it depends on nothing but fixed-width types.
#pragma once

#include <cstddef>
#include <cstdint>

// S5 memory areas; the index is what the low five bits of the type byte hold.
enum S5Area : uint8_t {
    S5_AREA_D = 0,  // data block
    S5_AREA_X = 1,  // extended data block
    S5_AREA_E = 2,  // input
    S5_AREA_A = 3,  // output
    S5_AREA_P = 4,  // input / output
    S5_AREA_Q = 5,  // extended input / output
    S5_AREA_M = 6,  // flag
    S5_AREA_Z = 7,  // counter
    S5_AREA_T = 8,  // timer
    S5_AREA_B = 9,  // system address
    S5_AREA_S = 10, // absolute address
};

inline constexpr int S5_AREA_COUNT = 11;

// RK512 data-type letter of each area, by index.
inline constexpr char S5_AREA_LETTERS[] = "DXEAPQMZTBS";

inline constexpr const char *S5_AREA_NAMES[S5_AREA_COUNT] = {"Data Block",
                                                             "Extended Data Block",
                                                             "Input",
                                                             "Output",
                                                             "Input / Output",
                                                             "Extended Input / Output",
                                                             "Flag",
                                                             "Counter",
                                                             "Timer",
                                                             "System Address",
                                                             "Absolute Address"};

// The area's word in an address label ("Data Address : "), by index.
inline constexpr const char *S5_AREA_WORDS[S5_AREA_COUNT] = {
    "Data", "Data",    "Input", "Output", "I/O",     "I/O",
    "Flag", "Counter", "Timer", "System", "Absolute"};

// Bytes per element: the unit of an address step and of an element count.
inline constexpr uint8_t S5_ELEMENT_SIZE[S5_AREA_COUNT] = {2, 2, 1, 1, 1, 1, 1, 2, 2, 2, 2};

// S5TypeByte: the area in bits 0-4 and the value kind above it. Neither bit nor 16-bit
// means an 8-bit value.
using S5TypeByte = uint8_t;
inline constexpr uint8_t S5_TYPE_AREA_MASK = 0x1F;
inline constexpr uint8_t S5_TYPE_BIT = 0x20;
inline constexpr uint8_t S5_TYPE_WORD = 0x40;
inline constexpr uint8_t S5_TYPE_SIGNED = 0x80;

inline constexpr uint8_t s5_TypeArea(S5TypeByte type) {
    return type & S5_TYPE_AREA_MASK;
}

// Device part of the device configuration record, at its byte 4. A zero or empty field
// means "use the default" (the scanner writes the defaults it used back into it).
struct S5PortSettings {
    char port_name[8];          // "COM1"; empty: COM<device number>
    uint32_t baud_rate;         // 0: 9600
    uint8_t read_outputs_first; // read outputs from the device on the first scan
    uint8_t read_back_outputs;  // read outputs back when not writing them
    uint8_t spare1;
    uint8_t data_format;     // row 0..8 of the data-format table
    uint8_t parity;          // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t protocol_mode;   // 1 block check on, 2 off
    uint16_t char_delay_ms;  // 0: 220
    uint16_t ack_timeout_ms; // 0: 2000
    uint16_t block_wait_ms;  // 0: 4000
    uint8_t priority;        // 0 low, other high
    uint8_t retries;         // 0: 6
    uint8_t spare2[2];
};
static_assert(sizeof(S5PortSettings) == 28);
static_assert(offsetof(S5PortSettings, baud_rate) == 8);
static_assert(offsetof(S5PortSettings, read_outputs_first) == 12);
static_assert(offsetof(S5PortSettings, read_back_outputs) == 13);
static_assert(offsetof(S5PortSettings, data_format) == 15);
static_assert(offsetof(S5PortSettings, parity) == 16);
static_assert(offsetof(S5PortSettings, protocol_mode) == 17);
static_assert(offsetof(S5PortSettings, char_delay_ms) == 18);
static_assert(offsetof(S5PortSettings, ack_timeout_ms) == 20);
static_assert(offsetof(S5PortSettings, block_wait_ms) == 22);
static_assert(offsetof(S5PortSettings, priority) == 24);
static_assert(offsetof(S5PortSettings, retries) == 25);

// Device part of a channel configuration record (16 bytes).
struct S5ChannelAddress {
    uint8_t station;    // station id: blocks never mix stations
    S5TypeByte type;    // area and value kind
    uint16_t address;   // element address; D and X: block number high byte, word low byte
    uint8_t bit_number; // 0..15 for a bit channel
    uint8_t spare1[3];
    uint32_t block_link; // written by the scanner at run time, meaningless outside it
    uint8_t byte_select; // 8-bit value: 1 high byte of the word, 0 low byte
    uint8_t spare2[3];
};
static_assert(sizeof(S5ChannelAddress) == 16);
static_assert(offsetof(S5ChannelAddress, type) == 1);
static_assert(offsetof(S5ChannelAddress, address) == 2);
static_assert(offsetof(S5ChannelAddress, bit_number) == 4);
static_assert(offsetof(S5ChannelAddress, block_link) == 8);
static_assert(offsetof(S5ChannelAddress, byte_select) == 12);
