// State of the alarm module, shared by its files (not for other modules).
#pragma once

#include "alm.h"

#include <cstdint>

struct SegmentHeader;

struct AlmPass {
    bool active = false;
    char tableId[2] = {};
    int channelCount = 0;
    int32_t rowLength = 0; // channel count >> 3, the format shared with the loggers
    SegmentHeader *event = nullptr;
    const uint8_t *rows = nullptr;
    int32_t rowBytes = 0; // event payload bytes really there
    int loggers = 0;      // loggers counted in this pass
    int32_t events[ALM_MAX_LOGGERS] = {};
    int32_t changes[ALM_MAX_LOGGERS] = {};
    int32_t derived = 0;
};

AlmPass &alm_Pass();

// 1 when channel n has its bit in row r of the current pass; bytes outside the row or the
// payload read as clear.
int alm_RowBit(int row, int channel);

// Writes one message to the alarm process. The endpoint is opened when "ALARM" is there and
// enabled; without it nothing is sent and the result is 0. A failed or short write closes the
// endpoint so that the next message opens it again; it returns -1. closeAfter closes it anyway.
int alm_WriteAlarm(const AlarmMessage &message, bool closeAfter);

// Sends the 2-byte table id to the derived-value process when it is there and enabled.
void alm_WriteDerived(const char id[2]);

void alm_CloseEndpoints();
