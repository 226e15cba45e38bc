// RK512 replies checked and turned into channel values: channels of any address planned into
// blocks, each block fetched from a partner whose bytes come from the input, the values taken
// out of the blocks, and the first block sent back.
//
// Input: the channel count (1 to 8), 6 bytes per channel (station, type byte, address low and
// high, bit number, byte select | 0x80 for a digital channel), one byte of settings (bit 0
// high priority, bit 1 block check off, bit 2 send the first block), then the partner's bytes.
#include "chrec.h"
#include "fuzz_support.h"
#include "link.h"
#include "rk.h"
#include "s5.h"
#include "station.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static fuzz::InputPort port;
    static LinkPort *previous = port_Select(&port);
    (void)previous;
    fuzz::Reader in{data, size};
    int count = 1 + in.byte() % 8;
    std::vector<ChannelRecord> records(static_cast<size_t>(count));
    for (ChannelRecord &r : records) {
        r = ChannelRecord{};
        S5ChannelAddress a{};
        a.station = in.byte();
        a.type = in.byte();
        a.address = in.word();
        a.bit_number = in.byte();
        uint8_t select = in.byte();
        a.byte_select = select & 1;
        chrec_SetType(&r, select & 0x80 ? CHANNEL_TYPE_DI : CHANNEL_TYPE_AI);
        chrec_SetFlag(&r, ChannelAnalog::Enable, 1);
        memcpy(chrec_DevicePart(&r), &a, sizeof a);
    }
    uint8_t settings = in.byte();
    link_ResetSettings();
    link_Settings().retries = 1;
    link_Settings().priority = settings & 1;
    link_SetBccMode(settings & 2 ? 2 : 1);
    port.feed(in.data, in.size);

    s5_ResetPlanner();
    scan_ResetStations();
    S5BlockList list;
    s5_PlanBlocks(count, records.data(), &list);
    s5_PollBlocks(list);
    std::vector<uint32_t> statuses(static_cast<size_t>(count), S5_STATUS_BAD);
    std::vector<float> values(static_cast<size_t>(count), 0.0f);
    s5_BlockToChannels(list, count, records.data(), statuses.data(), values.data());
    if ((settings & 4) && list.count > 0) rk_Send(&list.blocks[0]);
    s5_ReleaseBlocks(&list);
    s5_ResetPlanner();
    return 0;
}
