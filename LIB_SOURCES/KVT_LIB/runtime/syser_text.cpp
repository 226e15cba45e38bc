// The steps both entry layouts take to store and show a status text.
#include "syser_internal.h"

#include "shm.h"

#include <cstring>

std::string syser_Bounded(const char *field, size_t width) {
    return std::string(field, strnlen(field, width));
}

void syser_StoreText(char *field, size_t width, size_t keep, const std::string &text) {
    size_t n = text.size() < keep ? text.size() : keep;
    memcpy(field, text.data(), n);
    memset(field + n, 0, width - n);
}

void syser_ShowText(SyserTextField (*locate)(int entry), const std::string &text,
                    const std::string &channelText) {
    SyserState &s = syser_State();
    SegmentHeader *seg = dm_GetErrorSegment();
    if (s.entry < 0 || seg == nullptr) return;
    if (shm_Lock(seg) != 0) return;
    SyserTextField field = locate(s.entry);
    bool same = field.text == nullptr || syser_Bounded(field.text, field.width) == text;
    if (!same) {
        shm_BeginUpdate(seg);
        syser_StoreText(field.text, field.width, field.keep, text);
        shm_Notify(seg, 0);
    }
    shm_Unlock(seg);
    if (same) return;
    if (text.empty())
        syser_ClearChannel();
    else
        syser_ShowOnChannel(channelText);
}
