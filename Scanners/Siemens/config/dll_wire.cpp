#include "dll.h"

#include "lgr.h"
#include "rfile_config.h"
#include "srv_kinds.h"

void dll_WireServices() {
    srv_RegisterServerKinds();
    // The configuration file access reaches the logger files only through these hooks, so
    // that the server connections never depend on the logger services.
    rfile_SetLoggerFileHooks(lgr_ReadLoggerFile, lgr_WriteLoggerFile);
    dll_SetHostServices(nullptr);
    dll_GetHelpFilePath();
}
