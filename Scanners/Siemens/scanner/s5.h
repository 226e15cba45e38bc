// The S5 device behind the scanner frame: opening the device from the port settings in its
// configuration, and the init and scan handler of each channel kind.
#pragma once

#include "rk.h"

#include <cstdint>

struct DeviceSlot;

// Plans a kind's requests: (DeviceConfig, channel count, channel records) -> 0 / -1.
typedef int (*s5_InitHandler)(void *deviceConfig, int count, void *records);

// Scans a kind: (DeviceConfig, channel count, channel records, statuses, values) -> 0, 2 (no
// channel processing, no scan time) or -1.
typedef int (*s5_ScanHandler)(void *deviceConfig, int count, void *records, uint32_t *statuses,
                              void *values);

// Scan handler result that skips the frame's channel processing of the kind.
constexpr int S5_SCAN_SKIP = 2;

struct DriverEntryTable {
    s5_InitHandler init[5]; // AI, DI, AO, DO, CI
    s5_ScanHandler scan[5];
    const char *readConfigMessage;
};

extern const DriverEntryTable s5_DriverEntryTable;

// Opens the device from the port settings in the slot's configuration copy (writing defaults
// back there). 0, or -1 with errno.
int s5_OpenDevice(DeviceSlot *slot);
int s5_CloseDevice();
int s5_DeviceInitHook(DeviceSlot *slot);
int s5_ResetCountersHook(void *deviceConfig, int count, void *records);

// ---- Request blocks -------------------------------------------------------------------
//
// The channels of a kind are grouped into request blocks: runs of consecutive elements of one
// area of one station, each read with one FETCH. A channel's block link (S5ChannelAddress
// block_link) holds the 1-based index of its block in the kind's current list, 0 for none;
// it is checked against the list before every use, so a stale link never reaches a block
// that does not cover the channel.

struct ChannelRecord;

// Channel statuses the handlers set.
constexpr uint32_t S5_STATUS_STATE = 0x0001;
constexpr uint32_t S5_STATUS_BAD = 0x0020;

// Block statuses after a pass (besides 0 and the error code of a request).
enum : uint32_t {
    S5_BLOCK_WRITE = 1,     // dirty elements to be sent
    S5_BLOCK_READ_BACK = 2, // to be read from the controller
    S5_BLOCK_DONE = 3,      // good: nothing to do, or done
    S5_BLOCK_FAILED = 255,
};

// Elements a block may grow to above its start, per element size in bytes (below it grows to
// one more).
constexpr int S5_BLOCK_BYTES = 100;
constexpr int S5_PLAN_CAPACITY_STEP = 128;

// Kinds that have block lists (the frame's kind order).
enum : int { S5_KIND_AI = 0, S5_KIND_DI = 1, S5_KIND_AO = 2, S5_KIND_DO = 3, S5_KIND_LISTS = 4 };

struct S5BlockList {
    int count = 0;
    S5RequestBlock *blocks = nullptr;
};

// The planned blocks of the kinds AI, DI, AO, DO (by kind index).
S5BlockList &s5_KindBlocks(int kind); // S5_KIND_*

// The device part of a record (analogue or digital layout), read and written whole.
S5ChannelAddress s5_ChannelAddress(const ChannelRecord &record);
void s5_SetBlockLink(ChannelRecord *record, uint32_t link);

// 1 when a channel may be planned: a known area, a bit number within a word, and a last
// element inside the address space.
int s5_AcceptChannel(const S5ChannelAddress &address);
// Elements past the first that the channel needs: 1 for a 16-bit value, or a bit of the
// second byte, in a byte area; else 0.
int s5_ChannelExtent(const S5ChannelAddress &address);
// 1 when the block takes the channel (growing when needed); sets the link to 1.
int s5_MergeIntoBlock(S5ChannelAddress *address, S5RequestBlock *block);
// A block of the channel alone; registers its station; sets the link to 1. 1.
int s5_NewBlock(S5ChannelAddress *address, S5RequestBlock *block);
// 1 when the block covers every element of the channel.
int s5_FindBlock(const S5ChannelAddress &address, const S5RequestBlock &block);
// The block the channel's link names, when it still covers the channel; else null.
S5RequestBlock *s5_LinkedBlock(const S5BlockList &list, const S5ChannelAddress &address);

// Dirty bitmap and bit channels: bit n is mask 1 << (n % 8) of byte n / 8.
int s5_TestBit(const uint8_t *bitmap, int n);
// 1 when the bit changed, 0 when it already had the value.
int s5_SetBit(uint8_t *bitmap, int n, int value);
// The dirty bitmap behind a block's data.
uint8_t *s5_DirtyBits(const S5RequestBlock &block);

// Plans the enabled channels of a kind into `list`, replacing its blocks, and links every
// channel to its block. The number of blocks; 0 when memory ran out (the old list is kept
// and the links point into it).
int s5_PlanBlocks(int n, ChannelRecord *records, S5BlockList *list);
void s5_ReleaseBlocks(S5BlockList *list);

// Reads every block whose station has not timed out in this pass: the number of good blocks.
int s5_PollBlocks(S5BlockList &list);
// Channel values from their blocks; channels without a good block are bad. `values` may be
// null for digital kinds. With skipNaN, analogue channels whose value is not a number are
// left alone (an output value that was not written). 1.
int s5_BlockToChannels(const S5BlockList &list, int n, const ChannelRecord *records,
                       uint32_t *statuses, float *values, int skipNaN = 0);

// Output side: clears dirty bits and statuses; places the wanted values in the blocks and
// marks the changed elements; writes or reads back the blocks.
void s5_ClearDirty(S5BlockList &list);
int s5_ChannelsToBlock(S5BlockList &list, int n, const ChannelRecord *records, uint32_t *statuses,
                       float *values);
int s5_WriteBlocks(S5BlockList &list);
// One SEND per dirty element; 1 when all went through.
int s5_WriteDirtyElements(S5RequestBlock *block);

// Output modes shared by AO and DO.
struct S5OutputModes {
    int firstScan = 2; // 2 read on the first scan, 1 write, 0 first scan done
    int changedBlock = S5_BLOCK_WRITE;
    int unchangedBlock = S5_BLOCK_READ_BACK;
};
S5OutputModes &s5_OutputModes();
// Sets the modes from the read-outputs-first and read-back settings of a DeviceConfig.
void s5_SetOutputModes(const void *deviceConfig);
// The output scan of AO (isDigital 0) or DO (1). 0.
int s5_ScanOutputs(S5BlockList &list, int isDigital, int n, const ChannelRecord *records,
                   uint32_t *statuses, float *values);

// Handlers of the DriverEntryTable.
int s5_InitAI(void *deviceConfig, int count, void *records);
int s5_InitDI(void *deviceConfig, int count, void *records);
int s5_InitAO(void *deviceConfig, int count, void *records);
int s5_InitDO(void *deviceConfig, int count, void *records);
int s5_InitCI(void *deviceConfig, int count, void *records);
int s5_ScanAI(void *deviceConfig, int count, void *records, uint32_t *statuses, void *values);
int s5_ScanDI(void *deviceConfig, int count, void *records, uint32_t *statuses, void *values);
int s5_ScanAO(void *deviceConfig, int count, void *records, uint32_t *statuses, void *values);
int s5_ScanDO(void *deviceConfig, int count, void *records, uint32_t *statuses, void *values);
int s5_ScanCI(void *deviceConfig, int count, void *records, uint32_t *statuses, void *values);

// Test hooks: the next `after` planner allocations succeed and the rest fail (-1: none
// fail); and forgetting every list and mode (between cases; the scanner never does).
void s5_FailPlanAllocations(int after);
void s5_ResetPlanner();
