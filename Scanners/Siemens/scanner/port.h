// The one serial port of the scanner, behind a small interface so that the 3964R link can be
// driven by a scripted fake in tests and by the termios port in the field. The link keeps no
// clock of its own: every wait it makes is a read with a time-out through this interface.
#pragma once

#include "plat_serial.h"

#include <cstdint>
#include <memory>

class LinkPort {
public:
    virtual ~LinkPort() = default;
    // Opens and configures the port: 1, or 0 with the Windows error as last error.
    virtual int Open(const char *name, const PlatSerialLine &line) = 0;
    // Exactly n bytes within timeout_ms: 1, else 0 (a short read sets no last error).
    virtual int Read(uint8_t *buf, int n, int timeout_ms) = 0;
    // All n bytes within timeout_ms: 1, else 0 with a nonzero Windows error.
    virtual int Write(const uint8_t *buf, int n, int timeout_ms) = 0;
    // Drops pending bytes both ways and clears the error state: 1.
    virtual int Purge() = 0;
    virtual void Close() = 0;
};

// Makes `port` the scanner's port (nullptr: the termios port); returns the one it replaces.
LinkPort *port_Select(LinkPort *port);

// The port the link currently uses.
LinkPort &port_Current();

// Where a reading-ahead port takes its bytes from and writes them to: the termios line, or
// another source (a test's, a fuzz program's).
class PortBytes {
public:
    virtual ~PortBytes() = default;
    // Waits up to timeout_ms (<= 0: no wait) for bytes, then takes what there is, up to
    // capacity: the count, 0 when nothing came in time, -1 with the last error when unusable.
    virtual int ReadSome(uint8_t *buf, int capacity, int timeout_ms) = 0;
    // As LinkPort::Write.
    virtual int Write(const uint8_t *buf, int n, int timeout_ms) = 0;
    // Drops input not yet taken.
    virtual void Flush() = 0;
};

// A port that reads ahead from `source` as the termios port reads ahead from the line; `source`
// outlives it.
std::unique_ptr<LinkPort> port_MakeBuffered(PortBytes &source);

// The system calls the termios port has made since the process started.
PlatSerialCalls port_TermiosCalls();
