#include "dll.h"

#include "plat_debugout.h"
#include "plat_dialog.h"
#include "plat_prompt.h"

#include <cstring>
#include <mutex>

namespace {

std::mutex g_lock;
KstrnHostServices g_services{};

KstrnHostServices Services() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_services;
}

int MessageBoxThunk(const char *text, const char *title, unsigned style) {
    KstrnHostServices s = Services();
    bool yesNo = (style & PLAT_MB_TYPEMASK) == PLAT_MB_YESNO;
    if (s.messageBox == nullptr) {
        // No one to ask: the text goes where a developer looks, and the answer is the default.
        plat_DebugOutput(text != nullptr ? text : "");
        return yesNo ? PLAT_IDYES : PLAT_IDOK;
    }
    return s.messageBox(s.host, text, title, style);
}

int PromptThunk(const char *text, const char *title) {
    int answer = MessageBoxThunk(text, title, PLAT_MB_YESNO | PLAT_MB_ICONQUESTION);
    return answer == PLAT_IDNO ? PLAT_PROMPT_NO : PLAT_PROMPT_YES;
}

void HelpThunk(const char *helpFile, const char *topic) {
    KstrnHostServices s = Services();
    if (s.showHelp != nullptr) s.showHelp(s.host, helpFile, topic);
}

void WaitCursorThunk(int on) {
    KstrnHostServices s = Services();
    if (s.waitCursor != nullptr) s.waitCursor(s.host, on);
}

int ModalThunk(void *, DialogView *dialog) {
    KstrnHostServices s = Services();
    if (s.runModal == nullptr) return PLAT_IDCANCEL;
    return s.runModal(s.host, dialog);
}

} // namespace

void dll_SetHostServices(const KstrnHostServices *services) {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_services = KstrnHostServices{};
        if (services != nullptr) {
            // A host built against a shorter struct hands over only what it knows.
            size_t n = services->size < sizeof g_services ? services->size : sizeof g_services;
            std::memcpy(&g_services, services, n);
        }
        g_services.size = sizeof g_services;
    }
    plat_SetMessageBoxHandler(MessageBoxThunk);
    plat_SetPromptHandler(PromptThunk);
    plat_SetHelpHandler(HelpThunk);
    plat_SetWaitCursorHandler(WaitCursorThunk);
    plat_SetModalDriver(ModalThunk, nullptr);
}

uint16_t dll_DefaultPortNumber() {
    KstrnHostServices s = Services();
    return s.defaultPortNumber != nullptr ? s.defaultPortNumber(s.host) : 1;
}
