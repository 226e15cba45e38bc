// Named pipes as abstract AF_UNIX sequenced-packet sockets.
//
// A Windows pipe "\\<computer>\pipe\<name>" becomes the abstract address
// "\0<prefix>/pipe/<name>" (prefix from KVT_IPC_PREFIX, default "kvt"). A packet keeps the
// message boundaries of a message-mode pipe, so one request is one send and one reply is one
// receive. There are no remote pipes: only the computer "." can be reached. Failures carry
// Windows numbers in errno and the last error.
#pragma once

#include <string>

// Abstract socket address text of a pipe name, without the leading NUL.
std::string plat_PipeAddress(const char *name);

// Opens the client end of "\\.\pipe\<name>" ('/' may stand for '\'). A descriptor, or -1:
// 53 for any other computer, 2 when nobody listens, 123 for a path that names no pipe.
int plat_PipeOpen(const char *path);

// One exchange on a client end: sends the whole request as one packet and receives one reply
// packet into reply (*size: capacity in, length out). 0, or -1 with errno: 234 when the reply
// was larger than the capacity (the buffer then holds its first bytes and *size the capacity),
// 109 when the server has gone. An empty packet is a reply of length 0. No time-out: the call
// waits as long as the server takes.
int plat_PipeTransact(int pipe, const void *request, int length, void *reply, int *size);

void plat_PipeClose(int pipe);

// The serving side: the listening socket and an eventfd that wakes a blocked accept.
struct PlatPipeServer {
    int sock;
    int wake;
};

// Listens on "\\.\pipe\<name>". 0, or -1 with errno 183 when another process serves the name.
int plat_PipeServerCreate(PlatPipeServer *server, const char *name);

// Waits for the next client: its descriptor, or -1 with errno 995 after plat_PipeServerWake.
int plat_PipeServerAccept(PlatPipeServer *server);

// Makes the current and every later accept return -1 (995): used to stop a server.
void plat_PipeServerWake(PlatPipeServer *server);

void plat_PipeServerDestroy(PlatPipeServer *server);

// Receives one packet on a served connection: its whole length (larger than size when it did
// not fit; the rest is lost), or -1 with errno 109 when the client has gone (or the connection
// was shut down), or another Windows error.
int plat_PipeReceive(int pipe, void *buffer, int size);

// Sends one packet: length, or -1 with errno (109 when the peer has gone).
int plat_PipeSend(int pipe, const void *buffer, int length);

// Ends both directions of a connection, so that a thread blocked on it returns; the
// descriptor stays open until plat_PipeClose.
void plat_PipeShutdown(int pipe);
