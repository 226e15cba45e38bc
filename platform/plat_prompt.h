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
