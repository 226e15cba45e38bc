// The transports of kinds 2 to 4 as the connection table calls them (see ServerTransport).
#pragma once

#include "srv.h"

// Kind 2: TLS socket.
int tls_Connect(ServerConnection *entry);
int tls_Transact(ServerConnection *entry, const char *request, int length, char *reply, int *size);
void tls_Close(ServerConnection *entry);

// The time-out set by srv_SetRemoteTimeoutForTests, or 0.
int srv_RemoteTimeoutForTests();

// Kind 3: in-process request server.
int srv_OpenLocalDataServer(ServerConnection *entry);
int srv_TransactLocalData(ServerConnection *entry, const char *request, int length, char *reply,
                          int *size);
void srv_CloseLocalDataServer(ServerConnection *entry);

// Kind 4: SOAP client.
int soap_client_Open(ServerConnection *entry);
int soap_client_Call(ServerConnection *entry, const char *request, int length, char *reply,
                     int *size);
void soap_client_Close(ServerConnection *entry);
