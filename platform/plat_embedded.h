// The embedded controller platform (a Windows controller with a write-protected system
// disk). It never exists on Linux; tests switch it on to exercise the code that serves it.
#pragma once

// 1 when the platform's support library is present.
int plat_EmbeddedPlatformPresent();

// Test hook: 1 makes the platform present for this process (and its forked children),
// 0 absent again.
void plat_SetEmbeddedPlatformForTest(int present);
