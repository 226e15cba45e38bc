// The 3964R receive path with the partner's bytes from the input: the answers to our STX and
// block (an initialisation conflict at either priority), the reply block that follows, and a
// block the partner starts on its own.
//
// Input: one byte of settings (bit 0 high priority, bit 1 block check off, bits 2-3 retries
// - 1, bit 4 a block the partner starts), then the partner's bytes.
#include "fuzz_support.h"
#include "link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static fuzz::InputPort port;
    static LinkPort *previous = port_Select(&port);
    (void)previous;
    fuzz::Reader in{data, size};
    uint8_t settings = in.byte();
    link_ResetSettings();
    LinkSettings &s = link_Settings();
    s.priority = settings & 1;
    link_SetBccMode(settings & 2 ? 2 : 1);
    s.retries = 1 + (settings >> 2 & 3);
    link_ResetCounters();
    port.feed(in.data, in.size);

    uint8_t buffer[300];
    if (settings & 0x10) {
        if (link_WaitStx() == 1 && link_ReceiveBlock(buffer, sizeof buffer) == 0) link_SendNak();
        return 0;
    }
    // A FETCH of DB 10, words 0 to 2.
    const uint8_t command[10] = {0x00, 0x00, 'E', 'D', 10, 0, 0, 3, 0xFF, 0xFF};
    if (link_SendBlock(command, sizeof command) == 1) {
        int n = link_ReceiveReply(buffer, sizeof buffer);
        if (n < 0 || n > static_cast<int>(sizeof buffer)) abort();
    }
    return 0;
}
