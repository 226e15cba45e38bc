// State shared by the system status files.
#pragma once

#include "dm.h"
#include "syser.h"

#include <cstdarg>
#include <mutex>
#include <string>

struct SyserState {
    int shortLayout = 0;
    int entry = -1; // index in the long or short table, -1 = none
    // The SYSER status channel (channel 0 = none).
    char tableId[3] = {};
    int channel = 0;
    SegmentHeader *data = nullptr;
    SegmentHeader *conf = nullptr;
};

std::recursive_mutex &syser_Lock();
SyserState &syser_State();

// Keeps errno and the thread's last error across a status operation.
class SyserKeepErrors {
public:
    SyserKeepErrors();
    ~SyserKeepErrors();

private:
    int errno_;
    unsigned lastError_;
};

// Finds the SYSER channel of a description (see syser_Register) and remembers it; for a
// channel whose value is 1 returns its high-state text cut to maxRestore, else "".
std::string syser_FindChannel(int kind, const std::string &description, size_t maxRestore);

// The channel side of showing a text: texts (first 32 characters) and time stamp, then the
// channel's value 1; or value 0 for a cleared text.
void syser_ShowOnChannel(const std::string &text);
void syser_ClearChannel();

// A record field as text: up to its first NUL, or its whole width.
std::string syser_Bounded(const char *field, size_t width);
// Fills the field with at most keep characters of text and NULs after them.
void syser_StoreText(char *field, size_t width, size_t keep, const std::string &text);

// Where the current entry keeps its text: the field, its width and how many characters it
// keeps (the long layout keeps a terminator, the short one may fill the field).
struct SyserTextField {
    char *text = nullptr;
    size_t width = 0;
    size_t keep = 0;
};
// Stores text in the current entry under the segment's lock; when that changed the entry,
// the status channel shows channelText, or is cleared for an empty text. Nothing happens
// for a text the entry already holds, so the channel's time stamp stays.
void syser_ShowText(SyserTextField (*locate)(int entry), const std::string &text,
                    const std::string &channelText);

// A status text, cut to 120 characters.
std::string syser_Format(const char *format, va_list args);
