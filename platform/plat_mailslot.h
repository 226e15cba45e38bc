// Mailslots as abstract AF_UNIX datagram sockets.
//
// A Windows mailslot "\\.\mailslot\<name>" becomes the abstract address
// "\0<prefix>/mailslot/<name>" (prefix from KVT_IPC_PREFIX, default "kvt"). One message is one
// datagram, so a reader always gets whole messages, and the address disappears with the
// process that bound it. Failures carry Windows numbers in errno.
#pragma once

#include <string>

// Largest message any user of a mailslot sends (the alarm message).
constexpr int PLAT_MAILSLOT_MAX_MESSAGE = 296;

// The reading side: the bound socket and an eventfd that wakes a blocked receive.
struct PlatMailslot {
    int sock;
    int wake;
};

// Abstract socket address text of a mailslot name, without the leading NUL.
std::string plat_MailslotAddress(const char *name);

// Binds the mailslot. -1 with errno 183 when another process reads that name already.
int plat_MailslotCreate(PlatMailslot *slot, const char *name);

// Blocks until one datagram arrives and copies at most size bytes of it. Returns the whole
// length of the datagram (larger than size when it did not fit; the rest is lost), or -1:
// errno 995 after plat_MailslotWake, else the Windows error of the failed read.
int plat_MailslotReceive(PlatMailslot *slot, void *buffer, int size);

// Makes the current and every later receive return -1 (995): used to stop a listener.
void plat_MailslotWake(PlatMailslot *slot);

// Releases both descriptors; the record is left with -1 in them.
void plat_MailslotDestroy(PlatMailslot *slot);

// Opens a writing endpoint to a mailslot that a reader has bound: a descriptor, or -1 with
// errno 2 when nobody reads that name.
int plat_MailslotConnect(const char *name);

// Sends the buffer as one datagram. Waits about 2 s for room in the reader's queue, then
// fails with errno 121. Returns length, or -1 with errno.
int plat_MailslotSend(int endpoint, const void *buffer, int length);

void plat_MailslotDisconnect(int endpoint);

// Length of the next message waiting in the mailslot, without reading it; 0 when none waits.
int plat_MailslotPeekSize(PlatMailslot *slot);
