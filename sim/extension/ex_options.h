// Test options of the sample module, read from KVT_EX_OPTIONS (a comma-separated list) at
// every call, since the module is loaded per operation: "nohw", "owned", "mixed", "fail",
// "extra", "outside" (the device record and the analogue channels), "refill".
#pragma once

__attribute__((visibility("hidden"))) bool ex_Option(const char *name);
