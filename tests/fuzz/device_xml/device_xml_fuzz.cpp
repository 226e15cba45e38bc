// The device's config.xml as the scanner and the configuration tool read it, through the
// sample extension module: the save settings, the device record's fields and the extra block.
//
// Input: one byte (bit 0: an extra block is read), then the file.
#include "cfg.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const fuzz::Installation &inst = fuzz::install();
    static bool xml = (fuzz::setSwitch("ReadXML", "ON"), true);
    (void)xml;
    fuzz::Reader in{data, size};
    bool extra = (in.byte() & 1) != 0;
    if (extra)
        setenv("KVT_EX_OPTIONS", "extra", 1);
    else
        unsetenv("KVT_EX_OPTIONS");
    const std::string path = inst.device + "/config.xml";
    fuzz::writeFile(path, in.data, in.size);
    uint8_t record[704];
    uint32_t block[2];
    uint8_t autoEnable, saveOutputs, saveByTag;
    int32_t saveRate;
    cfg_ReadDeviceConfig(inst.device.c_str(), record, sizeof record, extra ? block : nullptr,
                         extra ? static_cast<int>(sizeof block) : 0, extra ? "extra" : nullptr,
                         &autoEnable, &saveOutputs, &saveByTag, &saveRate);
    unlink(path.c_str());
    fuzz::trimEventLog();
    return 0;
}
