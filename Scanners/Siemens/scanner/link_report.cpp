#include "link_report.h"

#include "link.h"

namespace {
LinkCounters g_counters;
}

const LinkCounters &link_Counters() {
    return g_counters;
}

void link_ResetCounters() {
    g_counters = LinkCounters();
}

void link_TraceBlock(const char *, const uint8_t *, int) {}

void link_TraceFailure(const char *, uint32_t) {}

void link_TraceLine(const char *) {}

void link_CountSent(int wire_bytes) {
    g_counters.tx_bytes += static_cast<uint32_t>(wire_bytes);
    g_counters.tx_packets += 1;
}

void link_CountSendFailure() {
    g_counters.tx_errors += 1;
}

void link_CountReceived(int wire_bytes) {
    g_counters.rx_bytes += static_cast<uint32_t>(wire_bytes);
    g_counters.rx_packets += 1;
}

void link_CountReceiveFailure(uint32_t code) {
    if (code == LINK_ERR_TIMEOUT)
        g_counters.rx_timeouts += 1;
    else if (code == LINK_ERR_BCC)
        g_counters.rx_crc_errors += 1;
    else
        g_counters.rx_comm_errors += 1;
}
