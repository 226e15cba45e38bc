#include "msl.h"
#include "plat_debugout.h"
#include "plat_error.h"
#include "plat_mailslot.h"
#include "plat_pipe.h"
#include "plat_system.h"
#include "srv_state.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {
// What a kind-1 entry holds: the pipe, or the server's request mailslot.
struct PipeHandle {
    int fd;
    bool mailslot;
};

PipeHandle *handleOf(ServerConnection *entry) {
    return static_cast<PipeHandle *>(entry->handle);
}

int openKind1(ServerConnection *entry) {
    return srv_OpenConnection(entry);
}

int transactKind1(ServerConnection *entry, const char *request, int length, char *reply,
                  int *size) {
    return srv_TransactOnce(entry, request, length, reply, size);
}

void closeKind1(ServerConnection *entry) {
    PipeHandle *h = handleOf(entry);
    if (h == nullptr) return;
    if (h->mailslot)
        plat_MailslotDisconnect(h->fd);
    else
        plat_PipeClose(h->fd);
    delete h;
    entry->handle = nullptr;
}

// Name of this thread's reply mailslot: process and thread id in upper-case hex.
std::string replySlotName() {
    char name[32];
    snprintf(name, sizeof name, "%X\\%X", plat_ProcessId(), plat_ThreadId());
    return name;
}

int acknowledge(int ack) {
    return plat_MailslotSend(ack, " ", 1) == 1;
}
} // namespace

const ServerTransport srv_pipeTransport = {openKind1, transactKind1, closeKind1, 0};

int srv_OpenConnection(ServerConnection *entry) {
    char line[SRV_SPEC_SIZE + 64];
    snprintf(line, sizeof line, ">>%s Opening pipe connection\r\n", entry->name);
    plat_DebugOutput(line);
    bool mailslot = plat_PlatformId() == 1 && srv_IsLocal(entry->name);
    int fd;
    if (mailslot) {
        fd = plat_MailslotConnect(SRV_REQUEST_MAILSLOT);
    } else {
        std::string path = std::string("\\\\") + entry->name + "\\pipe\\trellane";
        fd = plat_PipeOpen(path.c_str());
    }
    if (fd < 0) {
        entry->kind = SRV_KIND_CLOSED;
        return 0;
    }
    entry->handle = new PipeHandle{fd, mailslot};
    entry->kind = SRV_KIND_PIPE;
    return 1;
}

int srv_TransactOnce(ServerConnection *entry, const char *request, int length, char *reply,
                     int *size) {
    PipeHandle *h = handleOf(entry);
    if (h == nullptr) {
        plat_SetLastError(WERR_INVALID_HANDLE);
        return 0;
    }
    if (!h->mailslot) return plat_PipeTransact(h->fd, request, length, reply, size) == 0;

    PlatMailslot slot;
    if (plat_MailslotCreate(&slot, replySlotName().c_str()) != 0) return 0;
    std::vector<char> message(static_cast<size_t>(length) + 8);
    memcpy(message.data(), request, static_cast<size_t>(length));
    int32_t ids[2] = {static_cast<int32_t>(plat_ProcessId()),
                      static_cast<int32_t>(plat_ThreadId())};
    memcpy(message.data() + length, ids, sizeof ids);
    int ok = 0;
    if (plat_MailslotSend(h->fd, message.data(), static_cast<int>(message.size())) >= 0) {
        int capacity = *size < SRV_MAILSLOT_REPLY_SIZE ? *size : SRV_MAILSLOT_REPLY_SIZE;
        ok = srv_ReadMailslotReply(&slot, reply, capacity, size);
    }
    uint32_t error = plat_GetLastError();
    plat_MailslotDestroy(&slot);
    plat_SetLastError(error);
    return ok;
}

int srv_ReadMailslotReply(PlatMailslot *replySlot, char *buffer, int capacity, int *length) {
    int ack = plat_MailslotConnect(SRV_ACK_MAILSLOT);
    if (ack < 0) return 0;
    std::vector<char> message(SRV_CHUNK_MESSAGE);
    int got = plat_MailslotReceive(replySlot, message.data(), SRV_CHUNK_MESSAGE);
    if (got < 0 || got < 4 || got > SRV_CHUNK_MESSAGE || !acknowledge(ack)) {
        if (got >= 0 && (got < 4 || got > SRV_CHUNK_MESSAGE)) plat_SetLastError(WERR_INVALID_DATA);
        uint32_t error = plat_GetLastError();
        plat_MailslotDisconnect(ack);
        plat_Fail(error);
        return 0;
    }
    int32_t total;
    memcpy(&total, message.data(), 4);
    if (total < 0) {
        plat_MailslotDisconnect(ack);
        plat_Fail(WERR_INVALID_DATA);
        return 0;
    }
    // A reply too large for the caller is still read to its end, so that no chunk of it is
    // left behind for the sender to wait on.
    bool fits = total <= capacity;
    int received = 0;
    auto take = [&](const char *data, int n) {
        if (n > total - received) n = total - received;
        if (fits) memcpy(buffer + received, data, static_cast<size_t>(n));
        received += n;
    };
    take(message.data() + 4, got - 4);
    while (received < total) {
        while (plat_MailslotPeekSize(replySlot) == 0)
            msl_Wait(10);
        got = plat_MailslotReceive(replySlot, message.data(), SRV_CHUNK_MESSAGE);
        if (got < 0 || !acknowledge(ack)) {
            uint32_t error = plat_GetLastError();
            plat_MailslotDisconnect(ack);
            plat_Fail(error);
            return 0;
        }
        take(message.data(), got < SRV_CHUNK_MESSAGE ? got : SRV_CHUNK_MESSAGE);
    }
    plat_MailslotDisconnect(ack);
    if (!fits) {
        plat_Fail(WERR_MORE_DATA);
        return 0;
    }
    *length = total;
    return 1;
}

int srv_WriteChunked(int out, PlatMailslot *ack, const void *data, int length, int *written) {
    if (written != nullptr) *written = 0;
    if (length < 0) {
        plat_Fail(WERR_INVALID_PARAMETER);
        return 0;
    }
    const char *bytes = static_cast<const char *>(data);
    std::vector<char> message(SRV_CHUNK_MESSAGE);
    int32_t total = length;
    memcpy(message.data(), &total, 4);
    int sent = 0;
    bool first = true;
    while (first || sent < length) {
        int header = first ? 4 : 0;
        int n = length - sent;
        if (n > SRV_CHUNK_MESSAGE - header) n = SRV_CHUNK_MESSAGE - header;
        memcpy(message.data() + header, bytes + sent, static_cast<size_t>(n));
        if (plat_MailslotSend(out, message.data(), header + n) < 0) return 0;
        char reply;
        if (plat_MailslotReceive(ack, &reply, 1) < 0) return 0;
        sent += n;
        if (written != nullptr) *written = sent;
        first = false;
    }
    return 1;
}
