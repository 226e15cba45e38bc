// Kept apart from plat_serial.cpp: the kernel's termios2 definitions clash with <termios.h>.
#include <asm/termbits.h>
#include <cstdint>
#include <sys/ioctl.h>

int plat_SerialSetCustomBaud(int fd, uint32_t baud) {
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) return -1;
    t.c_cflag &= ~CBAUD;
    t.c_cflag |= BOTHER;
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    t.c_cflag &= ~(CBAUD << IBSHIFT);
    t.c_cflag |= BOTHER << IBSHIFT;
    return ioctl(fd, TCSETS2, &t) != 0 ? -1 : 0;
}
