// Status channels: communication counters per port in the device's own table.
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

// Sets up the table of the device's own id; nothing when it does not fit.
void stch_Init(const DeviceSlot *slot, const char *ownId);

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
