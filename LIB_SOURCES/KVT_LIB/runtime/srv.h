// Command client of the runtime server and the process-wide connection table.
//
// A request is one line: two upper-case letters, then "," and comma-separated arguments, sent
// with its NUL. The server answers one line: a decimal result, "-1,<error>[,<text>]" with a
// Windows error number, or a list "<n>,<record>;<record>;..." of comma-separated fields.
//
// One connection per server is kept for the life of the process and reopened after a failed
// exchange. Kind 1 (the runtime server's pipe, or its mailslots on platform id 1) is built
// in; kinds 2 to 4 are transports that a higher layer registers. Functions return -1 with
// errno (a Windows number) on failure unless stated.
#pragma once

#include "def.h"
#include "plat_mailslot.h"
#include "plat_url.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// Longest server spec with its NUL.
constexpr int SRV_SPEC_SIZE = 1284;
// Number of distinct servers a process may talk to.
constexpr int SRV_TABLE_SIZE = 100;

enum ServerConnectionKind : int32_t {
    SRV_KIND_CLOSED = 0,
    SRV_KIND_PIPE = 1,   // the runtime server's pipe, or its mailslots on platform id 1
    SRV_KIND_TLS = 2,    // TLS socket
    SRV_KIND_INPROC = 3, // in-process request server
    SRV_KIND_SOAP = 4,   // SOAP client
};

// One entry of the connection table. Entries are never freed; a closed entry keeps its name
// and is reused for the same spec. The entry lock is held for a whole exchange.
struct ServerConnection {
    char name[SRV_SPEC_SIZE]; // server spec, compared without regard to case; "" = free
    int32_t kind;             // ServerConnectionKind
    void *handle;             // owned by the kind's transport
    std::recursive_mutex lock;
};

// A connection kind. open: 1 opened, 0 failed with the last error set. transact: *size is the
// capacity in and the reply length out; nonzero when the exchange worked. keepOnFailure: a
// failed exchange leaves the connection open.
struct ServerTransport {
    int (*open)(ServerConnection *entry);
    int (*transact)(ServerConnection *entry, const char *request, int length, char *reply,
                    int *size);
    void (*close)(ServerConnection *entry);
    int keepOnFailure;
};

// Installs the transport of kind 2, 3 or 4 (null removes it). An entry of a kind without a
// transport fails to open with 50.
void srv_RegisterTransport(int kind, const ServerTransport *transport);

// Installs a classifier that srv_ServerKind asks first (null removes it): a kind 1..4, or 0
// when it cannot tell.
void srv_SetSpecClassifier(int (*classifier)(const char *spec));

// --- Connection table -------------------------------------------------------------------

// Allocates the table once; later calls keep it. 1, or 0 when there is no memory.
int srv_InitTable(int count);

// The entry of the server with its entry lock held (opened when closed), or null with the
// last error: 4 when the table is full, 50 for a kind without transport, the open's error.
ServerConnection *srv_Lock(const char *spec);
void srv_Unlock(ServerConnection *entry);

// 1 when the server can be reached (its connection is open or opens).
int srv_IsReachable(const char *spec);

// One exchange on a locked entry; a failure closes it unless its kind keeps it. Nonzero, or
// 0 with the last error.
int srv_TransactRecord(ServerConnection *entry, const char *request, int length, char *reply,
                       int *size);

// Closes every open connection, or the one of a spec, and sets kind 0.
void srv_CloseAll();
void srv_Close(const char *spec);

// --- Requests ----------------------------------------------------------------------------

// The whole request: the server's result, or -1 with errno and the last error. *size is the
// reply capacity in and the reply length out.
int srv_Transact(const char *spec, const char *request, int length, char *reply, int *size);

// srv_Transact of a text request, its NUL included.
int srv_Command(const char *spec, const char *request, char *reply, int *size);

// --- Server specs ------------------------------------------------------------------------

// 1..4 (see ServerConnectionKind).
int srv_ServerKind(const char *spec);

// 1 for "", null, ".", "localhost", "127.0.0.1", this computer's name, and a URL whose host
// is one of these.
int srv_IsLocal(const char *spec);

// 0 when local or of kind 1, else 1.
int srv_IsUrlServer(const char *spec);

// For "\\host\...": srv_IsLocal of the host; any other path 1.
int srv_IsLocalPath(const char *path);

// Cracks a copy of the server spec; an '@' inside the password survives. 1, or 0 for a null spec,
// one of SRV_SPEC_SIZE characters or more, or a spec that is no URL.
int srv_CrackServerUrl(const char *spec, int length, uint32_t flags, PlatUrlParts *parts);

// --- Kind 1 --------------------------------------------------------------------------------

// Opens the local server's pipe (or its request mailslot on platform id 1). 1, or 0 with the
// last error (53 for another computer, 2 when no server runs).
int srv_OpenConnection(ServerConnection *entry);

// One exchange on an open kind-1 entry. 1, or 0 with the last error.
int srv_TransactOnce(ServerConnection *entry, const char *request, int length, char *reply,
                     int *size);

// Reads a chunked reply from the reply mailslot. 1 with *length set, or 0 with the last
// error (234 when the reply is larger than capacity; it is still drained).
int srv_ReadMailslotReply(PlatMailslot *replySlot, char *buffer, int capacity, int *length);

// The sending side: writes data through the endpoint in chunks, waiting for one
// acknowledgement byte on ack after each. 1 with *written set, or 0 with the last error.
int srv_WriteChunked(int out, PlatMailslot *ack, const void *data, int length, int *written);

// Mailslot names of the runtime server on platform id 1.
#define SRV_REQUEST_MAILSLOT "tbkhostr"
#define SRV_ACK_MAILSLOT "tbkhosta"
// Message limits of the chunked transfer.
constexpr int SRV_CHUNK_MESSAGE = 4093;
constexpr int SRV_MAILSLOT_REPLY_SIZE = 65536;

// --- Typed requests --------------------------------------------------------------------------

// One logger as TL reports it.
struct LoggerRecord {
    char name[130];
    uint8_t enabled;
    uint8_t value1;
    uint8_t value2;
    char text[255];
    int32_t value; // unaligned in no layout, but read and written with memcpy like the rest
};
static_assert(sizeof(LoggerRecord) == 392);
static_assert(offsetof(LoggerRecord, enabled) == 130);
static_assert(offsetof(LoggerRecord, value1) == 131);
static_assert(offsetof(LoggerRecord, value2) == 132);
static_assert(offsetof(LoggerRecord, text) == 133);
static_assert(offsetof(LoggerRecord, value) == 388);

// One TP record.
struct TpEntry {
    uint8_t value1;
    uint8_t value2;
    char text[255];
};
static_assert(sizeof(TpEntry) == 257);
static_assert(offsetof(TpEntry, text) == 2);

// Most loggers the reconfiguration bracket handles.
constexpr int SRV_MAX_LOGGERS = 2000;

// CP,<name>,<action>: C, I, R or T (either case) or a number above 255. C and T are
// bracketed by the logger disable/re-enable. Any other letter: -1 with errno 0.
int srv_CommandProcessor(const char *spec, const char *name, int action);
int srv_DisableProcessor(const char *spec, const char *name);
int srv_EnableProcessor(const char *spec, const char *name);

// QP: the number of data processors; falls back on DATPROC.TXT.
int srv_CountProcessors(const char *spec);

// IP,<selector>: "*,<n>", "<k>" or a name. Stores at most capacity records; the count stored.
// Falls back on DATPROC.TXT.
int srv_GetProcessors(const char *spec, const char *selector, ProcessorRecord *table, int capacity);

// TP,<selector>: at most capacity entries; the count stored.
int srv_QueryTP(const char *spec, const char *selector, TpEntry *table, int capacity);

int srv_SendYL(const char *spec, const char *a, const char *b);
int srv_SendML(const char *spec, const char *a, const char *b);
int srv_SendXL(const char *spec, const char *a, const char *b);
int srv_SendRL(const char *spec, const char *a);

// CL,<name>,<action>: F or S (either case) or a number above 255; others -1 with errno 0.
int srv_CommandLogger(const char *spec, const char *name, int action);

// DL / EL,<name>,<user name>.
int srv_DisableLogger(const char *spec, const char *name);
int srv_EnableLogger(const char *spec, const char *name);

// NL,<n>: with result 1 the 24 characters after the reply's first two go into name (25
// bytes); otherwise name is emptied. The result.
int srv_GetLoggerName(const char *spec, int number, char *name);

// TL,<selector>: at most capacity records; the count stored.
int srv_GetLoggers(const char *spec, const char *selector, LoggerRecord *table, int capacity);

// QL: the number of loggers; falls back on LOGCAP.TXT.
int srv_CountLoggers(const char *spec);

// The bracket around a reconfiguring CP: disables the enabled loggers (after asking) and
// enables them again afterwards. 0, or -1.
int srv_DisableLoggersForReconfig(const char *spec);
int srv_ReenableLoggers(const char *spec);

// Registry switches under the product key: "ReconfigureLoggers" and "<name> From Desktop".
int srv_ReconfigureLoggersEnabled(const char *spec);
int srv_IsFromDesktop(const char *spec, const char *name);

// "LOGGERS\<name>_<n>", a registry key path.
std::string srv_LoggerKeyName(const char *name, int number);

// The folder variable's folder as seen for the server ("" with errno when none).
std::string srv_ResolveFolder(const char *spec, const char *name);

