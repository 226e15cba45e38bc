#include "plat_mailslot.h"

#include <cerrno>
#include <sys/socket.h>

int plat_MailslotPeekSize(PlatMailslot *slot) {
    char byte;
    for (;;) {
        ssize_t got = recv(slot->sock, &byte, 1, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
        if (got >= 0) return static_cast<int>(got);
        if (errno == EINTR) continue;
        return 0;
    }
}
