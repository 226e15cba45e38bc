// KSTRN_SC: the scanner process the runtime server starts per device.
#include "scan.h"

int main(int argc, char **argv) {
    scan_Main(argc, argv);
}
