#include "dll.h"

void dll_WireServices() {
    dll_SetHostServices(nullptr);
    dll_GetHelpFilePath();
}
