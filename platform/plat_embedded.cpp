#include "plat_embedded.h"

#include <atomic>

namespace {
std::atomic<int> g_present{0};
}

int plat_EmbeddedPlatformPresent() {
    return g_present.load();
}

void plat_SetEmbeddedPlatformForTest(int present) {
    g_present.store(present != 0 ? 1 : 0);
}
