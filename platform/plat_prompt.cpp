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

namespace {
std::atomic<PlatMessageBoxHandler> g_messageBox{nullptr};
std::atomic<PlatHelpHandler> g_help{nullptr};
std::atomic<PlatWaitCursorHandler> g_waitCursor{nullptr};
} // namespace

PlatMessageBoxHandler plat_SetMessageBoxHandler(PlatMessageBoxHandler handler) {
    return g_messageBox.exchange(handler);
}

int plat_MessageBox(const char *text, const char *title, unsigned style) {
    bool yesNo = (style & PLAT_MB_TYPEMASK) == PLAT_MB_YESNO;
    PlatMessageBoxHandler handler = g_messageBox.load();
    if (handler == nullptr) return yesNo ? plat_AskYesNo(text, title) : PLAT_IDOK;
    int answer = handler(text, title, style);
    if (!yesNo) return PLAT_IDOK;
    return answer == PLAT_IDNO ? PLAT_IDNO : PLAT_IDYES;
}

PlatHelpHandler plat_SetHelpHandler(PlatHelpHandler handler) {
    return g_help.exchange(handler);
}

void plat_ShowHelp(const char *helpFile, const char *topic) {
    PlatHelpHandler handler = g_help.load();
    if (handler != nullptr)
        handler(helpFile != nullptr ? helpFile : "", topic != nullptr ? topic : "");
}

PlatWaitCursorHandler plat_SetWaitCursorHandler(PlatWaitCursorHandler handler) {
    return g_waitCursor.exchange(handler);
}

void plat_WaitCursor(int on) {
    PlatWaitCursorHandler handler = g_waitCursor.load();
    if (handler != nullptr) handler(on);
}
