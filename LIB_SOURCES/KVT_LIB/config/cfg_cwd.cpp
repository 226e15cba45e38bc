// The parts of the device configuration that other services change in the current folder.
#include "cfg.h"

int cfg_ReadAutoEnableInCwd(uint8_t *autoEnable) {
    const std::string folder = cfg_CurrentFolder();
    return cfg_ReadDeviceConfig(folder.c_str(), nullptr, 0, nullptr, 0, nullptr, autoEnable,
                                nullptr, nullptr, nullptr);
}

int cfg_WriteAutoEnableInCwd(uint8_t autoEnable) {
    const std::string folder = cfg_CurrentFolder();
    return cfg_WriteDeviceConfig(nullptr, folder.c_str(), nullptr, 0, nullptr, 0, nullptr,
                                 &autoEnable, nullptr, nullptr, nullptr);
}

int cfg_WriteSaveSettingsInCwd(uint8_t saveOutputs, uint8_t saveByTag, int32_t saveRate) {
    const std::string folder = cfg_CurrentFolder();
    return cfg_WriteDeviceConfig(nullptr, folder.c_str(), nullptr, 0, nullptr, 0, nullptr, nullptr,
                                 &saveOutputs, &saveByTag, &saveRate);
}
