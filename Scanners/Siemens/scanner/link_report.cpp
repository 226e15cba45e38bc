#include "link_report.h"

#include "dbg.h"
#include "link.h"
#include "stch.h"

#include <cstdio>
#include <string>

namespace {
LinkCounters g_counters;
// The device's one line is port 0 of its status channels.
constexpr int STATUS_PORT = 0;
} // namespace

const LinkCounters &link_Counters() {
    return g_counters;
}

void link_ResetCounters() {
    g_counters = LinkCounters();
}

void link_TraceBlock(const char *direction, const uint8_t *bytes, int n) {
    dbg_WriteTrace(direction);
    dbg_HexDump(bytes, n);
    dbg_WriteTrace("\n");
}

void link_TraceFailure(const char *direction, uint32_t code) {
    char line[48];
    std::snprintf(line, sizeof line, "%sfailed 0x%x\n", direction, code);
    dbg_WriteTrace(line);
}

void link_TraceLine(const char *text) {
    dbg_WriteTrace((std::string(text) + "\n").c_str());
}

void link_CountSent(int wire_bytes) {
    g_counters.tx_bytes += static_cast<uint32_t>(wire_bytes);
    g_counters.tx_packets += 1;
    stch_AddTxBytes(STATUS_PORT, static_cast<uint32_t>(wire_bytes));
    stch_AddTxPackets(STATUS_PORT, 1);
}

void link_CountSendFailure() {
    g_counters.tx_errors += 1;
}

void link_CountReceived(int wire_bytes) {
    g_counters.rx_bytes += static_cast<uint32_t>(wire_bytes);
    g_counters.rx_packets += 1;
    stch_AddRxBytes(STATUS_PORT, static_cast<uint32_t>(wire_bytes));
    stch_AddRxPackets(STATUS_PORT, 1);
}

void link_CountReceiveFailure(uint32_t code) {
    if (code == LINK_ERR_TIMEOUT) {
        g_counters.rx_timeouts += 1;
        stch_AddRxTimeouts(STATUS_PORT, 1);
    } else if (code == LINK_ERR_BCC) {
        g_counters.rx_crc_errors += 1;
        stch_AddRxCrcErrors(STATUS_PORT, 1);
    } else {
        g_counters.rx_comm_errors += 1;
        stch_AddRxCommErrors(STATUS_PORT, 1);
    }
}
