// Saved output and reference values as the scanner reads them back at its start: the ".bin"
// file by channel position, or both files by tag, for channels whose tags the input names.
//
// Input: the channel count (1 to 16) with bit 5 for reading by tag and bit 6 for digital
// channels, one byte per channel (bit 7: disabled, bits 0-6: its tag "T<n>"), the length of the
// ".bin" file (two bytes, little-endian; 0xFFFF: no file), then the bytes of ".bin" and
// ".tag" (missing when nothing is left).
#include "chrec.h"
#include "fuzz_support.h"
#include "sv.h"
#include "tag.h"

#include <algorithm>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const fuzz::Installation &inst = fuzz::install();
    fuzz::Reader in{data, size};
    uint8_t head = in.byte();
    int count = 1 + (head & 0x0F);
    bool byTag = (head & 0x20) != 0;
    int kind = head & 0x40 ? 3 : 2; // do, ao
    std::vector<ChannelRecord> records(static_cast<size_t>(count));
    for (ChannelRecord &r : records) {
        r = ChannelRecord{};
        uint8_t c = in.byte();
        chrec_SetType(&r, kind == 3 ? CHANNEL_TYPE_DO : CHANNEL_TYPE_AO);
        chrec_SetFlag(&r, ChannelAnalog::Enable, c & 0x80 ? 0 : 1);
        tag_SetTag(&r, ("T" + std::to_string(c & 0x7F)).c_str());
    }
    uint16_t binLength = in.word();
    std::string stem = inst.saved + "/KSTRN_01_" + chrec_KindName(kind);
    unlink((stem + ".bin").c_str());
    unlink((stem + ".tag").c_str());
    if (binLength != 0xFFFF) {
        size_t n = std::min<size_t>(binLength, in.size);
        fuzz::writeFile(stem + ".bin", in.data, n);
        in.data += n;
        in.size -= n;
    }
    if (in.size > 0) fuzz::writeFile(stem + ".tag", in.data, in.size);
    std::vector<uint32_t> values(static_cast<size_t>(count) + 1, 0xA5A5A5A5u);
    sv_LoadValues("KSTRN_01", kind, byTag ? 1 : 0, values.data(), records.data(), count);
    if (values[static_cast<size_t>(count)] != 0xA5A5A5A5u) abort(); // past the last channel
    return 0;
}
