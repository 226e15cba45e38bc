#include "plat_prompt.h"

#include <atomic>

namespace {
std::atomic<PlatPromptHandler> g_handler{nullptr};
}

PlatPromptHandler plat_SetPromptHandler(PlatPromptHandler handler) {
    return g_handler.exchange(handler);
}

int plat_AskYesNo(const char *text, const char *title) {
    PlatPromptHandler handler = g_handler.load();
    if (handler == nullptr) return PLAT_PROMPT_YES;
    return handler(text, title) == PLAT_PROMPT_NO ? PLAT_PROMPT_NO : PLAT_PROMPT_YES;
}
