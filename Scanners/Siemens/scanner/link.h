// The 3964R link procedure over the scanner's serial port: the scanner is the active side
// that sends one command block and then receives the controller's reply block.
//
// Results are 1 (or a byte count) and 0 on failure, with the reason in the thread's last
// error (plat_GetLastError). Three code spaces meet there, never overlapping:
//   below 0x1000000            a Windows error of the port
//   LINK_ERROR_BASE + n        a link error (LINK_ERR_*)
//   PLC_ERROR_BASE | e         the controller's reply error byte e (rk.h)
// A failed transfer never leaves 0 as last error.
#pragma once

#include "plat_serial.h"

#include <cstdint>

inline constexpr uint8_t LINK_STX = 0x02;
inline constexpr uint8_t LINK_ETX = 0x03;
inline constexpr uint8_t LINK_DLE = 0x10;
inline constexpr uint8_t LINK_NAK = 0x15;

inline constexpr uint32_t LINK_ERROR_BASE = 0x1000000;
inline constexpr uint32_t PLC_ERROR_BASE = 0x2000000;

enum : uint32_t {
    LINK_ERR_TIMEOUT = LINK_ERROR_BASE + 1,     // an expected byte did not come
    LINK_ERR_DLE = LINK_ERROR_BASE + 2,         // DLE followed by neither DLE nor ETX
    LINK_ERR_TOO_LONG = LINK_ERROR_BASE + 3,    // block (or element count) too long
    LINK_ERR_BCC = LINK_ERROR_BASE + 4,         // block check character wrong
    LINK_ERR_NAK = LINK_ERROR_BASE + 6,         // NAK received as answer
    LINK_ERR_TOO_SHORT = LINK_ERROR_BASE + 7,   // too few data bytes or elements
    LINK_ERR_UNEXPECTED = LINK_ERROR_BASE + 8,  // unexpected answer
    LINK_ERR_CONFLICT = LINK_ERROR_BASE + 0x11, // STX answered our STX
};

// Process-wide timings and modes, set once when the device is opened.
struct LinkSettings {
    int32_t retries = 6;          // attempts of a block send, and of a reply receive
    int32_t write_timeout = 2000; // ms for writing STX and a frame; fixed
    int32_t char_delay = 220;     // ms between bytes of a received block, for its BCC, and
                                  // the write time-out of a single DLE or NAK
    int32_t ack_timeout = 2000;   // ms for the partner's answer after STX and after a frame
    int32_t block_wait = 4000;    // ms per byte while looking for the partner's STX
    int32_t bcc = 1;              // block check character appended and checked
    int32_t priority = 0;         // nonzero: high priority in an initialisation conflict
};

LinkSettings &link_Settings();
// Back to the defaults above (a test between cases; the scanner sets them once).
void link_ResetSettings();

// Line settings of the open.
using LinkLineSettings = PlatSerialLine;

// The one port of the process. Time-outs are given on every call, never kept.
int link_OpenPort(const char *name, const LinkLineSettings &line);
void link_ClosePort();
int link_PurgePort();
int link_ReadBytes(uint8_t *buf, int n, int timeout_ms);
int link_WriteBytes(const uint8_t *buf, int n, int timeout_ms);

// Protocol mode 1 turns the block check on, 2 off, anything else leaves it; returns the
// resulting mode (1 on, 0 off).
int link_SetBccMode(int mode);

// Sends one block (data as they are; the link adds the framing). 1 acknowledged, 0 failed.
int link_SendBlock(const uint8_t *data, int length);

// Receives the partner's reply block: number of data bytes, 0 on failure.
int link_ReceiveReply(uint8_t *buf, int capacity);

// The receiving half after the partner's STX was seen: data bytes, 0 on failure (the
// caller answers a failure with NAK). A block under 4 data bytes is refused.
int link_ReceiveBlock(uint8_t *buf, int capacity);

// 1 when the partner's answer is DLE; else 0 with LINK_ERR_TIMEOUT, _NAK, _CONFLICT or
// _UNEXPECTED.
int link_WaitAck();

// 1 once an STX is read (other bytes are skipped, each restarting the block wait time);
// 0 with LINK_ERR_TIMEOUT.
int link_WaitStx();

int link_SendDle();
int link_SendNak();

// Events counted by the link since the last reset. The same counts go to port 0 of the
// device's status channels while those are active.
struct LinkCounters {
    uint32_t rx_bytes = 0, rx_packets = 0, rx_timeouts = 0, rx_comm_errors = 0, rx_crc_errors = 0;
    uint32_t tx_bytes = 0, tx_packets = 0, tx_errors = 0;
};
const LinkCounters &link_Counters();
void link_ResetCounters();
