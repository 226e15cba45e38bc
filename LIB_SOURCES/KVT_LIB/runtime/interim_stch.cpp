// Status channels not served yet: the counts of the link go nowhere.
#include "stch.h"

void stch_Init(const DeviceSlot *, const char *) {}

void stch_AddCount(int, uint32_t, int) {}

void stch_AddRxBytes(int, uint32_t) {}

void stch_AddRxPackets(int, uint32_t) {}

void stch_AddRxTimeouts(int, uint32_t) {}

void stch_AddRxCommErrors(int, uint32_t) {}

void stch_AddRxCrcErrors(int, uint32_t) {}

void stch_AddTxBytes(int, uint32_t) {}

void stch_AddTxPackets(int, uint32_t) {}

void stch_AddTxErrors(int, uint32_t) {}

void stch_Update() {}

void stch_Shutdown() {}
