// The binary device configuration as the scanner loads it: "config" (AutoEnable, then the
// device record) and "saveconfig" (SaveOutputs, SaveByTag, SaveRate), either of which may be
// short, missing or longer than the record.
//
// Input: the length of "config" (two bytes, little-endian; 0xFFFF: no file), the length of
// "saveconfig" (one byte; 0xFF: no file), then the bytes of both files.
#include "cfg.h"
#include "fuzz_support.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const fuzz::Installation &inst = fuzz::install();
    static bool binary = (fuzz::setSwitch("ReadXML", "OFF"), true);
    (void)binary;
    fuzz::Reader in{data, size};
    uint16_t configLength = in.word();
    uint8_t saveLength = in.byte();
    const std::string config = inst.device + "/config";
    const std::string save = inst.device + "/saveconfig";
    unlink(config.c_str());
    unlink(save.c_str());
    if (configLength != 0xFFFF) {
        size_t n = std::min<size_t>(configLength, in.size);
        fuzz::writeFile(config, in.data, n);
        in.data += n;
        in.size -= n;
    }
    if (saveLength != 0xFF) fuzz::writeFile(save, in.data, std::min<size_t>(saveLength, in.size));
    uint8_t record[704 + 16];
    uint8_t autoEnable, saveOutputs, saveByTag;
    int32_t saveRate;
    cfg_ReadDeviceConfig(inst.device.c_str(), record, 704, nullptr, 0, nullptr, &autoEnable,
                         &saveOutputs, &saveByTag, &saveRate);
    cfg_LoadDeviceConfigFrom(inst.device.c_str(), record, 704, nullptr, 0, nullptr);
    fuzz::trimEventLog();
    return 0;
}
