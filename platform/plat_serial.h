// Serial port, as the Windows code used a COM port: exclusive open, line settings, reads and
// writes that each carry their own time-out, purge, close.
//
// A port name such as "COM1" resolves first through $KVT_SERIAL_DIR/<name> (a symlink to a
// USB adapter or a pseudo-terminal, or a device file; matched exactly, then without regard to
// case), else COMn becomes /dev/ttyS(n-1). A dangling link in that folder fails with 2: it
// never falls back to /dev/ttyS*, so a missing adapter is not silently replaced by a UART.
//
// Failures carry Windows numbers in the last error and errno (platform/plat_error.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Line settings. Codes are the Windows ones: parity 0 none, 1 odd, 2 even, 3 mark, 4 space;
// stop bits 0 one, 1 one and a half, 2 two.
struct PlatSerialLine {
    uint32_t baud = 9600;
    uint8_t byte_size = 8;
    uint8_t parity = 0;
    uint8_t stop_bits = 0;
    uint8_t parity_check = 0;
};

// Device path for a port name; -1 with 2 when the name names no port.
int plat_SerialResolve(const char *name, std::string &path);

// Opens the port for exclusive use and returns its descriptor, or -1 with the last error:
// 2 missing, 5 in use or no access, 31 anything else.
int plat_SerialOpen(const char *name);

// Puts the port into raw mode with the given line settings. The Windows code never checked
// SetCommState, so a refused step does not stop the others: each one is described in
// `failures` (when given) and the number of failed steps is returned.
int plat_SerialConfigure(int fd, const PlatSerialLine &line, std::vector<std::string> *failures);

// The raw-mode flags and the size, parity and stop bits of `line` applied to termios
// settings (speed apart): what plat_SerialConfigure applies.
struct termios;
void plat_SerialMakeRaw(struct termios *t, const PlatSerialLine &line);

// Sets a baud rate that termios has no constant for (termios2, BOTHER). 0 or -1 (errno kept).
int plat_SerialSetCustomBaud(int fd, uint32_t baud);

// The system calls a port has made, counted by the functions below when given a record: what
// the line's software costs per exchange above the bytes it carries.
struct PlatSerialCalls {
    uint64_t reads = 0;
    uint64_t polls = 0;
    uint64_t writes = 0;
    uint64_t flushes = 0;
};

// Reads exactly n bytes within timeout_ms (<= 0: only what has already arrived). 1 when all
// n came; 0 otherwise, with no last error for a plain short read: the caller knows what a
// missing byte means. A line that has hung up counts as silent for the whole time-out, so
// that a caller retrying on time-outs cannot spin.
int plat_SerialRead(int fd, uint8_t *buf, int n, int timeout_ms, PlatSerialCalls *calls = nullptr);

// Waits up to timeout_ms (<= 0: no wait) for the line to have bytes, then takes what it has, up
// to capacity, in one read. The count taken; 0 when nothing came in time (no last error; a line
// that has hung up is silent for the whole time-out, as above); -1 with the last error when the
// descriptor is unusable.
int plat_SerialReadSome(int fd, uint8_t *buf, int capacity, int timeout_ms,
                        PlatSerialCalls *calls = nullptr);

// Writes all n bytes within timeout_ms (<= 0 means 1 ms). 1, or 0 with 121 when time ran
// out or the mapped Windows error of a failed write.
int plat_SerialWrite(int fd, const uint8_t *buf, int n, int timeout_ms,
                     PlatSerialCalls *calls = nullptr);

// Drops bytes that came in and were not read; bytes written are still sent. 1, or 0 with
// the mapped error.
int plat_SerialPurge(int fd, PlatSerialCalls *calls = nullptr);

// Gives up exclusivity and closes; a negative descriptor is ignored.
void plat_SerialClose(int fd);

// The serial ports of this machine, in the order a port list shows them: the entries of
// $KVT_SERIAL_DIR sorted by name, then "COM<n+1>" for each /dev/ttyS<n> that a device backs,
// by n. Returns the count, or -1 with the last error when none of the places can be read.
int plat_SerialEnumPorts(std::vector<std::string> &names);

// The times the port's reads, writes and waits have come back from the system since the
// process started: what tells a line that is waited on from one that is spun on.
uint64_t plat_SerialWakeups();
