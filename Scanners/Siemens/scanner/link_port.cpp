// The link's access to the serial port: every call goes through the selected port, and every
// failure leaves a nonzero Windows error, so that a failed transfer cannot pass for success.
#include "link.h"

#include "plat_error.h"
#include "port.h"

int link_OpenPort(const char *name, const LinkLineSettings &line) {
    if (port_Current().Open(name, line)) return 1;
    if (plat_GetLastError() == 0) plat_SetLastError(WERR_GEN_FAILURE);
    return 0;
}

void link_ClosePort() {
    port_Current().Close();
}

int link_PurgePort() {
    port_Current().Purge();
    return 1;
}

int link_ReadBytes(uint8_t *buf, int n, int timeout_ms) {
    return port_Current().Read(buf, n, timeout_ms) ? 1 : 0;
}

int link_WriteBytes(const uint8_t *buf, int n, int timeout_ms) {
    plat_SetLastError(0);
    if (port_Current().Write(buf, n, timeout_ms)) return 1;
    if (plat_GetLastError() == 0) plat_SetLastError(WERR_SEM_TIMEOUT);
    return 0;
}
