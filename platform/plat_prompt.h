// Questions to the user (the Windows message box). There is no desktop here: a host that can
// ask someone, or a test, registers a handler; without one every question is answered Yes.
#pragma once

#include <cstdint>

// Answers, with the Windows values.
enum : int { PLAT_PROMPT_YES = 6, PLAT_PROMPT_NO = 7 };

// A handler gets the question and the window title and returns PLAT_PROMPT_YES or _NO.
typedef int (*PlatPromptHandler)(const char *text, const char *title);

// Installs a handler (null removes it) and returns the one it replaces.
PlatPromptHandler plat_SetPromptHandler(PlatPromptHandler handler);

// Asks a Yes/No question: the handler's answer, PLAT_PROMPT_YES without a handler.
int plat_AskYesNo(const char *text, const char *title);

// ---- Message boxes ----

// Styles and answers, with the Windows values.
enum : unsigned {
    PLAT_MB_OK = 0x00,
    PLAT_MB_YESNO = 0x04,
    PLAT_MB_ICONQUESTION = 0x20,
    PLAT_MB_ICONEXCLAMATION = 0x30,
    PLAT_MB_TYPEMASK = 0x0F,
};
enum : int { PLAT_IDOK = 1, PLAT_IDCANCEL = 2, PLAT_IDYES = 6, PLAT_IDNO = 7 };

// A handler gets the text, the title (null: the host's own) and the style, and returns
// PLAT_IDOK, PLAT_IDYES or PLAT_IDNO.
typedef int (*PlatMessageBoxHandler)(const char *text, const char *title, unsigned style);

// Installs a handler (null removes it) and returns the one it replaces.
PlatMessageBoxHandler plat_SetMessageBoxHandler(PlatMessageBoxHandler handler);

// Shows a message box: the handler's answer; without one PLAT_IDOK, or for a Yes/No box the
// answer of plat_AskYesNo.
int plat_MessageBox(const char *text, const char *title, unsigned style);

// ---- Help viewer and wait cursor ----

// Opens a topic of a compiled help file; without a handler nothing is shown.
typedef void (*PlatHelpHandler)(const char *helpFile, const char *topic);
PlatHelpHandler plat_SetHelpHandler(PlatHelpHandler handler);
void plat_ShowHelp(const char *helpFile, const char *topic);

// Shows (on 1) or ends (on 0) the wait cursor; without a handler nothing happens.
typedef void (*PlatWaitCursorHandler)(int on);
PlatWaitCursorHandler plat_SetWaitCursorHandler(PlatWaitCursorHandler handler);
void plat_WaitCursor(int on);

// Keeps the wait cursor on for a scope.
class PlatWaitCursorScope {
public:
    PlatWaitCursorScope() { plat_WaitCursor(1); }
    ~PlatWaitCursorScope() { plat_WaitCursor(0); }
    PlatWaitCursorScope(const PlatWaitCursorScope &) = delete;
    PlatWaitCursorScope &operator=(const PlatWaitCursorScope &) = delete;
};
