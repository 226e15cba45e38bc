// The 3964R receive path with the partner's bytes from the input: the answers to our STX and
// block (an initialisation conflict at either priority), the reply block that follows, and a
// block the partner starts on its own.
//
// Input: one byte of settings (bit 0 high priority, bit 1 block check off, bits 2-3 retries
// - 1, bit 4 a block the partner starts, bit 5 the bytes come through the termios port's
// reading ahead, in pieces of 1, 2, 7 or all of them as bits 6-7 say), then the partner's bytes.
#include "fuzz_support.h"
#include "link.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static fuzz::InputPort port;
    static fuzz::InputBytes bytes;
    static std::unique_ptr<LinkPort> buffered = port_MakeBuffered(bytes);
    fuzz::Reader in{data, size};
    uint8_t settings = in.byte();
    link_ResetSettings();
    LinkSettings &s = link_Settings();
    s.priority = settings & 1;
    link_SetBccMode(settings & 2 ? 2 : 1);
    s.retries = 1 + (settings >> 2 & 3);
    link_ResetCounters();
    if (settings & 0x20) {
        static const size_t pieces[] = {1, 2, 7, 0};
        bytes.feed(in.data, in.size, pieces[settings >> 6]);
        buffered->Open("COM1", PlatSerialLine{});
        port_Select(buffered.get());
    } else {
        port.feed(in.data, in.size);
        port_Select(&port);
    }

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
