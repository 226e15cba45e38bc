// System status messages: one current status text per component, shown to the operator.
#pragma once

// Source kinds of an entry.
enum : int {
    SYSER_KIND_SCANNER = 2,
    SYSER_KIND_LOGGER = 4,
    SYSER_KIND_LOGGER_ENTRY = 5,
};

// Selects the entry (and status channel) of this process; called once.
void syser_Register(int kind, const char *name);

// Formats the text (at most 120 characters) and shows it; an empty text clears. errno is
// preserved. Variable texts are passed as the argument of a "%s", never as the format.
void syser_Printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Clears the text.
void syser_Clear();
