// Abstract AF_UNIX sockets: what mailslots and named pipes have in common.
//
// Both bind an abstract address "\0<text>" (the length covers the leading NUL and the text,
// no trailing NUL, so a name is never found by a longer or shorter one), both let a reader
// block on its socket and be woken through an eventfd, and both connect the same way. The
// mapping of send failures stays with each user: it differs between the two.
#pragma once

#include <string>

// Binds a socket of the given type (SOCK_DGRAM, SOCK_SEQPACKET, with flags) to the abstract
// address text and creates the eventfd that wakes its reader. backlog > 0 also listens.
// 0 with both descriptors set, or -1 with errno (206 for a text too long for an address,
// 183 when another process has bound it) and both left at -1.
int plat_SockBind(const std::string &text, int type, int backlog, int *sock, int *wake);

// Blocks until sock is readable: 0, or -1 with errno 995 after plat_SockWake, 6 when the
// socket has failed, else the Windows error of the wait.
int plat_SockWaitReadable(int sock, int wake);

// Makes the current and every later wait on this eventfd return -1 (995).
void plat_SockWake(int wake);

// Closes both descriptors (those >= 0) and leaves -1 in them.
void plat_SockClose(int *sock, int *wake);

// Connects a socket of the given type to the abstract address text. sendTimeoutMs > 0
// bounds every later send. A descriptor, or -1 with errno 206 for a text too long, 2 when
// nobody has bound the address, else the Windows error of the failure.
int plat_SockConnect(const std::string &text, int type, int sendTimeoutMs);
