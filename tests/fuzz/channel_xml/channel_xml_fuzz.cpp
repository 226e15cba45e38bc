// Channel XML ("ai.xml", ...) as the scanner and the configuration tool read it, through the
// sample extension module: every field of the common part, the device part and the extra
// block is taken from the file's texts.
//
// Input: the kind (0 to 6), the number of channels asked for (0 to 63), whether extra blocks
// are read (bit 6 of that byte), then the file.
#include "chan.h"
#include "chrec.h"
#include "fuzz_support.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const fuzz::Installation &inst = fuzz::install();
    static bool xml = (fuzz::setSwitch("ReadXML", "ON"), true);
    (void)xml;
    fuzz::Reader in{data, size};
    int kind = in.byte() % 7;
    uint8_t asked = in.byte();
    int count = asked & 0x3F;
    bool extra = (asked & 0x40) != 0;
    if (extra)
        setenv("KVT_EX_OPTIONS", "extra", 1);
    else
        unsetenv("KVT_EX_OPTIONS");
    std::string path = inst.device + "/" + chrec_KindName(kind) + ".xml";
    fuzz::writeFile(path, in.data, in.size);
    std::vector<ChannelRecord> records(static_cast<size_t>(count));
    std::vector<uint8_t> blocks(static_cast<size_t>(count) * 8 + 1);
    chan_ReadChannels(inst.device.c_str(), kind, records.data(), 0, count,
                      extra ? blocks.data() : nullptr, extra ? count * 8 : 0,
                      extra ? "extra" : nullptr);
    unlink(path.c_str());
    fuzz::trimEventLog();
    return 0;
}
