// Trace lines and event counts of the link, in one place so that each event is traced and
// counted exactly once, where it happens.
#pragma once

#include <cstdint>

// "TX " or "RX " and the bytes as they were on the line.
void link_TraceBlock(const char *direction, const uint8_t *bytes, int n);
// One line of text (the newline is added).
void link_TraceLine(const char *text);
// One line for a failed attempt and its code.
void link_TraceFailure(const char *direction, uint32_t code);

// A block acknowledged by the partner: wire_bytes as put on the line (STX included).
void link_CountSent(int wire_bytes);
void link_CountSendFailure();
// A reply taken: wire_bytes as read (STX included).
void link_CountReceived(int wire_bytes);
// A failed reply attempt, sorted by its code.
void link_CountReceiveFailure(uint32_t code);
