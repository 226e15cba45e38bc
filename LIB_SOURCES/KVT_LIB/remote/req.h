// Requests about the runtime's live data. Each clears errno, sends one line and returns the
// server's result (-1 with errno and the last error on failure).
#pragma once

// Reply capacity of CV and RV, and the longest request line with its NUL.
constexpr int REQ_REPLY_SIZE = 32768;

// "CV," + the comma-separated channel codes. The reply text stays in reply, which holds
// REQ_REPLY_SIZE bytes. A line longer than the connection takes fails with 122, unsent.
int req_CurrentValues(const char *server, const char *channels, char *reply);

// "RV," + channel codes, with a REQ_REPLY_SIZE reply into reply.
int req_ReadValues(const char *server, const char *channels, char *reply);
// "SV,%s,%s,%s,".
int req_SetValue(const char *server, const char *a, const char *b, const char *c);
// "FV,%s,%s,%s,%g".
int req_ForceValue(const char *server, const char *a, const char *b, const char *c, double value);
// "BS", "RS", "AS,%s" and "OS".
int req_SendBS(const char *server);
int req_SendRS(const char *server);
int req_SendAS(const char *server, const char *text);
int req_SendOS(const char *server);
