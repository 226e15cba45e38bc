// KSTRN_SC: the scanner process the runtime server starts per device.
int main() { return 0; }
