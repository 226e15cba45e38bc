// Status channels: communication counters per port in the device's own table.
//
// The runtime gives a device its own table (type 8: N statuses and N float values). Each
// port p of P = N / 10 owns channels 10 p + 1 .. 10 p + 10 (the rows below); port 0 holds the
// device totals. The scanner fills the channel records at start-up; the link layer counts
// into them while it runs; an operator writing 1 into a port's RESET channel zeroes its
// counters.
#pragma once

#include <cstdint>

struct DeviceSlot;

// Rows of a port's ten channels (1-based).
enum : int {
    STCH_ROW_STATUS = 1,
    STCH_ROW_RESET = 2,
    STCH_ROW_RX_BYTES = 3,
    STCH_ROW_RX_PACKETS = 4,
    STCH_ROW_RX_TIMEOUTS = 5,
    STCH_ROW_RX_COMM_ERRORS = 6,
    STCH_ROW_RX_CRC_ERRORS = 7,
    STCH_ROW_TX_BYTES = 8,
    STCH_ROW_TX_PACKETS = 9,
    STCH_ROW_TX_ERRORS = 10,
};

// Sets up the table of the device's own id (a second call starts afresh); nothing when the
// table is missing, not of type 8, smaller than one port, or its segments are too small.
void stch_Init(const DeviceSlot *slot, const char *ownId);

// Adds to a port's counter of a row (and to port 0's for ports above 0) and marks the port
// enabled; a port or row outside the table is ignored. Nothing while inactive.
void stch_AddCount(int port, uint32_t amount, int row);
void stch_AddRxBytes(int port, uint32_t amount);
void stch_AddRxPackets(int port, uint32_t amount);
void stch_AddRxTimeouts(int port, uint32_t amount);
void stch_AddRxCommErrors(int port, uint32_t amount);
void stch_AddRxCrcErrors(int port, uint32_t amount);
void stch_AddTxBytes(int port, uint32_t amount);
void stch_AddTxPackets(int port, uint32_t amount);
void stch_AddTxErrors(int port, uint32_t amount);

// Publishes changed states and values.
void stch_Update();

// Shows every port as stopped and releases the table.
void stch_Shutdown();

// 1 while a table is served.
int stch_IsActive();
