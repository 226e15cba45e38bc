// The frame both channel value writers share.
#pragma once

#include "chrec.h"
#include "dm.h"
#include "dmw.h"

#include <cstdint>
#include <string>

struct DmWriteFrame {
    SegmentHeader *data = nullptr;
    ChannelTableHeader *header = nullptr;
    uint8_t *payload = nullptr;
    const ChannelRecord *records = nullptr; // unaligned bytes, read through chrec_Get
    int32_t payloadLimit = 0;
    int count = 0;      // N
    int valueBytes = 0; // V
    int idKind = -1;
    int attribute = 0;
    int32_t owner = -1;
    int evaluating = 0;
    int locked = 0;
    int runtimeRecords = 0;
    std::string computer;
    std::string user;
};

// Checks the table and the range, locks when asked and opens the evaluation pass.
// 0, or -1 with errno and nothing held.
int dmw_Begin(DmWriteFrame *f, const char *id, int lock, int analog, int first, int last,
              const char *computer, const char *user);

// Ends the pass: notify (evaluating tables) or tell the owner, then unlock.
void dmw_End(DmWriteFrame *f, int notifyOthers);

uint32_t dmw_LoadStatus(const DmWriteFrame &f, int channel);
void dmw_StoreStatus(const DmWriteFrame &f, int channel, uint32_t status);

// This process's names as the convenience forms pass them.
const char *dmw_OwnComputer();
const char *dmw_OwnUser();
