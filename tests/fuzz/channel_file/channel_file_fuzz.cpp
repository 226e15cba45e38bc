// The binary channel file of a kind, as the scanner and the configuration tool read it: the
// header, then every channel the caller asks for, some of which the file may not hold.
//
// Input: the kind (0 to 6) and the number of channels asked for (0 to 255), then the file.
#include "chan.h"
#include "chfile.h"
#include "fuzz_support.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const fuzz::Installation &inst = fuzz::install();
    static bool binary = (fuzz::setSwitch("ReadXML", "OFF"), true);
    (void)binary;
    fuzz::Reader in{data, size};
    int kind = in.byte() % 7;
    int count = in.byte();
    std::string path = chfile_Path(inst.device.c_str(), kind);
    fuzz::writeFile(path, in.data, in.size);
    ChannelFileHeader header;
    chfile_ReadHeader(path.c_str(), &header);
    std::vector<ChannelRecord> records(static_cast<size_t>(count) + 1);
    chfile_ReadChannels(path.c_str(), records.data(), 1, count);
    chan_ReadChannels(inst.device.c_str(), kind, records.data(), 0, count, nullptr, 0, nullptr);
    unlink(path.c_str());
    fuzz::trimEventLog();
    return 0;
}
