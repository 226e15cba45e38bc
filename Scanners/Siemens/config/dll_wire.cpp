#include "dll.h"

#include "srv_kinds.h"

void dll_WireServices() {
    srv_RegisterServerKinds();
    dll_SetHostServices(nullptr);
    dll_GetHelpFilePath();
}
