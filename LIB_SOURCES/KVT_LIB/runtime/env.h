// Folders, environment variables, product name and the operating-system facts that
// select shared layouts.
#pragma once

// Platform id (1 = the old consumer family, 2 = NT family) and major version, read once
// per process; the shared-memory and mailslot layouts depend on the id.
int env_GetOsPlatformId();
int env_GetOsMajorVersion();
