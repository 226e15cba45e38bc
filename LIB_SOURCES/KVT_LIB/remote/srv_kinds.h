// The connection kinds of the configuration library: TLS socket (2), in-process request
// server (3) and SOAP client (4), added to the command client's connection table.
//
// The runtime library knows only the pipe; this library registers the other kinds and the
// spec classifier with it. The in-process request server belongs to a higher layer, which
// hands it over through LocalDataServer and a factory.
#pragma once

#include "srv.h"

// Registers kinds 2, 3 and 4 and the server-text classifier with the connection table. Safe while
// other threads use the table, and may be repeated.
void srv_RegisterServerKinds();

// 3 for a database connection string ("PROVIDER=", any case), a drive path ("C:...") or a
// folder path (leading '\' or '/'), otherwise 0 so that srv_ServerKind goes on with its own
// rules.
int srv_ClassifySpec(const char *spec);

// An in-process request server: answers the two-letter requests from local data.
class LocalDataServer {
public:
    virtual ~LocalDataServer() = default;
    // 0 opened; -1 failed, with the last error set.
    virtual int Open(const char *spec) = 0;
    // capacity: bytes the reply buffer holds (in). *replyLength: bytes written (out), never more
    // than capacity. 1 good exchange; 0 no data; -1 failure.
    virtual int HandleRequest(const char *request, int requestLength, char *reply, int capacity,
                              int *replyLength) = 0;
    virtual void Close() = 0;
};

// Installs the factory that kind-3 opens use (null removes it). Without one a kind-3 open
// fails with 50.
void srv_SetLocalDataServerFactory(LocalDataServer *(*create)());

// How long a kind-3 close waits before it destroys the server, in milliseconds; tests lower it.
void srv_SetLocalDataCloseDelay(int milliseconds);

// Lowers the limits of the TLS and SOAP connections (15000 ms per connect or exchange; SOAP 15 s
// to connect, 30 s to send or receive) to the given milliseconds, for tests. 0 restores them.
void srv_SetRemoteTimeoutForTests(int milliseconds);
