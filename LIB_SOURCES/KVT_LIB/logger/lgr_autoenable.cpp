// INTERIM until cfg_ReadAutoEnableInCwd and cfg_WriteAutoEnableInCwd land in config/.
#include "lgr_internal.h"

#include "cfg.h"

int lgr_ReadAutoEnableInCwd(uint8_t *autoEnable) {
    return cfg_ReadDeviceConfig(nullptr, nullptr, 0, nullptr, 0, nullptr, autoEnable, nullptr,
                                nullptr, nullptr);
}

int lgr_WriteAutoEnableInCwd(uint8_t autoEnable) {
    return cfg_WriteDeviceConfig(nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, &autoEnable,
                                 nullptr, nullptr, nullptr);
}
