// State of the runtime directory module, shared by its files (not for other modules).
#pragma once

#include "dm.h"

#include <mutex>
#include <string>
#include <vector>

struct DmCacheEntry {
    SegmentHeader *data;
    SegmentHeader *conf;
    SegmentHeader *event;
};

struct DmState {
    std::string prefix; // IPC prefix the maps were made under
    SegmentHeader *devices = nullptr;
    SegmentHeader *dataProcesses = nullptr;
    SegmentHeader *loggers = nullptr;
    SegmentHeader *errors = nullptr;
    bool cacheSized = false;
    int cacheProcesses = 0; // data process count when the cache was sized
    int cacheDevices = 0;
    std::vector<DmCacheEntry> cache;
};

// The configuration library calls the lookups from several threads: one lock guards the
// maps and the table cache. It is recursive so that lookups may use each other.
std::recursive_mutex &dm_Lock();

// The state, reset first when the process has moved to another IPC prefix. Call with
// dm_Lock held.
DmState &dm_State();

// Payload bytes that are really there: min(payload length, mapping - 128).
int32_t dm_PayloadLimit(SegmentHeader *segment);

// Table id: at most 2 characters up to a NUL, upper-cased; "" for an empty id.
std::string dm_NormaliseId(const char *id);
