// The scanner's process-wide state and the callback of its notification mailslot.
#include "scan.h"

#include "msl.h"

ScanState g_scan;

void scan_OnMessage(int code) {
    // Listener thread: flags and counters only, no lock.
    switch (code) {
    case NC_STOP:
        g_scan.running.store(0);
        break;
    case NC_SCAN:
        g_scan.pendingScans.fetch_add(1);
        break;
    case NC_RECONFIGURE:
        g_scan.reconfigure.store(1);
        break;
    case NC_RESET_COUNTERS:
        g_scan.resetCounters.store(1);
        break;
    case NC_INITIALISE_VALUES:
        g_scan.initialiseValues.store(1);
        break;
    default:
        break;
    }
}
