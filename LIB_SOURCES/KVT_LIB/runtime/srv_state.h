// State shared by the files of the command client.
#pragma once

#include "srv.h"

#include <string>

// The kind-1 transport (pipe, or mailslots on platform id 1).
extern const ServerTransport srv_pipeTransport;

// Local specs become ".", others stay as given.
std::string srv_NormaliseSpec(const char *spec);

// Sets errno from the last error and returns -1.
int srv_FailFromLastError();

// Line buffers of the requests; a line and its NUL must fit.
constexpr size_t SRV_LINE_SHORT = 64;   // CP, DP, EP, IP, TP
constexpr size_t SRV_LINE_MEDIUM = 134; // YL, ML, XL, RL, NL, TL
constexpr size_t SRV_LINE_LOGGER = 136; // CL
constexpr size_t SRV_LINE_USER = 166;   // DL, EL
// Reply capacities.
constexpr int SRV_REPLY_SMALL = 16;
constexpr int SRV_REPLY_NAME = 28;
constexpr int SRV_REPLY_LIST = 32768;

// Sends a request line: -1 with errno 122 and nothing sent when the line and its NUL do not
// fit bufferSize. The reply, as received, goes into *reply when asked for.
int srv_Request(const char *spec, const std::string &line, size_t bufferSize, int capacity,
                std::string *reply = nullptr);
