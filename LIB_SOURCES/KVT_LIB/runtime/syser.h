// System status messages: one current status text per component, shown to the operator.
//
// The texts live in the runtime's "dm_errors" segment, one entry per component. When the
// data process "SYSER" is configured, the component also has a digital channel in SYSER's
// table whose value is 1 while a text is shown and whose state and alarm texts carry it. A
// process registers once under its kind and name, then sets or clears its text. Every
// operation keeps the caller's errno and last error.
#pragma once

// Source kinds of an entry.
enum : int {
    SYSER_KIND_SCANNER = 2,
    SYSER_KIND_LOGGER = 4,
    SYSER_KIND_LOGGER_ENTRY = 5,
};

constexpr int SYSER_TEXT_MAX = 120;

// Selects the entry (and status channel) of this process; called once. An entry already
// registered under the kind and name is reused and its text emptied.
void syser_Register(int kind, const char *name);

// Formats the text (cut to 120 characters) and shows it; an empty text clears, the same text
// again does nothing. Variable texts are passed as the argument of a "%s", never as the format.
void syser_Printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Clears the text.
void syser_Clear();

// The same on the runtime's short entry layout (names of 24 and texts of 30 characters);
// the operations above switch to these when "dm_errors" has only short entries.
void syser_RegisterShort(int kind, const char *name);
void syser_PrintShort(const char *format, ...) __attribute__((format(printf, 1, 2)));
void syser_ClearShort();

// Test support: forget the registration.
void syser_ResetForTests();
